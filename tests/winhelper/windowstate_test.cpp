// WinHelper's window state and geometry on real windows and controls.
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "winhelper.h"
#include "winhelper/controlwindows.h"

namespace tarnwick {
namespace {

using W = WinHelper;

// What GetText answers, or "<null>".
std::wstring TextOf(HWND window) {
    wchar_t* text = nullptr;
    W::GetText(window, &text);
    const std::unique_ptr<wchar_t, decltype(&SysFreeString)> holder(text, &SysFreeString);
    return text != nullptr ? std::wstring(text, SysStringLen(text)) : L"<null>";
}

TEST(WindowStateTest, EdgesAndActivationFollowTheParents) {
    test::CRecordingParent parent;
    const HWND child = parent.AddChild(L"Static", 0, 1, {10, 10, 50, 40});
    const HWND top = parent.Window();  // made at (100, 100), 640 x 480, measured on the screen
    const std::tuple<HWND, void (*)(HWND, int), int, RECT> steps[] = {
        {child, W::SetTop, 20, {10, 20, 50, 50}},     {child, W::SetLeft, 20, {20, 20, 60, 50}},
        {child, W::SetBottom, 30, {20, 20, 60, 30}},  {child, W::SetRight, 30, {20, 20, 30, 30}},
        {top, W::SetTop, 50, {100, 50, 740, 530}},    {top, W::SetLeft, 50, {50, 50, 690, 530}},
        {top, W::SetBottom, 400, {50, 50, 690, 400}}, {top, W::SetRight, 600, {50, 50, 600, 400}},
    };
    for (const auto& [w, set, value, expected] : steps) {
        set(w, value);
        const RECT edges{W::GetLeft(w), W::GetTop(w), W::GetRight(w), W::GetBottom(w)};
        EXPECT_TRUE(EqualRect(&edges, &expected)) << value;
    }
    RECT bounds{-7, -7, -7, -7};  // left alone by an unknown rectangle type
    W::GetWindowBounds(static_cast<RectangleType>(3), child, &bounds);
    EXPECT_TRUE(bounds.left == -7 && bounds.top == -7 && bounds.right == -7 && bounds.bottom == -7);

    const HWND edit = parent.AddChild(L"Edit", 0, 3);
    SetParent(edit, child);
    SetFocus(child);
    static std::vector<HWND> focused;  // the windows the hook saw take the focus, in order
    focused.clear();
    const HOOKPROC record = [](int code, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (code == HCBT_SETFOCUS) focused.push_back(reinterpret_cast<HWND>(wParam));
        return CallNextHookEx(nullptr, code, wParam, lParam);
    };
    const HHOOK hook = SetWindowsHookExW(WH_CBT, record, nullptr, GetCurrentThreadId());
    W::Activate(edit);
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(focused, (std::vector<HWND>{top, child, edit}));  // the outermost first
}

TEST(WindowStateTest, EditAndButtonState) {
    test::CRecordingParent parent;
    const HWND edit = parent.AddChild(L"Edit", ES_AUTOHSCROLL, 42);
    EXPECT_EQ(TextOf(edit), L"<null>");
    std::wstring text(70000, L'x');
    W::SetText(edit, text.data());
    EXPECT_EQ(TextOf(edit), text.substr(0, 65535));
    // SetPasswordChar for a flag of -1, SetIsPassword otherwise.
    const std::tuple<int, wchar_t> cases[] = {{-1, 0x25CF}, {-1, 0x2500}, {5, L'*'}, {0, 0}};
    for (const auto& [flag, character] : cases) {
        flag < 0 ? W::SetPasswordChar(edit, character) : W::SetIsPassword(edit, flag);
        EXPECT_EQ(W::GetPasswordChar(edit), character);
    }
    // A full edit takes the text; the parent gets one posted EN_CHANGE beside the edit's own.
    SetWindowTextW(edit, L"abc");
    W::SetMaxTextLength(edit, 3);
    W::AppendText(edit, std::wstring(L"def").data());
    EXPECT_EQ(TextOf(edit), L"abcdef");
    EXPECT_EQ(W::GetMaxTextLength(edit), 3);
    MSG posted{};
    ASSERT_TRUE(PeekMessageW(&posted, parent.Window(), WM_COMMAND, WM_COMMAND, PM_REMOVE));
    EXPECT_TRUE(posted.wParam == MAKEWPARAM(42, EN_CHANGE) && posted.lParam == LPARAM(edit));
    EXPECT_FALSE(PeekMessageW(&posted, parent.Window(), WM_COMMAND, WM_COMMAND, PM_NOREMOVE));

    const std::tuple<DWORD, int, int> buttons[] = {
        {BS_PUSHBUTTON, 0, 0},  {BS_CHECKBOX, 0, 0},        {BS_AUTOCHECKBOX, 1, 0},
        {BS_RADIOBUTTON, 0, 0}, {BS_3STATE, 0, 1},          {BS_AUTO3STATE | BS_FLAT, 1, 1},
        {BS_GROUPBOX, 0, 0},    {BS_AUTORADIOBUTTON, 1, 0}, {BS_OWNERDRAW, 0, 0},
    };
    for (const auto& [style, autoChecked, threeState] : buttons) {
        const HWND button = parent.AddChild(L"Button", style, 1);
        EXPECT_EQ(W::GetAutoChecked(button), autoChecked) << style;
        EXPECT_EQ(W::GetThreeState(button), threeState) << style;
    }
}

}  // namespace
}  // namespace tarnwick
