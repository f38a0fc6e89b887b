#pragma once
// The host's window for the window-message peers of a benchmark: a hidden window of the
// calling thread that answers each peer's hello (kHelloMessage), the library peer's by making
// the window-message service of the bench host for that peer's window and the bare peer's by
// handing its window to the bare transport, and passes the service's invoke messages on.

#include <windows.h>

#include "bench/benchpeers.h"
#include "bench/cbaretransports.h"
#include "bench/cbenchhost.h"
#include "iwindowsmessageinvoke.h"

namespace tarnwick::bench {

class CHostWindow {
  public:
    // `bare` may be null when no bare peer greets; both must outlive the window.
    CHostWindow(CBenchHost& host, CBareWindow* bare);
    CHostWindow(const CHostWindow&) = delete;
    CHostWindow& operator=(const CHostWindow&) = delete;

    // The window, null when it could not be made.
    HWND Get() const noexcept { return window_.get(); }

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnHello(HWND peer, LPARAM mode);

    CBenchHost& host_;
    CBareWindow* bare_;
    IWindowsMessageInvoke* invoke_ = nullptr;
    CUniqueWindow window_;
};

}  // namespace tarnwick::bench
