#include "translators/cvirtualcommonlistviewtranslator.h"

#include <commctrl.h>
#include <oleauto.h>

#include "trace/ctraceprovider.h"
#include "winhelper.h"
#include "winhelper/cwinhelperprivateaccess.h"

namespace tarnwick {
namespace {

// {C5838A7E-7F39-40F0-A4B0-3AF7D399CEF3}
constexpr GUID kTraceGuid = {
    0xc5838a7e, 0x7f39, 0x40f0, {0xa4, 0xb0, 0x3a, 0xf7, 0xd3, 0x99, 0xce, 0xf3}};

enum TracePoint : USHORT {
    kTraceViewRefused = 10,   // SetView with a mode outside the table: window, mode
    kTraceIndexRefused = 11,  // an item operation with an index that names no item: window, index
};

// The interface's view modes in order, as list-view LV_VIEW values.
constexpr DWORD kViews[] = {LV_VIEW_DETAILS, LV_VIEW_ICON, LV_VIEW_LIST, LV_VIEW_SMALLICON,
                            LV_VIEW_TILE};
constexpr LONG kViewCount = static_cast<LONG>(sizeof kViews / sizeof kViews[0]);

// Messages that change the list's items or columns whatever their arguments.
bool ChangesContents(UINT message) {
    switch (message) {
        case LVM_INSERTITEMA:
        case LVM_DELETEITEM:
        case LVM_DELETEALLITEMS:
        case LVM_INSERTCOLUMNA:
        case LVM_DELETECOLUMN:
        case LVM_SETITEMTEXTA:
        case LVM_SORTITEMS:
        case LVM_INSERTITEMW:
        case LVM_SORTITEMSEX:
        case LVM_INSERTCOLUMNW:
        case LVM_SETITEMTEXTW:
            return true;
        default:
            return false;
    }
}

VARIANT Int(LONG value) {
    VARIANT variant;
    V_VT(&variant) = VT_I4;
    V_I4(&variant) = value;
    return variant;
}

// The list an item operation works on, or null (traced) when the index names no item of it.
HWND ListWithItem(const VirtualControlReference* reference, LONG index) {
    const HWND list = WindowOf(reference);
    if (IsListViewItem(list, index)) return list;
    Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceIndexRefused, list, index);
    return nullptr;
}

// The refusal of an index that names no item of the list.
HRESULT NoItem(const VirtualControlReference* reference, LONG index) {
    return Refuse(E_INVALIDARG, IndexOutOfRange(index, WinHelper::GetListViewCount(WindowOf(reference)),
                                                L"list view", L"item"));
}

// Leaves *out null and destroys what a collection read left behind when it failed.
HRESULT AnswerArray(int succeeded, SAFEARRAY** out) {
    if (succeeded != 0) return S_OK;
    if (*out != nullptr) SafeArrayDestroy(*out);
    *out = nullptr;
    return E_OUTOFMEMORY;
}

}  // namespace

CVirtualCommonListViewTranslator::CVirtualCommonListViewTranslator() {
    IVirtualListView* list = this;
    AddInterfaceEntry(&__uuidof(IVirtualListView), list);
    AddInterfaceEntry(&IID_IDispatch, list);
}

LRESULT CVirtualCommonListViewTranslator::HandleMessage(HWND window, UINT message, WPARAM wParam,
                                                        LPARAM lParam, bool* handled) {
    const wchar_t* event = nullptr;
    if (message == WM_NOTIFY && lParam != 0) {
        const UINT code = reinterpret_cast<const NMHDR*>(lParam)->code;
        if (code == LVN_ITEMACTIVATE) event = L"ItemsActivated";
        if (code == LVN_ENDLABELEDITA || code == LVN_ENDLABELEDITW) event = L"ListContentsChanged";
    } else if (message == LVM_SETITEMA || message == LVM_SETITEMW) {
        // The mask leads both forms of LVITEM; only a change of text changes the contents.
        if (lParam != 0 && (reinterpret_cast<const LVITEMW*>(lParam)->mask & LVIF_TEXT) != 0) {
            event = L"ListContentsChanged";
        }
    } else if (ChangesContents(message)) {
        event = L"ListContentsChanged";
    }
    if (event != nullptr) RaiseEvent(window, event);
    return CVirtualCommonBaseControlTranslator::HandleMessage(window, message, wParam, lParam,
                                                              handled);
}

