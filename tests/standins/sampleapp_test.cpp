// tarnwick_sampleapp, the application the demo drives: its controls, what its status line says
// after driven changes, and its clean exit.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "demo/sampleapp/sampleapp.h"
#include "standins/common/cscopedhandle.h"
#include "support/childprocess.h"
#include "support/tempdirectory.h"

namespace {

namespace app = tarnwick::sampleapp;

std::wstring Text(HWND window) {
    wchar_t buffer[256] = {};
    SendMessageW(window, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

std::wstring ClassOf(HWND window) {
    wchar_t buffer[64] = {};
    GetClassNameW(window, buffer, static_cast<int>(std::size(buffer)));
    return buffer;
}

class SampleAppTest : public testing::Test {
  protected:
    void SetUp() override {
        const std::wstring exe =
            tarnwick::test::ExecutableDirectory() + L"\\tarnwick_sampleapp.exe";
        std::wstring commandLine = L"\"" + exe + L"\" --title \"" + title_ + L"\"";
        STARTUPINFOW startup{sizeof startup};
        PROCESS_INFORMATION info{};
        ASSERT_TRUE(CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                   nullptr, nullptr, &startup, &info));
        process_.Reset(info.hProcess);
        vask::CScopedHandle thread(info.hThread);
        window_ = tarnwick::test::WaitForWindow(process_.Get(), app::kWindowClass, title_.c_str(),
                                                30000);
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        // Whether or not its window was found: a process left running would hold the test's
        // output open.
        if (process_.Get() != nullptr && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.Get(), 0xDEAD);
        }
    }

    HWND Control(int id) const { return GetDlgItem(window_, id); }

    const std::wstring title_ = L"Sample under test " + std::to_wstring(GetCurrentProcessId());
    vask::CScopedHandle process_;
    HWND window_ = nullptr;
};

TEST_F(SampleAppTest, ShowsItsControlsReportsChangesAndExitsCleanlyOnClose) {
    RECT frame{};
    GetWindowRect(window_, &frame);
    EXPECT_EQ(frame.right - frame.left, app::kWindowWidth);
    EXPECT_EQ(frame.bottom - frame.top, app::kWindowHeight);
    const struct {
        int id;
        const wchar_t* className;
        LONG buttonType;  // for buttons
        const wchar_t* text;
    } controls[] = {
        {app::kButtonId, L"Button", BS_PUSHBUTTON, app::kButtonText},
        {app::kTwoStateId, L"Button", BS_AUTOCHECKBOX, app::kTwoStateText},
        {app::kThreeStateId, L"Button", BS_AUTO3STATE, app::kThreeStateText},
        {app::kRadioFirstId + 1, L"Button", BS_AUTORADIOBUTTON, app::kRadioTexts[1]},
        {app::kClicksId, L"Static", 0, L"Clicks: 0"},
        {app::kStatusId, L"Static", 0, L"Last: none"},
        {app::kEditId, L"Edit", 0, L""},
        {app::kPasswordId, L"Edit", 0, L""},
        {app::kReadOnlyId, L"Edit", 0, app::kReadOnlyText},
        {app::kComboId, L"ComboBox", 0, app::kComboItems[0]},
        {app::kListBoxId, L"ListBox", 0, L""},
        {app::kTabId, WC_TABCONTROLW, 0, L""},
        {app::kTreeId, WC_TREEVIEWW, 0, L""},
        {app::kListViewId, WC_LISTVIEWW, 0, L""},
        {app::kDialogButtonId, L"Button", BS_PUSHBUTTON, L"Name..."},
        {app::kTypedId, L"Static", 0, L"Typed: "},
        {app::kAlertComboId, L"ComboBox", 0, app::kAlertItems[0]},
        {app::kManyButtonId, L"Button", BS_PUSHBUTTON, L"Many controls"},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.id);
        HWND control = Control(c.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(ClassOf(control), c.className);
        EXPECT_EQ(Text(control), c.text);
        if (c.buttonType != 0) {
            EXPECT_EQ(GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK, c.buttonType);
        }
    }
    EXPECT_NE(GetWindowLongW(Control(app::kRadioFirstId), GWL_STYLE) & WS_GROUP, 0);
    EXPECT_EQ(SendMessageW(Control(app::kPasswordId), EM_GETPASSWORDCHAR, 0, 0),
              app::kPasswordChar);
    EXPECT_EQ(SendMessageW(Control(app::kComboId), CB_GETCOUNT, 0, 0),
              LRESULT(std::size(app::kComboItems)));
    EXPECT_EQ(SendMessageW(Control(app::kListBoxId), LB_GETCOUNT, 0, 0),
              LRESULT(std::size(app::kListBoxItems)));
    EXPECT_EQ(SendMessageW(Control(app::kTabId), TCM_GETITEMCOUNT, 0, 0),
              LRESULT(std::size(app::kTabs)));
    EXPECT_EQ(SendMessageW(Control(app::kTreeId), TVM_GETCOUNT, 0, 0),
              LRESULT(std::size(app::kTreeItems)));
    EXPECT_EQ(SendMessageW(Control(app::kListViewId), LVM_GETITEMCOUNT, 0, 0),
              LRESULT(std::size(app::kListRows)));
    HWND header =
        reinterpret_cast<HWND>(SendMessageW(Control(app::kListViewId), LVM_GETHEADER, 0, 0));
    EXPECT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), app::kListColumnCount);

    // Changes made across processes with messages that carry no pointers; each case after the
    // ones before it.
    const auto root = SendMessageW(Control(app::kTreeId), TVM_GETNEXTITEM, TVGN_ROOT, 0);
    const struct {
        int id;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        const wchar_t* status;
    } changes[] = {
        {app::kButtonId, BM_CLICK, 0, 0, L"Last: button clicked"},
        {app::kButtonId, BM_CLICK, 0, 0, L"Last: button clicked"},
        {app::kTwoStateId, BM_CLICK, 0, 0, L"Last: check box 1 checked"},
        {app::kThreeStateId, BM_CLICK, 0, 0, L"Last: check box 2 checked"},
        {app::kThreeStateId, BM_CLICK, 0, 0, L"Last: check box 2 indeterminate"},
        {app::kRadioFirstId + 2, BM_CLICK, 0, 0, L"Last: radio 3 checked"},
        {app::kEditId, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"abc"), L"Last: edit changed"},
        {app::kPasswordId, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"pw"),
         L"Last: password changed"},
        {app::kComboId, WM_KEYDOWN, VK_DOWN, 0, L"Last: combo selection 1"},
        {app::kListBoxId, WM_KEYDOWN, VK_DOWN, 0, L"Last: list box selection 0"},
        {app::kTabId, TCM_SETCURFOCUS, 2, 0, L"Last: tab 2"},
        {app::kTreeId, TVM_SELECTITEM, TVGN_CARET, root, L"Last: tree selection Animals"},
        {app::kTreeId, WM_KEYDOWN, VK_LEFT, 0, L"Last: tree collapsed Animals"},
        {app::kListViewId, WM_KEYDOWN, VK_DOWN, 0, L"Last: list item 0 selected"},
        {app::kManyButtonId, BM_CLICK, 0, 0, L"Last: many controls opened"},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(testing::Message() << c.id << " message 0x" << std::hex << c.message);
        SendMessageW(Control(c.id), c.message, c.wParam, c.lParam);
        EXPECT_EQ(Text(Control(app::kStatusId)), c.status);
    }
    EXPECT_EQ(Text(Control(app::kClicksId)), L"Clicks: 2");
    const HWND many = FindWindowW(nullptr, app::kManyTitle);
    EXPECT_EQ(SendMessageW(GetDlgItem(many, app::kFiveThousandComboId), CB_GETCOUNT, 0, 0),
              app::kFiveThousand);
    EXPECT_NE(GetDlgItem(many, app::kManyFirstId + app::kManyControls - 1), nullptr);

    ASSERT_TRUE(PostMessageW(window_, WM_CLOSE, 0, 0));
    ASSERT_EQ(WaitForSingleObject(process_.Get(), 30000), WAIT_OBJECT_0);
    DWORD exitCode = 0xDEAD;
    GetExitCodeProcess(process_.Get(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
}

}  // namespace
