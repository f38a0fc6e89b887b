#include "remoting/cinvokemanagementservicebase.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <variant>

#include "ccomerror.h"
#include "common/variantrecords.h"
#include "messages/cmarshalhelper.h"
#include "messages/cmarshaller.h"
#include "messages/craiseeventmessage.h"
#include "messages/errorinfomessage.h"
#include "messages/sharedmemory.h"
#include "remoting/cinvokewait.h"
#include "trace/ctraceprovider.h"

namespace tarnwick {

namespace {

// {2F6B1D84-93C7-4E0A-8B25-E1D7C64A3F58}
constexpr GUID kTraceGuid = {
    0x2f6b1d84, 0x93c7, 0x4e0a, {0x8b, 0x25, 0xe1, 0xd7, 0xc6, 0x4a, 0x3f, 0x58}};

enum TracePoint : USHORT {
    kReplyNotSent = 1,
    kBlockNotOpened,
    kReturnForUnknownCall,
    kReturnDelivered,
    kBlockNotUnmarshalled,
    kReturnAddressReceived,
    kNotAReturnAddress,
    kMethodCallReceived,
    kNotAMethodCall,
    kMethodReplyNotWritten,
    kSubscriptionReceived,
    kNotASubscription,
    kSubscriptionReplyNotWritten,
    kUnsubscriptionReceived,
    kNotAnUnsubscription,
    kUnsubscriptionReplyNotWritten,
    kUnknownKind,
    kEventNotMarshalled,
    kEventBlockNotMade,
    kNoNotificationForTarget,
    kReturnForForeignMessage,
    kWaitNotPending,
    kRoutingFailed,
};

template <typename... Values>
void TraceAt(TraceLevel level, TracePoint point, const Values&... values) {
    Trace(kTraceGuid, level, kTraceFlagComponent, point, values...);
}

std::atomic<Cookie> g_nextCallId{1};

constexpr std::uint64_t kAllOnes = ~0ull;

// Every argument that the unmarshaller restored belongs to the message; the records among
// them, also inside arrays, are destroyed with their memory.
void ClearArguments(CMethodCallMessage& message) {
    for (int i = 0; i < message.GetArgumentCount(); ++i) {
        if (VARIANT* argument = message.GetArgument(i)) ClearVariant(*argument);
    }
}

}  // namespace

Cookie CInvokeManagementServiceBase::NextCallId() noexcept { return g_nextCallId.fetch_add(1); }

CInvokeManagementServiceBase::CInvokeManagementServiceBase(IInvokeNotification* notification)
    : notification_(notification) {}

size_t CInvokeManagementServiceBase::PendingCallCount() const {
    CCriticalSectionLock lock(tableGuard_);
    return pending_.size();
}

std::uint64_t CInvokeManagementServiceBase::DeriveTarget(IRaiseEventMessage& message) const {
    const ReturnAddressRecord& address = message.GetReturnAddress();
    if (address.P == kAllOnes && address.B == kAllOnes && address.T == kAllOnes) return address.O;
    if (notification_ == nullptr) {
        TraceAt(TraceLevel::Error, kNoNotificationForTarget, address.O);
        return 0;
    }
    return notification_->ResolveTarget(address.O);
}

IInvokeWait* CInvokeManagementServiceBase::SendRaiseEvent(IRaiseEventMessage* message,
                                                          std::uint64_t target) {
    if (message == nullptr) return nullptr;
    if (target == 0) target = DeriveTarget(*message);
    auto* ours = dynamic_cast<CRaiseEventMessage*>(message);
    CCriticalSectionLock lock(guard_);
    message->GetCookie() = NextCallId();
    const Cookie cookie = message->GetCookie();
    auto wait = std::make_unique<CInvokeWait>(ours);
    {
        CCriticalSectionLock table(tableGuard_);
        pending_[cookie] = wait.get();
    }

    RaisedEventBlock bytes;  // MarshalRaisedEvent writes every byte
    CBlockHolder block;
    if (!CMarshaller::MarshalRaisedEvent(bytes, *message)) {
        // Nothing can travel: the caller finds the call complete with its initial result.
        TraceAt(TraceLevel::Error, kEventNotMarshalled, static_cast<std::uint32_t>(cookie));
        wait->Signal();
        return wait.release();
    }
    const auto view = block.Allocate(blockformat::kRaisedEventSize, {__LINE__, "cmarshaller"});
    if (view.empty()) {
        TraceAt(TraceLevel::Error, kEventBlockNotMade, static_cast<std::uint32_t>(cookie));
        if (ours != nullptr) ours->DiscardMovedArguments();
        wait->Signal();
        return wait.release();
    }
    std::memcpy(view.data(), bytes.data(), bytes.size());
    InvokeRecord record{kInvokeRecordMagic, block.Get(), kInvokeRecordCallTag};
    if (SendInvoke(&record, wait.get(), target) == 0) {
        block.Release();  // the peer owns it now
    } else if (ours != nullptr) {
        // Free exactly the payload blocks made for this call; the holder frees the call block.
        ours->DiscardMovedArguments();
    }
    return wait.release();
}

void CInvokeManagementServiceBase::ReleaseWait(IInvokeWait* wait) {
    auto* ours = dynamic_cast<CInvokeWait*>(wait);
    if (ours == nullptr) return;
    CCriticalSectionLock table(tableGuard_);
    // Only a wait this service handed out and still files is destroyed: a second release,
    // or a wait of another service, is left alone.
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if (it->second == ours) {
            pending_.erase(it);
            delete ours;
            return;
        }
    }
    TraceAt(TraceLevel::Warning, kWaitNotPending, static_cast<const void*>(wait));
}

