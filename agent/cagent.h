#pragma once
// The agent: inside an application, the remoting side that an automation host in another
// process drives. It attaches the hooking host to the application's GUI thread, serves the
// host's requests through one of the library's invoke management services, each on the GUI
// thread with a bound, and files the host's subscriptions in that service's event collection.

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "agent/ccontrolcall.h"
#include "common/uniquehandle.h"
#include "iinvokemanagementservice.h"
#include "imessagebase.h"
#include "messagetypes.h"

namespace vask {

class CAgent final : public tarnwick::IInvokeNotification {
  public:
    // Starts a session for `hostProcess` on the calling (GUI) thread, over window messages to
    // `hostWindow`, or the IPC queue when it is null, keyed by `key`. True when it serves it.
    static bool Start(DWORD hostProcess, HWND hostWindow, std::uint64_t key);
    // Whether a session of that host with that key runs; answered on the request thread.
    static bool Serves(DWORD hostProcess, std::uint64_t key);

    int OnMethodCall(tarnwick::IMethodCallMessage* message) override;
    int OnEventSubscription(tarnwick::IEventSubscriptionMessage* message) override;
    int OnEventUnsubscription(tarnwick::IEventUnsubscriptionMessage* message) override;
    std::uint64_t ResolveTarget(std::uint64_t o) override { return o; }

    // The request's in-arguments after copying: records become their handles (VT_I8).
    using Arguments = std::span<VARIANT>;

  private:
    using Subscription = std::pair<tarnwick::ReturnAddressRecord, std::wstring>;
    using Perform = ControlCallOutcome (CAgent::*)(Arguments arguments);
    // A request of the agent's own: where it runs, and how many rounds of posted messages go
    // before it (see CThreadHop).
    struct Request {
        const wchar_t* name;
        bool onGuiThread;
        int rounds;
        Perform perform;
    };
    friend class CAgentRegistry;

    explicit CAgent(DWORD thread);
    bool Begin(DWORD hostProcess, HWND hostWindow, std::uint64_t key);
    // Ends the session: drops the subscriptions, detaches the hooking host and stops watching
    // the host and the thread.
    void Stop();
    bool IsFromHost(tarnwick::IInvokeMessageBase& message);
    static const Request* FindRequest(const std::wstring& name);
    void Serve(tarnwick::IMethodCallMessage& message, const std::wstring& name);

    ControlCallOutcome ListControls(Arguments arguments);
    ControlCallOutcome Sync(Arguments arguments);
    ControlCallOutcome SavePicture(Arguments arguments);
    ControlCallOutcome SetOperationBound(Arguments arguments);
    ControlCallOutcome Detach(Arguments arguments);
    ControlCallOutcome ListEvents(Arguments arguments);
    ControlCallOutcome ListMenu(Arguments arguments);
    ControlCallOutcome ChooseMenu(Arguments arguments);
    // Sets `window` to the top-level window of the GUI thread that an argument names; else
    // answers the refusal.
    // `position`: the argument's place in the request, for the refusal's text.
    ControlCallOutcome NameWindow(const VARIANT& given, HWND& window, int position = 1) const;
    ControlCallOutcome CallControl(const std::wstring& operation, Arguments arguments);
    // Sets `window` to the control that a request's argument names: a hooked control of the
    // GUI thread; else answers the refusal.
    ControlCallOutcome NameControl(const VARIANT& given, HWND& window) const;
    bool IsHookedControl(HWND window) const;
    std::vector<HWND> Controls() const;
    void DropSubscriptionsOf(HWND window);

    tarnwick::IInvokeManagementService* WindowService();
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static void CALLBACK PartyEnded(void* generation, BOOLEAN timedOut);
    static void WindowGone(HWND window);

    const DWORD thread_;      // the GUI thread
    HWND control_ = nullptr;  // message-only, on the GUI thread for good: work, stop, events
    tarnwick::IInvokeManagementService* windowService_ = nullptr;  // its peer is control_

    mutable std::mutex mutex_;  // over the session below
    bool active_ = false;
    std::uintptr_t generation_ = 0;
    DWORD hostProcess_ = 0;
    HWND hostWindow_ = nullptr;  // null over the IPC queue
    std::uint64_t key_ = 0;
    DWORD boundMs_ = 0;
    HWND window_ = nullptr;  // message-only, on a thread of the session: requests, Serves
    tarnwick::IInvokeManagementService* service_ = nullptr;
    tarnwick::UniqueHandle hostHandle_, threadHandle_;  // watched for their end
    HANDLE hostWait_ = nullptr, threadWait_ = nullptr;
    std::vector<Subscription> subscriptions_;
};

}  // namespace vask
