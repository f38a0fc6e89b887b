#include "peer/cpeer.h"

#include <algorithm>
#include <array>
#include <cwchar>
#include <memory>

#include "messages/cmarshaller.h"
#include "messages/cmarshalhelper.h"
#include "messages/cmethodcallmessage.h"
#include "messages/sharedmemory.h"

namespace tarnwick {

namespace {

using namespace blockformat;

constexpr const char* kSourceFile = "cpeer";
// A subscription's tag follows the event name; both are NUL-terminated fields.
constexpr size_t kTagUnits = kNameUnits;
constexpr size_t kSubscriptionSize = kSubscriptionTag + kTagUnits * sizeof(wchar_t);
constexpr size_t kUnsubscriptionSize = kEventName + kEventNameUnits * sizeof(wchar_t);

// The text of the string block whose handle is at offset, which is taken over; empty when
// there is none.
std::wstring TakeText(std::span<const std::uint8_t> bytes, size_t offset) {
    std::uint32_t handle = 0;
    if (!ReadAt(bytes, offset, handle) || handle == 0) return {};
    const auto text = TakeSharedBlock(handle, {__LINE__, kSourceFile});
    if (!text) return {};
    return ReadBlockText(*text, 0).value_or(std::wstring());
}

// The raised event that a block describes, its payloads restored; nothing when the block is
// not a well-formed raised event.
std::optional<PeerEvent> ReadRaisedEvent(std::span<const std::uint8_t> bytes) {
    std::uint16_t marker = 0;
    std::uint16_t kind = 0;
    std::int16_t count = 0;
    if (!ReadAt(bytes, kMarker, marker) || marker != 1 || !ReadAt(bytes, kKind, kind) ||
        kind != kKindRaisedEvent || !ReadAt(bytes, kArgumentCount, count) || count < 0 ||
        count > kMaxArguments || bytes.size() < kRaisedEventArguments + sizeof(WireValue) * count) {
        return std::nullopt;
    }
    auto name = ReadBlockText(bytes, kMemberName, kNameUnits);
    auto tag = ReadBlockText(bytes, kRaisedEventTag, kNameUnits);
    if (!name || !tag) return std::nullopt;
    PeerEvent event;
    ReadAt(bytes, kCookie, event.CallId);
    ReadAt(bytes, kReturnAddress, event.Address);
    ReadAt(bytes, kTargetKey, event.Key);
    event.MemberName = std::move(*name);
    event.SubscriptionTag = std::move(*tag);
    for (int i = 0; i < count; ++i) {
        WireValue wire{};
        ReadAt(bytes, kRaisedEventArguments + sizeof(WireValue) * i, wire);
        VARIANT value = CMarshaller::WidenWireValue(wire);
        CMarshalHelper::UnmarshalValue(value);
        event.Arguments.emplace_back(value);
    }
    return event;
}

// The argument counts that each kind of call block can carry.
bool FitsCall(WORD invokeKind, size_t count) {
    switch (invokeKind) {
        case DISPATCH_METHOD:
            return count <= static_cast<size_t>(kMaxArguments);
        case DISPATCH_PROPERTYGET:
            return count == 0;
        case DISPATCH_PROPERTYPUT:
            return count == 1;
        default:
            return false;
    }
}

CBlockHolder Store(const std::vector<std::uint8_t>& bytes) {
    return CBlockHolder(
        CMarshalHelper::StoreBlock(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
}

}  // namespace

void CPeer::SetEventHandler(EventHandler handler) {
    std::lock_guard lock(handlerMutex_);
    handler_ = std::move(handler);
}

std::vector<std::uint8_t> CPeer::RequestBlock(std::uint16_t kind, const PeerTarget& target,
                                              Cookie cookie, size_t size) const {
    std::vector<std::uint8_t> bytes(size);
    WriteAt(bytes, kMarker, std::uint16_t{1});
    WriteAt(bytes, kKind, kind);
    WriteAt(bytes, kCookie, cookie);
    WriteAt(bytes, kReturnAddress, target.Address);
    WriteAt(bytes, kTargetKey, target.Key);
    return bytes;
}

PeerReply CPeer::Subscribe(const PeerTarget& target, const wchar_t* eventName, const wchar_t* tag) {
    const Cookie cookie = nextCookie_++;
    auto bytes = RequestBlock(kKindSubscription, target, cookie, kSubscriptionSize);
    WriteBlockText(bytes, kMemberName, kNameUnits, eventName);
    WriteBlockText(bytes, kEventName, kEventNameUnits, eventName);
    WriteBlockText(bytes, kSubscriptionTag, kTagUnits, tag);
    return Request(Store(bytes), cookie, {});
}

PeerReply CPeer::Unsubscribe(const PeerTarget& target, const wchar_t* eventName) {
    const Cookie cookie = nextCookie_++;
    auto bytes = RequestBlock(kKindUnsubscription, target, cookie, kUnsubscriptionSize);
    WriteBlockText(bytes, kMemberName, kNameUnits, eventName);
    WriteBlockText(bytes, kEventName, kEventNameUnits, eventName);
    return Request(Store(bytes), cookie, {});
}

PeerReply CPeer::Call(const PeerTarget& target, const wchar_t* memberName, WORD invokeKind,
                      std::span<VARIANT> arguments) {
    if (!FitsCall(invokeKind, arguments.size())) return {};
    CMethodCallMessage message;
    const Cookie cookie = nextCookie_++;
    message.GetInvokeKind() = invokeKind;
    message.GetMemberName() = memberName;
    message.GetReturnAddress() = target.Address;
    message.GetTargetKey() = target.Key;
    message.GetCookie() = cookie;
    message.InitArguments(static_cast<int>(arguments.size()));
    // The message holds its arguments last-first, the order in which the block is written
    // back into call order.
    for (VARIANT& argument : arguments) {
        VARIANT moved = argument;
        VariantInit(&argument);
        CMarshalHelper::MarshalValue(moved);
        message.AddArgument(&moved);
    }
    DISPPARAMS* moved = message.GetDispParams();
    const std::span<VARIANT> payloads(moved->rgvarg, moved->cArgs);
    return Request(CBlockHolder(CMarshaller::MarshalCall(message)), cookie, payloads);
}

PeerReply CPeer::Request(CBlockHolder block, Cookie cookie, std::span<VARIANT> movedArguments) {
    if (block.Get() == 0) {
        for (VARIANT& value : movedArguments) CMarshalHelper::DiscardValue(value);
        return {};
    }
    const InvokeRecord call{kInvokeRecordMagic, block.Get(), kInvokeRecordCallTag};
    std::uint32_t replyBlock = 0;
    switch (Exchange(call, cookie, replyBlock)) {
        case Delivery::NotDelivered:
            for (VARIANT& value : movedArguments) CMarshalHelper::DiscardValue(value);
            return {};
        case Delivery::NoReply:
            block.Release();  // the target took it
            return {};
        case Delivery::Replied:
            block.Release();
            return ReadReply(replyBlock);
    }
    return {};
}

PeerReply CPeer::ReadReply(std::uint32_t replyBlock) {
    PeerReply reply;
    const auto bytes = TakeSharedBlock(replyBlock, {__LINE__, kSourceFile});
    if (!bytes || bytes->size() < kHeaderSize) return reply;
    std::uint32_t state = StatePending;
    ReadAt(*bytes, kReplyState, state);
    reply.Arrived = true;
    reply.State = static_cast<InvokeState>(state);
    // Every text the reply names is taken, whatever the state, so that none is left behind.
    reply.ExceptionText1 = TakeText(*bytes, kReplyExceptionText1);
    reply.ExceptionText2 = TakeText(*bytes, kReplyExceptionText2);
    reply.ExceptionText3 = TakeText(*bytes, kReplyExceptionText3);
    reply.StateText = TakeText(*bytes, kReplyStateText);
    reply.FailureDetail = TakeText(*bytes, kReplyFailureDetail);
    if (reply.State == StateFailedCode) ReadAt(*bytes, kReplyFailureCode, reply.FailureCode);
    if (reply.State == StateCompleted) {
        WireValue wire{};
        ReadAt(*bytes, kReplyResult, wire);
        VARIANT result = CMarshaller::WidenWireValue(wire);
        if (result.vt == VT_VOID) {
            VariantInit(&result);  // a subscription's reply carries no result
        } else {
            CMarshalHelper::UnmarshalValue(result);
        }
        reply.Result = CVariantHolder(result);
    }
    return reply;
}

void CPeer::DiscardReply(std::uint32_t replyBlock) { ReadReply(replyBlock); }

std::optional<CVariantHolder> CPeer::Answer(const PeerEvent& event) {
    EventHandler handler;
    {
        std::lock_guard lock(handlerMutex_);
        handler = handler_;
    }
    if (!handler) return CVariantHolder();
    // The handler runs inside a transport's callback, which no exception may leave.
    try {
        return handler(event);
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<InvokeRecord> CPeer::AnswerCall(const InvokeRecord& call) {
    const auto bytes = TakeSharedBlock(call.Block, {__LINE__, kSourceFile});
    std::optional<PeerEvent> event;
    if (bytes) event = ReadRaisedEvent(*bytes);
    if (!event) {
        ++refused_;
        return std::nullopt;
    }
    // The reply is the call's header with the outcome in its reply area.
    std::array<std::uint8_t, kReplySize> reply{};
    std::copy_n(bytes->begin(), kReplySize, reply.begin());
    std::fill(reply.begin() + kReplyZero, reply.begin() + kReplyResult, std::uint8_t{0});
    WriteAt(std::span<std::uint8_t>(reply), kKind, std::uint16_t{kKindMethodReturn});
    // A handler that failed answers the raise as failed, so that the raiser wakes at once and
    // keeps its initial result.
    std::optional<CVariantHolder> answer = Answer(*event);
    VARIANT result;
    VariantInit(&result);
    result.vt = VT_NULL;
    if (answer) result = answer->Detach();
    CMarshalHelper::MarshalValue(result);
    const InvokeState state = answer ? StateCompleted : StateFailed;
    WriteAt(std::span<std::uint8_t>(reply), kReplyState, static_cast<std::uint32_t>(state));
    WriteAt(std::span<std::uint8_t>(reply), kReplyResult, CMarshaller::MakeWireValue(result));
    const std::uint32_t block = CMarshalHelper::StoreBlock(reply.data(), kReplySize);
    if (block == 0) {
        CMarshalHelper::DiscardValue(result);
        return std::nullopt;
    }
    ++answered_;
    return InvokeRecord{kInvokeRecordMagic, block, kInvokeRecordReplyTag};
}

}  // namespace tarnwick
