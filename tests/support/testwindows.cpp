#include "support/testwindows.h"

#include <commctrl.h>
#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

constexpr wchar_t kHostClass[] = L"TarnwickTestHost";

void RegisterOnce() {
    static const bool registered = [] {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_TAB_CLASSES |
                                                            ICC_TREEVIEW_CLASSES |
                                                            ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kHostClass;
        return RegisterClassW(&wc) != 0;
    }();
    (void)registered;
}

}  // namespace

CTestWindows::CTestWindows() {
    RegisterOnce();
    host_ = CreateWindowExW(0, kHostClass, L"Tarnwick test host", WS_OVERLAPPEDWINDOW, 0, 0, 800,
                            600, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(host_, nullptr) << "host window: " << GetLastError();
}

CTestWindows::~CTestWindows() {
    if (host_ != nullptr) DestroyWindow(host_);
    PumpMessages();
}

HWND CTestWindows::Create(const wchar_t* className, DWORD style, const wchar_t* text,
                          RECT bounds, HWND parent) {
    HWND window = CreateWindowExW(0, className, text, style, bounds.left, bounds.top,
                                  bounds.right - bounds.left, bounds.bottom - bounds.top,
                                  parent != nullptr ? parent : host_, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(window, nullptr) << "window of class " << className << ": " << GetLastError();
    return window;
}

HWND CTestWindows::Button(DWORD style, const wchar_t* text) {
    const int top = nextTop_;
    nextTop_ += 30;
    return Create(WC_BUTTONW, WS_CHILD | WS_VISIBLE | style, text, {10, top, 160, top + 25});
}

HWND CTestWindows::Edit(DWORD style, const wchar_t* text) {
    const int top = nextTop_;
    nextTop_ += 30;
    return Create(WC_EDITW, WS_CHILD | WS_VISIBLE | WS_BORDER | style, text,
                  {10, top, 210, top + 25});
}

HWND CTestWindows::ComboBox(DWORD style) {
    const int top = nextTop_;
    nextTop_ += 30;
    return Create(WC_COMBOBOXW, WS_CHILD | WS_VISIBLE | WS_VSCROLL | style, L"",
                  {10, top, 210, top + 200});
}

HWND CTestWindows::TabControl() {
    const int top = nextTop_;
    nextTop_ += 110;
    return Create(WC_TABCONTROLW, WS_CHILD | WS_VISIBLE, L"", {10, top, 310, top + 100});
}

HWND CTestWindows::TreeView(DWORD style) {
    const int top = nextTop_;
    nextTop_ += 210;
    return Create(WC_TREEVIEWW, WS_CHILD | WS_VISIBLE | WS_BORDER | style, L"",
                  {10, top, 310, top + 200});
}

HWND CTestWindows::ListView(DWORD style) {
    const int top = nextTop_;
    nextTop_ += 210;
    return Create(WC_LISTVIEWW, WS_CHILD | WS_VISIBLE | WS_BORDER | style, L"",
                  {10, top, 410, top + 200});
}

void CTestWindows::PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace tarnwick::test
