#pragma once
// Edit controls: text limit, read-only state, length, append and clear through
// IVirtualTextBoxBase. Edits raise the common events only.

#include "translators/cvirtualcommonbasecontroltranslator.h"

namespace tarnwick {

class CVirtualCommonTextBoxBaseTranslator
    : public CVirtualCommonBaseControlTranslator,
      public CIDispatchBase<IVirtualTextBoxBase, STANDARD_VIRTUAL_INTERFACES_LIBRARY> {
  public:
    CVirtualCommonTextBoxBaseTranslator();

    // IVirtualTextBoxBase, in interface order.
    HRESULT STDMETHODCALLTYPE GetMaxTextLength(VirtualControlReference* reference,
                                               LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetMaxTextLength(VirtualControlReference* reference,
                                               LONG value) override;
    HRESULT STDMETHODCALLTYPE GetReadOnly(VirtualControlReference* reference,
                                          VARIANT_BOOL* value) override;
    HRESULT STDMETHODCALLTYPE SetReadOnly(VirtualControlReference* reference,
                                          VARIANT_BOOL value) override;
    HRESULT STDMETHODCALLTYPE GetTextLength(VirtualControlReference* reference,
                                            LONG* value) override;
    HRESULT STDMETHODCALLTYPE AppendText(VirtualControlReference* reference, BSTR text) override;
    HRESULT STDMETHODCALLTYPE Clear(VirtualControlReference* reference) override;
};

}  // namespace tarnwick
