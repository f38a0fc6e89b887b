#pragma once
// The menu bar of a top-level window as a user works it: its items with their states, and a
// command chosen by the texts of its items from the bar down. The window hears of each level as
// it opens (WM_INITMENU for the bar, WM_INITMENUPOPUP for each submenu), so that it can update
// its items first, and gets the chosen command as a posted WM_COMMAND, as from its menu loop.

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace vask {

struct MenuItem {
    std::wstring path;  // the item texts from the bar down, "/" between them
    std::wstring text;  // the item's own text as a path names it
    int depth = 0;      // 0 for the items of the bar
    bool checked = false;
    bool disabled = false;  // disabled or grayed
    bool submenu = false;
};

// An item's text as a path names it: without its '&' marks ("&&" stands for '&') and without
// what follows a tab (the accelerator).
std::wstring PlainItemText(std::wstring_view text);

// Why the window's menu bar cannot be read: it is no top-level window or has no menu bar.
// Empty when it can.
std::wstring MenuBarRefusal(HWND window);

// The items of the bar and of every submenu, depth first; separators and items without text
// are left out. Each submenu hears WM_INITMENUPOPUP before its items are read.
std::vector<MenuItem> ListMenuBar(HWND window);

// Why a user could not choose from the window's menu now (it is hidden, or disabled while a
// modal window is open); empty when they could.
std::wstring MenuWindowUnusable(HWND window);

// Chooses the command that `path` names ("File/Save As...", texts compared in any letter case
// as PlainItemText gives them) and posts it; empty when posted, else why not, naming the level
// that did not match: no such item, a disabled item, a submenu at the end of the path or a
// command before it. The window is one that MenuBarRefusal and MenuWindowUnusable accept.
std::wstring ChooseMenuItem(HWND window, std::wstring_view path);

}  // namespace vask
