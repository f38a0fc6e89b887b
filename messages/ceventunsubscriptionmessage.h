#pragma once
// A subscriber's request to stop receiving an event.

#include "cbstrholder.h"
#include "imessagebase.h"
#include "messages/cinvokemessagebase.h"

namespace tarnwick {

class CEventUnsubscriptionMessage final : public IEventUnsubscriptionMessage,
                                          public CInvokeMessageBase {
public:
    CEventUnsubscriptionMessage() = default;

    // Without a buffer until set.
    CBstrHolder& GetEventName() override { return eventName_; }

private:
    CBstrHolder eventName_;
};

}  // namespace tarnwick
