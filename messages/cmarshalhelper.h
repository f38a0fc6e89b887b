#pragma once
// Moves the payloads that a 16-byte wire value has no room for, strings, arrays of VARIANTs
// and records, into shared-memory blocks and back. A moved value keeps its type and holds the
// block's handle in its data; the block belongs to whoever receives the value, and the
// receiver frees it when it restores the value.
//
// Payload blocks (little-endian):
//   string  UTF-16 units and a zero unit.
//   mapped  a string too large for one block lives in a named file mapping; the value then
//           has type 14 and names a block with the text "S|<bytes>|<mapping name>".
//   array   element count (16-bit), then one wire value per element.
//   record  GUID of the record type, field count (16-bit), then per field the name's byte
//           length (32-bit), its UTF-16 units without terminator and the field's wire value.

#include <windows.h>
#include <ole2.h>

#include <cstdint>

#include "messages/sharedmemory.h"
#include "messagetypes.h"

namespace tarnwick {

class CMarshalHelper {
  public:
    // The type of a value whose string moved into a named mapping.
    static constexpr VARTYPE kMappedStringType = 14;
    // Arrays and records nested deeper than this arrive empty.
    static constexpr int kMaxNesting = 16;

    // A new block for the current process holding a copy of the bytes; its handle, or 0
    // (traced) when none could be made.
    static std::uint32_t StoreBlock(const void* bytes, std::uint32_t size);
    // A string block of length units and a terminator; a null text is stored empty.
    static std::uint32_t StoreString(const wchar_t* text, UINT length);
    // Copies the bytes into a new named mapping "Tarnwick_MMF_<n>" that stays open while the
    // module is loaded, and answers the block of its descriptor "S|<size>|<name>"; 0 (traced)
    // on failure. A name that another party already uses is skipped.
    static std::uint32_t StoreInNamedMapping(const void* bytes, std::uint32_t size);

    // Moves the payload of a string, array or record value into shared memory, in place; the
    // value's own string, array or record is destroyed. Any other value is left as it is. A
    // payload that cannot be moved is destroyed all the same and leaves handle 0, which
    // arrives as an empty value.
    static void MarshalValue(VARIANT& value);
    // Restores a value that another process sent, in place, and takes over its blocks:
    // moved strings, arrays and records, and strings in named mappings (a type-14 value that
    // names a descriptor). A payload that cannot be restored leaves a null string, or
    // VT_EMPTY for an array, a record or an unreadable mapping. VT_EMPTY too for a pointer
    // into the sender's process (an interface pointer or a reference), at any depth, and for
    // a payload that names a block `received` holds or took already: nothing is called,
    // released or freed twice. A type-14 value that names no descriptor is a decimal and is
    // left as it is.
    static void UnmarshalValue(VARIANT& value, CReceivedBlocks& received);
    // The same for a value that arrives on its own.
    static void UnmarshalValue(VARIANT& value);
    // Frees the blocks of a wire value that another process sent and that will not be
    // restored, without restoring anything; blocks `received` holds are left alone.
    static void DiscardReceived(const WireValue& wire, CReceivedBlocks& received);
    // Frees the blocks of a moved value that will not be sent after all; the value is left
    // VT_EMPTY.
    static void DiscardValue(VARIANT& value);

    // Writes the 72-byte object-reference block: the two records, then the handles of two
    // string blocks with the texts. The reference gets type VT_VARIANT and the block's
    // handle; the caller owns the three blocks. 1, or 0 (traced, nothing left) on failure.
    static int CreateObjectReference(const ReturnAddressRecord* first, const wchar_t* firstText,
                                     const wchar_t* secondText, const ReturnAddressRecord* second,
                                     WireValue* reference);

    // An array payload: VT_ARRAY, or all bits of VT_SAFEARRAY; never by reference.
    static bool IsArrayType(VARTYPE type) noexcept;
    // A type whose payload MarshalValue moves: string, array or record.
    static bool HasPayload(VARTYPE type) noexcept;
    // The block handle in a moved value's data.
    static std::uint32_t HandleOf(const VARIANT& value) noexcept;
};

}  // namespace tarnwick
