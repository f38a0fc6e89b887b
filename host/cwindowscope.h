#pragma once
// The commands on the application's top-level windows, which the host finds itself: windows,
// window, wait-window and wait-closed; and the window they scope control names to.

#include <windows.h>

#include <string>

#include "capplication.h"
#include "ccommandline.h"
#include "coutput.h"
#include "cwindowfinder.h"

namespace tarnwick::host {

class CWindowScope {
  public:
    CWindowScope(COutput& out, const CApplication& app) : out_(out), app_(app) {}

    // Prints the visible top-level windows: title, class, modal or disabled.
    void Windows(const Command& command) const;
    // "window TEXT" scopes names to the first visible window whose title contains TEXT;
    // "window" ends the scope.
    void Window(const Command& command);
    // Waits until such a window is visible, then scopes names to it.
    void WaitWindow(const Command& command);
    // Waits until no such window is left visible; ends the scope if it was one of them.
    void WaitClosed(const Command& command);

    // The window that control names count in; null for every window.
    HWND Scope() const noexcept { return scope_; }
    // What a command on one window (menu) acts on: the scoped window, else the application's
    // main window; throws when there is none.
    TopWindow ScopeOrMain() const;
    // The first visible window whose title contains `text`; throws naming the windows when none.
    TopWindow Titled(const std::wstring& text) const;
    // " (in window "TITLE")" while a scope holds, for messages.
    std::wstring Where() const;
    void End();

    static constexpr DWORD kDefaultWaitSeconds = 10;
    // The seconds a wait without its own takes (kDefaultWaitSeconds unless set).
    DWORD DefaultWaitSeconds() const noexcept { return defaultWaitSeconds_; }
    void SetDefaultWaitSeconds(DWORD seconds) noexcept { defaultWaitSeconds_ = seconds; }

  private:
    // Scopes names to the window and prints "COMMAND "TEXT" -> "TITLE"".
    void ScopeTo(const Command& command, const TopWindow& window);
    // The visible windows of the application whose title contains `text`.
    std::vector<TopWindow> Matching(const std::wstring& text) const;

    COutput& out_;
    const CApplication& app_;
    HWND scope_ = nullptr;
    std::wstring title_;
    DWORD defaultWaitSeconds_ = kDefaultWaitSeconds;
};

}  // namespace tarnwick::host
