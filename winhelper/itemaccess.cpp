// WinHelper: items, selections, columns, tabs and tree nodes of combo boxes, list boxes, tab
// controls, tree views and list views.
#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cwchar>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "trace/ctraceprovider.h"
#include "winhelper.h"
#include "winhelper/cwinhelperprivateaccess.h"

namespace tarnwick {
namespace {

// {1B188788-DE63-49D5-8151-44C9FF3DC0B2}
constexpr GUID kTraceGuid = {
    0x1b188788, 0xde63, 0x49d5, {0x81, 0x51, 0x44, 0xc9, 0xff, 0x3d, 0xc0, 0xb2}};

enum TracePoint : USHORT {
    kTraceArrayFailed = 1,
    kTraceTextFailed,
    kTraceBadTextLength,
    kTraceMoreChildren,
};

// Item texts are first read into 260 characters; a text that fills them is read again into
// twice as many, up to a bound that no control's text reaches.
constexpr int kItemTextChars = 260;
constexpr int kMaxItemTextChars = 1 << 24;

void TraceError(TracePoint point, HWND control, std::int32_t value = 0) {
    Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, point, control, value);
}

// Runs a body that allocates; an allocation that fails answers 0.
template <typename Body>
int Guarded(Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return 0;
    }
}

// A vector of VARIANTs handed to the caller as soon as it exists, and filled in place.
class CVariantVector {
  public:
    // Creates the array of `count` elements (a negative count makes none) and stores it, or
    // null, in *out.
    CVariantVector(HWND control, SAFEARRAY** out, LRESULT count) noexcept : control_(control) {
        if (count >= 0 && static_cast<std::uint64_t>(count) <= ULONG_MAX) {
            array_ = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count));
        }
        *out = array_;
        if (array_ != nullptr && count > 0) {
            void* data = nullptr;
            if (SUCCEEDED(SafeArrayAccessData(array_, &data)))
                elements_ = static_cast<VARIANT*>(data);
        }
        if (array_ == nullptr || (count > 0 && elements_ == nullptr)) {
            TraceError(kTraceArrayFailed, control, static_cast<std::int32_t>(count));
        } else {
            size_ = static_cast<ULONG>(count);
        }
    }
    CVariantVector(const CVariantVector&) = delete;
    CVariantVector& operator=(const CVariantVector&) = delete;
    ~CVariantVector() {
        if (elements_ != nullptr) SafeArrayUnaccessData(array_);
    }

    // Whether the array exists and its elements can be written.
    bool Ready() const noexcept {
        return array_ != nullptr && (size_ == 0 || elements_ != nullptr);
    }
    ULONG Size() const noexcept { return size_; }

    // A VT_BSTR element holding `length` characters of text; false when it cannot be made.
    bool PutText(ULONG index, const wchar_t* text, size_t length) noexcept {
        BSTR copy = SysAllocStringLen(text, static_cast<UINT>(length));
        if (copy == nullptr) {
            TraceError(kTraceTextFailed, control_, static_cast<std::int32_t>(index));
            return false;
        }
        V_VT(&elements_[index]) = VT_BSTR;
        V_BSTR(&elements_[index]) = copy;
        return true;
    }
    void PutInt(ULONG index, LONG value) noexcept {
        V_VT(&elements_[index]) = VT_I4;
        V_I4(&elements_[index]) = value;
    }
    void PutHandle(ULONG index, const void* handle) noexcept {
        V_VT(&elements_[index]) = VT_I8;
        V_I8(&elements_[index]) = static_cast<LONGLONG>(reinterpret_cast<std::intptr_t>(handle));
    }

  private:
    HWND control_;
    SAFEARRAY* array_ = nullptr;
    VARIANT* elements_ = nullptr;
    ULONG size_ = 0;
};

LRESULT Send(HWND control, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendMessageW(control, message, wParam, lParam);
}

template <typename T>
LPARAM Pointer(T* value) {
    return reinterpret_cast<LPARAM>(value);
}

LONG_PTR Style(HWND window) { return GetWindowLongPtrW(window, GWL_STYLE); }

// The window that hears of a child control's changes; null for a control that is no child.
HWND NotifiedParent(HWND control) {
    return (Style(control) & WS_CHILD) != 0 ? GetParent(control) : nullptr;
}

