// The exported special members of IInvokeWait, defined out of line so that the library
// exports them and hosts import them.
#include "iinvokewait.h"

namespace tarnwick {

IInvokeWait::IInvokeWait() noexcept = default;
IInvokeWait::IInvokeWait(const IInvokeWait&) noexcept = default;
IInvokeWait& IInvokeWait::operator=(const IInvokeWait&) noexcept = default;
IInvokeWait::~IInvokeWait() = default;

}  // namespace tarnwick
