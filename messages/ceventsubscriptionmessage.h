#pragma once
// A subscriber's request for an event, with the event proxy that will carry the event back.

#include <wrl/client.h>

#include "cbstrholder.h"
#include "imessagebase.h"
#include "messages/cinvokemessagebase.h"

namespace tarnwick {

class CEventProxy;

class CEventSubscriptionMessage final : public IEventSubscriptionMessage,
                                        public CInvokeMessageBase {
public:
    CEventSubscriptionMessage() = default;

    // Event name and subscription tag are without a buffer until set.
    CBstrHolder& GetEventName() override { return eventName_; }
    CBstrHolder& GetSubscriptionTag() override { return subscriptionTag_; }
    IUnknown* GetEventProxy() override { return eventProxy_.Get(); }

    // Holds a reference on the proxy's IUnknown in place of any earlier proxy. A proxy that
    // answers no IUnknown is traced and leaves the message without one; null clears it.
    void SetEventProxy(IUnknown* proxy);
    // The library's own event proxy: the message takes its reference directly.
    void SetEventProxy(CEventProxy* proxy);

private:
    Microsoft::WRL::ComPtr<IUnknown> eventProxy_;
    CBstrHolder eventName_;
    CBstrHolder subscriptionTag_;
};

}  // namespace tarnwick
