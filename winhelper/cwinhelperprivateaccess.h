#pragma once
// The library's own way to WinHelper's private members: the common click form and the mouse
// helpers that the exported class keeps private; and the test that the list-view item
// functions share.

#include "winhelper.h"

namespace tarnwick {

// Whether the index names an item of the list view. The item functions refuse any other:
// to the control, -1 means every item.
inline bool IsListViewItem(HWND list, int index) {
    return index >= 0 && index < WinHelper::GetListViewCount(list);
}

class CWinHelperPrivateAccess {
  public:
    static int WindowTop(HWND window) { return WinHelper::WindowTop(window); }
    static int WindowLeft(HWND window) { return WinHelper::WindowLeft(window); }
    static int WindowBottom(HWND window) { return WinHelper::WindowBottom(window); }
    static int WindowRight(HWND window) { return WinHelper::WindowRight(window); }
    static int IsWindowChild(HWND window) { return WinHelper::IsWindowChild(window); }
    static void PerformClick(HWND window, int x, int y, int button, int clickCount,
                             int skipKeyText, wchar_t* keyText) {
        WinHelper::PerformClick(window, x, y, button, clickCount, skipKeyText, keyText);
    }
    static void GetMouseMessages(int button, UINT* down, UINT* up, UINT* doubleClick) {
        WinHelper::GetMouseMessages(button, down, up, doubleClick);
    }
    static void SendMouseActivate(HWND window, UINT mouseMessage) {
        WinHelper::SendMouseActivate(window, mouseMessage);
    }
    static void SendParentNotify(HWND window, int x, int y, UINT mouseMessage) {
        WinHelper::SendParentNotify(window, x, y, mouseMessage);
    }
    static void GetTreeNodeRect(HWND tree, HTREEITEM item, RECT* out) {
        WinHelper::GetTreeNodeRect(tree, item, out);
    }
    static void GetListViewItemRect(HWND list, int index, RECT* out) {
        WinHelper::GetListViewItemRect(list, index, out);
    }
};

}  // namespace tarnwick