bool CVirtualCommonListViewTranslator::HandleMouseUp(HWND window, UINT message, int button,
                                                     int clicks, int x, int y, bool* handled) {
    // Nobody subscribed: the list is asked nothing.
    const wchar_t* name = clicks == 2 ? L"ItemDoubleClicked" : L"ItemClicked";
    if (IsSubscribed(window, name)) {
        LVHITTESTINFO hit{};
        hit.pt = {x, y};
        SendMessageW(window, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        if (hit.iItem >= 0 && hit.iItem < WinHelper::GetListViewCount(window)) {
            VARIANT item = Int(hit.iItem);
            RaiseEvent(window, name, &item, 1);
        }
    }
    return CVirtualCommonBaseControlTranslator::HandleMouseUp(window, message, button, clicks, x, y,
                                                              handled);
}

HRESULT CVirtualCommonListViewTranslator::IsMultiSelect(VirtualControlReference* reference,
                                                        VARIANT_BOOL* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, AsVariantBool(WinHelper::IsMultiSelect(WindowOf(reference))));
}

HRESULT CVirtualCommonListViewTranslator::GetView(VirtualControlReference* reference, LONG* value) {
    if (reference == nullptr) return E_INVALIDARG;
    if (value == nullptr) return E_POINTER;
    const DWORD view = WinHelper::GetView(WindowOf(reference));
    for (LONG mode = 0; mode < kViewCount; ++mode) {
        if (kViews[mode] == view) *value = mode;
    }
    return S_OK;
}

HRESULT CVirtualCommonListViewTranslator::SetView(VirtualControlReference* reference, LONG value) {
    if (reference == nullptr) return E_INVALIDARG;
    const HWND window = WindowOf(reference);
    if (value < 0 || value >= kViewCount) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceViewRefused, window, value);
        return S_OK;
    }
    WinHelper::SetView(window, kViews[value]);
    return S_OK;
}

HRESULT CVirtualCommonListViewTranslator::GetListViewCount(VirtualControlReference* reference,
                                                           LONG* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, WinHelper::GetListViewCount(WindowOf(reference)));
}

HRESULT CVirtualCommonListViewTranslator::GetColumns(VirtualControlReference* reference,
                                                     SAFEARRAY** value) {
    if (reference == nullptr) return E_INVALIDARG;
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    return AnswerArray(WinHelper::GetColumns(WindowOf(reference), value), value);
}

HRESULT CVirtualCommonListViewTranslator::ActivateSelectedItems(VirtualControlReference* reference,
                                                                VARIANT_BOOL* value) {
    if (reference == nullptr) return E_INVALIDARG;
    if (value == nullptr) return E_POINTER;
    *value = AsVariantBool(WinHelper::ActivateSelectedItems(WindowOf(reference)) > 0);
    return S_OK;
}

HRESULT CVirtualCommonListViewTranslator::GetListViewItemText(VirtualControlReference* reference,
                                                              LONG index, BSTR* value) {
    if (reference == nullptr) return E_INVALIDARG;
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    // WinHelper looks at the index itself: it is looked at again only when the read failed.
    if (WinHelper::GetListViewItemText(WindowOf(reference), index, value) != 0) return S_OK;
    return ListWithItem(reference, index) == nullptr ? NoItem(reference, index) : E_OUTOFMEMORY;
}

