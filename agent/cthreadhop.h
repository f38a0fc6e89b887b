#pragma once
// Work that must run on the thread owning a window (a control's state, its focus, its items)
// carried there as one posted message, with the caller waiting for it up to a bound. A modal
// loop on that thread (a message box, a dialog, a menu) dispatches posted messages too, so work
// still runs while one is open. Work that outlives the bound finishes on its own and frees
// what it made: the caller has moved on.

#include <windows.h>

#include <functional>
#include <optional>

#include "agent/ccontrolcall.h"

namespace vask {

class CThreadHop {
  public:
    using Work = std::function<ControlCallOutcome()>;

    // The message that carries the work; the window's procedure hands it to Perform.
    static constexpr UINT kMessage = WM_APP + 0x44;

    // Runs `work` on the thread of `window` and answers its outcome, or nothing when it did
    // not finish within `boundMs` or could not be posted (`posted` tells which). `rounds` posts
    // the work again that many times before it runs, letting through what was posted meanwhile
    // (input that a request posted when it was handled). On the window's own thread the work
    // runs at once.
    static std::optional<ControlCallOutcome> Run(HWND window, DWORD boundMs, Work work,
                                                 int rounds, bool& posted);

    // Performs the work that a kMessage names; returns 0.
    static LRESULT Perform(HWND window, LPARAM item);
};

}  // namespace vask
