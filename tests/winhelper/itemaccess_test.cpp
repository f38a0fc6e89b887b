// WinHelper's item access on real combo boxes, list boxes, tab controls, tree views and list
// views, with a parent that records what the helpers and the controls tell it.
#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "winhelper.h"
#include "winhelper/controlwindows.h"

namespace tarnwick {
namespace {

constexpr int kId = 42;

using Texts = std::vector<std::wstring>;
// How a result element that is not a VT_BSTR reads: "<vt>:<value>".
std::wstring Number(VARTYPE type, long long value) {
    return std::to_wstring(type) + L":" + std::to_wstring(value);
}

// The answer of a call that hands out an array (its last argument), and the array's elements,
// each read from a copy of its VARIANT: a VT_BSTR as its text, any other as Number.
using Result = std::pair<int, Texts>;
template <typename Function, typename... Arguments>
Result Collect(Function function, Arguments... arguments) {
    SAFEARRAY* array = nullptr;
    Result result{function(arguments..., &array), {}};
    const std::unique_ptr<SAFEARRAY, decltype(&SafeArrayDestroy)> holder(array, &SafeArrayDestroy);
    VARTYPE type = VT_EMPTY;
    LONG low = -1, high = -1;
    EXPECT_TRUE(array != nullptr && SafeArrayGetVartype(array, &type) == S_OK &&
                type == VT_VARIANT && SafeArrayGetDim(array) == 1 &&
                SafeArrayGetLBound(array, 1, &low) == S_OK && low == 0 &&
                SafeArrayGetUBound(array, 1, &high) == S_OK);
    for (LONG i = 0; i <= high; ++i) {
        VARIANT copy;
        VariantInit(&copy);
        EXPECT_EQ(SafeArrayGetElement(array, &i, &copy), S_OK);
        result.second.push_back(copy.vt == VT_BSTR
                                    ? std::wstring(copy.bstrVal, SysStringLen(copy.bstrVal))
                                    : Number(copy.vt, copy.vt == VT_I8 ? copy.llVal : copy.lVal));
        VariantClear(&copy);
    }
    return result;
}

// A recorded note: message, sender, wParam, code, list-view item, new and old state, changed.
using Note = std::tuple<UINT, HWND, WPARAM, int, int, UINT, UINT, UINT>;
using Notes = std::vector<Note>;
Note Notify(HWND from, int code, int item = -1, UINT now = 0, UINT was = 0, UINT changed = 0) {
    return {WM_NOTIFY, from, kId, code, item, now, was, changed};
}

// A window without a parent: top-level and owned by owner, or a child of the desktop.
using CWindow = std::unique_ptr<HWND__, decltype(&DestroyWindow)>;
CWindow Unparented(const wchar_t* className, DWORD style, HWND owner) {
    return {CreateWindowExW(0, className, L"", style, 0, 0, 200, 150, owner,
                            style & WS_CHILD ? HMENU(INT_PTR{kId}) : nullptr, nullptr, nullptr),
            &DestroyWindow};
}

// Appends items to a combo box, list box or tab control, or columns to a list view.
void Add(HWND control, std::initializer_list<const wchar_t*> texts) {
    wchar_t name[32] = L"";
    GetClassNameW(control, name, 32);
    const std::wstring kind = name;
    for (const wchar_t* text : texts) {
        TCITEMW tab{TCIF_TEXT, 0, 0, const_cast<wchar_t*>(text)};
        LVCOLUMNW column{LVCF_TEXT | LVCF_WIDTH, 0, 60, tab.pszText};
        if (kind == WC_COMBOBOXW) SendMessageW(control, CB_ADDSTRING, 0, LPARAM(text));
        if (kind == WC_LISTBOXW) SendMessageW(control, LB_ADDSTRING, 0, LPARAM(text));
        if (kind == WC_TABCONTROLW) TabCtrl_InsertItem(control, 99, &tab);
        if (kind == WC_LISTVIEWW) ListView_InsertColumn(control, 99, &column);
    }
}
HTREEITEM AddNode(HWND tree, HTREEITEM parent, const wchar_t* text) {
    TVINSERTSTRUCTW insert{
        parent, TVI_LAST, {{TVIF_TEXT, nullptr, 0, 0, const_cast<wchar_t*>(text)}}};
    return TreeView_InsertItem(tree, &insert);
}
void SetItemSelected(HWND list, int index, int select) {
    ListView_SetItemState(list, index, select ? LVIS_SELECTED : 0, LVIS_SELECTED);
}

class ItemAccessTest : public testing::Test {
  protected:
    // A report list view with columns Name, Size, Kind and four items, cell (i, k) reading "i,k".
    HWND AddListView(DWORD style = 0) {
        HWND list = parent_.AddChild(WC_LISTVIEWW, LVS_REPORT | style, kId, {10, 10, 400, 300});
        Add(list, {L"Name", L"Size", L"Kind"});
        for (int i = 0; i < 4; ++i) {
            LVITEMW item{0, i};
            ListView_InsertItem(list, &item);
            for (int k = 0; k < 3; ++k) {
                std::wstring text = std::to_wstring(i) + L"," + std::to_wstring(k);
                ListView_SetItemText(list, i, k, text.data());
            }
        }
        return list;
    }

