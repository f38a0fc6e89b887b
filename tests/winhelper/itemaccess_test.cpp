// WinHelper's window state, geometry and item access on real windows and controls, with a parent
// that records what it is told.
#include <gtest/gtest.h>
#include <algorithm>
#include <memory>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "winhelper.h"
#include "winhelper/controlwindows.h"

namespace tarnwick {
namespace {

using W = WinHelper;
using Texts = std::vector<std::wstring>;
constexpr int kId = 42;

auto Number(VARTYPE vt, long long n) { return std::to_wstring(vt) + L':' + std::to_wstring(n); }

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

// The VARIANTs a call hands out in an array (its last argument): a BSTR's text, else Number.
template <typename Function, typename... Arguments>
Texts Collect(Function function, Arguments... arguments) {
    SAFEARRAY* array = nullptr;
    EXPECT_EQ(function(arguments..., &array), 1);
    const std::unique_ptr<SAFEARRAY, decltype(&SafeArrayDestroy)> holder(array, &SafeArrayDestroy);
    if (array == nullptr || (array->fFeatures & FADF_VARIANT) == 0) return {L"<no VARIANTs>"};
    Texts texts;
    for (const VARIANT& v :
         std::span(static_cast<VARIANT*>(array->pvData), array->rgsabound[0].cElements))
        texts.push_back(v.vt == VT_BSTR ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal))
                                        : Number(v.vt, v.vt == VT_I8 ? v.llVal : v.lVal));
    return texts;
}

// A recorded note: sender, wParam, code, list-view item, new and old state, changed.
using Note = std::tuple<HWND, WPARAM, int, int, UINT, UINT, UINT>;
using Notes = std::vector<Note>;
Note Notify(HWND from, int code, int item = -1, UINT now = 0, UINT was = 0, UINT changed = 0) {
    return {from, kId, code, item, now, was, changed};
}

// A window without a parent: top-level and owned by owner, or a child of the desktop.
using CWindow = std::unique_ptr<HWND__, decltype(&DestroyWindow)>;
CWindow Unparented(const wchar_t* name, DWORD style, HWND owner) {
    return {CreateWindowExW(0, name, L"", style, 0, 0, 9, 9, owner, nullptr, nullptr, nullptr),
            &DestroyWindow};
}

// Appends items to a combo box, list box or tab; to a list view, columns and item 0's cells.
void Add(HWND control, const std::wstring& kind, const Texts& texts) {
    for (int k = 0; k < static_cast<int>(texts.size()); ++k) {
        auto* text = const_cast<wchar_t*>(texts[k].c_str());
        const TCITEMW tab{TCIF_TEXT, 0, 0, text};
        const LVCOLUMNW column{LVCF_TEXT | LVCF_WIDTH, 0, 60, text};
        const LVITEMW cell{LVIF_TEXT, 0, k, 0, 0, text};
        if (kind == WC_COMBOBOXW) SendMessageW(control, CB_ADDSTRING, 0, LPARAM(text));
        if (kind == WC_LISTBOXW) SendMessageW(control, LB_ADDSTRING, 0, LPARAM(text));
        if (kind == WC_TABCONTROLW) TabCtrl_InsertItem(control, k, &tab);
        if (kind == WC_LISTVIEWW && ListView_InsertColumn(control, k, &column) == 0)
            ListView_InsertItem(control, &cell);
        if (kind == WC_LISTVIEWW) ListView_SetItem(control, &cell);
    }
}

// Makes the text length message `length` answer -1 for item 0.
LRESULT CALLBACK FailingLength(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR length) {
    return message == length && wParam == 0 ? -1 : DefSubclassProc(window, message, wParam, lParam);
}

struct ItemAccessTest : testing::Test {
    Notes TakeNotes() {  // the notes recorded since the last call
        Notes found;
        for (const test::ParentNote& n : parent_.Notes())
            found.emplace_back(n.from, n.wParam, n.code, n.item, n.newState, n.oldState, n.changed);
        parent_.ClearNotes();
        return found;
    }

