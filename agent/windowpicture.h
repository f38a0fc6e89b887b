#pragma once
// A picture of a window as a PNG file, for showing what an application looked like.

#include <windows.h>

namespace vask {

// Renders a window (a top-level window or a control) with all its visible descendants into a
// bitmap of the window's size and writes it as an 8-bit RGB PNG file at path (created or
// replaced). Each window paints itself through WM_ERASEBKGND and WM_PRINTCLIENT into a bitmap
// of its own client size, so the result does not depend on what covers the window or whether
// it is on screen; frames, captions and a top-level window's menu bar are drawn from the
// window's styles and menu. Same window state, same bytes. Call it in the
// window's process. False (and a debug trace) when the window is not one, is empty or larger
// than 8192 pixels on a side, or the file cannot be written; a partial file is removed.
bool SaveWindowPicture(HWND window, const wchar_t* path);

}  // namespace vask
