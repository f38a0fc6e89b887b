// The test helpers themselves: a child process reports its exit code, real controls exist.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "support/childmode.h"
#include "support/childprocess.h"
#include "support/testwindows.h"

TARNWICK_CHILD_MODE(ExitWithArgument) { return args.empty() ? 99 : std::stoi(args[0]); }

TARNWICK_CHILD_MODE(WaitForNamedEvent) {
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, args.at(0).c_str());
    if (event == nullptr) return 2;
    const DWORD result = WaitForSingleObject(event, 30000);
    CloseHandle(event);
    return result == WAIT_OBJECT_0 ? 0 : 3;
}

namespace tarnwick::test {
namespace {

TEST(ChildProcess, ReportsTheExitCodeOfItsMode) {
    CChildProcess child;
    ASSERT_TRUE(child.Start(L"ExitWithArgument", {L"42"}));
    EXPECT_EQ(child.Wait(), std::optional<DWORD>(42));
}

TEST(ChildProcess, UnknownModeFails) {
    CChildProcess child;
    ASSERT_TRUE(child.Start(L"NoSuchMode"));
    EXPECT_EQ(child.Wait(), std::optional<DWORD>(static_cast<DWORD>(-1)));
}

TEST(ChildProcess, SharesNamedObjectsAndTimesOutWhileRunning) {
    const std::wstring name = L"TarnwickTestEvent_" + std::to_wstring(GetCurrentProcessId());
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    ASSERT_NE(event, nullptr);
    CChildProcess child;
    ASSERT_TRUE(child.Start(L"WaitForNamedEvent", {name}));
    EXPECT_FALSE(child.Wait(200).has_value());
    SetEvent(event);
    EXPECT_EQ(child.Wait(), std::optional<DWORD>(0));
    CloseHandle(event);
}

std::wstring ClassOf(HWND window) {
    wchar_t name[128] = {};
    GetClassNameW(window, name, 128);
    return name;
}

TEST(TestWindows, CreatesEveryControlKind) {
    CTestWindows windows;
    ASSERT_NE(windows.Host(), nullptr);
    EXPECT_EQ(ClassOf(windows.Button(BS_AUTOCHECKBOX)), L"Button");
    EXPECT_EQ(ClassOf(windows.Edit()), L"Edit");
    EXPECT_EQ(ClassOf(windows.ComboBox()), L"ComboBox");
    EXPECT_EQ(ClassOf(windows.TabControl()), L"SysTabControl32");
    EXPECT_EQ(ClassOf(windows.TreeView()), L"SysTreeView32");
    HWND list = windows.ListView();
    EXPECT_EQ(ClassOf(list), L"SysListView32");
    EXPECT_EQ(GetParent(list), windows.Host());
}

}  // namespace
}  // namespace tarnwick::test
