// WinHelper's window state and geometry on real windows and controls.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "winhelper.h"
#include "winhelper/controlwindows.h"

namespace tarnwick {
namespace {

using test::CRecordingParent;
using Bstr = std::unique_ptr<wchar_t, decltype(&SysFreeString)>;

Bstr TextOf(HWND window) {
    wchar_t* text = nullptr;
    WinHelper::GetText(window, &text);
    return Bstr(text, &SysFreeString);
}

RECT EdgesOf(HWND window) {
    return {WinHelper::GetLeft(window), WinHelper::GetTop(window), WinHelper::GetRight(window),
            WinHelper::GetBottom(window)};
}

bool operator==(const RECT& a, const RECT& b) { return EqualRect(&a, &b) != FALSE; }

TEST(WindowStateTest, EdgesAndBoundsInTheWindowsFrame) {
    CRecordingParent parent;
    const HWND child = parent.AddChild(L"Static", 0, 1, {10, 10, 210, 160});
    const HWND top = parent.Window();  // created at (100, 100), 640 x 480
    const std::tuple<HWND, void (*)(HWND, int), int, RECT> steps[] = {
        {child, &WinHelper::SetTop, 30, {10, 30, 210, 180}},
        {child, &WinHelper::SetLeft, 40, {40, 30, 240, 180}},
        {child, &WinHelper::SetBottom, 100, {40, 30, 240, 100}},
        {child, &WinHelper::SetRight, 140, {40, 30, 140, 100}},
        {top, &WinHelper::SetTop, 120, {100, 120, 740, 600}},
        {top, &WinHelper::SetLeft, 130, {130, 120, 770, 600}},
        {top, &WinHelper::SetBottom, 400, {130, 120, 770, 400}},
        {top, &WinHelper::SetRight, 500, {130, 120, 500, 400}},
    };
    for (const auto& [window, set, value, expected] : steps) {
        set(window, value);
        EXPECT_TRUE(EdgesOf(window) == expected) << value;
    }
    POINT origin{};
    ClientToScreen(top, &origin);
    const std::pair<int, RECT> bounds[] = {
        {RectangleClient, {0, 0, 100, 70}},
        {RectangleScreen, {origin.x + 40, origin.y + 30, origin.x + 140, origin.y + 100}},
        {RectangleParent, {40, 30, 140, 100}},
        {3, {-7, -7, -7, -7}},
    };
    for (const auto& [type, expected] : bounds) {
        RECT answer{-7, -7, -7, -7};
        WinHelper::GetWindowBounds(static_cast<RectangleType>(type), child, &answer);
        EXPECT_TRUE(answer == expected) << type;
    }
    WinHelper::GetWindowBounds(RectangleParent, child, nullptr);
    // A bottom above the top asks for a negative height; the top stays and Wine clamps the
    // height to 0.
    WinHelper::SetBottom(child, 10);
    EXPECT_TRUE(EdgesOf(child) == (RECT{40, 30, 140, 30}));
}

TEST(WindowStateTest, TextIsNullWhenEmptyAndCutAt65535) {
    CRecordingParent parent;
    const HWND label = parent.AddChild(L"Static", 0, 1);
    EXPECT_EQ(TextOf(label), nullptr);
    const std::wstring longText(70000, L'x');
    WinHelper::SetText(label, const_cast<wchar_t*>(longText.c_str()));
    const Bstr text = TextOf(label);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::wstring(text.get(), SysStringLen(text.get())), longText.substr(0, 65535));
}

TEST(WindowStateTest, PasswordCharactersRoundTripWhole) {
    CRecordingParent parent;
    const HWND edit = parent.AddChild(L"Edit", ES_AUTOHSCROLL, 1);
    for (const wchar_t character : {wchar_t{0x25CF}, wchar_t{0x2500}}) {
        WinHelper::SetPasswordChar(edit, character);
        EXPECT_EQ(WinHelper::GetPasswordChar(edit), character);
        EXPECT_EQ(WinHelper::GetIsPassword(edit), 1);
    }
    WinHelper::SetIsPassword(edit, 5);
    EXPECT_EQ(WinHelper::GetPasswordChar(edit), L'*');
    WinHelper::SetIsPassword(edit, 0);
    EXPECT_EQ(WinHelper::GetPasswordChar(edit), 0);
    EXPECT_EQ(WinHelper::GetIsPassword(edit), 0);
}

TEST(WindowStateTest, AppendTextPassesAFullLimitAndPostsOneChange) {
    CRecordingParent parent;
    const HWND edit = parent.AddChild(L"Edit", ES_AUTOHSCROLL, 42);
    SetWindowTextW(edit, L"abc");
    WinHelper::SetMaxTextLength(edit, 3);
    wchar_t more[] = L"def";
    WinHelper::AppendText(edit, more);
    EXPECT_STREQ(TextOf(edit).get(), L"abcdef");
    EXPECT_EQ(WinHelper::GetMaxTextLength(edit), 3);
    EXPECT_NE(SendMessageW(edit, EM_GETMODIFY, 0, 0), 0);
    // The edit sends its own EN_CHANGE; ours waits in the queue, once.
    MSG posted{};
    ASSERT_TRUE(PeekMessageW(&posted, parent.Window(), WM_COMMAND, WM_COMMAND, PM_REMOVE));
    EXPECT_EQ(posted.wParam, MAKEWPARAM(42, EN_CHANGE));
    EXPECT_EQ(posted.lParam, reinterpret_cast<LPARAM>(edit));
    EXPECT_FALSE(PeekMessageW(&posted, parent.Window(), WM_COMMAND, WM_COMMAND, PM_NOREMOVE));
}

std::vector<HWND> g_focused;

LRESULT CALLBACK RecordFocus(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_SETFOCUS) g_focused.push_back(reinterpret_cast<HWND>(wParam));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(WindowStateTest, ActivateFocusesOutermostFirst) {
    CRecordingParent parent;
    const HWND other = parent.AddChild(L"Edit", 0, 1);
    const HWND box = parent.AddChild(L"Static", 0, 2);
    const HWND edit = CreateWindowExW(0, L"Edit", L"", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, box,
                                      nullptr, GetModuleHandleW(nullptr), nullptr);
    SetFocus(other);
    g_focused.clear();
    const HHOOK hook = SetWindowsHookExW(WH_CBT, &RecordFocus, nullptr, GetCurrentThreadId());
    WinHelper::Activate(edit);
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(g_focused, (std::vector<HWND>{parent.Window(), box, edit}));
    EXPECT_EQ(WinHelper::GetFocused(edit), 1);
}

TEST(WindowStateTest, ButtonStylePredicates) {
    CRecordingParent parent;
    const std::tuple<DWORD, int, int> cases[] = {
        {BS_PUSHBUTTON, 0, 0},  {BS_CHECKBOX, 0, 0},        {BS_AUTOCHECKBOX, 1, 0},
        {BS_RADIOBUTTON, 0, 0}, {BS_3STATE, 0, 1},          {BS_AUTO3STATE | BS_FLAT, 1, 1},
        {BS_GROUPBOX, 0, 0},    {BS_AUTORADIOBUTTON, 1, 0}, {BS_OWNERDRAW, 0, 0},
    };
    for (const auto& [style, autoChecked, threeState] : cases) {
        const HWND button = parent.AddChild(L"Button", style, 1);
        EXPECT_EQ(WinHelper::GetAutoChecked(button), autoChecked) << style;
        EXPECT_EQ(WinHelper::GetThreeState(button), threeState) << style;
    }
}

}  // namespace
}  // namespace tarnwick
