// The combo box translator: item texts, selection and count through the window helper, and
// "SelectedIndexChanged" from the combo box's own selection notification.
#include "translators/cvirtualcommoncomboboxtranslator.h"

#include <cstdint>

#include "trace/ctraceprovider.h"
#include "winhelper.h"

namespace tarnwick {
namespace {

// {B14D05C9-D8AA-4521-8AFE-66118B97A333}
constexpr GUID kTraceGuid = {
    0xb14d05c9, 0xd8aa, 0x4521, {0x8a, 0xfe, 0x66, 0x11, 0x8b, 0x97, 0xa3, 0x33}};

enum TracePoint : USHORT {
    kTraceItemsFailed = 1,   // the item texts could not be read into an array
    kTraceIndexRefused = 2,  // SetSelectedComboIndex with an index that names no item
};

}  // namespace

CVirtualCommonComboBoxTranslator::CVirtualCommonComboBoxTranslator() {
    IVirtualListControl* list = this;
    AddInterfaceEntry(&__uuidof(IVirtualListControl), list);
    AddInterfaceEntry(&IID_IDispatch, list);
    IVirtualComboBox* combo = this;
    AddInterfaceEntry(&__uuidof(IVirtualComboBox), combo);
    AddInterfaceEntry(&IID_IDispatch, combo);
}

// Only the combo box's own notification counts: its drop-down list tells the combo box of a
// change with a WM_COMMAND of the same code (LBN_SELCHANGE) before the combo box tells its
// parent, which the host reflects here.
LRESULT CVirtualCommonComboBoxTranslator::HandleMessage(HWND window, UINT message, WPARAM wParam,
                                                        LPARAM lParam, bool* handled) {
    if (message == WM_COMMAND && HIWORD(wParam) == CBN_SELCHANGE &&
        reinterpret_cast<HWND>(lParam) == window && RaiseEvent(window, L"SelectedIndexChanged") &&
        handled != nullptr) {
        *handled = true;
    }
    return CVirtualCommonBaseControlTranslator::HandleMessage(window, message, wParam, lParam,
                                                              handled);
}

// The array belongs to the caller only when it is whole; a part-way one is destroyed here.
HRESULT CVirtualCommonComboBoxTranslator::GetComboItems(VirtualControlReference* reference,
                                                        SAFEARRAY** value) {
    if (reference == nullptr) return E_INVALIDARG;
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    const HWND window = WindowOf(reference);
    if (WinHelper::GetComboItems(window, value) != 0) return S_OK;
    if (*value != nullptr) SafeArrayDestroy(*value);
    *value = nullptr;
    Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceItemsFailed, window);
    return E_OUTOFMEMORY;
}

HRESULT CVirtualCommonComboBoxTranslator::GetSelectedComboIndex(VirtualControlReference* reference,
                                                                LONG* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, WinHelper::GetSelectedComboIndex(WindowOf(reference)));
}

HRESULT CVirtualCommonComboBoxTranslator::SetSelectedComboIndex(VirtualControlReference* reference,
                                                                LONG index) {
    if (reference == nullptr) return E_INVALIDARG;
    const HWND window = WindowOf(reference);
    const int count = WinHelper::GetComboItemCount(window);
    if (index < 0 || index > count - 1) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceIndexRefused, window,
              static_cast<std::int32_t>(index));
        return Refuse(E_INVALIDARG, IndexOutOfRange(index, count, L"combo box", L"item"));
    }
    WinHelper::SetSelectedComboIndex(window, index);
    return S_OK;
}

HRESULT CVirtualCommonComboBoxTranslator::RefreshComboItems(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonComboBoxTranslator::EnsureSelectedComboItemVisible(VirtualControlReference*) {
    return S_OK;
}

HRESULT CVirtualCommonComboBoxTranslator::GetComboItemCount(VirtualControlReference* reference,
                                                            LONG* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, WinHelper::GetComboItemCount(WindowOf(reference)));
}

}  // namespace tarnwick
