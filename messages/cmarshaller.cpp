#include "messages/cmarshaller.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "messages/cmarshalhelper.h"
#include "messages/sharedmemory.h"
#include "messages/ceventproxy.h"
#include "trace/ctraceprovider.h"

namespace tarnwick {
namespace {

// {EBE842C5-67EA-465F-994B-90CE3E188C9F}
constexpr GUID kTraceGuid = {
    0xebe842c5, 0x67ea, 0x465f, {0x99, 0x4b, 0x90, 0xce, 0x3e, 0x18, 0x8c, 0x9f}};

enum TracePoint : USHORT {
    kTraceTooManyArguments = 1,
    kTraceUnknownInvokeKind,
    kTraceRecordPointerTruncated,
    kTraceBlockTooShort,
    kTraceInvalidMarker,
    kTraceUnterminatedText,
    kTraceArgumentCountInvalid,
    kTraceNoArgument,
    kTraceUnmarshalFailed,
};

using namespace blockformat;

template <typename... Values>
void TraceError(TracePoint point, const Values&... values) {
    Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, point, values...);
}

// What every invoke message's block holds in its header.
struct CommonPart {
    Cookie cookie = 0;
    ReturnAddressRecord returnAddress{};
    TargetKey targetKey{};
    std::int16_t argumentCount = 0;
    std::wstring memberName;
};

void WriteCommonPart(std::span<std::uint8_t> bytes, Kind kind, IInvokeMessageBase& message,
                     int argumentCount) {
    // The marker in the low half and the kind in the high half of one 32-bit word.
    WriteAt(bytes, kMarker, 1u | (std::uint32_t{kind} << 16));
    WriteAt(bytes, kCookie, message.GetCookie());
    std::memset(bytes.data() + kReplyExceptionText1, 0, kReplyResult - kReplyExceptionText1);
    std::memset(bytes.data() + kZeroStart, 0, kMemberName - kZeroStart);
    WriteAt(bytes, kReturnAddress, message.GetReturnAddress());
    WriteBlockText(bytes, kMemberName, kNameUnits, message.GetMemberName());
    WriteAt(bytes, kTargetKey, message.GetTargetKey());
    WriteAt(bytes, kArgumentCount, static_cast<std::int16_t>(argumentCount));
}

// Arguments reach the wire in call order. A message holds them last-first, as DISPPARAMS
// does, so the wire's first value is the array's last element.
void WriteArguments(std::span<std::uint8_t> bytes, size_t offset, IMethodCallMessage& message,
                    int count) {
    for (int i = 0; i < count; ++i) {
        const VARIANT* argument = message.GetArgument(count - 1 - i);
        if (argument == nullptr) {
            TraceError(kTraceNoArgument, count - 1 - i);
            continue;
        }
        WriteAt(bytes, offset + sizeof(WireValue) * i, CMarshaller::MakeWireValue(*argument));
    }
}

bool FitsArgumentBlock(int count) { return count >= 0 && count <= kMaxArguments; }

// A text the block must terminate; traced when it does not.
std::optional<std::wstring> ReadTerminatedText(std::span<const std::uint8_t> bytes, size_t offset,
                                               size_t maxUnits = SIZE_MAX) {
    std::optional<std::wstring> text = ReadBlockText(bytes, offset, maxUnits);
    if (!text) TraceError(kTraceUnterminatedText, static_cast<std::uint64_t>(offset));
    return text;
}

std::optional<CommonPart> ReadCommonPart(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kHeaderSize) {
        TraceError(kTraceBlockTooShort, static_cast<std::uint64_t>(bytes.size()));
        return std::nullopt;
    }
    CommonPart part;
    ReadAt(bytes, kCookie, part.cookie);
    ReadAt(bytes, kReturnAddress, part.returnAddress);
    ReadAt(bytes, kTargetKey, part.targetKey);
    ReadAt(bytes, kArgumentCount, part.argumentCount);
    std::optional<std::wstring> memberName = ReadTerminatedText(bytes, kMemberName, kNameUnits);
    if (!memberName) return std::nullopt;
    part.memberName = std::move(*memberName);
    return part;
}

void FillInvokeBase(IInvokeMessageBase& message, const CommonPart& part) {
    message.GetMemberName() = part.memberName.c_str();
    message.GetReturnAddress() = part.returnAddress;
    message.GetTargetKey() = part.targetKey;
    message.GetCookie() = part.cookie;
}

int ReadReturnAddress(std::span<const std::uint8_t> bytes, IncomingMessage& message) {
    const std::optional<std::wstring> text = ReadTerminatedText(bytes, kReturnAddress);
    if (!text) return 0;
    message.emplace<CReturnAddress>(text->c_str());
    return 1;
}