    test::CRecordingParent parent_;
};

TEST_F(ItemAccessTest, ItemTextsAndSelections) {
    const std::wstring longText(300, L'x'), longerText(5000, L'y');  // past 260 characters
    using Read = int (*)(HWND, SAFEARRAY**);
    const Read cells = [](HWND l, SAFEARRAY** a) { return W::GetListViewSubItemText(l, 0, a); };
    using Select = int (*)(HWND, int);
    // Combo and list boxes also: their text length message, selection setter and its code.
    const std::tuple<const wchar_t*, Read, UINT, Select, int> cases[] = {
        {WC_COMBOBOXW, W::GetComboItems, CB_GETLBTEXTLEN, W::SetSelectedComboIndex, CBN_SELCHANGE},
        {WC_LISTBOXW, W::GetListItems, LB_GETTEXTLEN, W::SetSelectedListIndex, LBN_SELCHANGE},
        {WC_TABCONTROLW, W::GetTabs, 0, nullptr, 0},
        {WC_LISTVIEWW, W::GetColumns, 0, nullptr, 0},
        {WC_LISTVIEWW, cells, 0, nullptr, 0},
    };
    for (const auto& [className, read, length, select, change] : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(className)));
        const HWND control = parent_.AddChild(className, 0, kId);
        EXPECT_TRUE(read == cells || Collect(read, control).empty());  // cells need an item
        Add(control, className, {L"alpha", L"", longText, longerText});
        EXPECT_EQ(Collect(read, control), (Texts{L"alpha", L"", longText, longerText}));
        EXPECT_EQ(read(control, nullptr), 0);
        if (length == 0) continue;
        // An error answer for the length gives an empty text, not a read past the buffer.
        SetWindowSubclass(control, &FailingLength, 1, length);
        EXPECT_EQ(Collect(read, control), (Texts{L"", L"", longText, longerText}));
        // The parent hears of a new selection once; of a refused one or an owned popup's, never.
        TakeNotes();
        EXPECT_EQ(select(control, 2) + select(control, 9), 1);
        select(Unparented(className, WS_POPUP, parent_.Window()).get(), 1);
        EXPECT_EQ(TakeNotes(), (Notes{{control, MAKEWPARAM(kId, change), change, -1, 0, 0, 0}}));
    }
}

TEST_F(ItemAccessTest, SelectedListBoxItemsFollowTheSelectionStyle) {
    // A box of several selections answers them all, and refuses LB_SETCURSEL untold.
    const std::tuple<DWORD, std::vector<int>, std::vector<int>> cases[] = {
        {LBS_MULTIPLESEL, {0, 2, 3}, {0, 2, 3}},
        {LBS_MULTIPLESEL, {}, {}},
        {LBS_EXTENDEDSEL, {1, 3}, {1, 3}},
        {0, {}, {-1}},
        {0, {2}, {2}},
    };
    for (const auto& [style, select, indexes] : cases) {
        const HWND list = parent_.AddChild(WC_LISTBOXW, style, kId);
        Add(list, WC_LISTBOXW, {L"a", L"b", L"c", L"d"});
        for (int i : select) SendMessageW(list, style ? LB_SETSEL : LB_SETCURSEL, style ? 1 : i, i);
        Texts expected;
        for (int i : indexes) expected.push_back(Number(VT_I4, i));
        EXPECT_EQ(Collect(W::GetSelectedItems, list), expected) << style;
        EXPECT_EQ(W::IsMultiSelectListBox(list), style != 0 ? 1 : 0);
        TakeNotes();
        EXPECT_EQ(W::SetSelectedListIndex(list, 1), style == 0 ? 1 : 0);
        EXPECT_EQ(TakeNotes().size(), style == 0 ? 1u : 0u) << style;
    }
}

