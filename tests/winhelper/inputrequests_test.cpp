// Click and key requests as the receiving window sees them, context menus, the mouse helpers,
// and the DLL's export table.
#include <windows.h>
#include <commctrl.h>
#include <windowsx.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "messages/sharedmemory.h"
#include "platform/vaskreservoir.h"
#include "support/childmode.h"
#include "support/childprocess.h"
#include "winhelper.h"
#include "winhelper/controlwindows.h"
#include "winhelper/cwinhelperprivateaccess.h"

namespace tarnwick::test {
namespace {

ClickRequest AsClick(const ReceivedRequest& received) {
    ClickRequest request{};
    if (received.bytes.size() == sizeof request) {
        std::memcpy(&request, received.bytes.data(), sizeof request);
    }
    return request;
}

// Checks that exactly one click request arrived, made for `process` and freed by its receiver.
ClickRequest OnlyClick(CRequestReceiver& receiver, DWORD process = GetCurrentProcessId()) {
    const auto& received = receiver.Received();
    EXPECT_EQ(received.size(), 1u);
    if (received.size() != 1) return {};
    EXPECT_EQ(received[0].message, CRequestReceiver::ClickMessage());
    EXPECT_EQ(received[0].bytes.size(), sizeof(ClickRequest));
    EXPECT_EQ(received[0].madeFor, process);
    EXPECT_TRUE(received[0].freed);
    return AsClick(received[0]);
}

TEST(InputRequests, CoordinateClicksCarryTheirButtonCountAndKeyText) {
    const std::wstring longText(60, L'k');
    struct Case {
        void (*click)(HWND, int, int, int, wchar_t*);
        int skipKeyText;
        const wchar_t* keyText;
        int button, clickCount, included;
        std::string expectedText;
    } cases[] = {
        {&WinHelper::PerformClick, 0, L"{ENTER}", 1, 1, 1, "{ENTER}"},
        {&WinHelper::PerformDoubleClick, 0, L"", 1, 2, 1, ""},
        {&WinHelper::PerformRightClick, 0, L"\u00e9t\u00e9", 2, 1, 1, "\xc3\xa9t\xc3\xa9"},
        {&WinHelper::PerformClick, 1, nullptr, 1, 1, 0, ""},  // the text is not read
        {&WinHelper::PerformClick, 0, nullptr, 1, 1, 1, ""},  // null counts as empty
        {&WinHelper::PerformClick, 0, longText.c_str(), 1, 1, 1, std::string(42, 'k')},
    };
    for (const Case& c : cases) {
        CRequestReceiver receiver;
        c.click(receiver.Window(), -10, 20, c.skipKeyText, const_cast<wchar_t*>(c.keyText));
        const ClickRequest request = OnlyClick(receiver);
        EXPECT_EQ(request.x, -10);
        EXPECT_EQ(request.y, 20);
        EXPECT_EQ(request.button, c.button);
        EXPECT_EQ(request.clickCount, c.clickCount);
        EXPECT_EQ(request.keyTextIncluded, c.included);
        EXPECT_EQ(std::string(request.keyText), c.expectedText);
        // The field holds at most 43 bytes with the terminator; the 44th stays zero.
        EXPECT_EQ(request.keyText[43], '\0');
    }
}

TEST(InputRequests, KeyRequestsCarryTheKeysWithTheirTerminatorAndAKeyTextBlock) {
    struct Case {
        const wchar_t* keys;  // null: no BSTR at all
        const wchar_t* keyText;
        std::string expectedText;
    } cases[] = {
        {L"ab{TAB}c", L"xyz", "xyz"},
        {L"", nullptr, ""},
        {nullptr, L"x", ""},
    };
    for (const Case& c : cases) {
        CRequestReceiver receiver;
        BSTR keys = c.keys != nullptr ? SysAllocString(c.keys) : nullptr;
        WinHelper::SendKeys(receiver.Window(), keys, const_cast<wchar_t*>(c.keyText));
        const auto& received = receiver.Received();
        if (keys == nullptr) {
            EXPECT_TRUE(received.empty());
            continue;
        }
        ASSERT_EQ(received.size(), 1u);
        const ReceivedRequest& request = received[0];
        EXPECT_EQ(request.message, CRequestReceiver::KeysMessage());
        EXPECT_EQ(request.madeFor, GetCurrentProcessId());
        EXPECT_TRUE(request.freed);
        const size_t units = SysStringLen(keys) + 1;
        ASSERT_EQ(request.bytes.size(), units * sizeof(wchar_t));
        EXPECT_EQ(std::memcmp(request.bytes.data(), keys, units * sizeof(wchar_t)), 0);
        ASSERT_EQ(request.textBytes.size(), kKeyTextBlockSize);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(request.textBytes.data())),
                  c.expectedText);
        SysFreeString(keys);
    }
}

