#pragma once
// The application's controls as the agent's "ListControls" answered them, grouped by their
// top-level window (windows without an owner first), and the names the commands give them:
// "Class[n]" (the nth control of that class, from 0, the name the host prints), "#ID"
// (control id), "0xHANDLE" (window) or the control's text. A table made for one top-level
// window (the scope) holds only the controls inside it, counted there.

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ccommandline.h"
#include "common/cvariantholder.h"

namespace tarnwick::host {

struct Control {
    std::uint64_t window = 0;
    std::uint64_t parent = 0;
    LONG id = 0;
    std::wstring className;
    // The kind, from the interface type name ("Button", "TextBox"); "GroupBox" for a group box,
    // which the push buttons' translator serves.
    std::wstring typeName;
    std::wstring text;
    std::uint64_t translator = 0;
    std::uint64_t owner = 0;
    std::wstring name;
    std::uint64_t top = 0;  // its top-level window
    bool hidden = false;
};

class CControlTable {
  public:
    // Reads the answers of "ListControls", page after page, keeping the controls inside
    // `scope` when it is not null; nothing when a page is not an array of whole controls.
    static std::optional<CControlTable> FromPages(std::span<const CVariantHolder> pages,
                                                  HWND scope = nullptr);

    bool Empty() const noexcept { return controls_.empty(); }
    const std::vector<Control>& Controls() const noexcept { return controls_; }
    // The control a command names; null when none matches. A text matches in any letter case,
    // with or without its '&' mnemonic markers.
    const Control* Find(const Token& name) const;
    const Control* FindWindow(std::uint64_t window) const;

  private:
    std::vector<Control> controls_;
};

}  // namespace tarnwick::host