int ReadSubscription(IInvokeManagementService* service, std::span<const std::uint8_t> bytes,
                     IncomingMessage& message) {
    const std::optional<CommonPart> part = ReadCommonPart(bytes);
    if (!part) return 0;
    const std::optional<std::wstring> eventName =
        ReadTerminatedText(bytes, kEventName, kEventNameUnits);
    if (!eventName) return 0;
    const std::optional<std::wstring> tag = ReadTerminatedText(bytes, kSubscriptionTag);
    if (!tag) return 0;
    auto& subscription = message.emplace<CEventSubscriptionMessage>();
    FillInvokeBase(subscription, *part);
    subscription.GetEventName() = eventName->c_str();
    subscription.GetSubscriptionTag() = tag->c_str();
    const Microsoft::WRL::ComPtr<CEventProxy> proxy =
        CEventProxy::Create(subscription.GetReturnAddress(), subscription.GetTargetKey(),
                            subscription.GetSubscriptionTag(), service);
    subscription.SetEventProxy(proxy.Get());
    return 1;
}

int ReadUnsubscription(std::span<const std::uint8_t> bytes, IncomingMessage& message) {
    const std::optional<CommonPart> part = ReadCommonPart(bytes);
    if (!part) return 0;
    const std::optional<std::wstring> eventName = ReadTerminatedText(bytes, kEventName);
    if (!eventName) return 0;
    auto& unsubscription = message.emplace<CEventUnsubscriptionMessage>();
    FillInvokeBase(unsubscription, *part);
    unsubscription.GetEventName() = eventName->c_str();
    return 1;
}

// Whether the block and the format hold the arguments its count claims: a method call up to
// eight values, a property get none read, a property put exactly its one value.
bool ArgumentsFit(Kind kind, int count, size_t blockSize) {
    switch (kind) {
        case kKindMethod:
            return FitsArgumentBlock(count) &&
                   kCallArguments + sizeof(WireValue) * count <= blockSize;
        case kKindPropertyGet:
            return FitsArgumentBlock(count);
        default:
            return count == 1 && kCallArguments + sizeof(WireValue) <= blockSize;
    }
}

void AddWireArgument(CMethodCallMessage& call, std::span<const std::uint8_t> bytes, size_t offset,
                     CReceivedBlocks& received) {
    WireValue wire{};
    ReadAt(bytes, offset, wire);
    VARIANT argument = CMarshaller::WidenWireValue(wire);
    CMarshalHelper::UnmarshalValue(argument, received);
    call.AddArgument(&argument);
}

// A property put takes exactly one value. One with another count is answered at once as
// failed, so that its sender does not wait for a reply that would never come; the values it
// carries are freed all the same.
void RefusePropertyPut(std::span<const std::uint8_t> bytes, const CommonPart& part,
                       IncomingMessage& message, CReceivedBlocks& received) {
    for (int i = 0; i < std::min<int>(part.argumentCount, kMaxArguments); ++i) {
        WireValue wire{};
        if (!ReadAt(bytes, kCallArguments + sizeof(WireValue) * i, wire)) break;
        CMarshalHelper::DiscardReceived(wire, received);
    }
    auto& call = message.emplace<CMethodCallMessage>();
    FillInvokeBase(call, part);
    call.GetInvokeKind() = kKindPropertyPut;
    call.InitArguments(0);
    call.SetFailedCode(L"A property put takes exactly one value.", DISP_E_BADPARAMCOUNT,
                       L"%d values given", static_cast<int>(part.argumentCount));
}

int ReadCall(std::span<const std::uint8_t> bytes, Kind kind, IncomingMessage& message,
             CReceivedBlocks& received) {
    const std::optional<CommonPart> part = ReadCommonPart(bytes);
    if (!part) return 0;
    const int count = part->argumentCount;
    if (kind == kKindPropertyPut && count != 1 && bytes.size() >= kAccessorSize) {
        TraceError(kTraceArgumentCountInvalid, static_cast<std::uint32_t>(kind), count,
                   static_cast<std::uint64_t>(bytes.size()));
        RefusePropertyPut(bytes, *part, message, received);
        return 1;
    }
    if (!ArgumentsFit(kind, count, bytes.size())) {
        TraceError(kTraceArgumentCountInvalid, static_cast<std::uint32_t>(kind), count,
                   static_cast<std::uint64_t>(bytes.size()));
        return 0;
    }
    auto& call = message.emplace<CMethodCallMessage>();
    FillInvokeBase(call, *part);
    call.GetInvokeKind() = kind;
    call.InitArguments(count);
    if (kind == kKindMethod) {
        // The first value on the wire is the first argument, which lands last in the array.
        for (int i = 0; i < count; ++i) {
            AddWireArgument(call, bytes, kCallArguments + sizeof(WireValue) * i, received);
        }
    } else if (kind == kKindPropertyPut) {
        AddWireArgument(call, bytes, kCallArguments, received);
    }
    return 1;
}

int Unmarshal(IInvokeManagementService* service, std::span<const std::uint8_t> bytes,
              IncomingMessage& message, CReceivedBlocks& received) {
    std::uint16_t marker = 0;
    std::uint16_t kind = 0;
    if (!ReadAt(bytes, kMarker, marker) || !ReadAt(bytes, kKind, kind)) {
        TraceError(kTraceBlockTooShort, static_cast<std::uint64_t>(bytes.size()));
        return 0;
    }
    if (kind == kKindReturnAddress) return ReadReturnAddress(bytes, message);
    if (marker == 0) {
        TraceError(kTraceInvalidMarker, static_cast<std::uint32_t>(kind));
        return 0;
    }
    switch (kind) {
        case kKindSubscription:
            return ReadSubscription(service, bytes, message);
        case kKindUnsubscription:
            return ReadUnsubscription(bytes, message);
        case kKindMethod:
        case kKindPropertyGet:
        case kKindPropertyPut:
            return ReadCall(bytes, static_cast<Kind>(kind), message, received);
        default:
            return 1;
    }
}

}  // namespace

