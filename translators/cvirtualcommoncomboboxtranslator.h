#pragma once
// Combo boxes: their item texts, selection and count through IVirtualListControl and
// IVirtualComboBox, and the event of a changed selection.

#include "translators/cvirtualcommonbasecontroltranslator.h"

namespace tarnwick {

class CVirtualCommonComboBoxTranslator
    : public CVirtualCommonBaseControlTranslator,
      public CIDispatchBase<IVirtualListControl, STANDARD_VIRTUAL_INTERFACES_LIBRARY>,
      public CIDispatchBase<IVirtualComboBox, STANDARD_VIRTUAL_INTERFACES_LIBRARY> {
  public:
    CVirtualCommonComboBoxTranslator();

    // The combo box's CBN_SELCHANGE, reflected from its parent, raises "SelectedIndexChanged";
    // a cancel keeps the notification from the parent.
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                          bool* handled) override;

    // IVirtualListControl, in interface order.
    HRESULT STDMETHODCALLTYPE GetComboItems(VirtualControlReference* reference,
                                            SAFEARRAY** value) override;
    HRESULT STDMETHODCALLTYPE GetSelectedComboIndex(VirtualControlReference* reference,
                                                    LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetSelectedComboIndex(VirtualControlReference* reference,
                                                    LONG index) override;
    HRESULT STDMETHODCALLTYPE RefreshComboItems(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE
    EnsureSelectedComboItemVisible(VirtualControlReference* reference) override;

    // IVirtualComboBox.
    HRESULT STDMETHODCALLTYPE GetComboItemCount(VirtualControlReference* reference,
                                                LONG* value) override;
};

}  // namespace tarnwick
