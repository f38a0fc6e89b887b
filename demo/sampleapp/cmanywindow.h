#pragma once
// The sample application's second top-level window, opened on request: many controls at once
// (two large combo boxes and rows of push buttons), for drivers that list or read in bulk.

#include <windows.h>

namespace tarnwick::sampleapp {

class CManyWindow {
  public:
    // Opens the window (or brings the open one forward) over `owner`; null when it cannot.
    static HWND Open(HWND owner);

  private:
    static void CreateControls(HWND window);
};

}  // namespace tarnwick::sampleapp
