#pragma once
// An event raised towards a subscriber: a method call that also carries the subscription tag.

#include "cbstrholder.h"
#include "imessagebase.h"
#include "messages/cmethodcallmessage.h"

namespace tarnwick {

class CRaiseEventMessage final : public virtual IRaiseEventMessage,
                                 public virtual CMethodCallMessage {
public:
    CRaiseEventMessage();

    CBstrHolder& GetSubscriptionTag() override { return subscriptionTag_; }

private:
    CBstrHolder subscriptionTag_;
};

}  // namespace tarnwick
