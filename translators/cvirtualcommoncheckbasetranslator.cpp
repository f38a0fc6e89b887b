#include "translators/cvirtualcommoncheckbasetranslator.h"

#include "winhelper.h"
#include "winhelper/cwinhelperprivateaccess.h"

namespace tarnwick {
namespace {

bool IsRadioButton(HWND window) {
    const LONG_PTR type = GetWindowLongPtrW(window, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

}  // namespace

CVirtualCommonCheckBaseTranslator::CVirtualCommonCheckBaseTranslator() {
    IVirtualCheckControl* check = this;
    AddInterfaceEntry(&__uuidof(IVirtualCheckControl), check);
    AddInterfaceEntry(&IID_IDispatch, check);
}

LRESULT CVirtualCommonCheckBaseTranslator::HandleMessage(HWND window, UINT message, WPARAM wParam,
                                                         LPARAM lParam, bool* handled) {
    if (message == BM_SETCHECK) {
        const bool checkedCancelled = RaiseEvent(window, L"CheckedChanged");
        const bool stateCancelled = RaiseEvent(window, L"CheckStateChanged");
        if ((checkedCancelled || stateCancelled) && handled != nullptr) *handled = true;
    }
    return CVirtualCommonBaseControlTranslator::HandleMessage(window, message, wParam, lParam,
                                                              handled);
}

HRESULT CVirtualCommonCheckBaseTranslator::GetAutoChecked(VirtualControlReference* reference,
                                                          VARIANT_BOOL* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, AsVariantBool(WinHelper::GetAutoChecked(WindowOf(reference))));
}

HRESULT CVirtualCommonCheckBaseTranslator::GetChecked(VirtualControlReference* reference,
                                                      VARIANT_BOOL* value) {
    if (reference == nullptr) return E_INVALIDARG;
    LONG state = 0;
    GetCheckState(reference, &state);
    return AnswerOut(value, state == BST_CHECKED ? VARIANT_TRUE : VARIANT_FALSE);
}

HRESULT CVirtualCommonCheckBaseTranslator::SetChecked(VirtualControlReference* reference,
                                                      VARIANT_BOOL value) {
    if (reference == nullptr) return E_INVALIDARG;
    SetCheckState(reference, value == VARIANT_TRUE ? BST_CHECKED : BST_UNCHECKED);
    return S_OK;
}

HRESULT CVirtualCommonCheckBaseTranslator::GetCheckState(VirtualControlReference* reference,
                                                         LONG* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, static_cast<LONG>(WinHelper::GetCheckState(WindowOf(reference))));
}

// A click moves a two-state box between 0 and 1 and a three-state box through 0, 1, 2, 0, so
// the clicks that reach a state are its distance forward in that cycle. A radio button is only
// ever clicked to check it.
HRESULT CVirtualCommonCheckBaseTranslator::SetCheckState(VirtualControlReference* reference,
                                                         LONG value) {
    if (reference == nullptr) return E_INVALIDARG;
    const HWND window = WindowOf(reference);
    LONG current = 0;
    GetCheckState(reference, &current);
    if (current == value) return S_OK;
    VARIANT_BOOL threeState = VARIANT_FALSE;
    GetThreeState(reference, &threeState);
    if (value < BST_UNCHECKED || value > BST_INDETERMINATE) {
        return Refuse(E_INVALIDARG, L"check state " + std::to_wstring(value) +
                                        L" out of range (0 unchecked, 1 checked, 2 indeterminate)");
    }
    if (value == BST_INDETERMINATE && threeState != VARIANT_TRUE) {
        return Refuse(E_FAIL, L"check state 2 (indeterminate) needs a three-state box");
    }
    if (IsRadioButton(window)) {
        if (value == BST_CHECKED) Click(window, 1);
        return S_OK;
    }
    const LONG states = threeState == VARIANT_TRUE ? 3 : 2;
    Click(window, static_cast<int>(((value - current) % states + states) % states));
    return S_OK;
}

HRESULT CVirtualCommonCheckBaseTranslator::GetThreeState(VirtualControlReference* reference,
                                                         VARIANT_BOOL* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, AsVariantBool(WinHelper::GetThreeState(WindowOf(reference))));
}

HRESULT CVirtualCommonCheckBaseTranslator::RefreshCheckState(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonCheckBaseTranslator::RefreshCheckGlyph(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonCheckBaseTranslator::ShowFocusCue(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonCheckBaseTranslator::HideFocusCue(VirtualControlReference*) { return S_OK; }

void CVirtualCommonCheckBaseTranslator::Click(HWND window, int count) {
    for (int i = 0; i < count; ++i) {
        CWinHelperPrivateAccess::PerformClick(window, 1, 1, 1, 1, 0, const_cast<wchar_t*>(L""));
    }
}

}  // namespace tarnwick
