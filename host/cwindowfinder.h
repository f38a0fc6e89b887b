#pragma once
// The application's windows as the host sees them: window handles are system-wide, so the
// host enumerates the top-level windows of a process, tells its main window and GUI thread,
// matches titles and walks a window's descendants without asking the agent.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace tarnwick::host {

struct TopWindow {
    HWND window = nullptr;
    DWORD process = 0;
    DWORD thread = 0;
    std::wstring title;
    std::wstring className;
    bool owned = false;     // it has an owner window (a dialog, a message box)
    bool modal = false;     // it is enabled while its owner is disabled
    bool disabled = false;  // it takes no input
};

class CWindowFinder {
  public:
    // The visible top-level windows of a process, topmost first; for 0, of every process but
    // this one.
    static std::vector<TopWindow> Visible(DWORD processId);
    // The first visible top-level window whose title contains `text` (in any letter case).
    static std::optional<TopWindow> ByTitle(DWORD processId, const std::wstring& text);
    // The process's main window: its first visible top-level window that has no owner, else (a
    // dialog whose owner is hidden) its first visible one; none when it shows none.
    static std::optional<TopWindow> MainWindow(DWORD processId);
    // The thread of that window; 0 when there is none.
    static DWORD MainThread(DWORD processId);
    // The window's descendants in window order, depth first.
    static std::vector<HWND> Descendants(HWND window);
    static TopWindow Describe(HWND window);
    static std::wstring Text(HWND window);
    static std::wstring ClassOf(HWND window);
    static bool Contains(const std::wstring& text, const std::wstring& part);
};

}  // namespace tarnwick::host
