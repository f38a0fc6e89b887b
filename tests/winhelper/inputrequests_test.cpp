// Click and key requests as the receiving window sees them, context menus, the mouse helpers,
// and the DLL's export table.
#include <windows.h>
#include <commctrl.h>
#include <windowsx.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/vaskreservoir.h"
#include "support/childmode.h"
#include "support/childprocess.h"
#include "winhelper.h"
#include "winhelper/controlwindows.h"
#include "winhelper/cwinhelperprivateaccess.h"

namespace tarnwick::test {
namespace {

// The one request a receiver got, checked to be made for `process` and freed by the receiver.
const ReceivedRequest& OnlyRequest(CRequestReceiver& receiver, UINT message,
                                   DWORD process = GetCurrentProcessId()) {
    static const ReceivedRequest none;
    const auto& received = receiver.Received();
    EXPECT_EQ(received.size(), 1u);
    if (received.size() != 1) return none;
    EXPECT_EQ(received[0].message, message);
    EXPECT_EQ(received[0].madeFor, process);
    EXPECT_TRUE(received[0].freed);
    return received[0];
}

ClickRequest OnlyClick(CRequestReceiver& receiver) {
    const ReceivedRequest& received = OnlyRequest(receiver, CRequestReceiver::ClickMessage());
    ClickRequest request{};
    EXPECT_EQ(received.bytes.size(), sizeof request);
    if (received.bytes.size() == sizeof request) {
        std::memcpy(&request, received.bytes.data(), sizeof request);
    }
    return request;
}

wchar_t* Text(const wchar_t* text) { return const_cast<wchar_t*>(text); }

TEST(InputRequests, CoordinateClicksCarryTheirButtonCountAndKeyText) {
    const std::wstring longText(60, L'k');
    using W = WinHelper;
    using Click = void (*)(HWND, int, int, int, wchar_t*);
    // Each at (-10, 20).
    std::tuple<Click, int, const wchar_t*, ClickRequest> cases[] = {
        {&W::PerformClick, 0, L"{ENTER}", {-10, 20, 1, 1, 1, 0, "{ENTER}"}},
        {&W::PerformDoubleClick, 0, L"", {-10, 20, 1, 2, 1, 0, ""}},
        {&W::PerformRightClick, 0, L"\u00e9t\u00e9", {-10, 20, 2, 1, 1, 0, "\xc3\xa9t\xc3\xa9"}},
        {&W::PerformClick, 1, nullptr, {-10, 20, 1, 1, 0, 0, ""}},  // not read
        {&W::PerformClick, 0, nullptr, {-10, 20, 1, 1, 1, 0, ""}},  // null is empty
        // At most 43 bytes with the terminator; the 44th stays zero.
        {&W::PerformClick, 0, longText.c_str(), {-10, 20, 1, 1, 1, 0, {}}},
    };
    std::memset(std::get<3>(cases[5]).keyText, 'k', 42);
    for (const auto& [click, skipKeyText, keyText, expected] : cases) {
        CRequestReceiver receiver;
        click(receiver.Window(), -10, 20, skipKeyText, Text(keyText));
        const ClickRequest request = OnlyClick(receiver);
        EXPECT_EQ(std::memcmp(&request, &expected, sizeof request), 0) << request.keyText;
    }
}

TEST(InputRequests, KeyRequestsCarryTheKeysWithTheirTerminatorAndAKeyTextBlock) {
    for (const auto& [keys, keyText] : std::vector<std::pair<const wchar_t*, const wchar_t*>>{
             {L"ab{TAB}c", L"xyz"}, {L"", nullptr}, {nullptr, L"x"}}) {
        CRequestReceiver receiver;
        BSTR bstr = keys != nullptr ? SysAllocString(keys) : nullptr;
        WinHelper::SendKeys(receiver.Window(), bstr, Text(keyText));
        if (bstr == nullptr) {
            EXPECT_TRUE(receiver.Received().empty());
            continue;
        }
        const ReceivedRequest& request = OnlyRequest(receiver, CRequestReceiver::KeysMessage());
        const size_t bytes = (SysStringLen(bstr) + 1) * sizeof(wchar_t);
        ASSERT_EQ(request.bytes.size(), bytes);
        EXPECT_EQ(std::memcmp(request.bytes.data(), bstr, bytes), 0);
        ASSERT_EQ(request.textBytes.size(), kKeyTextBlockSize);
        EXPECT_STREQ(reinterpret_cast<const char*>(request.textBytes.data()),
                     keyText != nullptr ? "xyz" : "");
        SysFreeString(bstr);
    }
}

TEST(InputRequests, ARequestThatReachesNoWindowLeavesNoBlock) {
    HWND gone = CRequestReceiver().Window();
    BSTR keys = SysAllocString(L"a");
    const std::uint32_t before = GetLiveBlockCount();
    WinHelper::PerformClick(gone, 1, 1, 0, Text(L"t"));
    WinHelper::SendKeys(gone, keys, nullptr);
    EXPECT_EQ(GetLiveBlockCount(), before);
    SysFreeString(keys);
}

HTREEITEM AddNode(HWND tree, HTREEITEM parent) {
    TVINSERTSTRUCTW insert{parent, TVI_LAST, {{TVIF_TEXT}}};
    insert.item.pszText = Text(L"node");
    return TreeView_InsertItem(tree, &insert);
}

HWND ReportList(CRecordingParent& parent, int items, RECT bounds) {
    const HWND list = parent.AddChild(WC_LISTVIEWW, LVS_REPORT, 8, bounds);
    LVCOLUMNW column{LVCF_WIDTH, 0, 120};
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    for (int i = 0; i < items; ++i) {
        LVITEMW item{LVIF_TEXT, i};
        item.pszText = Text(L"item");
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    return list;
}

POINT Centre(const RECT& rect) {
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// Where the parent's one WM_CONTEXTMENU from the control points, in the control's client area.
POINT ContextMenuPoint(CRecordingParent& parent, HWND control) {
    std::vector<ParentNote> menus;
    for (const ParentNote& note : parent.Notes()) {
        if (note.message == WM_CONTEXTMENU) menus.push_back(note);
    }
    parent.ClearNotes();
    EXPECT_EQ(menus.size(), 1u);
    if (menus.size() != 1) return {-1, -1};
    EXPECT_EQ(menus[0].from, control);
    EXPECT_EQ(GetFocus(), control);
    POINT point{GET_X_LPARAM(menus[0].lParam), GET_Y_LPARAM(menus[0].lParam)};
    ScreenToClient(control, &point);
    return point;
}

TEST(InputRequests, ItemClicksAndContextMenusAimAtTheItemAskedFor) {
    CRecordingParent parent;
    const HWND tree = parent.AddChild(WC_TREEVIEWW, 0, 7, {10, 10, 210, 300});
    HTREEITEM nodes[4];
    for (HTREEITEM& node : nodes) node = AddNode(tree, TVI_ROOT);
    const HTREEITEM hidden = AddNode(tree, nodes[0]);  // a child of a collapsed item
    HTREEITEM last = nodes[3];
    for (int i = 0; i < 40; ++i) last = AddNode(tree, TVI_ROOT);  // below the tree's bottom
    const HWND list = ReportList(parent, 60, {250, 10, 450, 160});
    using W = WinHelper;
    // The point: the centre of the node's text or of the item's label, once fully in view.
    const std::tuple<std::function<int()>, HWND, int, int, HTREEITEM> cases[] = {
        {[&] { return W::PerformClick(tree, nodes[1]); }, tree, 1, 1, nodes[1]},
        {[&] { return W::PerformDoubleClick(tree, nodes[1]); }, tree, 1, 2, nodes[1]},
        {[&] { return W::PerformRightClick(tree, nodes[1]); }, tree, 2, 1, nodes[1]},
        {[&] { return W::PerformClick(tree, hidden); }, tree, 1, 1, hidden},
        {[&] { return W::PerformClick(tree, last); }, tree, 1, 1, last},
        {[&] { return W::ClickListViewItem(list, 55); }, list, 1, 1, nullptr},
        {[&] { return W::DoubleClickListViewItem(list, 55); }, list, 1, 2, nullptr},
        {[&] { return W::RightClickListViewItem(list, 55); }, list, 2, 1, nullptr},
    };
    for (const auto& [click, control, button, clickCount, node] : cases) {
        SendMessageW(list, LVM_ENSUREVISIBLE, 0, FALSE);
        TreeView_EnsureVisible(tree, nodes[0]);
        TreeView_Expand(tree, nodes[0], TVE_COLLAPSE);
        CRequestReceiver receiver;
        receiver.Intercept(control);
        EXPECT_EQ(click(), 1);
        const ClickRequest request = OnlyClick(receiver);
        RECT bounds{LVIR_LABEL}, client{};
        if (control == list) {
            SendMessageW(list, LVM_GETITEMRECT, 55, reinterpret_cast<LPARAM>(&bounds));
        } else {
            std::memcpy(&bounds, &node, sizeof node);
            EXPECT_TRUE(
                SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&bounds)));
        }
        GetClientRect(control, &client);
        EXPECT_TRUE(bounds.top >= 0 && bounds.bottom <= client.bottom);
        EXPECT_EQ(request.x, Centre(bounds).x);
        EXPECT_EQ(request.y, Centre(bounds).y);
        EXPECT_EQ(request.button, button);
        EXPECT_EQ(request.clickCount, clickCount);
        EXPECT_EQ(request.keyTextIncluded, 0);
    }
    EXPECT_EQ(WinHelper::IsListViewItemSelected(list, 55), 0);
    parent.ClearNotes();

    // The menu's point is in screen coordinates, so the parent's hit test finds the item; a
    // node scrolled out of view is brought back first.
    TreeView_EnsureVisible(tree, last);
    EXPECT_EQ(WinHelper::ShowContextMenu(tree, nodes[2]), 1);
    TVHITTESTINFO treeHit{ContextMenuPoint(parent, tree)};
    EXPECT_EQ(SendMessageW(tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&treeHit)),
              reinterpret_cast<LRESULT>(nodes[2]));
    WinHelper::ShowListViewItemContextMenu(list, 6);
    EXPECT_EQ(WinHelper::IsListViewItemSelected(list, 6), 1);
    LVHITTESTINFO listHit{ContextMenuPoint(parent, list)};
    EXPECT_EQ(SendMessageW(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&listHit)), 6);
    // An index that names no item, or a node that the tree no longer holds, is neither clicked
    // nor selected, and gets no menu.
    TreeView_DeleteItem(tree, hidden);
    parent.ClearNotes();
    CRequestReceiver receiver;
    receiver.Intercept(list);
    receiver.Intercept(tree);
    for (const int i : {-1, 60, 67}) {
        EXPECT_EQ(W::ClickListViewItem(list, i) + W::DoubleClickListViewItem(list, i) +
                      W::RightClickListViewItem(list, i) + W::ShowListViewItemContextMenu(list, i),
                  0);
    }
    EXPECT_EQ(W::PerformClick(tree, hidden) + W::PerformDoubleClick(tree, hidden) +
                  W::PerformRightClick(tree, hidden) + W::ShowContextMenu(tree, hidden),
              0);
    EXPECT_TRUE(receiver.Received().empty() && parent.Notes().empty());
}

