#include "bench/cbenchhost.h"

#include <wrl/client.h>

#include "ieventcollection.h"
#include "iipcinvoke.h"
#include "common/cvariantholder.h"

namespace tarnwick::bench {

bool CBenchHost::Raise(int value) {
    // The collection answers the proxy with a reference for the caller.
    Microsoft::WRL::ComPtr<IIpcInvoke> subscriber;
    subscriber.Attach(service_->GetEventCollection()->GetSubscriber(&address_, kEventName));
    if (!subscriber) return false;
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_I4;
    argument.lVal = value;
    VARIANT answer = subscriber->Invoke(kEventName, &argument, 1, 0);
    const CVariantHolder result(answer);
    return result.Get().vt == VT_BOOL && result.Get().boolVal == VARIANT_TRUE;
}

int CBenchHost::OnMethodCall(IMethodCallMessage* message) {
    message->SetFailed(L"bench", L"the benchmark's target has no methods");
    return 0;
}

int CBenchHost::OnEventSubscription(IEventSubscriptionMessage* message) {
    Microsoft::WRL::ComPtr<IIpcInvoke> proxy;
    if (service_ == nullptr || message->GetEventProxy() == nullptr ||
        FAILED(message->GetEventProxy()->QueryInterface(
            IID_IIpcInvoke, reinterpret_cast<void**>(proxy.GetAddressOf())))) {
        return 0;
    }
    service_->GetEventCollection()->AddSubscriber(&message->GetReturnAddress(),
                                                  message->GetEventName(), proxy.Get());
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