void CInvokeManagementServiceBase::DeliverReturn(std::span<std::uint8_t> block,
                                                 const CReceivedBlocks& held) {
    const Cookie cookie = CMarshaller::GetBlockCookie(block);
    HANDLE wake = nullptr;
    {
        // The release of the wait takes this guard too, so the two never overlap.
        CCriticalSectionLock table(tableGuard_);
        const auto it = pending_.find(cookie);
        auto* wait = it == pending_.end() ? nullptr : static_cast<CInvokeWait*>(it->second);
        // A wait already signalled has its outcome: a second return for it is not applied.
        CRaiseEventMessage* message =
            wait != nullptr && !wait->Signalled() ? wait->Message() : nullptr;
        if (message != nullptr) {
            ApplyReplyAndFree(block, *message, held);
            TraceAt(TraceLevel::Verbose, kReturnDelivered, message->GetMemberName().Get());
        } else {
            // A late or repeated reply, or one for a wait without a message: what it names is
            // still ours to free.
            TraceAt(TraceLevel::Error,
                    wait == nullptr ? kReturnForUnknownCall : kReturnForForeignMessage, cookie);
            DiscardReply(block, held);
        }
        if (wait != nullptr) wake = wait->Complete();
    }
    // Woken after the guard is left, so that the raiser's release does not wait for it.
    CInvokeWait::Wake(wake);
}

int CInvokeManagementServiceBase::Reply(CInvokeMessageBase& message, InvokeRecord* record,
                                        std::span<std::uint8_t> block) {
    return MarshalReply(*record, block, message);
}

int CInvokeManagementServiceBase::HandleMethodCall(CMethodCallMessage& message,
                                                   InvokeRecord* record,
                                                   std::span<std::uint8_t> block) {
    TraceAt(TraceLevel::Verbose, kMethodCallReceived, message.GetMemberName().Get());
    // A call that arrived already failed (a malformed property put) is answered as it is.
    if (notification_ != nullptr && message.GetState() == StatePending) {
        notification_->OnMethodCall(&message);
    }
    message.OwnResult();
    const int replied = Reply(message, record, block);
    if (!replied) TraceAt(TraceLevel::Error, kMethodReplyNotWritten);
    ClearArguments(message);
    return replied;
}

int CInvokeManagementServiceBase::Route(InvokeRecord* record, std::span<std::uint8_t> block) {
    const std::uint16_t kind = CMarshaller::GetBlockKind(block);
    // The blocks open while the message is read are held process-wide (ProcessMessage).
    const CReceivedBlocks held;
    int replied = 0;
    if (kind == blockformat::kKindMethodReturn) {
        DeliverReturn(block, held);
    } else {
        IncomingMessage incoming;
        if (!CMarshaller::UnmarshalBlock(this, block, incoming, held)) {
            TraceAt(TraceLevel::Error, kBlockNotUnmarshalled);
        } else if (auto* call = std::get_if<CMethodCallMessage>(&incoming)) {
            replied = HandleMethodCall(*call, record, block);
        } else if (auto* subscription = std::get_if<CEventSubscriptionMessage>(&incoming)) {
            TraceAt(TraceLevel::Verbose, kSubscriptionReceived, subscription->GetEventName().Get());
            subscription->State() = StateCompleted;
            if (notification_ != nullptr) notification_->OnEventSubscription(subscription);
            replied = Reply(*subscription, record, block);
            if (!replied) TraceAt(TraceLevel::Error, kSubscriptionReplyNotWritten);
        } else if (auto* unsubscription = std::get_if<CEventUnsubscriptionMessage>(&incoming)) {
            TraceAt(TraceLevel::Verbose, kUnsubscriptionReceived,
                    unsubscription->GetEventName().Get());
            unsubscription->State() = StateCompleted;
            if (notification_ != nullptr) notification_->OnEventUnsubscription(unsubscription);
            replied = Reply(*unsubscription, record, block);
            if (!replied) TraceAt(TraceLevel::Error, kUnsubscriptionReplyNotWritten);
        } else if (auto* address = std::get_if<CReturnAddress>(&incoming)) {
            TraceAt(TraceLevel::Verbose, kReturnAddressReceived,
                    static_cast<const wchar_t*>(address->GetAddressText()));
            SetReturnAddress(address);
        } else {
            TraceAt(TraceLevel::Error, kUnknownKind, static_cast<std::uint32_t>(kind));
        }
    }
    return replied;
}

int CInvokeManagementServiceBase::ProcessMessage(InvokeRecord* record, std::uint32_t envelope) {
    if (record == nullptr) return 0;
    // Held for the whole call, host callbacks included, in which further messages may arrive.
    const CHeldBlock heldCall(record->Block);
    const CHeldBlock heldEnvelope(envelope);
    COpenedBlock opened(record->Block, {__LINE__, "cinvokemanagementservicebase"});
    if (!opened.IsOpen()) {
        TraceAt(TraceLevel::Error, kBlockNotOpened);
        return 0;
    }
    int replied = 0;
    try {
        replied = Route(record, opened.Bytes());
    } catch (const CComError& error) {
        // Running out of memory while a message is built drops the record, never the thread.
        TraceAt(TraceLevel::Error, kRoutingFailed, static_cast<std::uint32_t>(error.Error()));
    } catch (const std::bad_alloc&) {
        TraceAt(TraceLevel::Error, kRoutingFailed, static_cast<std::uint32_t>(E_OUTOFMEMORY));
    }
    // The call block arrived for this side to free, whatever became of it.
    opened.Destroy();
    return replied;
}

void CInvokeManagementServiceBase::ReceiveAndReply(InvokeRecord* record) {
    if (ProcessMessage(record) == 1 && SendReply(record) == 0) {
        TraceAt(TraceLevel::Error, kReplyNotSent, static_cast<std::uint32_t>(GetLastError()));
    }
}

}  // namespace tarnwick
