#pragma once
// Tab controls: their tab texts and selection through IVirtualTabStrip, and the event of a
// changed selection.

#include "translators/cvirtualcommonbasecontroltranslator.h"

namespace tarnwick {

class CVirtualCommonTabStripTranslator
    : public CVirtualCommonBaseControlTranslator,
      public CIDispatchBase<IVirtualTabStrip, STANDARD_VIRTUAL_INTERFACES_LIBRARY> {
  public:
    CVirtualCommonTabStripTranslator();

    // The tab strip's TCN_SELCHANGE, reflected from its parent, raises "SelectedIndexChanged";
    // a cancel keeps the notification from the parent.
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                          bool* handled) override;

    // IVirtualTabStrip, in interface order.
    HRESULT STDMETHODCALLTYPE GetTabs(VirtualControlReference* reference,
                                      SAFEARRAY** value) override;
    HRESULT STDMETHODCALLTYPE GetSelectedTab(VirtualControlReference* reference,
                                             LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetSelectedTab(VirtualControlReference* reference,
                                             LONG index) override;
    HRESULT STDMETHODCALLTYPE RefreshTabs(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE EnsureSelectedTabVisible(VirtualControlReference* reference) override;
};

}  // namespace tarnwick
