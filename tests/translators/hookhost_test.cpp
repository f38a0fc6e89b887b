// The hooking host's own duties on controls of the test thread: click and key requests answered
// with posted input, and the windows left as they were at detach. Its tree-change reports are
// checked through the tree view translator's events.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "cbstrholder.h"
#include "platform/vaskhookhost.h"
#include "platform/vaskreservoir.h"
#include "winhelper.h"

namespace tarnwick::test {
namespace {

wchar_t* Text(const wchar_t* text) { return const_cast<wchar_t*>(text); }

UINT ClickMessage() {
    static const UINT message = RegisterWindowMessageW(L"WM_TW_PERFORMCLICK");
    return message;
}

void Pump(bool translate = false) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (translate) TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Records button messages and click requests as the control was given them.
LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                        DWORD_PTR seen) {
    if ((message >= WM_LBUTTONDOWN && message <= WM_RBUTTONDBLCLK) || message == ClickMessage()) {
        reinterpret_cast<std::vector<MSG>*>(seen)->push_back({window, message, wParam, lParam});
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

DWORD WINAPI Detach(void* result) {
    *static_cast<int*>(result) = DetachHookHost();
    return 0;
}

// Detaches on a new thread while this one answers what that thread sends it.
int DetachOnOtherThread() {
    int detached = -1;
    const std::unique_ptr<void, decltype(&CloseHandle)> thread(
        CreateThread(nullptr, 0, &Detach, &detached, 0, nullptr), &CloseHandle);
    HANDLE handle = thread.get();
    MSG message;
    while (MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_SENDMESSAGE) !=
           WAIT_OBJECT_0) {
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // answers sent messages
    }
    return detached;
}

// A shown top-level window of the test thread, for controls that the host may hook.
class HookHostTest : public testing::Test {
  protected:
    HookHostTest() {
        top_ = CreateWindowExW(0, L"Static", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400,
                               300, nullptr, nullptr, nullptr, nullptr);
    }
    ~HookHostTest() override {
        DetachHookHost();
        DestroyWindow(top_);
    }
    // A control, whose messages are recorded into seen_ when asked (before the host's subclass).
    HWND Add(const wchar_t* className, DWORD style, bool record = false) {
        const HWND control = CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE | style, 10,
                                             10, 200, 100, top_, nullptr, nullptr, nullptr);
        if (record) SetWindowSubclass(control, &Record, 1, reinterpret_cast<DWORD_PTR>(&seen_));
        return control;
    }
    static int Attach() { return AttachHookHost(GetCurrentThreadId(), 7, nullptr); }

    std::vector<MSG> seen_;
    HWND top_ = nullptr;
};

TEST_F(HookHostTest, ClickRequestsArriveAsPostedButtonSequences) {
    const HWND button = Add(L"Button", BS_PUSHBUTTON, true);
    ASSERT_EQ(Attach(), 1);
    using Message = std::pair<UINT, WPARAM>;
    using Sequence = std::vector<Message>;
    const Message down{WM_LBUTTONDOWN, MK_LBUTTON}, up{WM_LBUTTONUP, 0},
        twice{WM_LBUTTONDBLCLK, MK_LBUTTON}, right{WM_RBUTTONDOWN, MK_RBUTTON},
        rightUp{WM_RBUTTONUP, 0}, held{WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT | MK_CONTROL},
        heldUp{WM_LBUTTONUP, MK_SHIFT | MK_CONTROL};
    using W = WinHelper;
    const std::tuple<void (*)(HWND, int, int, int, wchar_t*), int, const wchar_t*, Sequence>
        rows[] = {
            {&W::PerformClick, 0, L"", {down, up}},
            {&W::PerformDoubleClick, 0, L"", {down, up, twice, up}},
            {&W::PerformRightClick, 1, nullptr, {right, rightUp}},
            {&W::PerformClick, 0, L"^+", {held, heldUp}},
            {&W::PerformClick, 0, L"{ENTER}", {down, up}},  // not modifiers: ignored
        };
    for (const auto& [request, skipKeyText, keyText, expected] : rows) {
        seen_.clear();
        const std::uint32_t blocks = GetLiveBlockCount();
        request(button, 7, -9, skipKeyText, Text(keyText));
        Pump();
        Sequence sequence;
        for (const MSG& seen : seen_) {
            sequence.emplace_back(seen.message, seen.wParam);
            EXPECT_EQ(seen.lParam, MAKELPARAM(7, -9));
        }
        EXPECT_EQ(sequence, expected) << keyText;
        EXPECT_EQ(GetLiveBlockCount(), blocks);
    }
    // No click that a user could not make: the button disabled, hidden, or in a disabled window.
    const std::pair<HWND, void (*)(HWND, bool)> blockers[] = {
        {button, [](HWND window, bool on) { EnableWindow(window, on); }},
        {button, [](HWND window, bool on) { ShowWindow(window, on ? SW_SHOWNA : SW_HIDE); }},
        {top_, [](HWND window, bool on) { EnableWindow(window, on); }}};
    for (const auto& [window, allow] : blockers) {
        SCOPED_TRACE(window == top_ ? "window disabled" : "button disabled or hidden");
        seen_.clear();
        const std::uint32_t blocks = GetLiveBlockCount();
        allow(window, false);
        W::PerformClick(button, 7, 9, 0, Text(L""));
        Pump();
        allow(window, true);
        EXPECT_TRUE(seen_.empty());  // the host took the request and posted nothing
        EXPECT_EQ(GetLiveBlockCount(), blocks);
    }
}

TEST_F(HookHostTest, KeyRequestsTypeIntoAnEditWhetherTheLoopTranslatesOrNot) {
    const HWND edit = Add(L"Edit", ES_MULTILINE | ES_WANTRETURN);
    ASSERT_EQ(Attach(), 1);
    const struct {
        const wchar_t* keys;
        const wchar_t* typed;
    } rows[] = {
        {L"ab{ENTER}+c", L"ab\r\nC"},
        {L"abc{LEFT}{backspace}", L"ac"},
        {L"abc+{HOME}x", L"x"},  // Shift is held while Home is handled, so Home selects
        {L"{{}{}}{+}{^}{%}", L"{}+^%"},
        {L"ab{NOPE}", L""},  // bad syntax types nothing
        {L"ab+", L""},
        {L"a}", L""},
        {L"++a", L""},
    };
    for (const bool translate : {false, true}) {
        for (const auto& row : rows) {
            SetWindowTextW(edit, L"");
            const std::uint32_t blocks = GetLiveBlockCount();
            WinHelper::SendKeys(edit, CBstrHolder(row.keys).Get(), Text(L"label"));
            Pump(translate);
            wchar_t text[64] = {};
            GetWindowTextW(edit, text, 64);
            EXPECT_STREQ(text, row.typed) << row.keys << (translate ? " translated" : "");
            EXPECT_EQ(GetLiveBlockCount(), blocks);
        }
    }
}

TEST_F(HookHostTest, DetachOnEitherThreadLeavesRequestsUnansweredAndWindowsWorking) {
    for (const bool otherThread : {false, true}) {
        seen_.clear();
        const HWND checkBox = Add(L"Button", BS_AUTOCHECKBOX, true);
        const HWND edit = Add(L"Edit", 0);
        const LONG_PTR procedures[] = {GetWindowLongPtrW(top_, GWLP_WNDPROC),
                                       GetWindowLongPtrW(edit, GWLP_WNDPROC)};
        ASSERT_EQ(AttachHookHost(GetCurrentThreadId() + 1, 0, nullptr), 0);  // not this thread
        ASSERT_EQ(Attach(), 1);
        EXPECT_EQ(Attach(), 0);  // attached already
        EXPECT_NE(GetWindowLongPtrW(edit, GWLP_WNDPROC), procedures[1]);
        EXPECT_EQ(otherThread ? DetachOnOtherThread() : DetachHookHost(), 1);
        EXPECT_EQ(DetachHookHost(), 0);
        EXPECT_EQ(GetWindowLongPtrW(top_, GWLP_WNDPROC), procedures[0]);
        EXPECT_EQ(GetWindowLongPtrW(edit, GWLP_WNDPROC), procedures[1]);

        const std::uint32_t blocks = GetLiveBlockCount();
        WinHelper::PerformClick(checkBox, 1, 1, 0, Text(L""));
        Pump();
        EXPECT_EQ(GetLiveBlockCount(), blocks + 1);
        ASSERT_EQ(seen_.size(), 1u);  // the request reached the check box itself
        EXPECT_EQ(seen_[0].message, ClickMessage());
        while (FreeSharedMemory(static_cast<std::uint32_t>(seen_[0].wParam)) > 0) {
        }
        SendMessageW(checkBox, BM_CLICK, 0, 0);
        SendMessageW(edit, WM_CHAR, L'z', 0);
        EXPECT_EQ(SendMessageW(checkBox, BM_GETCHECK, 0, 0), BST_CHECKED);
        EXPECT_EQ(GetWindowTextLengthW(edit), 1);
        DestroyWindow(checkBox);
        DestroyWindow(edit);
    }
}

}  // namespace
}  // namespace tarnwick::test
