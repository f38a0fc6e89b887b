#pragma once
// What the hooking host offers its agent inside the DLL.

#include <windows.h>

#include <string>

namespace vask {

// Called on the attached thread when it takes WM_QUIT from its queue: the agent detaches then,
// before the application's modules go. Null calls nothing.
void SetQuitHandler(void (*handler)());

// Called on the attached thread at WM_NCDESTROY of a classified window, after its translator
// saw it and before its subclass goes. Null calls nothing.
void SetWindowGoneHandler(void (*handler)(HWND window));

// Why the host last refused a click request on the attached thread (a window that a user could
// not click), forgotten as it is taken; empty when it refused none since. Call it on that thread.
std::wstring TakeClickRefusal();

}  // namespace vask