// A buffer for the text of one item at a time, of tabs, tree nodes and list views: the control
// is asked to fill it, and asked again with a larger one while its text fills it. A control may
// also answer with a pointer to its own copy, which holds the whole text.
class CItemText {
  public:
    // The text that `read(buffer, capacity)` leaves, as a pointer the control set (or null for
    // none) and valid until the next read. Most texts fit the first buffer, which is no
    // allocation.
    template <typename Reader>
    std::wstring_view Read(Reader read) {
        for (int capacity = kItemTextChars;; capacity *= 2) {
            wchar_t* buffer = first_;
            if (capacity > kItemTextChars) {
                larger_.assign(static_cast<size_t>(capacity), L'\0');
                buffer = larger_.data();
            }
            buffer[0] = L'\0';
            const wchar_t* text = read(buffer, capacity);
            if (text == nullptr) return {};
            if (text != buffer) return text;
            const size_t length = wcsnlen(text, static_cast<size_t>(capacity));
            if (length + 1 < static_cast<size_t>(capacity) || capacity >= kMaxItemTextChars) {
                return {text, std::min(length, static_cast<size_t>(capacity) - 1)};
            }
        }
    }

  private:
    wchar_t first_[kItemTextChars];
    std::vector<wchar_t> larger_;
};

// A new BSTR of the text, in *out; false when it cannot be made.
bool PutBstr(std::wstring_view text, wchar_t** out) {
    BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (copy == nullptr) return false;
    *out = copy;
    return true;
}

// Reads every text of a combo box or list box through its count, length and text messages.
int ReadStringItems(HWND control, UINT countMessage, UINT lengthMessage, UINT textMessage,
                    SAFEARRAY** out) {
    if (out == nullptr) return 0;
    CVariantVector items(control, out, Send(control, countMessage));
    if (!items.Ready()) return 0;
    return Guarded([&] {
        // Item data of an owner-drawn control without strings fills a pointer's worth.
        std::vector<wchar_t> buffer(sizeof(void*));
        for (ULONG i = 0; i < items.Size(); ++i) {
            const LRESULT length = Send(control, lengthMessage, i);
            if (length < 0) {
                // An error answer must not size the buffer the text message writes into.
                TraceError(kTraceBadTextLength, control, static_cast<std::int32_t>(i));
                if (!items.PutText(i, L"", 0)) return 0;
                continue;
            }
            const size_t room = static_cast<size_t>(length) + 1;
            if (buffer.size() < room) buffer.resize(room);
            std::fill_n(buffer.begin(), room, L'\0');
            const LRESULT copied = Send(control, textMessage, i, Pointer(buffer.data()));
            const size_t kept = copied >= 0 && copied <= length
                                    ? static_cast<size_t>(copied)
                                    : wcsnlen(buffer.data(), static_cast<size_t>(length));
            if (!items.PutText(i, buffer.data(), kept)) return 0;
        }
        return 1;
    });
}

// The item that follows `item` in a tree walk of one level; the first one for a null item.
HTREEITEM NextSibling(HWND tree, HTREEITEM parent, HTREEITEM item) {
    if (item != nullptr)
        return reinterpret_cast<HTREEITEM>(Send(tree, TVM_GETNEXTITEM, TVGN_NEXT, Pointer(item)));
    if (parent == nullptr)
        return reinterpret_cast<HTREEITEM>(Send(tree, TVM_GETNEXTITEM, TVGN_ROOT));
    return reinterpret_cast<HTREEITEM>(Send(tree, TVM_GETNEXTITEM, TVGN_CHILD, Pointer(parent)));
}

// The text of a list-view column header or item cell.
std::wstring_view ReadListViewColumnText(HWND list, int column, CItemText& text) {
    return text.Read([&](wchar_t* buffer, int capacity) {
        LVCOLUMNW header{};
        header.mask = LVCF_TEXT;
        header.pszText = buffer;
        header.cchTextMax = capacity;
        Send(list, LVM_GETCOLUMNW, static_cast<WPARAM>(column), Pointer(&header));
        return header.pszText;
    });
}

std::wstring_view ReadListViewCell(HWND list, int index, int column, CItemText& text) {
    return text.Read([&](wchar_t* buffer, int capacity) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = index;
        item.iSubItem = column;
        item.pszText = buffer;
        item.cchTextMax = capacity;
        Send(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(index), Pointer(&item));
        return item.pszText;
    });
}

