#pragma once
// Edit controls, password edits included: IVirtualTextBoxBase and password masking through
// IVirtualTextBox.

#include "translators/cvirtualcommontextboxbasetranslator.h"

namespace tarnwick {

class CVirtualCommonTextBoxTranslator
    : public CVirtualCommonTextBoxBaseTranslator,
      public CIDispatchBase<IVirtualTextBox, STANDARD_VIRTUAL_INTERFACES_LIBRARY> {
  public:
    CVirtualCommonTextBoxTranslator();

    // IVirtualTextBox, in interface order.
    HRESULT STDMETHODCALLTYPE GetIsPassword(VirtualControlReference* reference,
                                            VARIANT_BOOL* value) override;
    HRESULT STDMETHODCALLTYPE SetIsPassword(VirtualControlReference* reference,
                                            VARIANT_BOOL value) override;
    HRESULT STDMETHODCALLTYPE GetPasswordChar(VirtualControlReference* reference,
                                              USHORT* value) override;
    HRESULT STDMETHODCALLTYPE SetPasswordChar(VirtualControlReference* reference,
                                              USHORT value) override;
};

}  // namespace tarnwick
