// The text box translators: each operation has the effect of the window helper of its name.
#include "translators/cvirtualcommontextboxtranslator.h"

#include "winhelper.h"

namespace tarnwick {
CVirtualCommonTextBoxBaseTranslator::CVirtualCommonTextBoxBaseTranslator() {
    IVirtualTextBoxBase* textBox = this;
    AddInterfaceEntry(&__uuidof(IVirtualTextBoxBase), textBox);
    AddInterfaceEntry(&IID_IDispatch, textBox);
}

HRESULT CVirtualCommonTextBoxBaseTranslator::GetMaxTextLength(VirtualControlReference* reference,
                                                              LONG* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, WinHelper::GetMaxTextLength(WindowOf(reference)));
}

HRESULT CVirtualCommonTextBoxBaseTranslator::SetMaxTextLength(VirtualControlReference* reference,
                                                              LONG value) {
    if (reference == nullptr) return E_INVALIDARG;
    WinHelper::SetMaxTextLength(WindowOf(reference), value);
    return S_OK;
}

HRESULT CVirtualCommonTextBoxBaseTranslator::GetReadOnly(VirtualControlReference* reference,
                                                         VARIANT_BOOL* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, AsVariantBool(WinHelper::GetReadOnly(WindowOf(reference))));
}

HRESULT CVirtualCommonTextBoxBaseTranslator::SetReadOnly(VirtualControlReference* reference,
                                                         VARIANT_BOOL value) {
    if (reference == nullptr) return E_INVALIDARG;
    WinHelper::SetReadOnly(WindowOf(reference), value);
    return S_OK;
}

HRESULT CVirtualCommonTextBoxBaseTranslator::GetTextLength(VirtualControlReference* reference,
                                                           LONG* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, WinHelper::GetTextLength(WindowOf(reference)));
}

HRESULT CVirtualCommonTextBoxBaseTranslator::AppendText(VirtualControlReference* reference,
                                                        BSTR text) {
    if (reference == nullptr) return E_INVALIDARG;
    WinHelper::AppendText(WindowOf(reference), text);
    return S_OK;
}

HRESULT CVirtualCommonTextBoxBaseTranslator::Clear(VirtualControlReference* reference) {
    if (reference == nullptr) return E_INVALIDARG;
    WinHelper::Clear(WindowOf(reference));
    return S_OK;
}

CVirtualCommonTextBoxTranslator::CVirtualCommonTextBoxTranslator() {
    IVirtualTextBox* textBox = this;
    AddInterfaceEntry(&__uuidof(IVirtualTextBox), textBox);
    AddInterfaceEntry(&IID_IDispatch, textBox);
}

HRESULT CVirtualCommonTextBoxTranslator::GetIsPassword(VirtualControlReference* reference,
                                                       VARIANT_BOOL* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, AsVariantBool(WinHelper::GetIsPassword(WindowOf(reference))));
}

HRESULT CVirtualCommonTextBoxTranslator::SetIsPassword(VirtualControlReference* reference,
                                                       VARIANT_BOOL value) {
    if (reference == nullptr) return E_INVALIDARG;
    WinHelper::SetIsPassword(WindowOf(reference), value);
    return S_OK;
}

// The whole 16-bit character, as the window helper answers it.
HRESULT CVirtualCommonTextBoxTranslator::GetPasswordChar(VirtualControlReference* reference,
                                                         USHORT* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, WinHelper::GetPasswordChar(WindowOf(reference)));
}

HRESULT CVirtualCommonTextBoxTranslator::SetPasswordChar(VirtualControlReference* reference,
                                                         USHORT value) {
    if (reference == nullptr) return E_INVALIDARG;
    WinHelper::SetPasswordChar(WindowOf(reference), static_cast<wchar_t>(value));
    return S_OK;
}

}  // namespace tarnwick
