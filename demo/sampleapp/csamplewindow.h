#pragma once
// The sample application's one window: a fixed layout of standard controls, a clicks label and
// a status line that tells the last notification the window got (formats in sampleapp.h).

#include <windows.h>
#include <commctrl.h>

#include <string>

namespace tarnwick::sampleapp {

class CSampleWindow {
  public:
    CSampleWindow() = default;
    CSampleWindow(const CSampleWindow&) = delete;
    CSampleWindow& operator=(const CSampleWindow&) = delete;

    // Registers the class, creates and shows the window; null when it cannot. The window
    // closes like any other (WM_CLOSE) and posts the quit message when it is destroyed.
    HWND Create(HINSTANCE instance, const std::wstring& title);

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    void CreateControls();
    void FillItems();
    void FillTree();
    void FillListView();

    void OnCommand(int id, int code, HWND control);
    void OnMenuCommand(int id);
    void OnInitMenuPopup(HMENU menu);
    void AskName();
    void OnButtonClicked(int id, HWND control);
    void OnAlertSelection(HWND combo);
    LRESULT OnNotify(const NMHDR& header);
    void OnListItemChanged(const NMLISTVIEW& change);
    std::wstring TreeItemText(HTREEITEM item) const;

    HWND Child(int id) const { return GetDlgItem(window_, id); }
    void SetStatus(const std::wstring& text);

    HWND window_ = nullptr;
    int clicks_ = 0;
    bool clicksShown_ = true;
    std::wstring name_;   // typed last in the name dialog
    bool ready_ = false;  // filling the controls raises notifications that are not reported
};

}  // namespace tarnwick::sampleapp
