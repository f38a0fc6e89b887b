// tarnwick_sampleapp: a plain Win32 application with one window of standard controls, for the
// demo to drive. "--title TEXT" sets the window's title. It prints nothing and reads no files.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "csamplewindow.h"
#include "sampleapp.h"

namespace {

std::wstring TitleFromCommandLine() {
    std::wstring title = tarnwick::sampleapp::kDefaultTitle;
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (args == nullptr) return title;
    for (int i = 1; i + 1 < count; ++i) {
        if (std::wstring(args[i]) == L"--title") title = args[++i];
    }
    LocalFree(args);
    return title;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    tarnwick::sampleapp::CSampleWindow sample;
    HWND window = sample.Create(instance, TitleFromCommandLine());
    if (window == nullptr) return 1;
    ACCEL name{FCONTROL | FVIRTKEY, 'N', tarnwick::sampleapp::kMenuNameId};
    const HACCEL accelerators = CreateAcceleratorTableW(&name, 1);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (TranslateAcceleratorW(window, accelerators, &message) != 0) continue;
        if (IsDialogMessageW(window, &message)) continue;  // tab and arrow keys between controls
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    DestroyAcceleratorTable(accelerators);
    return static_cast<int>(message.wParam);
}
