#pragma once
// What the hooking host offers its agent inside the DLL.

namespace vask {

// Called on the attached thread before a top-level window that holds hooked controls is
// destroyed, and when the thread takes WM_QUIT from its queue: the agent detaches then, before
// the application's windows and modules go. Null calls nothing.
void SetQuitHandler(void (*handler)());

}  // namespace vask
