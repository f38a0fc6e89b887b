#pragma once
// WinHelper: static functions that read and drive a window or standard control through its
// handle. The class keeps no state and has no instances.
//
// Conventions: boolean results are 0 or 1. Texts come back through wchar_t** as BSTRs that
// the caller frees with SysFreeString, or as null. Collections come back as one-dimensional
// SAFEARRAYs of VARIANTs that the caller destroys, also when the function answers 0 part-way
// (elements not reached stay VT_EMPTY). Item texts come back whole, however long. Item
// functions on tab, tree and list-view controls, and the notifications they send, carry
// pointers: call them in the process that owns the control.
//
// Click and key requests are written into shared-memory blocks made for the process that owns
// the window and handed to the window with the registered messages "WM_TW_PERFORMCLICK"
// (sent, wParam = the ClickRequest block) and "WM_TW_SIMULATE_KEYBOARD_INPUT" (posted,
// wParam = the keys block, lParam = the key text block). The receiver performs the input and
// frees the blocks. "WM_TW_PERFORMDBLCLICK" is registered too but never sent: a double click
// is a ClickRequest with a click count of 2.

#include <windows.h>
#include <commctrl.h>
#include <oaidl.h>

#include <cstdint>

#include "tarnwickapi.h"

namespace tarnwick {

// Which rectangle GetWindowBounds reads, and in which frame.
enum RectangleType : std::int32_t {
    RectangleClient = 0,  // GetClientRect, client coordinates
    RectangleScreen = 1,  // GetWindowRect, screen coordinates
    RectangleParent = 2,  // the window rectangle in the parent's client coordinates for a child
                          // window, in screen coordinates otherwise
};

// The click request that "WM_TW_PERFORMCLICK" carries: 68 bytes, little-endian.
struct ClickRequest {
    std::int32_t x;                // client coordinates of the window
    std::int32_t y;
    std::int32_t button;           // 1 left, 2 right
    std::int32_t clickCount;       // 1 click, 2 double click
    std::int32_t keyTextIncluded;  // 1 when keyText holds the caller's text
    std::int32_t reserved;
    char keyText[44];              // 8-bit text, terminated within its first 43 bytes
};
static_assert(sizeof(ClickRequest) == 68);

// The size of the key text block that "WM_TW_SIMULATE_KEYBOARD_INPUT" carries in lParam.
inline constexpr std::uint32_t kKeyTextBlockSize = 44;

class CWinHelperPrivateAccess;

class TARNWICK_API WinHelper {
  public:
    WinHelper() = delete;

    // Text and class.
    static void GetWindowClassName(HWND window, wchar_t** out);
    static void GetText(HWND window, wchar_t** out);
    static void SetText(HWND window, wchar_t* text);
    static void Clear(HWND window);

    // Position and size, in the parent's client coordinates for a child window and in screen
    // coordinates otherwise. Setters move one edge; SetTop and SetLeft keep the size.
    static int GetTop(HWND window);
    static int GetLeft(HWND window);
    static int GetBottom(HWND window);
    static int GetRight(HWND window);
    static void SetTop(HWND window, int top);
    static void SetLeft(HWND window, int left);
    static void SetBottom(HWND window, int bottom);
    static void SetRight(HWND window, int right);
    static void GetWindowBounds(RectangleType type, HWND window, RECT* out);
    static void SetWindowBounds(HWND window, RECT bounds);

    // Visibility, enabled state and focus.
    static int GetVisible(HWND window);
    static void SetVisible(HWND window, int visible);
    static int GetEnabled(HWND window);
    static void SetEnabled(HWND window, int enabled);
    static int GetFocused(HWND window);
    static void Focus(HWND window);
    // Focuses the outermost ancestor first and the window itself last.
    static void Activate(HWND window);

    // Edit controls.
    static int GetMaxTextLength(HWND edit);
    static void SetMaxTextLength(HWND edit, int limit);
    static int GetReadOnly(HWND edit);
    static void SetReadOnly(HWND edit, int readOnly);
    static int GetTextLength(HWND edit);
    static int GetIsPassword(HWND edit);
    static void SetIsPassword(HWND edit, int isPassword);
    static wchar_t GetPasswordChar(HWND edit);
    static void SetPasswordChar(HWND edit, wchar_t character);
    // Appends at the end past any text limit, marks the edit modified and posts EN_CHANGE to
    // its parent.
    static void AppendText(HWND edit, wchar_t* text);

    // Buttons.
    static int GetAutoChecked(HWND button);
    static int GetThreeState(HWND button);
    static int GetCheckState(HWND button);

    // Combo boxes. The selection setters of combo and list boxes answer 1, or 0 when the
    // control refused the selection; the parent is told of a change only when there was one.
    static int GetComboItemCount(HWND combo);
    static int GetSelectedComboIndex(HWND combo);
    static int SetSelectedComboIndex(HWND combo, int index);
    static int GetComboItems(HWND combo, SAFEARRAY** out);