// Fills `out` with one text per list-view column, each read by `read`.
template <typename Read>
int ReadPerColumn(HWND list, SAFEARRAY** out, Read read) {
    if (out == nullptr) return 0;
    CVariantVector texts(list, out, WinHelper::GetListViewColumnCount(list));
    if (!texts.Ready()) return 0;
    return Guarded([&] {
        CItemText text;
        for (ULONG k = 0; k < texts.Size(); ++k) {
            const std::wstring_view cell = read(static_cast<int>(k), text);
            if (!texts.PutText(k, cell.data(), cell.size())) return 0;
        }
        return 1;
    });
}

void NotifyParent(HWND control, NMHDR& header) {
    const HWND parent = NotifiedParent(control);
    if (parent == nullptr) return;
    header.hwndFrom = control;
    header.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(control));
    Send(parent, WM_NOTIFY, header.idFrom, Pointer(&header));
}

void NotifyParentCommand(HWND control, WORD code) {
    const HWND parent = NotifiedParent(control);
    if (parent == nullptr) return;
    const WORD id = static_cast<WORD>(GetDlgCtrlID(control));
    Send(parent, WM_COMMAND, MAKEWPARAM(id, code), Pointer(control));
}

// Sets the selection of a combo box or list box with `message` and tells the parent with
// `code`, as a user's change would; 0, and nobody told, when the control refused. Both kinds
// answer -1 for a refusal and also for a cleared selection (index -1), which only a box of one
// selection makes.
int SetSelection(HWND control, UINT message, int index, WORD code, bool clearable) {
    if (Send(control, message, static_cast<WPARAM>(index)) == -1 && !(index == -1 && clearable)) {
        return 0;
    }
    NotifyParentCommand(control, code);
    return 1;
}

}  // namespace

// Combo boxes.

int WinHelper::GetComboItemCount(HWND combo) { return static_cast<int>(Send(combo, CB_GETCOUNT)); }

int WinHelper::GetSelectedComboIndex(HWND combo) {
    return static_cast<int>(Send(combo, CB_GETCURSEL));
}

int WinHelper::SetSelectedComboIndex(HWND combo, int index) {
    return SetSelection(combo, CB_SETCURSEL, index, CBN_SELCHANGE, true);
}

int WinHelper::GetComboItems(HWND combo, SAFEARRAY** out) {
    return ReadStringItems(combo, CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT, out);
}

// List boxes.

