#include "messages/ceventproxy.h"

#include <algorithm>
#include <exception>

#include "ccomerror.h"
#include "messages/cmarshaller.h"
#include "messages/cmarshalhelper.h"
#include "messages/craiseeventmessage.h"
#include "messages/ipeerpresence.h"
#include "trace/ctraceprovider.h"

namespace tarnwick {
namespace {

// {38E79BE2-4D97-4E1B-AC33-B245CAF2F7AC}
constexpr GUID kTraceGuid = {
    0x38e79be2, 0x4d97, 0x4e1b, {0xac, 0x33, 0xb2, 0x45, 0xca, 0xf2, 0xf7, 0xac}};

enum TracePoint : USHORT {
    kTraceArgumentsRefused = 1,
    kTraceNoService,
    kTraceNoWait,
    kTraceWaitTimedOut,
    kTraceMessageFailed,
    kTraceReturned,
    kTracePeerEnded,
};

// What a raised event answers when no return arrives: the message's initial result.
VARIANT NoResult() noexcept {
    VARIANT result;
    VariantInit(&result);
    result.vt = VT_UNKNOWN;
    result.punkVal = nullptr;
    return result;
}

// The message gets the argument with its payload moved into shared memory; the payload now
// belongs to the subscriber, so the caller's argument no longer holds it.
// Arguments are stored last-first: the one of call position i lands at count - 1 - i.
void MoveArgument(VARIANT& argument, int position, CRaiseEventMessage& message) {
    VARIANT moved = argument;
    const bool hasPayload = CMarshalHelper::HasPayload(argument.vt);
    CMarshalHelper::MarshalValue(moved);
    if (hasPayload) VariantInit(&argument);
    message.AddArgument(&moved);
    if (hasPayload) message.NoteMovedArgument(message.GetArgumentCount() - 1 - position);
}

}  // namespace

Microsoft::WRL::ComPtr<CEventProxy> CEventProxy::Create(const ReturnAddressRecord& address,
                                                        const TargetKey& targetKey,
                                                        const CBstrHolder& subscriptionTag,
                                                        IInvokeManagementService* service) {
    return Microsoft::WRL::ComPtr<CEventProxy>(
        new CEventProxy(address, targetKey, subscriptionTag, service));
}

CEventProxy::CEventProxy(const ReturnAddressRecord& address, const TargetKey& targetKey,
                         const CBstrHolder& subscriptionTag,
                         IInvokeManagementService* service) noexcept
    : returnAddress_(address),
      subscriptionTag_(subscriptionTag),
      targetKey_(targetKey),
      service_(service),
      transport_(dynamic_cast<IPeerPresence*>(service)) {}

HRESULT CEventProxy::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IIpcInvoke) || IsEqualIID(iid, IID_IUnknown)) {
        *object = static_cast<IIpcInvoke*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CEventProxy::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG CEventProxy::Release() {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

VARIANT CEventProxy::Invoke(const wchar_t* memberName, VARIANT* arguments, int count,
                            std::uint64_t target) {
    if (count < 0 || count > blockformat::kMaxArguments || (count > 0 && arguments == nullptr)) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceArgumentsRefused,
              memberName, count);
        return NoResult();
    }
    if (service_ == nullptr) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceNoService, memberName);
        return NoResult();
    }
    try {
        CRaiseEventMessage message;
        message.GetReturnAddress() = returnAddress_;
        message.GetTargetKey() = targetKey_;
        message.GetMemberName() = memberName;
        message.GetSubscriptionTag() = subscriptionTag_;
        message.InitArguments(count);
        for (int i = 0; i < count; ++i) MoveArgument(arguments[i], i, message);

        IInvokeWait* wait = service_->SendRaiseEvent(&message, target);
        if (wait == nullptr) {
            Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceNoWait, memberName);
            return *message.GetResult();
        }
        WaitForReturn(*wait);
        service_->ReleaseWait(wait);
        Trace(kTraceGuid, TraceLevel::Verbose, kTraceFlagComponent, kTraceReturned, memberName,
              static_cast<std::uint32_t>(message.GetState()));
        // The caller owns what the result holds; the message never releases it.
        return *message.GetResult();
    } catch (const CComError& error) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceMessageFailed, memberName,
              error.Error());
    } catch (const std::exception&) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceMessageFailed, memberName,
              E_OUTOFMEMORY);
    }
    return NoResult();
}

void CEventProxy::WaitForReturn(IInvokeWait& wait) const {
    for (;;) {
        switch (WaitOnePeriod(wait)) {
            case WaitOutcome::Returned:
                return;
            case WaitOutcome::PeerEnded:
                Trace(kTraceGuid, TraceLevel::Warning, kTraceFlagComponent, kTracePeerEnded);
                return;
            case WaitOutcome::PeriodOver:
                break;
        }
        Trace(kTraceGuid, TraceLevel::Warning, kTraceFlagComponent, kTraceWaitTimedOut,
              waitPeriodMs_);
        if (prompt_(nullptr, kTimeoutText, kTimeoutCaption, MB_RETRYCANCEL) != IDRETRY) return;
    }
}

CEventProxy::WaitOutcome CEventProxy::WaitOnePeriod(IInvokeWait& wait) const {
    if (transport_ == nullptr) {
        return wait.Wait(waitPeriodMs_) ? WaitOutcome::Returned : WaitOutcome::PeriodOver;
    }
    // A return that comes at once is waited for in one go, with no question to the transport.
    for (DWORD waited = 0; waited < waitPeriodMs_;) {
        const DWORD slice = std::min(kPeerCheckMs, waitPeriodMs_ - waited);
        if (wait.Wait(slice)) return WaitOutcome::Returned;
        waited += slice;
        if (transport_->PeerEnded()) {
            return wait.Wait(0) ? WaitOutcome::Returned : WaitOutcome::PeerEnded;
        }
    }
    return WaitOutcome::PeriodOver;
}

}  // namespace tarnwick
