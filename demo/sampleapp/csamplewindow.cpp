#include "csamplewindow.h"

#include <array>
#include <iterator>
#include <optional>
#include <string>

#include "cmanywindow.h"
#include "cnamedialog.h"
#include "sampleapp.h"

namespace tarnwick::sampleapp {
namespace {

constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE;

struct ControlLayout {
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;
    DWORD exStyle;
    int id;
    int x, y, width, height;  // client coordinates of the window
};

// The layout, top to bottom and left to right; the tab order follows it.
const ControlLayout kControls[] = {
    {L"Button", kButtonText, BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 0, kButtonId, 12, 12, 100, 26},
    {L"Static", L"Clicks: 0", SS_LEFT, 0, kClicksId, 122, 17, 90, 18},
    {L"Button", kTwoStateText, BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP, 0, kTwoStateId, 12, 48, 200,
     20},
    {L"Button", kThreeStateText, BS_AUTO3STATE | WS_TABSTOP, 0, kThreeStateId, 12, 72, 200, 20},
    {L"Button", kRadioTexts[0], BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, 0, kRadioFirstId, 12,
     102, 200, 20},
    {L"Button", kRadioTexts[1], BS_AUTORADIOBUTTON, 0, kRadioFirstId + 1, 12, 124, 200, 20},
    {L"Button", kRadioTexts[2], BS_AUTORADIOBUTTON, 0, kRadioFirstId + 2, 12, 146, 200, 20},
    {L"Edit", L"", ES_AUTOHSCROLL | WS_TABSTOP | WS_GROUP, WS_EX_CLIENTEDGE, kEditId, 12, 178, 200,
     22},
    {L"Edit", L"", ES_AUTOHSCROLL | ES_PASSWORD | WS_TABSTOP, WS_EX_CLIENTEDGE, kPasswordId, 12,
     208, 200, 22},
    {L"Edit", kReadOnlyText, ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP, WS_EX_CLIENTEDGE,
     kReadOnlyId, 12, 238, 200, 22},
    {WC_COMBOBOXW, L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0, kComboId, 12, 270, 200, 160},
    {WC_LISTBOXW, L"", LBS_NOTIFY | WS_VSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, kListBoxId, 12, 304,
     200, 90},
    {WC_TABCONTROLW, L"", WS_TABSTOP, 0, kTabId, 228, 12, 392, 40},
    {WC_TREEVIEWW, L"",
     TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS | WS_TABSTOP,
     WS_EX_CLIENTEDGE, kTreeId, 228, 62, 170, 332},
    {WC_LISTVIEWW, L"", LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP,
     WS_EX_CLIENTEDGE, kListViewId, 408, 62, 212, 332},
    {L"Static", L"Last: none", SS_LEFT, 0, kStatusId, 12, 406, 608, 20},
    {L"Button", L"Name...", BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 0, kDialogButtonId, 12, 436, 100,
     26},
    {L"Static", L"Typed: ", SS_LEFT, 0, kTypedId, 122, 441, 160, 18},
    {WC_COMBOBOXW, L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0, kAlertComboId, 290, 436, 150,
     120},
    {L"Button", L"Many controls", BS_PUSHBUTTON | WS_TABSTOP, 0, kManyButtonId, 450, 436, 120, 26},
};

constexpr int kListColumnWidths[kListColumnCount] = {80, 60, 66};

// File: the name dialog, a toggle, an item grayed until a name is known, Exit. The check mark
// and the graying are set when File opens.
HMENU MakeMenuBar() {
    const HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, kMenuNameId, L"&Name...\tCtrl+N");
    AppendMenuW(file, MF_STRING, kMenuClicksId, L"Show &clicks");
    AppendMenuW(file, MF_STRING | MF_GRAYED, kMenuGreetId, L"&Greet");
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file, MF_STRING, kMenuExitId, L"E&xit");
    const HMENU bar = CreateMenu();
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
    return bar;
}

wchar_t* Text(const wchar_t* text) { return const_cast<wchar_t*>(text); }

const wchar_t* CheckStateName(LRESULT state) {
    switch (state) {
        case BST_CHECKED:
            return L"checked";
        case BST_INDETERMINATE:
            return L"indeterminate";
        default:
            return L"unchecked";
    }
}

}  // namespace

HWND CSampleWindow::Create(HINSTANCE instance, const std::wstring& title) {
    const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES |
                                                             ICC_TREEVIEW_CLASSES |
                                                             ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSEXW windowClass{sizeof windowClass};
    windowClass.lpfnWndProc = &CSampleWindow::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassExW(&windowClass) == 0) return nullptr;
    // WM_NCCREATE stores this object with the window, and WM_CREATE builds the controls.
    if (CreateWindowExW(0, kWindowClass, title.c_str(), kFrameStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                        kWindowWidth, kWindowHeight, nullptr, MakeMenuBar(), instance,
                        this) == nullptr) {
        return nullptr;
    }
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
    return window_;
}

