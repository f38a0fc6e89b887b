#pragma once
// Tree views: node state, text, children, selection, expansion and node clicks through
// IVirtualTreeView, and the events of node clicks and of nodes inserted or deleted.
//
// Nodes are named by VirtualTreeNodeReference records that carry the whole item handle.

#include <windows.h>
#include <commctrl.h>

#include <initializer_list>

#include "translators/cvirtualcommonbasecontroltranslator.h"

namespace tarnwick {

class CVirtualCommonTreeViewTranslator
    : public CVirtualCommonBaseControlTranslator,
      public CIDispatchBase<IVirtualTreeView, STANDARD_VIRTUAL_INTERFACES_LIBRARY> {
  public:
    CVirtualCommonTreeViewTranslator();

    // The hooking host's report of an inserted or deleted node (message 0x8006) raises
    // "NodeChildAdded" or "NodeChildRemoved" (the node, its parent); the answers are not used.
    // Node events that nobody subscribed cost the tree no message and make no record.
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                          bool* handled) override;
    // A release over a node raises "NodeClicked" or "NodeDoubleClicked" (the node), whatever
    // the button, before the common click events.
    bool HandleMouseUp(HWND window, UINT message, int button, int clicks, int x, int y,
                       bool* handled) override;
    // A slot of the tree view's table after HandleMouseUp; it does nothing.
    virtual LRESULT ReservedOperation();

    // The node clicks of IVirtualControl stay beside the node clicks of IVirtualTreeView.
    using CVirtualCommonBaseControlTranslator::PerformClick;
    using CVirtualCommonBaseControlTranslator::PerformDoubleClick;
    using CVirtualCommonBaseControlTranslator::PerformRightClick;

    // IVirtualTreeView, in interface order.
    HRESULT STDMETHODCALLTYPE IsNodeExpanded(VirtualControlReference* reference,
                                             VirtualTreeNodeReference* node,
                                             VARIANT_BOOL* value) override;
    HRESULT STDMETHODCALLTYPE IsNodeSelected(VirtualControlReference* reference,
                                             VirtualTreeNodeReference* node,
                                             VARIANT_BOOL* value) override;
    HRESULT STDMETHODCALLTYPE GetSelectedNode(VirtualControlReference* reference,
                                              __int64* value) override;
    HRESULT STDMETHODCALLTYPE GetNodeText(VirtualControlReference* reference,
                                          VirtualTreeNodeReference* node, BSTR* value) override;
    HRESULT STDMETHODCALLTYPE Collapse(VirtualControlReference* reference,
                                       VirtualTreeNodeReference* node) override;
    HRESULT STDMETHODCALLTYPE EnsureVisible(VirtualControlReference* reference,
                                            VirtualTreeNodeReference* node) override;
    HRESULT STDMETHODCALLTYPE Expand(VirtualControlReference* reference,
                                     VirtualTreeNodeReference* node) override;
    HRESULT STDMETHODCALLTYPE PerformClick(VirtualControlReference* reference,
                                           VirtualTreeNodeReference* node) override;
    HRESULT STDMETHODCALLTYPE PerformDoubleClick(VirtualControlReference* reference,
                                                 VirtualTreeNodeReference* node) override;
    HRESULT STDMETHODCALLTYPE PerformRightClick(VirtualControlReference* reference,
                                                VirtualTreeNodeReference* node) override;
    HRESULT STDMETHODCALLTYPE ShowContextMenu(VirtualControlReference* reference,
                                              VirtualTreeNodeReference* node) override;
    HRESULT STDMETHODCALLTYPE Select(VirtualControlReference* reference,
                                     VirtualTreeNodeReference* node) override;
    HRESULT STDMETHODCALLTYPE GetChildren(VirtualControlReference* reference,
                                          VirtualTreeNodeReference* node,
                                          SAFEARRAY** value) override;
    HRESULT STDMETHODCALLTYPE ExpandAll(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE CollapseAll(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE SortNodes(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE RefreshNodes(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE BeginNodeUpdate(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE EndNodeUpdate(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE ScrollToFirstNode(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE ScrollToLastNode(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE ShowNodeLines(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE HideNodeLines(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE ShowNodeButtons(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE HideNodeButtons(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE ShowRootLines(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE HideRootLines(VirtualControlReference* reference) override;
    HRESULT STDMETHODCALLTYPE CancelNodeEdit(VirtualControlReference* reference) override;

  private:
    // Raises a node event with one VirtualTreeNodeReference argument per item; nothing is
    // raised when the records cannot be made.
    void RaiseNodeEvent(HWND window, const wchar_t* name, std::initializer_list<HTREEITEM> items);
    // Raises a node change (the node, its parent); the tree is asked for the parent only when
    // the event has a subscriber.
    void RaiseNodeChange(HWND window, const wchar_t* name, HTREEITEM node);
};

}  // namespace tarnwick
