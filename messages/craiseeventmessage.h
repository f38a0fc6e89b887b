#pragma once
// An event raised towards a subscriber: a method call that also carries the subscription tag.

#include <vector>

#include "cbstrholder.h"
#include "imessagebase.h"
#include "messages/cmethodcallmessage.h"

namespace tarnwick {

class CRaiseEventMessage final : public virtual IRaiseEventMessage,
                                 public virtual CMethodCallMessage {
public:
    CRaiseEventMessage();

    CBstrHolder& GetSubscriptionTag() override { return subscriptionTag_; }

    // Notes that the argument stored at storedIndex (last-first, as GetArgument counts) had
    // its payload moved into shared memory for this event.
    void NoteMovedArgument(int storedIndex);
    // Frees exactly the payload blocks moved for this event, when it cannot be sent; those
    // arguments are left empty. Other arguments, a decimal among them, are not touched.
    void DiscardMovedArguments();

private:
    CBstrHolder subscriptionTag_;
    std::vector<bool> movedArguments_;
};

}  // namespace tarnwick