LRESULT CALLBACK CSampleWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<CSampleWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<CSampleWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return self != nullptr ? self->Handle(message, wParam, lParam)
                           : DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CSampleWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            CreateControls();
            FillItems();
            ready_ = true;
            return 0;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return 0;
        case WM_NOTIFY:
            return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
        case WM_INITMENUPOPUP:
            OnInitMenuPopup(reinterpret_cast<HMENU>(wParam));
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window_, message, wParam, lParam);
    }
}

void CSampleWindow::CreateControls() {
    const auto font = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
    for (const ControlLayout& layout : kControls) {
        HWND control = CreateWindowExW(
            layout.exStyle, layout.className, layout.text, kChildStyle | layout.style, layout.x,
            layout.y, layout.width, layout.height, window_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), instance, nullptr);
        SendMessageW(control, WM_SETFONT, font, FALSE);
    }
}

void CSampleWindow::FillItems() {
    SendMessageW(Child(kRadioFirstId), BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(Child(kPasswordId), EM_SETPASSWORDCHAR, kPasswordChar, 0);
    for (const wchar_t* item : kComboItems) {
        SendMessageW(Child(kComboId), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }
    SendMessageW(Child(kComboId), CB_SETCURSEL, 0, 0);
    for (const wchar_t* item : kAlertItems) {
        SendMessageW(Child(kAlertComboId), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }
    SendMessageW(Child(kAlertComboId), CB_SETCURSEL, 0, 0);
    for (const wchar_t* item : kListBoxItems) {
        SendMessageW(Child(kListBoxId), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }
    for (int i = 0; i < static_cast<int>(std::size(kTabs)); ++i) {
        TCITEMW tab{};
        tab.mask = TCIF_TEXT;
        tab.pszText = Text(kTabs[i]);
        SendMessageW(Child(kTabId), TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&tab));
    }
    FillTree();
    FillListView();
}

void CSampleWindow::FillTree() {
    HWND tree = Child(kTreeId);
    std::array<HTREEITEM, 4> parents{TVI_ROOT};  // the last item inserted at each depth
    for (const TreeEntry& entry : kTreeItems) {
        TVINSERTSTRUCTW insert{};
        insert.hParent = parents[entry.depth];
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT;
        insert.item.pszText = Text(entry.text);
        parents[entry.depth + 1] = reinterpret_cast<HTREEITEM>(
            SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    }
    // Every level shows from the start; parents first, so each expanded item is visible.
    for (HTREEITEM item = TreeView_GetRoot(tree); item != nullptr;
         item = TreeView_GetNextVisible(tree, item)) {
        TreeView_Expand(tree, item, TVE_EXPAND);
    }
}

void CSampleWindow::FillListView() {
    HWND list = Child(kListViewId);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    for (int column = 0; column < kListColumnCount; ++column) {
        LVCOLUMNW heading{};
        heading.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        heading.cx = kListColumnWidths[column];
        heading.pszText = Text(kListColumns[column]);
        heading.iSubItem = column;
        ListView_InsertColumn(list, column, &heading);
    }
    for (int row = 0; row < static_cast<int>(std::size(kListRows)); ++row) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = Text(kListRows[row][0]);
        ListView_InsertItem(list, &item);
        for (int column = 1; column < kListColumnCount; ++column) {
            ListView_SetItemText(list, row, column, Text(kListRows[row][column]));
        }
    }
}

void CSampleWindow::OnCommand(int id, int code, HWND control) {
    if (!ready_) return;
    if (control == nullptr && (code == 0 || code == 1)) {  // a menu command or its accelerator
        OnMenuCommand(id);
        return;
    }
    switch (code) {
        case BN_CLICKED:
            OnButtonClicked(id, control);
            break;
        case EN_CHANGE:
            if (id == kEditId) SetStatus(L"edit changed");
            if (id == kPasswordId) SetStatus(L"password changed");
            break;
        case CBN_SELCHANGE:  // == LBN_SELCHANGE
            if (id == kComboId) {
                SetStatus(L"combo selection " +
                          std::to_wstring(SendMessageW(control, CB_GETCURSEL, 0, 0)));
            }
            if (id == kAlertComboId) OnAlertSelection(control);
            if (id == kListBoxId) {
                SetStatus(L"list box selection " +
                          std::to_wstring(SendMessageW(control, LB_GETCURSEL, 0, 0)));
            }
            break;
        default:
            break;
    }
}

void CSampleWindow::OnButtonClicked(int id, HWND control) {
    const LRESULT state = SendMessageW(control, BM_GETCHECK, 0, 0);
    if (id == kButtonId) {
        SetWindowTextW(Child(kClicksId), (L"Clicks: " + std::to_wstring(++clicks_)).c_str());
        SetStatus(L"button clicked");
    } else if (id == kTwoStateId || id == kThreeStateId) {
        SetStatus(std::wstring(L"check box ") + (id == kTwoStateId ? L"1 " : L"2 ") +
                  CheckStateName(state));
    } else if (id >= kRadioFirstId && id < kRadioFirstId + kRadioCount && state == BST_CHECKED) {
        SetStatus(L"radio " + std::to_wstring(id - kRadioFirstId + 1) + L" checked");
    } else if (id == kDialogButtonId) {
        AskName();
    } else if (id == kManyButtonId && CManyWindow::Open(window_) != nullptr) {
        SetStatus(L"many controls opened");
    }
}

void CSampleWindow::AskName() {
    const std::optional<std::wstring> typed = CNameDialog::Ask(window_);
    if (typed) {
        name_ = *typed;
        SetWindowTextW(Child(kTypedId), (L"Typed: " + *typed).c_str());
    }
    SetStatus(typed ? L"dialog OK" : L"dialog cancelled");
}

void CSampleWindow::OnMenuCommand(int id) {
    switch (id) {
        case kMenuNameId:
            AskName();
            break;
        case kMenuClicksId:
            clicksShown_ = !clicksShown_;
            ShowWindow(Child(kClicksId), clicksShown_ ? SW_SHOW : SW_HIDE);
            SetStatus(clicksShown_ ? L"clicks shown" : L"clicks hidden");
            break;
        case kMenuGreetId:
            SetStatus(L"hello " + name_);
            break;
        case kMenuExitId:
            DestroyWindow(window_);
            break;
        default:
            break;
    }
}

void CSampleWindow::OnInitMenuPopup(HMENU menu) {
    CheckMenuItem(menu, kMenuClicksId, MF_BYCOMMAND | (clicksShown_ ? MF_CHECKED : MF_UNCHECKED));
    EnableMenuItem(menu, kMenuGreetId, MF_BYCOMMAND | (name_.empty() ? MF_GRAYED : MF_ENABLED));
}

// Tells the selection in a message box, as applications confirm a choice, and reports it once
// the box is closed.
void CSampleWindow::OnAlertSelection(HWND combo) {
    const LRESULT selected = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    wchar_t item[32] = {};
    if (selected >= 0 && SendMessageW(combo, CB_GETLBTEXTLEN, selected, 0) < 32) {
        SendMessageW(combo, CB_GETLBTEXT, selected, reinterpret_cast<LPARAM>(item));
    }
    MessageBoxW(window_, (std::wstring(L"Selected: ") + item).c_str(), kAlertTitle, MB_OK);
    SetStatus(L"alert " + std::to_wstring(selected) + L" acknowledged");
}

LRESULT CSampleWindow::OnNotify(const NMHDR& header) {
    if (!ready_) return 0;
    switch (header.code) {
        case TCN_SELCHANGE:
            SetStatus(L"tab " + std::to_wstring(TabCtrl_GetCurSel(header.hwndFrom)));
            break;
        case TVN_SELCHANGEDW: {
            const auto& change = reinterpret_cast<const NMTREEVIEWW&>(header);
            SetStatus(L"tree selection " + TreeItemText(change.itemNew.hItem));
            break;
        }
        case TVN_ITEMEXPANDEDW: {
            const auto& change = reinterpret_cast<const NMTREEVIEWW&>(header);
            const bool expanded = (change.action & TVE_EXPAND) != 0;
            SetStatus(std::wstring(expanded ? L"tree expanded " : L"tree collapsed ") +
                      TreeItemText(change.itemNew.hItem));
            break;
        }
        case LVN_ITEMCHANGED:
            OnListItemChanged(reinterpret_cast<const NMLISTVIEW&>(header));
            break;
        case LVN_ITEMACTIVATE: {
            const auto& activation = reinterpret_cast<const NMITEMACTIVATE&>(header);
            SetStatus(L"list item " + std::to_wstring(activation.iItem) + L" activated");
            break;
        }
        default:
            break;
    }
    return 0;
}

// Only selection changes are reported: focus moves alongside them and would hide them.
void CSampleWindow::OnListItemChanged(const NMLISTVIEW& change) {
    if ((change.uChanged & LVIF_STATE) == 0 || change.iItem < 0) return;
    if (((change.uNewState ^ change.uOldState) & LVIS_SELECTED) == 0) return;
    const bool selected = (change.uNewState & LVIS_SELECTED) != 0;
    SetStatus(L"list item " + std::to_wstring(change.iItem) +
              (selected ? L" selected" : L" deselected"));
}

std::wstring CSampleWindow::TreeItemText(HTREEITEM item) const {
    wchar_t buffer[64] = {};
    TVITEMW query{};
    query.mask = TVIF_TEXT;
    query.hItem = item;
    query.pszText = buffer;
    query.cchTextMax = static_cast<int>(std::size(buffer));
    return TreeView_GetItem(Child(kTreeId), &query) ? buffer : L"";
}

void CSampleWindow::SetStatus(const std::wstring& text) {
    SetWindowTextW(Child(kStatusId), (L"Last: " + text).c_str());
}

}  // namespace tarnwick::sampleapp
