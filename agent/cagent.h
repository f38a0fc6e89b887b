#pragma once
// The agent: inside an application, the remoting side that an automation host in another
// process drives. It attaches the hooking host to the application's GUI thread, serves the
// host's requests through one of the library's invoke management services, and files the
// host's subscriptions in that service's event collection.

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "iinvokemanagementservice.h"
#include "imessagebase.h"
#include "messagetypes.h"

namespace vask {

class CAgent final : public tarnwick::IInvokeNotification {
  public:
    // Starts serving `hostProcess` on the calling (GUI) thread, over window messages to
    // `hostWindow`, or the IPC queue when it is null. True when the agent serves that host.
    static bool Start(DWORD hostProcess, HWND hostWindow);
    // Whether the agent serves that host; answered on the agent window's thread.
    static bool Serves(DWORD hostProcess);

    int OnMethodCall(tarnwick::IMethodCallMessage* message) override;
    int OnEventSubscription(tarnwick::IEventSubscriptionMessage* message) override;
    int OnEventUnsubscription(tarnwick::IEventUnsubscriptionMessage* message) override;
    std::uint64_t ResolveTarget(std::uint64_t o) override { return o; }

  private:
    using Subscription = std::pair<tarnwick::ReturnAddressRecord, std::wstring>;

    CAgent() = default;
    bool Begin(DWORD hostProcess, HWND hostWindow);
    // Drops the subscriptions, detaches the hooking host and stops watching the host; on the
    // GUI thread.
    void Stop();
    void ListControls(tarnwick::IMethodCallMessage& message);
    void Sync(tarnwick::IMethodCallMessage& message);
    void SavePicture(tarnwick::IMethodCallMessage& message);
    void CallControl(tarnwick::IMethodCallMessage& message, const std::wstring& operation);
    std::vector<HWND> Controls() const;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static void CALLBACK HostEnded(void* context, BOOLEAN timedOut);

    mutable std::mutex mutex_;
    bool active_ = false;
    DWORD thread_ = 0;            // the GUI thread
    DWORD hostProcess_ = 0;
    HWND window_ = nullptr;       // message-only, on the agent's thread: requests, Serves
    HWND control_ = nullptr;      // message-only, on the GUI thread: sync, stop
    HANDLE hostHandle_ = nullptr; // watched for the host's end
    HANDLE hostWait_ = nullptr;
    tarnwick::IInvokeManagementService* service_ = nullptr;
    std::vector<Subscription> subscriptions_;
};

}  // namespace vask