int CMarshaller::MarshalRaisedEvent(RaisedEventBlock& block, IRaiseEventMessage& message) {
    const int count = message.GetArgumentCount();
    if (!FitsArgumentBlock(count)) {
        TraceError(kTraceTooManyArguments, static_cast<const wchar_t*>(message.GetMemberName()),
                   count);
        return 0;
    }
    block.fill(0);
    WriteCommonPart(block, kKindRaisedEvent, message, count);
    WriteBlockText(block, kRaisedEventTag, kNameUnits, message.GetSubscriptionTag());
    WriteArguments(block, kRaisedEventArguments, message, count);
    return 1;
}

std::uint32_t CMarshaller::MarshalCall(IMethodCallMessage& message) {
    std::array<std::uint8_t, kMethodCallSize> bytes{};
    const int count = message.GetArgumentCount();
    std::uint32_t size = kAccessorSize;
    switch (message.GetInvokeKind()) {
        case kKindMethod:
            if (!FitsArgumentBlock(count)) break;
            WriteCommonPart(bytes, kKindMethod, message, count);
            WriteArguments(bytes, kCallArguments, message, count);
            size = kMethodCallSize;
            return CMarshalHelper::StoreBlock(bytes.data(), size);
        case kKindPropertyGet:
            WriteCommonPart(bytes, kKindPropertyGet, message, 0);
            WriteAt<VARTYPE>(bytes, kCallArguments, VT_NULL);
            return CMarshalHelper::StoreBlock(bytes.data(), size);
        case kKindPropertyPut:
            if (count != 1) break;
            WriteCommonPart(bytes, kKindPropertyPut, message, count);
            WriteArguments(bytes, kCallArguments, message, count);
            return CMarshalHelper::StoreBlock(bytes.data(), size);
        default:
            TraceError(kTraceUnknownInvokeKind,
                       static_cast<std::uint32_t>(message.GetInvokeKind()));
            return 0;
    }
    TraceError(kTraceTooManyArguments, static_cast<const wchar_t*>(message.GetMemberName()), count);
    return 0;
}

int CMarshaller::UnmarshalBlock(IInvokeManagementService* service,
                                std::span<const std::uint8_t> bytes, IncomingMessage& message,
                                CReceivedBlocks held) {
    message.emplace<std::monostate>();
    try {
        return Unmarshal(service, bytes, message, held);
    } catch (const CComError& error) {
        TraceError(kTraceUnmarshalFailed, error.Error());
    } catch (const std::exception&) {
        TraceError(kTraceUnmarshalFailed, E_OUTOFMEMORY);
    }
    message.emplace<std::monostate>();
    return 0;
}

std::uint16_t CMarshaller::GetBlockKind(std::span<const std::uint8_t> bytes) noexcept {
    std::uint16_t kind = 0;
    return ReadAt(bytes, kKind, kind) ? kind : 0;
}

Cookie CMarshaller::GetBlockCookie(std::span<const std::uint8_t> bytes) noexcept {
    Cookie cookie = 0;
    return ReadAt(bytes, kCookie, cookie) ? cookie : 0;
}

WireValue CMarshaller::MakeWireValue(const VARIANT& value) noexcept {
    // The type, the reserved words and the first 8 data bytes are the VARIANT's first 16
    // bytes; a VT_DECIMAL is exactly those 16 bytes.
    WireValue wire{};
    std::memcpy(&wire, &value, sizeof wire);
    if (value.vt == VT_RECORD) {
        const auto record = reinterpret_cast<std::uintptr_t>(V_RECORD(&value));
        const auto info = reinterpret_cast<std::uintptr_t>(V_RECORDINFO(&value));
        if (record > 0xFFFFFFFFu || info > 0xFFFFFFFFu) {
            TraceError(kTraceRecordPointerTruncated, V_RECORD(&value), V_RECORDINFO(&value));
        }
        wire.Data = (std::uint64_t{static_cast<std::uint32_t>(info)} << 32) |
                    static_cast<std::uint32_t>(record);
    }
    return wire;
}

VARIANT CMarshaller::WidenWireValue(const WireValue& wire) noexcept {
    VARIANT value;
    std::memset(&value, 0, sizeof value);
    std::memcpy(&value, &wire, sizeof wire);
    if (wire.Type == VT_RECORD) {
        V_RECORD(&value) = reinterpret_cast<void*>(
            static_cast<std::uintptr_t>(static_cast<std::uint32_t>(wire.Data)));
        V_RECORDINFO(&value) =
            reinterpret_cast<IRecordInfo*>(static_cast<std::uintptr_t>(wire.Data >> 32));
    }
    return value;
}

}  // namespace tarnwick
