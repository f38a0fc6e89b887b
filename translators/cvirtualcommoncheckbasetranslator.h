#pragma once
// Check boxes and radio buttons: their check state through IVirtualCheckControl, changed only
// by click requests, and the events of a state-setting message.

#include "translators/cvirtualcommonbasecontroltranslator.h"

namespace tarnwick {

class CVirtualCommonCheckBaseTranslator
    : public CVirtualCommonBaseControlTranslator,
      public CIDispatchBase<IVirtualCheckControl, STANDARD_VIRTUAL_INTERFACES_LIBRARY> {
  public:
    CVirtualCommonCheckBaseTranslator();

    // BM_SETCHECK raises "CheckedChanged" and "CheckStateChanged"; a cancel of either drops it.
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                          bool* handled) override;

    // IVirtualCheckControl, in interface order.
    HRESULT STDMETHODCALLTYPE GetAutoChecked(VirtualControlReference* reference,
                                             VARIANT_BOOL* value) override;
    HRESULT STDMETHODCALLTYPE GetChecked(VirtualControlReference* reference,
                                         VARIANT_BOOL* value) override;
    HRESULT STDMETHODCALLTYPE SetChecked(VirtualControlReference* reference,
                                         VARIANT_BOOL value) override;
    HRESULT STDMETHODCALLTYPE GetCheckState(VirtualControlReference* reference,
                                            LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetCheckState(VirtualControlReference* reference,
                                            LONG value) override;
    HRESULT STDMETHODCALLTYPE GetThreeState(VirtualControlReference* reference,
                                            VARIANT_BOOL* value) override;
    HRESULT STDMETHODCALLTYPE RefreshCheckState(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE RefreshCheckGlyph(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE ShowFocusCue(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE HideFocusCue(VirtualControlReference* reference) override;

  private:
    // Clicks the box `count` times, one request after another.
    static void Click(HWND window, int count);
};

// The two kinds differ only in the type names the factory reports for them.
class CVirtualCommonCheckBoxTranslator : public CVirtualCommonCheckBaseTranslator {};
class CVirtualCommonRadioButtonTranslator : public CVirtualCommonCheckBaseTranslator {};

}  // namespace tarnwick