TEST(InputRequests, ParentNotificationsReachTheParentUnlessTheChildOptsOut) {
    CRecordingParent parent;
    const HWND child = parent.AddChild(L"Static", 0, 3, {30, 40, 80, 90});
    for (const bool quiet : {false, true}) {
        if (quiet) SetWindowLongPtrW(child, GWL_EXSTYLE, WS_EX_NOPARENTNOTIFY);
        parent.ClearNotes();
        CWinHelperPrivateAccess::SendParentNotify(child, 5, 6, WM_RBUTTONDOWN);
        ASSERT_EQ(parent.Notes().size(), quiet ? 0u : 1u);
        if (quiet) continue;
        EXPECT_EQ(parent.Notes()[0].wParam, static_cast<WPARAM>(WM_RBUTTONDOWN));
        EXPECT_EQ(parent.Notes()[0].lParam, MAKELPARAM(35, 46));
    }
}

// A receiver in a second process: it posts its window to the test's thread and answers 0 once
// one click request arrived as expected, made for this process and freed here.
TARNWICK_CHILD_MODE(ClickReceiver) {
    CRequestReceiver receiver;
    if (args.size() != 1 || !PostThreadMessageW(std::stoul(args[0]), WM_APP,
                                                reinterpret_cast<WPARAM>(receiver.Window()), 0)) {
        return 2;
    }
    for (const DWORD deadline = GetTickCount() + 30000;
         receiver.Received().empty() && GetTickCount() < deadline;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000, QS_ALLINPUT);
    }
    const auto& received = receiver.Received();
    const ClickRequest expected{3, 4, 2, 1, 1, 0, "far"};
    return received.size() == 1 && received[0].message == CRequestReceiver::ClickMessage() &&
                   received[0].madeFor == GetCurrentProcessId() && received[0].freed &&
                   received[0].bytes.size() == sizeof expected &&
                   std::memcmp(received[0].bytes.data(), &expected, sizeof expected) == 0
               ? 0
               : 3;
}

