#pragma once
// List views: view mode, items, columns, item texts, selection and item clicks through
// IVirtualListView, and the events of item clicks, item activation and content changes.

#include "translators/cvirtualcommonbasecontroltranslator.h"

namespace tarnwick {

class CVirtualCommonListViewTranslator
    : public CVirtualCommonBaseControlTranslator,
      public CIDispatchBase<IVirtualListView, STANDARD_VIRTUAL_INTERFACES_LIBRARY> {
  public:
    CVirtualCommonListViewTranslator();

    // Item activation and the messages that change items or columns raise their events; the
    // answers are not used, the list's own messages are never cancelled.
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                          bool* handled) override;
    // A release over an item raises "ItemClicked" or "ItemDoubleClicked" (the item's index)
    // before the common click events.
    bool HandleMouseUp(HWND window, UINT message, int button, int clicks, int x, int y,
                       bool* handled) override;

    // IVirtualListView, in interface order.
    HRESULT STDMETHODCALLTYPE IsMultiSelect(VirtualControlReference* reference,
                                            VARIANT_BOOL* value) override;
    HRESULT STDMETHODCALLTYPE GetView(VirtualControlReference* reference, LONG* value) override;
    HRESULT STDMETHODCALLTYPE SetView(VirtualControlReference* reference, LONG value) override;
    HRESULT STDMETHODCALLTYPE GetListViewCount(VirtualControlReference* reference,
                                               LONG* value) override;
    HRESULT STDMETHODCALLTYPE GetColumns(VirtualControlReference* reference,
                                         SAFEARRAY** value) override;
    HRESULT STDMETHODCALLTYPE ActivateSelectedItems(VirtualControlReference* reference,
                                                    VARIANT_BOOL* value) override;
    HRESULT STDMETHODCALLTYPE GetListViewItemText(VirtualControlReference* reference, LONG index,
                                                  BSTR* value) override;
    HRESULT STDMETHODCALLTYPE GetListViewSubItemText(VirtualControlReference* reference, LONG index,
                                                     SAFEARRAY** value) override;
    HRESULT STDMETHODCALLTYPE IsListViewItemSelected(VirtualControlReference* reference, LONG index,
                                                     VARIANT_BOOL* value) override;
    HRESULT STDMETHODCALLTYPE EnsureListViewItemVisible(VirtualControlReference* reference,
                                                        LONG index) override;
    HRESULT STDMETHODCALLTYPE ClickListViewItem(VirtualControlReference* reference,
                                                LONG index) override;
    HRESULT STDMETHODCALLTYPE RefreshListViewItems(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE DoubleClickListViewItem(VirtualControlReference* reference,
                                                      LONG index) override;
    HRESULT STDMETHODCALLTYPE RightClickListViewItem(VirtualControlReference* reference,
                                                     LONG index) override;
    HRESULT STDMETHODCALLTYPE ShowListViewItemContextMenu(VirtualControlReference* reference,
                                                          LONG index) override;
    HRESULT STDMETHODCALLTYPE SetListViewItemSelected(VirtualControlReference* reference,
                                                      LONG index, VARIANT_BOOL value) override;
    HRESULT STDMETHODCALLTYPE BeginListViewUpdate(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE EndListViewUpdate(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE ArrangeListViewItems(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE SortListViewItems(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE AutoSizeListViewColumns(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE ScrollListViewToTop(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE ScrollListViewToBottom(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE CancelListViewLabelEdit(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE ShowListViewGridLines(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE HideListViewGridLines(VirtualControlReference* reference) override;
};

}  // namespace tarnwick