HRESULT CVirtualCommonListViewTranslator::GetListViewSubItemText(VirtualControlReference* reference,
                                                                 LONG index, SAFEARRAY** value) {
    if (reference == nullptr) return E_INVALIDARG;
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    if (WinHelper::GetListViewSubItemText(WindowOf(reference), index, value) != 0) return S_OK;
    const HRESULT failed = AnswerArray(0, value);  // destroys what was made
    return ListWithItem(reference, index) == nullptr ? NoItem(reference, index) : failed;
}

HRESULT CVirtualCommonListViewTranslator::IsListViewItemSelected(VirtualControlReference* reference,
                                                                 LONG index, VARIANT_BOOL* value) {
    if (reference == nullptr) return E_INVALIDARG;
    const HWND list = ListWithItem(reference, index);
    if (list == nullptr) return NoItem(reference, index);
    return AnswerOut(value, AsVariantBool(WinHelper::IsListViewItemSelected(list, index)));
}

HRESULT CVirtualCommonListViewTranslator::EnsureListViewItemVisible(
    VirtualControlReference* reference, LONG index) {
    if (reference == nullptr) return E_INVALIDARG;
    const HWND list = ListWithItem(reference, index);
    if (list == nullptr) return NoItem(reference, index);
    WinHelper::EnsureListViewItemVisible(list, index);
    return S_OK;
}

HRESULT CVirtualCommonListViewTranslator::ClickListViewItem(VirtualControlReference* reference,
                                                            LONG index) {
    if (reference == nullptr) return E_INVALIDARG;
    const HWND list = ListWithItem(reference, index);
    return list != nullptr && WinHelper::ClickListViewItem(list, index) != 0 ? S_OK
                                                                             : NoItem(reference, index);
}

HRESULT CVirtualCommonListViewTranslator::DoubleClickListViewItem(
    VirtualControlReference* reference, LONG index) {
    if (reference == nullptr) return E_INVALIDARG;
    const HWND list = ListWithItem(reference, index);
    return list != nullptr && WinHelper::DoubleClickListViewItem(list, index) != 0
               ? S_OK
               : NoItem(reference, index);
}

HRESULT CVirtualCommonListViewTranslator::RightClickListViewItem(VirtualControlReference* reference,
                                                                 LONG index) {
    if (reference == nullptr) return E_INVALIDARG;
    const HWND list = ListWithItem(reference, index);
    return list != nullptr && WinHelper::RightClickListViewItem(list, index) != 0
               ? S_OK
               : NoItem(reference, index);
}

HRESULT CVirtualCommonListViewTranslator::ShowListViewItemContextMenu(
    VirtualControlReference* reference, LONG index) {
    if (reference == nullptr) return E_INVALIDARG;
    const HWND list = ListWithItem(reference, index);
    return list != nullptr && WinHelper::ShowListViewItemContextMenu(list, index) != 0
               ? S_OK
               : NoItem(reference, index);
}

HRESULT CVirtualCommonListViewTranslator::SetListViewItemSelected(
    VirtualControlReference* reference, LONG index, VARIANT_BOOL value) {
    if (reference == nullptr) return E_INVALIDARG;
    const HWND list = ListWithItem(reference, index);
    if (list == nullptr) return NoItem(reference, index);
    return WinHelper::SetListViewItemSelected(list, index, value != 0 ? 1 : 0) != 0 ? S_OK : E_FAIL;
}

// Positions without effect.

HRESULT CVirtualCommonListViewTranslator::RefreshListViewItems(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonListViewTranslator::BeginListViewUpdate(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonListViewTranslator::EndListViewUpdate(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonListViewTranslator::ArrangeListViewItems(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonListViewTranslator::SortListViewItems(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonListViewTranslator::AutoSizeListViewColumns(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonListViewTranslator::ScrollListViewToTop(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonListViewTranslator::ScrollListViewToBottom(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonListViewTranslator::CancelListViewLabelEdit(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonListViewTranslator::ShowListViewGridLines(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonListViewTranslator::HideListViewGridLines(VirtualControlReference*) {
    return S_OK;
}

}  // namespace tarnwick
