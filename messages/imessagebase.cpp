// The exported special members of the message interfaces. They are defined here, out of
// line, so that the library exports them and hosts import them.
#include "imessagebase.h"
#include "ireturnaddress.h"

// The interfaces hold no data, so assignment has nothing to do. Written out rather than
// defaulted, it also leaves the virtual bases alone instead of assigning them once per path.
#define TARNWICK_DEFINE_INTERFACE_SPECIAL_MEMBERS(Interface)                     \
    Interface::Interface() noexcept = default;                                   \
    Interface::Interface(const Interface&) noexcept = default;                   \
    Interface::Interface(Interface&&) noexcept = default;                        \
    Interface& Interface::operator=(const Interface&) noexcept { return *this; } \
    Interface& Interface::operator=(Interface&&) noexcept { return *this; }

namespace tarnwick {

TARNWICK_DEFINE_INTERFACE_SPECIAL_MEMBERS(IMessageBase)
TARNWICK_DEFINE_INTERFACE_SPECIAL_MEMBERS(IInvokeMessageBase)
TARNWICK_DEFINE_INTERFACE_SPECIAL_MEMBERS(IMethodCallMessage)
TARNWICK_DEFINE_INTERFACE_SPECIAL_MEMBERS(IRaiseEventMessage)
TARNWICK_DEFINE_INTERFACE_SPECIAL_MEMBERS(IEventSubscriptionMessage)
TARNWICK_DEFINE_INTERFACE_SPECIAL_MEMBERS(IEventUnsubscriptionMessage)
TARNWICK_DEFINE_INTERFACE_SPECIAL_MEMBERS(IMethodReturnMessage)
TARNWICK_DEFINE_INTERFACE_SPECIAL_MEMBERS(IReturnAddress)

}  // namespace tarnwick