    // List boxes. A box of several selections (LBS_MULTIPLESEL or LBS_EXTENDEDSEL) answers
    // every selected item, and refuses SetSelectedListIndex.
    static int IsMultiSelectListBox(HWND list);
    static int GetListItemCount(HWND list);
    static int GetSelectedListIndex(HWND list);
    static int SetSelectedListIndex(HWND list, int index);
    static int GetListItems(HWND list, SAFEARRAY** out);
    static int GetSelectedCount(HWND list);
    static int GetSelectedItems(HWND list, SAFEARRAY** out);

    // Tab controls.
    static int GetSelectedTab(HWND tab);
    static void SetSelectedTab(HWND tab, int index);
    static int GetTabs(HWND tab, SAFEARRAY** out);

    // Tree views.
    static int IsNodeSelected(HWND tree, HTREEITEM item);
    static int IsNodeExpanded(HWND tree, HTREEITEM item);
    // 0, with *out untouched, for a node that the tree does not hold (deleted, say).
    static int GetNodeText(HWND tree, HTREEITEM item, wchar_t** out);
    static HTREEITEM GetSelectedNode(HWND tree);
    static void Collapse(HWND tree, HTREEITEM item);
    static void Expand(HWND tree, HTREEITEM item);
    static void EnsureVisible(HWND tree, HTREEITEM item);
    static void Select(HWND tree, HTREEITEM item);
    // The children of parent (null: the top-level items), each a VT_I8 holding the whole
    // item handle.
    static int GetChildren(HWND tree, HTREEITEM parent, SAFEARRAY** out);

    // List views. The functions of an item by index answer 0 for an index that names no
    // item, and read, select or click nothing.
    static int IsMultiSelect(HWND list);
    static DWORD GetView(HWND list);
    static void SetView(HWND list, DWORD view);
    static int GetListViewCount(HWND list);
    static int GetListViewColumnCount(HWND list);
    // Tells the parent that the selected items were activated, naming the first of them.
    static int ActivateSelectedItems(HWND list);
    static int GetColumns(HWND list, SAFEARRAY** out);
    static int GetListViewItemText(HWND list, int index, wchar_t** out);
    // Element 0 is the item's own text, element k the text of column k.
    static int GetListViewSubItemText(HWND list, int index, SAFEARRAY** out);
    static int IsListViewItemSelected(HWND list, int index);
    static void EnsureListViewItemVisible(HWND list, int index);
    static int SetListViewItemSelected(HWND list, int index, int select);

    // Click requests at a point in the window's client coordinates. With skipKeyText 0 the
    // request carries keyText (null counts as empty).
    static void PerformClick(HWND window, int x, int y, int skipKeyText, wchar_t* keyText);
    static void PerformDoubleClick(HWND window, int x, int y, int skipKeyText, wchar_t* keyText);
    static void PerformRightClick(HWND window, int x, int y, int skipKeyText, wchar_t* keyText);

    // Click requests at the centre of a tree item's text or of a list-view item's label, once
    // the item is in view (a tree node's ancestors are expanded). 0, and no click, for a node
    // that still shows no text in the tree's client area or an index that names no item.
    static int PerformClick(HWND tree, HTREEITEM item);
    static int PerformDoubleClick(HWND tree, HTREEITEM item);
    static int PerformRightClick(HWND tree, HTREEITEM item);
    static int ClickListViewItem(HWND list, int index);
    static int DoubleClickListViewItem(HWND list, int index);
    static int RightClickListViewItem(HWND list, int index);

    // WM_CONTEXTMENU at the centre of the item, in screen coordinates, once it is in view; 0
    // as for the clicks.
    static int ShowContextMenu(HWND tree, HTREEITEM item);
    static int ShowListViewItemContextMenu(HWND list, int index);

    // Posts a key request: keys is a BSTR (null sends nothing); keyText null counts as empty.
    static void SendKeys(HWND window, wchar_t* keys, wchar_t* keyText);

  private:
    friend class CWinHelperPrivateAccess;

    static int WindowTop(HWND window);
    static int WindowLeft(HWND window);
    static int WindowBottom(HWND window);
    static int WindowRight(HWND window);
    static int IsWindowChild(HWND window);

    // The common form of the coordinate clicks.
    static void PerformClick(HWND window, int x, int y, int button, int clickCount,
                             int skipKeyText, wchar_t* keyText);

    static void GetMouseMessages(int button, UINT* down, UINT* up, UINT* doubleClick);
    static void SendMouseActivate(HWND window, UINT mouseMessage);
    static void SendParentNotify(HWND window, int x, int y, UINT mouseMessage);
    static void GetTreeNodeRect(HWND tree, HTREEITEM item, RECT* out);
    static void GetListViewItemRect(HWND list, int index, RECT* out);
};

}  // namespace tarnwick
