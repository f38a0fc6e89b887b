#pragma once
// Turns messages into fixed-layout blocks and blocks back into messages. Every block starts
// with the same header and reply area (offsets below); what follows depends on its kind.
// Values travel as 16-byte wire values whose payload, if any, is already in shared memory.

#include <windows.h>
#include <ole2.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>

#include "iinvokemanagementservice.h"
#include "imessagebase.h"
#include "messages/ceventsubscriptionmessage.h"
#include "messages/ceventunsubscriptionmessage.h"
#include "messages/cmethodcallmessage.h"
#include "messages/creturnaddress.h"
#include "messages/sharedmemory.h"

namespace tarnwick {

// Offsets, sizes and kinds of the block format.
namespace blockformat {

inline constexpr size_t kMarker = 0;                 // 16-bit, 1; 0 marks an invalid block
inline constexpr size_t kKind = 2;                   // 16-bit
inline constexpr size_t kCookie = 4;                 // 32-bit
inline constexpr size_t kReturnAddress = 8;          // 32 bytes; kind 0x4001: the address text
inline constexpr size_t kZeroStart = 40;             // 40 zero bytes
inline constexpr size_t kMemberName = 80;            // kNameUnits UTF-16 units
inline constexpr size_t kNameUnits = 80;             // at most 79 characters and a terminator
inline constexpr size_t kTargetKey = 240;            // 16 bytes
inline constexpr size_t kArgumentCount = 256;        // signed 16-bit
inline constexpr size_t kReplyZero = 258;            // 16-bit
inline constexpr size_t kReplyState = 260;           // 32-bit InvokeState
inline constexpr size_t kReplyExceptionText1 = 264;  // 32-bit handles of string blocks...
inline constexpr size_t kReplyExceptionText2 = 268;
inline constexpr size_t kReplyExceptionText3 = 272;
inline constexpr size_t kReplyStateText = 276;
inline constexpr size_t kReplyFailureDetail = 280;
inline constexpr size_t kReplyFailureCode = 284;  // 32-bit HRESULT
inline constexpr size_t kReplyResult = 288;       // wire value
inline constexpr size_t kHeaderSize = 432;        // where the kind-specific part starts

inline constexpr size_t kCallArguments = 432;
inline constexpr size_t kEventName = 432;
inline constexpr size_t kEventNameUnits = 160;
inline constexpr size_t kSubscriptionTag = 752;
inline constexpr size_t kRaisedEventTag = 432;
inline constexpr size_t kRaisedEventArguments = 592;

inline constexpr std::uint32_t kMethodCallSize = 560;
inline constexpr std::uint32_t kAccessorSize = 448;  // property get and put
inline constexpr std::uint32_t kRaisedEventSize = 720;
inline constexpr std::uint32_t kReplySize = 432;
// Room for argument values in a method-call or raised-event block.
inline constexpr int kMaxArguments = 8;

enum Kind : std::uint16_t {
    kKindMethod = DISPATCH_METHOD,
    kKindPropertyGet = DISPATCH_PROPERTYGET,
    kKindPropertyPut = DISPATCH_PROPERTYPUT,
    kKindSubscription = 0x10,
    kKindUnsubscription = 0x20,
    kKindRaisedEvent = 0x40,
    kKindMethodReturn = 0x4000,
    kKindReturnAddress = 0x4001,
};

}  // namespace blockformat

using RaisedEventBlock = std::array<std::uint8_t, blockformat::kRaisedEventSize>;

// The message that an incoming block describes, owned by the caller of UnmarshalBlock; empty
// for kinds that yield none. Arguments of a call own what they hold.
using IncomingMessage = std::variant<std::monostate, CMethodCallMessage, CEventSubscriptionMessage,
                                     CEventUnsubscriptionMessage, CReturnAddress>;

class CMarshaller {
  public:
    // Fills a raised-event block (kind 0x40) from the message, arguments in call order. 0
    // (traced, block untouched) when the message has more arguments than the block holds.
    static int MarshalRaisedEvent(RaisedEventBlock& block, IRaiseEventMessage& message);
    // Writes a method call, property get or property put block by the message's invoke kind
    // into a new shared-memory block and answers its handle; 0 (traced, nothing made) for
    // another kind or for arguments the block cannot hold.
    static std::uint32_t MarshalCall(IMethodCallMessage& message);
    // Makes the message that the block describes: 1 when the block was understood or is of a
    // kind that yields no message, 0 (traced, no message) when it is invalid or malformed. A
    // subscription's message holds a new event proxy that sends through the service.
    // `held` names the block the bytes are in and any other the receiver holds open: no
    // payload may name them. A property put with a count other than 1 yields a message
    // already failed with DISP_E_BADPARAMCOUNT.
    static int UnmarshalBlock(IInvokeManagementService* service,
                              std::span<const std::uint8_t> bytes, IncomingMessage& message,
                              CReceivedBlocks held = {});
    // The kind and cookie words of a block; 0 when the block is too short to hold them.
    static std::uint16_t GetBlockKind(std::span<const std::uint8_t> bytes) noexcept;
    static Cookie GetBlockCookie(std::span<const std::uint8_t> bytes) noexcept;

    // A VARIANT as a wire value: type, reserved words and 8 data bytes; a record's two
    // pointers as their low 32 bits each (traced when they do not fit).
    static WireValue MakeWireValue(const VARIANT& value) noexcept;
    // The reverse; the VARIANT's last 8 bytes are zero.
    static VARIANT WidenWireValue(const WireValue& wire) noexcept;
};

}  // namespace tarnwick