    // The notes recorded since the last call.
    Notes TakeNotes() {
        Notes found;
        for (const test::ParentNote& n : parent_.Notes()) {
            found.emplace_back(n.message, n.from, n.wParam, n.code, n.item, n.newState, n.oldState,
                               n.changed);
        }
        parent_.ClearNotes();
        return found;
    }

    test::CRecordingParent parent_;
};

// The control's own procedure, and the text length request that answers -1 for item 2.
WNDPROC g_original = nullptr;
UINT g_failingLength = 0;
LRESULT CALLBACK FailingLength(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == g_failingLength && wParam == 2) return -1;
    return CallWindowProcW(g_original, window, message, wParam, lParam);
}

TEST_F(ItemAccessTest, ComboAndListBoxItemsAndSelection) {
    const std::wstring longText(200, L'x');
    for (const auto& [className, style, length, read, count, select, selected] :
         {std::make_tuple(WC_COMBOBOXW, DWORD{CBS_DROPDOWNLIST}, UINT{CB_GETLBTEXTLEN},
                          WinHelper::GetComboItems, WinHelper::GetComboItemCount,
                          WinHelper::SetSelectedComboIndex, WinHelper::GetSelectedComboIndex),
          std::make_tuple(WC_LISTBOXW, DWORD{0}, UINT{LB_GETTEXTLEN}, WinHelper::GetListItems,
                          WinHelper::GetListItemCount, WinHelper::SetSelectedListIndex,
                          WinHelper::GetSelectedListIndex)}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(className)));
        HWND control = parent_.AddChild(className, style, kId);
        EXPECT_EQ(Collect(read, control), (Result{1, {}}));
        Add(control, {L"alpha", L"", longText.c_str()});
        EXPECT_EQ(count(control), 3);
        EXPECT_EQ(Collect(read, control), (Result{1, {L"alpha", L"", longText}}));
        EXPECT_EQ(read(control, nullptr), 0);

        g_failingLength = length;
        g_original = WNDPROC(SetWindowLongPtrW(control, GWLP_WNDPROC, LONG_PTR(&FailingLength)));
        EXPECT_EQ(SendMessageW(control, length, 2, 0), -1);
        const Result faulted = Collect(read, control);
        SetWindowLongPtrW(control, GWLP_WNDPROC, LONG_PTR(g_original));
        EXPECT_EQ(faulted, (Result{1, {L"alpha", L"", L""}}));

        const CWindow alone = Unparented(className, style, parent_.Window());
        ASSERT_NE(alone.get(), nullptr);
        Add(alone.get(), {L"a", L"b", L"c"});
        EXPECT_EQ(selected(control), -1);
        TakeNotes();
        select(control, 2);
        EXPECT_EQ(selected(control), 2);
        const int change = CBN_SELCHANGE;  // LBN_SELCHANGE too
        EXPECT_EQ(TakeNotes(),
                  (Notes{{WM_COMMAND, control, MAKEWPARAM(kId, change), change, -1, 0, 0, 0}}));
        select(alone.get(), 1);
        EXPECT_EQ(selected(alone.get()), 1);
        EXPECT_EQ(TakeNotes(), Notes{});
    }
}

