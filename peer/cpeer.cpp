#include "peer/cpeer.h"

#include <algorithm>
#include <array>

#include "messages/cmarshaller.h"
#include "messages/cmarshalhelper.h"
#include "messages/cmethodcallmessage.h"
#include "messages/errorinfomessage.h"
#include "messages/sharedmemory.h"

namespace tarnwick {

namespace {

using namespace blockformat;

constexpr const char* kSourceFile = "cpeer";
// A subscription's tag follows the event name; both are NUL-terminated fields.
constexpr size_t kTagUnits = kNameUnits;
constexpr size_t kSubscriptionSize = kSubscriptionTag + kTagUnits * sizeof(wchar_t);
constexpr size_t kUnsubscriptionSize = kEventName + kEventNameUnits * sizeof(wchar_t);

std::wstring TextOf(const CBstrHolder& holder) {
    const BSTR text = holder.Get();
    return text != nullptr ? std::wstring(text, holder.Length()) : std::wstring();
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
    if (arguments.size() > static_cast<size_t>(kMaxArguments)) return {};
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
    COpenedBlock opened(replyBlock, {__LINE__, kSourceFile});
    if (!opened.IsOpen()) return reply;
    CMethodCallMessage message;
    if (ApplyReplyAndFree(opened.Bytes(), message) != 0) {
        reply.Arrived = true;
        reply.State = message.GetState();
        reply.Result = CVariantHolder(*message.GetResult());
        CBstrHolder text;
        message.GetStateText(text);
        reply.StateText = TextOf(text);
        message.GetExceptionText1(text);
        reply.ExceptionText1 = TextOf(text);
        message.GetExceptionText2(text);
        reply.ExceptionText2 = TextOf(text);
        message.GetExceptionText3(text);
        reply.ExceptionText3 = TextOf(text);
        reply.FailureDetail = TextOf(message.FailureDetail());
        reply.FailureCode = message.FailureCode();
    }
    opened.Destroy();
    return reply;
}

void CPeer::DiscardReply(std::uint32_t replyBlock) {
    PeerReply dropped = ReadReply(replyBlock);
    (void)dropped;
}

CVariantHolder CPeer::Answer(const PeerEvent& event) {
    EventHandler handler;
    {
        std::lock_guard lock(handlerMutex_);
        handler = handler_;
    }
    return handler ? handler(event) : CVariantHolder();
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
    WriteAt(std::span<std::uint8_t>(reply), kReplyState, std::uint32_t{StateCompleted});
    VARIANT result = Answer(*event).Detach();
    CMarshalHelper::MarshalValue(result);
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
