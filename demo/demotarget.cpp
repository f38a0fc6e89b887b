// The demo's target process: a host of the library that serves one transport (an IPC queue
// or window messages) for the peer, answers its subscriptions and calls, and raises the
// button's Click event. It links the library through its import library and uses only the
// exported headers, as a real host does.
// Usage: tarnwick_demo_target.exe queue|window SESSION
#include <windows.h>

#include <memory>
#include <string>

#include "cdemohost.h"
#include "cdemosession.h"
#include "ctranscript.h"
#include "invokemanagementservices.h"
#include "iwindowsmessageinvoke.h"

namespace tarnwick::demo {
namespace {

constexpr const wchar_t* kWindowClass = L"TarnwickDemoTarget";

struct WindowDestroyer {
    void operator()(HWND window) const noexcept { DestroyWindow(window); }
};
using UniqueWindow = std::unique_ptr<HWND__, WindowDestroyer>;

// Hands each record that the peer sends to the service; the service rides in the window's
// user data once it exists, and until then the window refuses.
LRESULT CALLBACK TargetProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kInvokeWindowMessage) return DefWindowProcW(window, message, wParam, lParam);
    auto* invoke =
        reinterpret_cast<IWindowsMessageInvoke*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (invoke == nullptr) return 0;
    return invoke->ProcessWindowMessage(static_cast<std::uint32_t>(lParam)) != 0
               ? kInvokeWindowMessageReplied
               : 0;
}

UniqueWindow CreateTargetWindow(const std::wstring& title) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &TargetProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
    return UniqueWindow(CreateWindowExW(0, kWindowClass, title.c_str(), WS_POPUP, 0, 0, 0, 0,
                                        nullptr, nullptr, windowClass.hInstance, nullptr));
}

bool ServeQueue(const CDemoSession& session, CDemoHost& host, CTranscript& out) {
    const std::wstring name = session.Name(L"TwT");
    // The service takes the BSTR over.
    IInvokeManagementService* service =
        GetLpcInvokeManagementService(SysAllocString(name.c_str()), &host);
    if (!out.Check(service != nullptr, L"no service for the IPC queue %ls", name.c_str()))
        return false;
    host.SetService(service);
    // The queue names hold the driver's process id: left out, the transcript is the same on
    // every run.
    out.Line(L"serving its IPC queue");
    session.Pass();
    return true;
}

// The peer's window comes first: the service is made for it. Then this side's window, whose
// procedure the peer's requests reach.
UniqueWindow ServeWindowMessages(const CDemoSession& session, CDemoHost& host, CTranscript& out) {
    if (!out.Check(session.Await(true), L"the peer's window did not come up")) return nullptr;
    const HWND peerWindow = FindWindowW(nullptr, session.WindowTitle(Role::Peer).c_str());
    if (!out.Check(peerWindow != nullptr, L"the peer's window was not found")) return nullptr;
    IInvokeManagementService* service = GetWindowsMessageInvokeManagementService(peerWindow, &host);
    auto* invoke = dynamic_cast<IWindowsMessageInvoke*>(service);
    if (!out.Check(invoke != nullptr, L"no window-message service for the peer's window"))
        return nullptr;
    host.SetService(service);
    UniqueWindow window = CreateTargetWindow(session.WindowTitle(Role::Target));
    if (!out.Check(window != nullptr, L"no window of its own")) return nullptr;
    SetWindowLongPtrW(window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(invoke));
    out.Line(L"serving window messages from the peer's window");
    session.Pass();
    return window;
}

// The target's turns: the peer has subscribed when the first comes, unsubscribed when the
// second comes, and made its calls when the third comes.
void RunSession(const CDemoSession& session, CDemoHost& host, CTranscript& out, bool pump) {
    if (!out.Check(session.Await(pump), L"the peer did not hand the turn back")) return;
    out.Check(host.RaiseClick(1) == CDemoHost::RaiseOutcome::Cancelled,
              L"the first Click should have been cancelled");
    out.Check(host.RaiseClick(2) == CDemoHost::RaiseOutcome::Allowed,
              L"the second Click should have been allowed");
    session.Pass();
    if (!out.Check(session.Await(pump), L"the peer did not hand the turn back")) return;
    out.Check(host.RaiseClick(3) == CDemoHost::RaiseOutcome::NoSubscriber,
              L"the third Click should have found no subscriber");
    session.Pass();
    if (!out.Check(session.Await(pump), L"the peer did not hand the turn back")) return;
    out.Line(L"done: %d call(s) answered", host.CallsAnswered());
}

void Serve(const std::wstring& transport, const CDemoSession& session, CTranscript& out) {
    CDemoHost host(out);
    if (transport == kQueueTransport) {
        if (ServeQueue(session, host, out)) RunSession(session, host, out, false);
        return;
    }
    const UniqueWindow window = ServeWindowMessages(session, host, out);
    if (window) RunSession(session, host, out, true);
}

}  // namespace
}  // namespace tarnwick::demo

int main() {
    return tarnwick::demo::RunSessionSide(tarnwick::demo::Role::Target, &tarnwick::demo::Serve);
}
