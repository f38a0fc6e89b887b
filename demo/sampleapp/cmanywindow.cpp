#include "cmanywindow.h"

#include <commctrl.h>

#include <string>

#include "sampleapp.h"

namespace tarnwick::sampleapp {
namespace {

constexpr wchar_t kClass[] = L"Tarnwick.SampleApp.Many";
constexpr int kColumns = 20;
constexpr int kButtonWidth = 60;
constexpr int kButtonHeight = 20;
constexpr int kTop = 40;

HWND Create(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, int id,
            int x, int y, int width, int height) {
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE));
    return CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                           parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
                           nullptr);
}

void Fill(HWND combo, int count) {
    SendMessageW(combo, CB_INITSTORAGE, count, count * 12 * sizeof(wchar_t));
    for (int i = 1; i <= count; ++i) {
        const std::wstring item = L"Entry " + std::to_wstring(i);
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    }
}

}  // namespace

HWND CManyWindow::Open(HWND owner) {
    if (HWND open = FindWindowW(kClass, kManyTitle)) {
        SetForegroundWindow(open);
        return open;
    }
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE));
    WNDCLASSEXW windowClass{sizeof windowClass};
    // Closing it destroys it and nothing else: the application runs on.
    windowClass.lpfnWndProc = &DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClass;
    RegisterClassExW(&windowClass);  // fails harmlessly when it is registered already
    const int rows = (kManyControls - 2 + kColumns - 1) / kColumns;
    const HWND window = CreateWindowExW(
        0, kClass, kManyTitle, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
        CW_USEDEFAULT, kColumns * kButtonWidth + 24, kTop + rows * kButtonHeight + 48, owner,
        nullptr, instance, nullptr);
    if (window == nullptr) return nullptr;
    CreateControls(window);
    ShowWindow(window, SW_SHOWNORMAL);
    return window;
}

void CManyWindow::CreateControls(HWND window) {
    Fill(Create(window, WC_COMBOBOXW, L"", CBS_DROPDOWNLIST | WS_VSCROLL, kThousandComboId, 8, 8,
                200, 200),
         kThousand);
    Fill(Create(window, WC_COMBOBOXW, L"", CBS_DROPDOWNLIST | WS_VSCROLL, kFiveThousandComboId,
                216, 8, 200, 200),
         kFiveThousand);
    for (int i = 0; i < kManyControls - 2; ++i) {
        const std::wstring text = L"Item " + std::to_wstring(i + 1);
        Create(window, L"Button", text.c_str(), BS_PUSHBUTTON, kFiveThousandComboId + 1 + i,
               8 + (i % kColumns) * kButtonWidth, kTop + (i / kColumns) * kButtonHeight,
               kButtonWidth, kButtonHeight);
    }
}

}  // namespace tarnwick::sampleapp
