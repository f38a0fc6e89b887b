#pragma once
// The records that every message carries: where its reply goes, the opaque target key, the
// call id and the outcome state; the 16-byte form of a value in a block; and the return
// address's text form "O=%llX|T=%llX|B=%llX|P=%llX".

#include <windows.h>
#include <ole2.h>

#include <cstdint>
#include <string>

#include "tarnwickapi.h"

namespace tarnwick {

// Four opaque values in this order in memory and on the wire. B and T both all-ones make
// the null address.
struct ReturnAddressRecord {
    std::uint64_t P;
    std::uint64_t B;
    std::uint64_t T;
    std::uint64_t O;
};
static_assert(sizeof(ReturnAddressRecord) == 32);

// Opaque; copied unchanged between message and block.
struct TargetKey {
    unsigned char Bytes[16];
};
static_assert(sizeof(TargetKey) == 16);

// The call id; opaque, carried back in the reply.
using Cookie = std::uint32_t;

enum InvokeState : std::uint32_t {
    StatePending = 0,
    StateCompleted = 1,
    StateException = 2,
    StateFailed = 3,
    StateFailedCode = 4,
};

// A value as a block holds it: the VARIANT's type and reserved words, then 8 data bytes.
struct WireValue {
    VARTYPE Type;
    WORD Reserved[3];
    std::uint64_t Data;
};
static_assert(sizeof(WireValue) == 16);

// Writes the record's text form into text; answers text's characters.
TARNWICK_API const wchar_t* FormatReturnAddress(const ReturnAddressRecord& record,
                                                std::wstring& text);
// Writes the text form of the four values into text; answers the number of characters
// written. When measuring answers less than 1, text is left as it was and that is answered.
TARNWICK_API int FormatReturnAddressValues(std::wstring& text, std::uint64_t o, std::uint64_t t,
                                           std::uint64_t b, std::uint64_t p);
// B and T both all-ones; P and O are not looked at.
TARNWICK_API bool IsNullReturnAddress(const ReturnAddressRecord& record) noexcept;

}  // namespace tarnwick
