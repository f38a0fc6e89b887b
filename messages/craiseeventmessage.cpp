#include "messages/craiseeventmessage.h"

namespace tarnwick {

CRaiseEventMessage::CRaiseEventMessage() : subscriptionTag_(L"") {}

}  // namespace tarnwick
