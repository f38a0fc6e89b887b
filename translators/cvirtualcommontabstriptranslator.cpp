// The tab strip translator: tab texts and selection through the window helper, and
// "SelectedIndexChanged" from the tab strip's own selection notification.
#include "translators/cvirtualcommontabstriptranslator.h"

#include <commctrl.h>

#include <cstdint>

#include "trace/ctraceprovider.h"
#include "winhelper.h"

namespace tarnwick {
namespace {

// {27BFCA3C-8F32-4241-B4C1-71242F8BDD07}
constexpr GUID kTraceGuid = {
    0x27bfca3c, 0x8f32, 0x4241, {0xb4, 0xc1, 0x71, 0x24, 0x2f, 0x8b, 0xdd, 0x07}};

enum TracePoint : USHORT {
    kTraceTabsFailed = 1,    // the tab texts could not be read into an array
    kTraceIndexRefused = 2,  // SetSelectedTab with an index that names no tab
};

}  // namespace

CVirtualCommonTabStripTranslator::CVirtualCommonTabStripTranslator() {
    IVirtualTabStrip* tabStrip = this;
    AddInterfaceEntry(&__uuidof(IVirtualTabStrip), tabStrip);
    AddInterfaceEntry(&IID_IDispatch, tabStrip);
}

// Only the strip's own notification counts: a tab strip that is the parent of another one
// receives that one's TCN_SELCHANGE too, and the host reflects it to the child's translator.
LRESULT CVirtualCommonTabStripTranslator::HandleMessage(HWND window, UINT message, WPARAM wParam,
                                                        LPARAM lParam, bool* handled) {
    if (message == WM_NOTIFY && lParam != 0) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->code == static_cast<UINT>(TCN_SELCHANGE) && header->hwndFrom == window &&
            RaiseEvent(window, L"SelectedIndexChanged") && handled != nullptr) {
            *handled = true;
        }
    }
    return CVirtualCommonBaseControlTranslator::HandleMessage(window, message, wParam, lParam,
                                                              handled);
}

// The array belongs to the caller only when it is whole; a part-way one is destroyed here.
HRESULT CVirtualCommonTabStripTranslator::GetTabs(VirtualControlReference* reference,
                                                  SAFEARRAY** value) {
    if (reference == nullptr) return E_INVALIDARG;
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    const HWND window = WindowOf(reference);
    if (WinHelper::GetTabs(window, value) != 0) return S_OK;
    if (*value != nullptr) SafeArrayDestroy(*value);
    *value = nullptr;
    Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceTabsFailed, window);
    return E_OUTOFMEMORY;
}

HRESULT CVirtualCommonTabStripTranslator::GetSelectedTab(VirtualControlReference* reference,
                                                         LONG* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, WinHelper::GetSelectedTab(WindowOf(reference)));
}

// An index that names no tab is refused: the strip would keep its selection while its parent
// heard of a change.
HRESULT CVirtualCommonTabStripTranslator::SetSelectedTab(VirtualControlReference* reference,
                                                         LONG index) {
    if (reference == nullptr) return E_INVALIDARG;
    const HWND window = WindowOf(reference);
    const auto count = static_cast<LONG>(SendMessageW(window, TCM_GETITEMCOUNT, 0, 0));
    if (index < 0 || index >= count) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceIndexRefused, window,
              static_cast<std::int32_t>(index));
        return Refuse(E_INVALIDARG, IndexOutOfRange(index, count, L"tab control", L"tab"));
    }
    WinHelper::SetSelectedTab(window, index);
    return S_OK;
}

HRESULT CVirtualCommonTabStripTranslator::RefreshTabs(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonTabStripTranslator::EnsureSelectedTabVisible(VirtualControlReference*) {
    return S_OK;
}

}  // namespace tarnwick