TEST_F(ItemAccessTest, SelectedListBoxItemsFollowTheSelectionStyle) {
    constexpr int kCurrent = -100;  // whatever LB_GETCURSEL answers
    const struct {
        DWORD style;
        std::vector<int> select, expected;
    } cases[] = {{LBS_MULTIPLESEL, {0, 2, 3}, {0, 2, 3}},
                 {LBS_MULTIPLESEL, {}, {}},
                 {0, {}, {-1}},
                 {0, {2}, {2}},
                 {LBS_EXTENDEDSEL, {1, 3}, {kCurrent}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "style " << c.style << ", " << c.select.size());
        HWND list = parent_.AddChild(WC_LISTBOXW, c.style, kId);
        Add(list, {L"a", L"b", L"c", L"d"});
        const bool single = c.style == 0;
        for (int i : c.select)
            SendMessageW(list, single ? LB_SETCURSEL : LB_SETSEL, single ? i : 1, i);
        Texts expected;
        for (int i : c.expected) {
            const auto current = SendMessageW(list, LB_GETCURSEL, 0, 0);
            expected.push_back(Number(VT_I4, i == kCurrent ? current : i));
        }
        EXPECT_EQ(WinHelper::IsMultiSelectListBox(list), c.style == LBS_MULTIPLESEL ? 1 : 0);
        EXPECT_EQ(WinHelper::GetSelectedCount(list), single ? -1 : int(c.select.size()));
        EXPECT_EQ(Collect(WinHelper::GetSelectedItems, list), (Result{1, expected}));
        EXPECT_EQ(WinHelper::GetSelectedItems(list, nullptr), 0);
    }
}

TEST_F(ItemAccessTest, TabsAndTheirSelectionWithAndWithoutARealParent) {
    HWND child = parent_.AddChild(WC_TABCONTROLW, 0, kId);
    const CWindow owned = Unparented(WC_TABCONTROLW, 0, parent_.Window());
    const CWindow desktopChild = Unparented(WC_TABCONTROLW, WS_CHILD, GetDesktopWindow());
    EXPECT_EQ(Collect(WinHelper::GetTabs, child), (Result{1, {}}));
    for (HWND tab : {child, owned.get(), desktopChild.get()}) {
        ASSERT_NE(tab, nullptr);
        Add(tab, {L"one", L"", L"three"});
        const int before = TabCtrl_GetCurSel(tab);
        ASSERT_NE(before, 2);
        TakeNotes();
        WinHelper::SetSelectedTab(tab, 2);
        EXPECT_EQ(WinHelper::GetSelectedTab(tab), tab == child ? 2 : before);
        const Notes told{Notify(tab, TCN_SELCHANGING), Notify(tab, TCN_SELCHANGE)};
        EXPECT_EQ(TakeNotes(), tab == child ? told : Notes{});
    }
    EXPECT_EQ(TabCtrl_GetCurSel(child), 2);
    EXPECT_EQ(Collect(WinHelper::GetTabs, child), (Result{1, {L"one", L"", L"three"}}));
    EXPECT_EQ(WinHelper::GetTabs(child, nullptr), 0);
}

TEST_F(ItemAccessTest, TreeChildrenAndNodeState) {
    HWND tree = parent_.AddChild(WC_TREEVIEWW, TVS_HASBUTTONS | TVS_LINESATROOT, kId);
    const HTREEITEM one = AddNode(tree, TVI_ROOT, L"one");
    const HTREEITEM oneA = AddNode(tree, one, L"one.a");
    const HTREEITEM oneB = AddNode(tree, one, L"one.b");
    const HTREEITEM two = AddNode(tree, TVI_ROOT, L"two");
    AddNode(tree, TVI_ROOT, L"three");
    for (auto [parent, count] :
         std::initializer_list<std::pair<HTREEITEM, int>>{{nullptr, 3}, {one, 2}, {oneA, 0}}) {
        Texts walked;  // what TVM_GETNEXTITEM answers below parent, handle by handle
        for (HTREEITEM item = TreeView_GetNextItem(tree, parent, parent ? TVGN_CHILD : TVGN_ROOT);
             item != nullptr; item = TreeView_GetNextItem(tree, item, TVGN_NEXT)) {
            walked.push_back(Number(VT_I8, reinterpret_cast<std::intptr_t>(item)));
        }
        ASSERT_EQ(walked.size(), size_t(count));
        EXPECT_EQ(Collect(WinHelper::GetChildren, tree, parent), (Result{1, walked}));
    }
    EXPECT_EQ(WinHelper::GetChildren(tree, nullptr, nullptr), 0);

    wchar_t* text = nullptr;
    EXPECT_EQ(WinHelper::GetNodeText(tree, oneB, &text), 1);
    EXPECT_STREQ(text, L"one.b");
    SysFreeString(text);
    EXPECT_EQ(WinHelper::GetNodeText(tree, oneB, nullptr), 0);
    EXPECT_EQ(WinHelper::IsNodeExpanded(tree, one), 0);
    WinHelper::Expand(tree, one);
    EXPECT_EQ(WinHelper::IsNodeExpanded(tree, one), 1);
    WinHelper::Collapse(tree, one);
    EXPECT_EQ(WinHelper::IsNodeExpanded(tree, one), 0);
    WinHelper::EnsureVisible(tree, oneA);  // opens the item's parent
    EXPECT_EQ(WinHelper::IsNodeExpanded(tree, one), 1);
    for (HTREEITEM chosen : {oneB, two}) {
        WinHelper::Select(tree, chosen);
        EXPECT_EQ(WinHelper::GetSelectedNode(tree), chosen);
        EXPECT_EQ(WinHelper::IsNodeSelected(tree, chosen), 1);
        EXPECT_EQ(WinHelper::IsNodeSelected(tree, chosen == two ? oneB : two), 0);
    }
}

