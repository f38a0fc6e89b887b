#include "bench/cbenchhost.h"

#include "ieventcollection.h"
#include "iipcinvoke.h"

namespace tarnwick::bench {

bool CBenchHost::Raise(int value) {
    IIpcInvoke* subscriber = service_->GetEventCollection()->GetSubscriber(&address_, kEventName);
    if (subscriber == nullptr) return false;
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_I4;
    argument.lVal = value;
    VARIANT result = subscriber->Invoke(kEventName, &argument, 1, 0);
    subscriber->Release();
    const bool cancelled = result.vt == VT_BOOL && result.boolVal == VARIANT_TRUE;
    VariantClear(&result);
    return cancelled;
}

int CBenchHost::OnMethodCall(IMethodCallMessage* message) {
    message->SetFailed(L"bench", L"the benchmark's target has no methods");
    return 0;
}

int CBenchHost::OnEventSubscription(IEventSubscriptionMessage* message) {
    IIpcInvoke* proxy = nullptr;
    if (service_ == nullptr || message->GetEventProxy() == nullptr ||
        FAILED(message->GetEventProxy()->QueryInterface(IID_IIpcInvoke,
                                                        reinterpret_cast<void**>(&proxy)))) {
        return 0;
    }
    service_->GetEventCollection()->AddSubscriber(&message->GetReturnAddress(),
                                                  message->GetEventName(), proxy);
    proxy->Release();
    address_ = message->GetReturnAddress();
    return 0;
}

int CBenchHost::OnEventUnsubscription(IEventUnsubscriptionMessage* message) {
    if (service_ != nullptr) {
        service_->GetEventCollection()->RemoveSubscriber(&message->GetReturnAddress(),
                                                         message->GetEventName());
    }
    return 0;
}

}  // namespace tarnwick::bench
