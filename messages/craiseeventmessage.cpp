#include "messages/craiseeventmessage.h"

#include "messages/cmarshalhelper.h"

namespace tarnwick {

CRaiseEventMessage::CRaiseEventMessage() : subscriptionTag_(L"") {}

void CRaiseEventMessage::NoteMovedArgument(int storedIndex) {
    if (storedIndex < 0 || storedIndex >= GetArgumentCount()) return;
    if (movedArguments_.size() < static_cast<size_t>(GetArgumentCount())) {
        movedArguments_.resize(GetArgumentCount(), false);
    }
    movedArguments_[storedIndex] = true;
}

void CRaiseEventMessage::DiscardMovedArguments() {
    for (size_t index = 0; index < movedArguments_.size(); ++index) {
        if (!movedArguments_[index]) continue;
        if (VARIANT* argument = GetArgument(static_cast<int>(index))) {
            CMarshalHelper::DiscardValue(*argument);
        }
        movedArguments_[index] = false;
    }
}

}  // namespace tarnwick