TEST(InputRequests, AClickRequestIsMadeForTheWindowsProcessAndFreedThere) {
    MSG announced{};
    PeekMessageW(&announced, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists
    CChildProcess child;
    ASSERT_TRUE(child.Start(L"ClickReceiver", {std::to_wstring(GetCurrentThreadId())}));
    const HANDLE process = child.Handle();
    while (!PeekMessageW(&announced, nullptr, WM_APP, WM_APP, PM_REMOVE)) {
        ASSERT_EQ(MsgWaitForMultipleObjects(1, &process, FALSE, 30000, QS_POSTMESSAGE),
                  WAIT_OBJECT_0 + 1);
    }
    WinHelper::PerformRightClick(reinterpret_cast<HWND>(announced.wParam), 3, 4, 0, Text(L"far"));
    EXPECT_EQ(child.Wait(30000), std::optional<DWORD>(0));
}

// The members of WinHelper, overloads counted, that the DLL exports.
std::multiset<std::string> ExportedWinHelperMembers() {
    std::multiset<std::string> members;
    const HMODULE module =
        LoadLibraryExW(L"Tarnwick.Virtual.Native.x64.dll", nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (module == nullptr) return members;
    const auto* base = reinterpret_cast<const std::uint8_t*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
        base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    const std::string gnu = "_ZN8tarnwick9WinHelper", msvc = "@WinHelper@tarnwick@@";
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        const std::string name = reinterpret_cast<const char*>(base + names[i]);
        if (name.rfind(gnu, 0) == 0) {
            size_t digits = 0;
            const size_t length = std::stoul(name.substr(gnu.size()), &digits);
            members.insert(name.substr(gnu.size() + digits, length));
        } else if (name.rfind('?', 0) == 0 && name.find(msvc) != std::string::npos) {
            members.insert(name.substr(1, name.find(msvc) - 1));
        }
    }
    FreeLibrary(module);
    return members;
}

TEST(InputRequests, TheDllExportsEveryMemberOfWinHelper) {
    std::istringstream names(
        "GetWindowClassName GetText SetText Clear GetTop GetLeft GetBottom GetRight SetTop "
        "SetLeft SetBottom SetRight GetWindowBounds SetWindowBounds GetVisible SetVisible "
        "GetEnabled SetEnabled GetFocused Focus Activate GetMaxTextLength SetMaxTextLength "
        "GetReadOnly SetReadOnly GetTextLength GetIsPassword SetIsPassword GetPasswordChar "
        "SetPasswordChar AppendText GetAutoChecked GetThreeState GetCheckState "
        "GetComboItemCount GetSelectedComboIndex SetSelectedComboIndex GetComboItems "
        "IsMultiSelectListBox GetListItemCount GetSelectedListIndex SetSelectedListIndex "
        "GetListItems GetSelectedCount GetSelectedItems GetSelectedTab SetSelectedTab GetTabs "
        "IsNodeSelected IsNodeExpanded GetNodeText GetSelectedNode Collapse Expand EnsureVisible "
        "Select GetChildren IsMultiSelect GetView SetView GetListViewCount "
        "GetListViewColumnCount ActivateSelectedItems GetColumns GetListViewItemText "
        "GetListViewSubItemText IsListViewItemSelected EnsureListViewItemVisible "
        "SetListViewItemSelected PerformClick PerformClick PerformClick PerformDoubleClick "
        "PerformDoubleClick PerformRightClick PerformRightClick ClickListViewItem "
        "DoubleClickListViewItem RightClickListViewItem ShowContextMenu "
        "ShowListViewItemContextMenu SendKeys WindowTop WindowLeft WindowBottom WindowRight "
        "IsWindowChild GetMouseMessages SendMouseActivate SendParentNotify GetTreeNodeRect "
        "GetListViewItemRect");
    const std::multiset<std::string> expected{std::istream_iterator<std::string>(names), {}};
    EXPECT_EQ(ExportedWinHelperMembers(), expected);
}

}  // namespace
}  // namespace tarnwick::test
