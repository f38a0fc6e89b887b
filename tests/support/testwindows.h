#pragma once
// Real windows and common controls for tests: a hidden top-level host window and child
// controls of every supported kind, all destroyed with the owner.

#include <windows.h>
#include <commctrl.h>

#include <vector>

namespace tarnwick::test {

class CTestWindows {
public:
    CTestWindows();
    CTestWindows(const CTestWindows&) = delete;
    CTestWindows& operator=(const CTestWindows&) = delete;
    ~CTestWindows();

    HWND Host() const { return host_; }

    // Child controls of the host (WS_CHILD | WS_VISIBLE added to the style).
    HWND Button(DWORD style = BS_PUSHBUTTON, const wchar_t* text = L"Button");
    HWND Edit(DWORD style = ES_AUTOHSCROLL, const wchar_t* text = L"");
    HWND ComboBox(DWORD style = CBS_DROPDOWNLIST);
    HWND TabControl();
    HWND TreeView(DWORD style = TVS_HASBUTTONS | TVS_LINESATROOT);
    HWND ListView(DWORD style = LVS_REPORT);
    // Any other class, at the given place, with parent (the host when null).
    HWND Create(const wchar_t* className, DWORD style, const wchar_t* text, RECT bounds,
                HWND parent = nullptr);

    // Dispatches every message waiting for this thread.
    static void PumpMessages();

private:
    HWND host_ = nullptr;
    int nextTop_ = 0;
};

}  // namespace tarnwick::test
