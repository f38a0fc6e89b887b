// The text box translators: each operation has the effect of the window helper of its name.
#include "translators/cvirtualcommontextboxtranslator.h"

#include "winhelper.h"

namespace tarnwick {
namespace {

template <typename T, typename V>
HRESULT Answer(T* out, V value) {
    if (out == nullptr) return E_POINTER;
    *out = static_cast<T>(value);
    return S_OK;
}

VARIANT_BOOL Bool(int value) { return value != 0 ? VARIANT_TRUE : VARIANT_FALSE; }

}  // namespace

CVirtualCommonTextBoxBaseTranslator::CVirtualCommonTextBoxBaseTranslator() {
    IVirtualTextBoxBase* textBox = this;
    AddInterfaceEntry(&__uuidof(IVirtualTextBoxBase), textBox);
    AddInterfaceEntry(&IID_IDispatch, textBox);
}

HRESULT CVirtualCommonTextBoxBaseTranslator::GetMaxTextLength(VirtualControlReference* reference,
                                                              LONG* value) {
    return Answer(value, WinHelper::GetMaxTextLength(WindowOf(reference)));
}

HRESULT CVirtualCommonTextBoxBaseTranslator::SetMaxTextLength(VirtualControlReference* reference,
                                                              LONG value) {
    WinHelper::SetMaxTextLength(WindowOf(reference), value);
    return S_OK;
}

HRESULT CVirtualCommonTextBoxBaseTranslator::GetReadOnly(VirtualControlReference* reference,
                                                         VARIANT_BOOL* value) {
    return Answer(value, Bool(WinHelper::GetReadOnly(WindowOf(reference))));
}

HRESULT CVirtualCommonTextBoxBaseTranslator::SetReadOnly(VirtualControlReference* reference,
                                                         VARIANT_BOOL value) {
    WinHelper::SetReadOnly(WindowOf(reference), value);
    return S_OK;
}

HRESULT CVirtualCommonTextBoxBaseTranslator::GetTextLength(VirtualControlReference* reference,
                                                           LONG* value) {
    return Answer(value, WinHelper::GetTextLength(WindowOf(reference)));
}

HRESULT CVirtualCommonTextBoxBaseTranslator::AppendText(VirtualControlReference* reference,
                                                        BSTR text) {
    WinHelper::AppendText(WindowOf(reference), text);
    return S_OK;
}

HRESULT CVirtualCommonTextBoxBaseTranslator::Clear(VirtualControlReference* reference) {
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
    return Answer(value, Bool(WinHelper::GetIsPassword(WindowOf(reference))));
}

HRESULT CVirtualCommonTextBoxTranslator::SetIsPassword(VirtualControlReference* reference,
                                                       VARIANT_BOOL value) {
    WinHelper::SetIsPassword(WindowOf(reference), value);
    return S_OK;
}

// The whole 16-bit character, as the window helper answers it.
HRESULT CVirtualCommonTextBoxTranslator::GetPasswordChar(VirtualControlReference* reference,
                                                         USHORT* value) {
    return Answer(value, WinHelper::GetPasswordChar(WindowOf(reference)));
}

HRESULT CVirtualCommonTextBoxTranslator::SetPasswordChar(VirtualControlReference* reference,
                                                         USHORT value) {
    WinHelper::SetPasswordChar(WindowOf(reference), static_cast<wchar_t>(value));
    return S_OK;
}

}  // namespace tarnwick
