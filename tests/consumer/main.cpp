// A host of the installed library: it loads the type library that sits beside the executable
// through the type library resolution service, looks up an interface of it, reads a window's
// class through WinHelper, and attaches the hooking host to its thread and detaches it again.
// Prints what it found, or why it stopped.
#include <windows.h>
#include <wrl/client.h>

#include <cstdio>
#include <memory>
#include <type_traits>
#include <vector>

#include "Tarnwick.Virtual.Interfaces.h"
#include "cbstrholder.h"
#include "itypelibresolutionservice.h"
#include "platform/vaskhookhost.h"
#include "winhelper.h"

namespace {

using Microsoft::WRL::ComPtr;
using tarnwick::CBstrHolder;

struct WindowDestroyer {
    void operator()(HWND window) const { DestroyWindow(window); }
};
using WindowHolder = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

int Fail(const char* what) {
    std::printf("consumer: %s\n", what);
    return 1;
}

std::vector<wchar_t> ExecutablePath() {
    std::vector<wchar_t> path(MAX_PATH);
    while (GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())) ==
           path.size()) {
        path.resize(path.size() * 2);
    }
    return path;
}

}  // namespace

int main() {
    ITypeLibResolutionService* service = GetTypeLibResolutionService();
    service->AddSearchDirectory(ExecutablePath().data());

    ComPtr<ITypeLib> library;
    if (!service->GetTypeLib(L"Tarnwick.Virtual.Interfaces.tlb", library.GetAddressOf())) {
        return Fail("Tarnwick.Virtual.Interfaces.tlb is not loaded");
    }
    ComPtr<ITypeInfo> info;
    if (!service->GetTypeInfoByGuid(&__uuidof(IVirtualControl), info.GetAddressOf())) {
        return Fail("IVirtualControl is not known");
    }
    CBstrHolder libraryName;
    CBstrHolder interfaceName;
    if (FAILED(library->GetDocumentation(MEMBERID_NIL, &libraryName.GetBSTR(), nullptr, nullptr,
                                         nullptr)) ||
        FAILED(info->GetDocumentation(MEMBERID_NIL, &interfaceName.GetBSTR(), nullptr, nullptr,
                                      nullptr))) {
        return Fail("the type library has no names");
    }

    const WindowHolder button(CreateWindowExW(0, L"Button", L"OK", WS_POPUP, 0, 0, 80, 24, nullptr,
                                              nullptr, GetModuleHandleW(nullptr), nullptr));
    if (!button) return Fail("no window");
    CBstrHolder className;
    tarnwick::WinHelper::GetWindowClassName(button.get(), &className.GetBSTR());

    const int attached = AttachHookHost(GetCurrentThreadId(), 1, nullptr);
    const int detached = DetachHookHost();

    std::printf("consumer: %ls of %ls, window class %ls, hook host attach %d detach %d\n",
                interfaceName.Get(), libraryName.Get(), className.Get(), attached, detached);
    return 0;
}
