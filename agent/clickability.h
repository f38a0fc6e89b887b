#pragma once
// Whether a user could click a window now: input reaches only a visible, enabled window whose
// ancestors are all visible and enabled (a window that owns an open modal window is disabled).
// The hooking host makes no click that a user could not make, and the agent chooses no menu
// command of a window that takes no input.

#include <windows.h>

#include <string>

namespace vask {

// Empty when a user could click the window; else why not: "it is disabled", "it is hidden",
// "its window "Main" is disabled while "Enter a name" is open".
std::wstring WhyUnclickable(HWND window);

}  // namespace vask
