#pragma once
// The module-wide caches of the remoting services that the factories hand out, and their
// destruction at unload. A host never destroys a service itself.

#include <windows.h>
#include <ole2.h>

#include <memory>
#include <mutex>
#include <unordered_map>

#include "iinvokemanagementservice.h"

namespace tarnwick {

class CLpcInvokeManagementService;
class CWindowsMessageInvokeManagementService;

class CRemotingServices {
  public:
    CRemotingServices();
    CRemotingServices(const CRemotingServices&) = delete;
    CRemotingServices& operator=(const CRemotingServices&) = delete;
    ~CRemotingServices();

    // The caches of the exported factories. They are never destroyed as objects: the entry
    // point empties them at unload, before the queue library may be gone.
    static CRemotingServices& Module();

    // The one IPC-queue service: made by the first call, which takes over queueName; later
    // calls return it whatever their arguments. Both factories answer null while DestroyAll
    // runs: a service made then would outlive the clean-up.
    CLpcInvokeManagementService* GetLpcService(BSTR queueName, IInvokeNotification* notification);
    // The service filed under the notification, whatever window it was made for; else a new
    // one for peerWindow.
    CWindowsMessageInvokeManagementService* GetWindowsMessageService(
        HWND peerWindow, IInvokeNotification* notification);

    // Destroys the IPC-queue service, then every window-message service.
    void DestroyAll();

  private:
    std::mutex mutex_;
    bool destroying_ = false;
    std::unique_ptr<CLpcInvokeManagementService> lpc_;
    std::unordered_map<IInvokeNotification*,
                       std::unique_ptr<CWindowsMessageInvokeManagementService>>
        windowMessage_;
};

// The clean-up at unload: the type library service, then the remoting services.
void DestroyModuleServices();

}  // namespace tarnwick
