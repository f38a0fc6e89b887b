// The exported special members of the service and notification interfaces, defined out of
// line so that the library exports them and hosts import them. The interfaces hold no data.
#include "iinvokemanagementservice.h"

namespace tarnwick {

IInvokeManagementService::IInvokeManagementService() noexcept = default;
IInvokeManagementService::IInvokeManagementService(const IInvokeManagementService&) noexcept =
    default;
IInvokeManagementService::IInvokeManagementService(IInvokeManagementService&&) noexcept = default;
IInvokeManagementService& IInvokeManagementService::operator=(
    const IInvokeManagementService&) noexcept = default;
IInvokeManagementService& IInvokeManagementService::operator=(IInvokeManagementService&&) noexcept =
    default;

IInvokeNotification::IInvokeNotification() noexcept = default;
IInvokeNotification::IInvokeNotification(const IInvokeNotification&) noexcept = default;
IInvokeNotification::IInvokeNotification(IInvokeNotification&&) noexcept = default;
IInvokeNotification& IInvokeNotification::operator=(const IInvokeNotification&) noexcept = default;
IInvokeNotification& IInvokeNotification::operator=(IInvokeNotification&&) noexcept = default;

}  // namespace tarnwick