TEST(InputRequests, ARequestThatReachesNoWindowLeavesNoBlock) {
    HWND gone = CRequestReceiver().Window();
    BSTR keys = SysAllocString(L"a");
    const std::uint32_t before = GetLiveBlockCount();
    WinHelper::PerformClick(gone, 1, 1, 0, const_cast<wchar_t*>(L"t"));
    WinHelper::SendKeys(gone, keys, nullptr);
    EXPECT_EQ(GetLiveBlockCount(), before);
    SysFreeString(keys);
}

HTREEITEM AddNode(HWND tree, HTREEITEM parent, const wchar_t* text) {
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT;
    insert.item.pszText = const_cast<wchar_t*>(text);
    return reinterpret_cast<HTREEITEM>(
        SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

POINT CentreOf(const RECT& rect) {
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

TEST(InputRequests, TreeItemClicksAimAtTheTextOfTheItemAndAHiddenItemAtTheOrigin) {
    CRecordingParent parent;
    const HWND tree = parent.AddChild(WC_TREEVIEWW, TVS_HASBUTTONS, 7);
    const HTREEITEM first = AddNode(tree, TVI_ROOT, L"first");
    const HTREEITEM second = AddNode(tree, TVI_ROOT, L"second item");
    const HTREEITEM hidden = AddNode(tree, first, L"collapsed child");
    RECT text{};
    std::memcpy(&text, &second, sizeof second);
    ASSERT_TRUE(SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&text)));
    struct Case {
        void (*click)(HWND, HTREEITEM);
        HTREEITEM item;
        POINT point;
        int button, clickCount;
    } cases[] = {
        {&WinHelper::PerformClick, second, CentreOf(text), 1, 1},
        {&WinHelper::PerformDoubleClick, second, CentreOf(text), 1, 2},
        {&WinHelper::PerformRightClick, second, CentreOf(text), 2, 1},
        {&WinHelper::PerformClick, hidden, {0, 0}, 1, 1},
    };
    for (const Case& c : cases) {
        CRequestReceiver receiver;
        receiver.Intercept(tree);
        c.click(tree, c.item);
        const ClickRequest request = OnlyClick(receiver);
        EXPECT_EQ(request.x, c.point.x);
        EXPECT_EQ(request.y, c.point.y);
        EXPECT_EQ(request.button, c.button);
        EXPECT_EQ(request.clickCount, c.clickCount);
        EXPECT_EQ(request.keyTextIncluded, 0);
    }
}

HWND ReportList(CRecordingParent& parent, int items) {
    const HWND list = parent.AddChild(WC_LISTVIEWW, LVS_REPORT, 8);
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH | LVCF_TEXT;
    column.cx = 120;
    column.pszText = const_cast<wchar_t*>(L"name");
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    for (int i = 0; i < items; ++i) {
        const std::wstring text = L"item " + std::to_wstring(i);
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = const_cast<wchar_t*>(text.c_str());
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    return list;
}

TEST(InputRequests, ListViewItemClicksScrollTheItemIntoViewAndDoNotSelectIt) {
    CRecordingParent parent;
    const HWND list = ReportList(parent, 60);
    struct Case {
        void (*click)(HWND, int);
        int button, clickCount;
    } cases[] = {{&WinHelper::ClickListViewItem, 1, 1},
                 {&WinHelper::DoubleClickListViewItem, 1, 2},
                 {&WinHelper::RightClickListViewItem, 2, 1}};
    for (const Case& c : cases) {
        SendMessageW(list, LVM_ENSUREVISIBLE, 0, FALSE);
        CRequestReceiver receiver;
        receiver.Intercept(list);
        c.click(list, 55);
        const ClickRequest request = OnlyClick(receiver);
        RECT bounds{LVIR_BOUNDS};
        ASSERT_TRUE(SendMessageW(list, LVM_GETITEMRECT, 55, reinterpret_cast<LPARAM>(&bounds)));
        RECT client{};
        GetClientRect(list, &client);
        EXPECT_GE(bounds.top, 0);
        EXPECT_LE(bounds.bottom, client.bottom);
        EXPECT_EQ(request.x, CentreOf(bounds).x);
        EXPECT_EQ(request.y, CentreOf(bounds).y);
        EXPECT_EQ(request.button, c.button);
        EXPECT_EQ(request.clickCount, c.clickCount);
        EXPECT_EQ(WinHelper::IsListViewItemSelected(list, 55), 0);
    }
}

// The item that the point of the parent's one WM_CONTEXTMENU from the control hits.
template <typename HitTest>
auto ContextMenuTarget(CRecordingParent& parent, HWND control, HitTest hitTest) {
    std::vector<ParentNote> menus;
    for (const ParentNote& note : parent.Notes()) {
        if (note.message == WM_CONTEXTMENU) menus.push_back(note);
    }
    EXPECT_EQ(menus.size(), 1u);
    EXPECT_EQ(menus.empty() ? nullptr : menus[0].from, control);
    POINT point{};
    if (!menus.empty()) point = {GET_X_LPARAM(menus[0].lParam), GET_Y_LPARAM(menus[0].lParam)};
    ScreenToClient(control, &point);
    return hitTest(point);
}

TEST(InputRequests, ContextMenusArriveAtTheScreenPointOfTheItemAskedFor) {
    CRecordingParent parent;
    const HWND tree = parent.AddChild(WC_TREEVIEWW, 0, 7, {10, 10, 210, 300});
    HTREEITEM nodes[4];
    for (int i = 0; i < 4; ++i) nodes[i] = AddNode(tree, TVI_ROOT, L"node");
    const HWND list = ReportList(parent, 10);
    SetWindowPos(list, nullptr, 250, 10, 200, 300, SWP_NOZORDER);
    parent.ClearNotes();

    WinHelper::ShowContextMenu(tree, nodes[2]);
    EXPECT_EQ(GetFocus(), tree);
    const HTREEITEM hitNode = ContextMenuTarget(parent, tree, [&](POINT point) {
        TVHITTESTINFO hit{point};
        return reinterpret_cast<HTREEITEM>(
            SendMessageW(tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    });
    EXPECT_EQ(hitNode, nodes[2]);

    parent.ClearNotes();
    WinHelper::ShowListViewItemContextMenu(list, 6);
    EXPECT_EQ(GetFocus(), list);
    EXPECT_EQ(WinHelper::IsListViewItemSelected(list, 6), 1);
    const int hitItem = ContextMenuTarget(parent, list, [&](POINT point) {
        LVHITTESTINFO hit{point};
        return static_cast<int>(SendMessageW(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    });
    EXPECT_EQ(hitItem, 6);
}

TEST(InputRequests, MouseHelpersNameTheButtonsMessagesAndNotifyEveryAncestor) {
    const std::map<int, std::vector<UINT>> buttons = {
        {MK_RBUTTON, {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK}},
        {MK_MBUTTON, {WM_MBUTTONDOWN, WM_MBUTTONUP, WM_MBUTTONDBLCLK}},
        {MK_LBUTTON, {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK}},
        {4, {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK}}};
    for (const auto& [button, expected] : buttons) {
        std::vector<UINT> messages(3);
        CWinHelperPrivateAccess::GetMouseMessages(button, &messages[0], &messages[1], &messages[2]);
        EXPECT_EQ(messages, expected) << button;
    }

    CRecordingParent parent;
    const HWND child = parent.AddChild(L"Static", 0, 3, {30, 40, 80, 90});
    parent.ClearNotes();
    CWinHelperPrivateAccess::SendParentNotify(child, 5, 6, WM_RBUTTONDOWN);
    ASSERT_EQ(parent.Notes().size(), 1u);
    EXPECT_EQ(parent.Notes()[0].message, static_cast<UINT>(WM_PARENTNOTIFY));
    EXPECT_EQ(parent.Notes()[0].wParam, static_cast<WPARAM>(WM_RBUTTONDOWN));
    EXPECT_EQ(GET_X_LPARAM(parent.Notes()[0].lParam), 35);
    EXPECT_EQ(GET_Y_LPARAM(parent.Notes()[0].lParam), 46);

    SetWindowLongPtrW(child, GWL_EXSTYLE, WS_EX_NOPARENTNOTIFY);
    parent.ClearNotes();
    CWinHelperPrivateAccess::SendParentNotify(child, 5, 6, WM_RBUTTONDOWN);
    EXPECT_TRUE(parent.Notes().empty());
}

// A receiver in a second process: it writes its window handle into the block it is given,
// signals the event, and answers 0 once one click request arrived made for it, as expected,
// and freed by it.
TARNWICK_CHILD_MODE(ClickReceiver) {
    if (args.size() != 2) return 2;
    const auto block = static_cast<std::uint32_t>(std::stoul(args[0]));
    CRequestReceiver receiver;
    std::uint32_t size = 0;
    void* bytes = OpenSharedMemory(block, &size, __LINE__, "inputrequests_test");
    if (bytes == nullptr || size != sizeof(HWND)) return 3;
    const HWND window = receiver.Window();
    std::memcpy(bytes, &window, sizeof window);
    FreeSharedMemory(block);
    const HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, args[1].c_str());
    if (ready == nullptr || !SetEvent(ready)) return 4;
    CloseHandle(ready);
    const DWORD deadline = GetTickCount() + 30000;
    while (receiver.Received().empty() && GetTickCount() < deadline) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000, QS_ALLINPUT);
    }
    const auto& received = receiver.Received();
    if (received.size() != 1 || !received[0].freed) return 5;
    if (received[0].madeFor != GetCurrentProcessId()) return 6;
    const ClickRequest request = AsClick(received[0]);
    if (request.x != 3 || request.y != 4 || request.button != 2 || request.clickCount != 1 ||
        request.keyTextIncluded != 1 || std::string(request.keyText) != "far") {
        return 7;
    }
    return 0;
}

TEST(InputRequests, AClickRequestIsMadeForTheWindowsProcessAndFreedThere) {
    CBlockHolder handOver;
    ASSERT_FALSE(handOver.Allocate(sizeof(HWND), {__LINE__, "inputrequests_test"}).empty());
    const std::wstring eventName =
        L"TarnwickClickReceiverReady-" + std::to_wstring(GetCurrentProcessId());
    const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    ASSERT_NE(ready, nullptr);
    CChildProcess child;
    ASSERT_TRUE(child.Start(L"ClickReceiver", {std::to_wstring(handOver.Get()), eventName}));
    const HANDLE waits[] = {ready, child.Handle()};
    ASSERT_EQ(WaitForMultipleObjects(2, waits, FALSE, 30000), WAIT_OBJECT_0);
    CloseHandle(ready);
    const COpenedBlock opened(handOver.Get(), {__LINE__, "inputrequests_test"});
    HWND window = nullptr;
    ASSERT_TRUE(ReadAt(std::span<const std::uint8_t>(opened.Bytes()), 0, window));

    WinHelper::PerformRightClick(window, 3, 4, 0, const_cast<wchar_t*>(L"far"));
    EXPECT_EQ(child.Wait(30000), std::optional<DWORD>(0));
}

// Every member of WinHelper, overloads counted, as the DLL exports them.
std::multiset<std::string> ExportedWinHelperMembers() {
    std::multiset<std::string> members;
    const HMODULE module =
        LoadLibraryExW(L"Tarnwick.Virtual.Native.x64.dll", nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (module == nullptr) return members;
    const auto* base = reinterpret_cast<const std::uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const auto* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    const std::string gnu = "_ZN8tarnwick9WinHelper", msvc = "@WinHelper@tarnwick@@";
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        const std::string name = reinterpret_cast<const char*>(base + names[i]);
        if (name.rfind(gnu, 0) == 0) {
            size_t digits = 0;
            const size_t length = std::stoul(name.substr(gnu.size()), &digits);
            members.insert(name.substr(gnu.size() + digits, length));
        } else if (name.size() > 1 && name[0] == '?' && name.find(msvc) != std::string::npos) {
            members.insert(name.substr(1, name.find(msvc) - 1));
        }
    }
    FreeLibrary(module);
    return members;
}

TEST(InputRequests, TheDllExportsEveryMemberOfWinHelper) {
    const std::multiset<std::string> expected = {"GetWindowClassName",
                                                 "GetText",
                                                 "SetText",
                                                 "Clear",
                                                 "GetTop",
                                                 "GetLeft",
                                                 "GetBottom",
                                                 "GetRight",
                                                 "SetTop",
                                                 "SetLeft",
                                                 "SetBottom",
                                                 "SetRight",
                                                 "GetWindowBounds",
                                                 "SetWindowBounds",
                                                 "GetVisible",
                                                 "SetVisible",
                                                 "GetEnabled",
                                                 "SetEnabled",
                                                 "GetFocused",
                                                 "Focus",
                                                 "Activate",
                                                 "GetMaxTextLength",
                                                 "SetMaxTextLength",
                                                 "GetReadOnly",
                                                 "SetReadOnly",
                                                 "GetTextLength",
                                                 "GetIsPassword",
                                                 "SetIsPassword",
                                                 "GetPasswordChar",
                                                 "SetPasswordChar",
                                                 "AppendText",
                                                 "GetAutoChecked",
                                                 "GetThreeState",
                                                 "GetCheckState",
                                                 "GetComboItemCount",
                                                 "GetSelectedComboIndex",
                                                 "SetSelectedComboIndex",
                                                 "GetComboItems",
                                                 "IsMultiSelectListBox",
                                                 "GetListItemCount",
                                                 "GetSelectedListIndex",
                                                 "SetSelectedListIndex",
                                                 "GetListItems",
                                                 "GetSelectedCount",
                                                 "GetSelectedItems",
                                                 "GetSelectedTab",
                                                 "SetSelectedTab",
                                                 "GetTabs",
                                                 "IsNodeSelected",
                                                 "IsNodeExpanded",
                                                 "GetNodeText",
                                                 "GetSelectedNode",
                                                 "Collapse",
                                                 "Expand",
                                                 "EnsureVisible",
                                                 "Select",
                                                 "GetChildren",
                                                 "IsMultiSelect",
                                                 "GetView",
                                                 "SetView",
                                                 "GetListViewCount",
                                                 "GetListViewColumnCount",
                                                 "ActivateSelectedItems",
                                                 "GetColumns",
                                                 "GetListViewItemText",
                                                 "GetListViewSubItemText",
                                                 "IsListViewItemSelected",
                                                 "EnsureListViewItemVisible",
                                                 "SetListViewItemSelected",
                                                 "PerformClick",
                                                 "PerformClick",
                                                 "PerformClick",
                                                 "PerformDoubleClick",
                                                 "PerformDoubleClick",
                                                 "PerformRightClick",
                                                 "PerformRightClick",
                                                 "ClickListViewItem",
                                                 "DoubleClickListViewItem",
                                                 "RightClickListViewItem",
                                                 "ShowContextMenu",
                                                 "ShowListViewItemContextMenu",
                                                 "SendKeys",
                                                 "WindowTop",
                                                 "WindowLeft",
                                                 "WindowBottom",
                                                 "WindowRight",
                                                 "IsWindowChild",
                                                 "GetMouseMessages",
                                                 "SendMouseActivate",
                                                 "SendParentNotify",
                                                 "GetTreeNodeRect",
                                                 "GetListViewItemRect"};
    EXPECT_EQ(ExportedWinHelperMembers(), expected);
}

}  // namespace
}  // namespace tarnwick::test