TEST_F(ItemAccessTest, ListViewItemsColumnsAndViews) {
    HWND bare = parent_.AddChild(WC_LISTVIEWW, LVS_REPORT, kId);
    HWND list = AddListView();
    EXPECT_EQ(Collect(WinHelper::GetColumns, bare), (Result{1, {}}));
    EXPECT_EQ(Collect(WinHelper::GetColumns, list), (Result{1, {L"Name", L"Size", L"Kind"}}));
    EXPECT_EQ(WinHelper::GetColumns(list, nullptr), 0);
    EXPECT_EQ(WinHelper::GetListViewColumnCount(bare), 0);
    EXPECT_EQ(WinHelper::GetListViewColumnCount(list), 3);
    EXPECT_EQ(WinHelper::GetListViewCount(list), 4);
    wchar_t* text = nullptr;
    EXPECT_EQ(WinHelper::GetListViewItemText(list, 2, &text), 1);
    EXPECT_STREQ(text, L"2,0");
    SysFreeString(text);
    EXPECT_EQ(WinHelper::GetListViewItemText(list, 2, nullptr), 0);
    EXPECT_EQ(Collect(WinHelper::GetListViewSubItemText, list, 3),
              (Result{1, {L"3,0", L"3,1", L"3,2"}}));
    EXPECT_EQ(WinHelper::GetListViewSubItemText(list, 3, nullptr), 0);
    WinHelper::SetView(list, LV_VIEW_LIST);  // not LV_VIEW_TILE, which Wine refuses
    EXPECT_EQ(ListView_GetView(list), DWORD{LV_VIEW_LIST});
    EXPECT_EQ(WinHelper::GetView(list), DWORD{LV_VIEW_LIST});
    EXPECT_EQ(WinHelper::IsMultiSelect(list), 1);
    EXPECT_EQ(WinHelper::IsMultiSelect(AddListView(LVS_SINGLESEL)), 0);
}

TEST_F(ItemAccessTest, ListViewSelectionAndActivationNotifyTheParent) {
    HWND list = AddListView();
    for (int select : {1, 0}) {
        SCOPED_TRACE(select);
        const UINT newState = select ? LVIS_SELECTED : 0, oldState = LVIS_SELECTED - newState;
        auto changes = [&](const Notes& notes, int item) {
            return std::count(notes.begin(), notes.end(),
                              Notify(list, LVN_ITEMCHANGED, item, newState, oldState, LVIF_STATE));
        };
        TakeNotes();
        SetItemSelected(list, 3, select);  // what the control itself tells for the change
        const auto own = changes(TakeNotes(), 3);
        EXPECT_EQ(WinHelper::IsListViewItemSelected(list, 1), 1 - select);
        WinHelper::SetListViewItemSelected(list, 1, select);
        EXPECT_EQ(WinHelper::IsListViewItemSelected(list, 1), select);
        EXPECT_EQ(changes(TakeNotes(), 1), own + 1);
        WinHelper::SetListViewItemSelected(list, 1, select);
        EXPECT_EQ(TakeNotes(), Notes{});
    }

    for (int i : {1, 2, 3}) SetItemSelected(list, i, 1);
    TakeNotes();
    EXPECT_EQ(WinHelper::ActivateSelectedItems(list), 1);
    EXPECT_EQ(TakeNotes(), (Notes{Notify(list, LVN_ITEMACTIVATE, 1, 0, 0, LVIF_STATE)}));
    SetItemSelected(list, -1, 0);
    TakeNotes();
    EXPECT_EQ(WinHelper::ActivateSelectedItems(list), 0);
    EXPECT_EQ(TakeNotes(), Notes{});
}

}  // namespace
}  // namespace tarnwick
