#include "bench/chostwindow.h"

#include "invokemanagementservices.h"

namespace tarnwick::bench {

namespace {

constexpr const wchar_t* kHostWindowClass = L"TarnwickBenchHost";

}  // namespace

CHostWindow::CHostWindow(CBenchHost& host, CBareWindow* bare)
    : host_(host), bare_(bare), window_(CreateHiddenWindow(kHostWindowClass, &Procedure)) {
    // Set before any peer can greet: the peers start after the window exists.
    if (window_ != nullptr) {
        SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
}

void CHostWindow::OnHello(HWND peer, LPARAM mode) {
    if (mode == kHelloBare) {
        if (bare_ != nullptr) bare_->SetPeerWindow(peer);
    } else if (invoke_ == nullptr) {
        IInvokeManagementService* service = GetWindowsMessageInvokeManagementService(peer, &host_);
        host_.SetService(service);
        invoke_ = dynamic_cast<IWindowsMessageInvoke*>(service);
    }
}

LRESULT CALLBACK CHostWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CHostWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    if (message == kHelloMessage) {
        self->OnHello(reinterpret_cast<HWND>(wParam), lParam);
        return 1;
    }
    if (message == kInvokeWindowMessage) {
        const bool replied =
            self->invoke_ != nullptr &&
            self->invoke_->ProcessWindowMessage(static_cast<std::uint32_t>(lParam)) != 0;
        return replied ? kInvokeWindowMessageReplied : 1;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace tarnwick::bench
