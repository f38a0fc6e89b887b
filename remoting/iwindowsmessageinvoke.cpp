// The exported special members of IWindowsMessageInvoke, defined out of line so that the
// library exports them and hosts import them. The interface holds no data.
#include "iwindowsmessageinvoke.h"

namespace tarnwick {

IWindowsMessageInvoke::IWindowsMessageInvoke() noexcept = default;
IWindowsMessageInvoke::IWindowsMessageInvoke(const IWindowsMessageInvoke&) noexcept = default;
IWindowsMessageInvoke::IWindowsMessageInvoke(IWindowsMessageInvoke&&) noexcept = default;
IWindowsMessageInvoke& IWindowsMessageInvoke::operator=(const IWindowsMessageInvoke&) noexcept =
    default;
IWindowsMessageInvoke& IWindowsMessageInvoke::operator=(IWindowsMessageInvoke&&) noexcept = default;

}  // namespace tarnwick