TEST_F(ItemAccessTest, SetSelectedTabTellsARealParentOnly) {
    const HWND child = parent_.AddChild(WC_TABCONTROLW, 0, kId);
    const CWindow owned = Unparented(WC_TABCONTROLW, 0, parent_.Window());
    const CWindow desktopChild = Unparented(WC_TABCONTROLW, WS_CHILD, GetDesktopWindow());
    for (HWND tab : {child, owned.get(), desktopChild.get()}) {
        ASSERT_NE(tab, nullptr);
        Add(tab, WC_TABCONTROLW, {L"one", L"two", L"three"});
        TakeNotes();
        W::SetSelectedTab(tab, 2);
        EXPECT_EQ(W::GetSelectedTab(tab), tab == child ? 2 : 0);
        const Notes told{Notify(tab, TCN_SELCHANGING), Notify(tab, TCN_SELCHANGE)};
        EXPECT_EQ(TakeNotes(), tab == child ? told : Notes{});
    }
}

TEST_F(ItemAccessTest, TreeChildrenAreTheWholeHandles) {
    const HWND tree = parent_.AddChild(WC_TREEVIEWW, 0, kId);
    const auto add = [tree](HTREEITEM parent) {
        TVINSERTSTRUCTW insert{parent, TVI_LAST, {}};
        return TreeView_InsertItem(tree, &insert);
    };
    const auto i8 = [](HTREEITEM item) { return Number(VT_I8, reinterpret_cast<INT_PTR>(item)); };
    const HTREEITEM one = add(TVI_ROOT), two = add(TVI_ROOT), oneA = add(one), oneB = add(one);
    const std::tuple<HTREEITEM, Texts> levels[] = {
        {nullptr, {i8(one), i8(two)}}, {one, {i8(oneA), i8(oneB)}}, {oneA, {}}};
    for (const auto& [parent, handles] : levels)
        EXPECT_EQ(Collect(W::GetChildren, tree, parent), handles);
}

TEST_F(ItemAccessTest, ListViewSelectionAndActivationNotifyTheParent) {
    EXPECT_EQ(W::IsMultiSelect(parent_.AddChild(WC_LISTVIEWW, LVS_REPORT | LVS_SINGLESEL, 1)), 0);
    const HWND list = parent_.AddChild(WC_LISTVIEWW, LVS_REPORT, kId);
    EXPECT_EQ(W::IsMultiSelect(list), 1);
    for (const LVITEMW& item : {LVITEMW{}, LVITEMW{}, LVITEMW{}}) ListView_InsertItem(list, &item);
    for (int select : {1, 0}) {
        const UINT now = select ? LVIS_SELECTED : 0;
        const auto told = [&](int index) {  // how often the parent heard of the item's change
            return std::ranges::count(TakeNotes(), Notify(list, LVN_ITEMCHANGED, index, now,
                                                          LVIS_SELECTED - now, LVIF_STATE));
        };
        ListView_SetItemState(list, 2, now, LVIS_SELECTED);
        const auto own = told(2);  // what the control itself tells of such a change
        W::SetListViewItemSelected(list, 1, select);
        EXPECT_EQ(told(1), own + 1) << select;
        W::SetListViewItemSelected(list, 1, select);  // already so: nobody hears of it
        EXPECT_EQ(TakeNotes(), Notes{});
        // The first of the selected items (1 and 2) is activated; none when none is selected.
        EXPECT_EQ(W::ActivateSelectedItems(list), select);
        EXPECT_EQ(TakeNotes(), Notes(select, Notify(list, LVN_ITEMACTIVATE, 1, 0, 0, LVIF_STATE)));
    }
    // An index that names no item is refused: nothing is selected, read or told to the parent.
    for (const int index : {-1, 3, 10}) {
        wchar_t* text = nullptr;
        SAFEARRAY* cells = nullptr;
        EXPECT_EQ(W::SetListViewItemSelected(list, index, 1) +
                      W::IsListViewItemSelected(list, index) +
                      W::GetListViewItemText(list, index, &text) +
                      W::GetListViewSubItemText(list, index, &cells),
                  0);
        EXPECT_TRUE(text == nullptr && cells == nullptr && TakeNotes().empty());
        EXPECT_EQ(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0), 0);
    }
}

}  // namespace
}  // namespace tarnwick
