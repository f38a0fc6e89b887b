#pragma once
// The sample application's modal dialog: an edit, OK and Cancel, built from an in-memory
// template, so that the application needs no resource file.

#include <windows.h>

#include <optional>
#include <string>

namespace tarnwick::sampleapp {

class CNameDialog {
  public:
    // Shows the dialog over `owner` until it closes; the typed text on OK, nothing on Cancel.
    static std::optional<std::wstring> Ask(HWND owner);

  private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
};

}  // namespace tarnwick::sampleapp