// Either style lets the user select several items.
int WinHelper::IsMultiSelectListBox(HWND list) {
    return (Style(list) & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0 ? 1 : 0;
}

int WinHelper::GetListItemCount(HWND list) { return static_cast<int>(Send(list, LB_GETCOUNT)); }

int WinHelper::GetSelectedListIndex(HWND list) {
    return static_cast<int>(Send(list, LB_GETCURSEL));
}

// A box of several selections refuses LB_SETCURSEL.
int WinHelper::SetSelectedListIndex(HWND list, int index) {
    return SetSelection(list, LB_SETCURSEL, index, LBN_SELCHANGE, IsMultiSelectListBox(list) == 0);
}

int WinHelper::GetListItems(HWND list, SAFEARRAY** out) {
    return ReadStringItems(list, LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT, out);
}

int WinHelper::GetSelectedCount(HWND list) { return static_cast<int>(Send(list, LB_GETSELCOUNT)); }

int WinHelper::GetSelectedItems(HWND list, SAFEARRAY** out) {
    if (out == nullptr) return 0;
    if (IsMultiSelectListBox(list) == 0) {
        CVariantVector selection(list, out, 1);
        if (!selection.Ready()) return 0;
        selection.PutInt(0, static_cast<LONG>(Send(list, LB_GETCURSEL)));
        return 1;
    }
    *out = nullptr;
    const LRESULT count = Send(list, LB_GETSELCOUNT);
    if (count == LB_ERR) return 0;
    CVariantVector selection(list, out, count);
    if (!selection.Ready()) return 0;
    return Guarded([&] {
        std::vector<int> indexes(selection.Size());
        const LRESULT got = Send(list, LB_GETSELITEMS, indexes.size(), Pointer(indexes.data()));
        if (got == LB_ERR) return 0;
        const ULONG kept =
            std::min(static_cast<ULONG>(std::max<LRESULT>(got, 0)), selection.Size());
        for (ULONG i = 0; i < kept; ++i) selection.PutInt(i, indexes[i]);
        return 1;
    });
}

// Tab controls.

int WinHelper::GetSelectedTab(HWND tab) { return static_cast<int>(Send(tab, TCM_GETCURSEL)); }

void WinHelper::SetSelectedTab(HWND tab, int index) {
    const HWND parent = GetAncestor(tab, GA_PARENT);
    if (parent == nullptr || parent == GetDesktopWindow()) return;
    const auto id = static_cast<UINT_PTR>(GetDlgCtrlID(tab));
    // The parent hears of the change as of a user's; its answer to the first cannot stop it.
    NMHDR header{tab, id, static_cast<UINT>(TCN_SELCHANGING)};
    Send(parent, WM_NOTIFY, id, Pointer(&header));
    Send(tab, TCM_SETCURSEL, static_cast<WPARAM>(index));
    header = NMHDR{tab, id, static_cast<UINT>(TCN_SELCHANGE)};
    Send(parent, WM_NOTIFY, id, Pointer(&header));
}

int WinHelper::GetTabs(HWND tab, SAFEARRAY** out) {
    if (out == nullptr) return 0;
    CVariantVector tabs(tab, out, Send(tab, TCM_GETITEMCOUNT));
    if (!tabs.Ready()) return 0;
    return Guarded([&] {
        CItemText text;
        for (ULONG i = 0; i < tabs.Size(); ++i) {
            const std::wstring_view read = text.Read([&](wchar_t* buffer, int capacity) {
                TCITEMW item{};
                item.mask = TCIF_TEXT;
                item.pszText = buffer;
                item.cchTextMax = capacity;
                Send(tab, TCM_GETITEMW, i, Pointer(&item));
                return item.pszText;
            });
            if (!tabs.PutText(i, read.data(), read.size())) return 0;
        }
        return 1;
    });
}

// Tree views.

int WinHelper::IsNodeSelected(HWND tree, HTREEITEM item) {
    return (Send(tree, TVM_GETITEMSTATE, Pointer(item), TVIS_SELECTED) & TVIS_SELECTED) != 0 ? 1
                                                                                             : 0;
}

int WinHelper::IsNodeExpanded(HWND tree, HTREEITEM item) {
    return (Send(tree, TVM_GETITEMSTATE, Pointer(item), TVIS_EXPANDED) & TVIS_EXPANDED) != 0 ? 1
                                                                                             : 0;
}

int WinHelper::GetNodeText(HWND tree, HTREEITEM item, wchar_t** out) {
    if (out == nullptr) return 0;
    return Guarded([&] {
        CItemText text;
        bool answered = true;  // a node that is gone (or never was) is refused by the tree
        const std::wstring_view read = text.Read([&](wchar_t* buffer, int capacity) {
            TVITEMW node{};
            node.mask = TVIF_TEXT;
            node.hItem = item;
            node.pszText = buffer;
            node.cchTextMax = capacity;
            answered = Send(tree, TVM_GETITEMW, 0, Pointer(&node)) != FALSE;
            return answered ? node.pszText : nullptr;
        });
        return answered && PutBstr(read, out) ? 1 : 0;
    });
}

HTREEITEM WinHelper::GetSelectedNode(HWND tree) {
    return reinterpret_cast<HTREEITEM>(Send(tree, TVM_GETNEXTITEM, TVGN_CARET));
}

void WinHelper::Collapse(HWND tree, HTREEITEM item) {
    Send(tree, TVM_EXPAND, TVE_COLLAPSE, Pointer(item));
}

void WinHelper::Expand(HWND tree, HTREEITEM item) {
    Send(tree, TVM_EXPAND, TVE_EXPAND, Pointer(item));
}

void WinHelper::EnsureVisible(HWND tree, HTREEITEM item) {
    Send(tree, TVM_ENSUREVISIBLE, 0, Pointer(item));
}

void WinHelper::Select(HWND tree, HTREEITEM item) {
    Send(tree, TVM_ENSUREVISIBLE, 0, Pointer(item));
    Send(tree, TVM_SELECTITEM, TVGN_CARET, Pointer(item));
}

int WinHelper::GetChildren(HWND tree, HTREEITEM parent, SAFEARRAY** out) {
    if (out == nullptr) return 0;
    LRESULT count = 0;
    for (HTREEITEM item = NextSibling(tree, parent, nullptr); item != nullptr;
         item = NextSibling(tree, parent, item)) {
        ++count;
    }
    CVariantVector children(tree, out, count);
    if (!children.Ready()) return 0;
    ULONG index = 0;
    for (HTREEITEM item = NextSibling(tree, parent, nullptr); item != nullptr;
         item = NextSibling(tree, parent, item), ++index) {
        if (index == children.Size()) {
            TraceError(kTraceMoreChildren, tree, static_cast<std::int32_t>(index));
            return 0;
        }
        // The whole handle: item handles are pointer-sized.
        children.PutHandle(index, item);
    }
    return 1;
}

// List views.

int WinHelper::IsMultiSelect(HWND list) { return (Style(list) & LVS_SINGLESEL) == 0 ? 1 : 0; }

DWORD WinHelper::GetView(HWND list) { return static_cast<DWORD>(Send(list, LVM_GETVIEW)); }

void WinHelper::SetView(HWND list, DWORD view) { Send(list, LVM_SETVIEW, view); }

int WinHelper::GetListViewCount(HWND list) {
    return static_cast<int>(Send(list, LVM_GETITEMCOUNT));
}

int WinHelper::GetListViewColumnCount(HWND list) {
    int count = 0;
    for (;; ++count) {
        LVCOLUMNW column{};
        column.mask = LVCF_WIDTH;
        if (Send(list, LVM_GETCOLUMNW, static_cast<WPARAM>(count), Pointer(&column)) != 1) break;
    }
    return count;
}

int WinHelper::ActivateSelectedItems(HWND list) {
    const auto first =
        static_cast<int>(Send(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (first < 0) return 0;
    NMITEMACTIVATE activation{};
    activation.hdr.code = static_cast<UINT>(LVN_ITEMACTIVATE);
    activation.iItem = first;
    activation.uChanged = LVIF_STATE;
    NotifyParent(list, activation.hdr);
    return 1;
}

int WinHelper::GetColumns(HWND list, SAFEARRAY** out) {
    return ReadPerColumn(list, out, [list](int column, CItemText& text) {
        return ReadListViewColumnText(list, column, text);
    });
}

// The item functions answer 0 for an index that names no item, and read or change nothing.

int WinHelper::GetListViewItemText(HWND list, int index, wchar_t** out) {
    if (out == nullptr || !IsListViewItem(list, index)) return 0;
    return Guarded([&] {
        CItemText text;
        return PutBstr(ReadListViewCell(list, index, 0, text), out) ? 1 : 0;
    });
}

int WinHelper::GetListViewSubItemText(HWND list, int index, SAFEARRAY** out) {
    if (out != nullptr && !IsListViewItem(list, index)) {
        *out = nullptr;
        return 0;
    }
    return ReadPerColumn(list, out, [list, index](int column, CItemText& text) {
        return ReadListViewCell(list, index, column, text);
    });
}

int WinHelper::IsListViewItemSelected(HWND list, int index) {
    return IsListViewItem(list, index) &&
                   (Send(list, LVM_GETITEMSTATE, static_cast<WPARAM>(index), LVIS_SELECTED) &
                    LVIS_SELECTED) != 0
               ? 1
               : 0;
}

void WinHelper::EnsureListViewItemVisible(HWND list, int index) {
    Send(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), FALSE);
}

int WinHelper::SetListViewItemSelected(HWND list, int index, int select) {
    if (!IsListViewItem(list, index)) return 0;
    const UINT wanted = select != 0 ? LVIS_SELECTED : 0;
    if ((IsListViewItemSelected(list, index) != 0) == (wanted != 0)) return 1;
    LVITEMW state{};
    state.mask = LVIF_STATE;
    state.state = wanted;
    state.stateMask = LVIS_SELECTED;
    if (Send(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), Pointer(&state)) == FALSE)
        return 0;
    // The parent hears of the change as of a user's, besides what the control itself sends.
    NMLISTVIEW change{};
    change.hdr.code = static_cast<UINT>(LVN_ITEMCHANGED);
    change.iItem = index;
    change.uNewState = wanted;
    change.uOldState = wanted ^ LVIS_SELECTED;
    change.uChanged = LVIF_STATE;
    NotifyParent(list, change.hdr);
    return 1;
}

}  // namespace tarnwick
