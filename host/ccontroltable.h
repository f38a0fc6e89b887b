#pragma once
// The application's controls as the agent's "ListControls" answered them, and the names the
// commands give them: "Class[n]" (the nth control of that class, from 0, the name the host
// prints), "#ID" (control id), "0xHANDLE" (window) or the control's text.

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
    std::wstring typeName;  // the kind, from the interface type name ("Button", "TextBox")
    std::wstring text;
    std::uint64_t translator = 0;
    std::uint64_t owner = 0;
    std::wstring name;
};

class CControlTable {
  public:
    // Reads the answers of "ListControls", page after page; nothing when one is not an array
    // of whole controls.
    static std::optional<CControlTable> FromPages(std::span<const CVariantHolder> pages);
    static std::optional<CControlTable> FromList(const VARIANT& list);

    bool Empty() const noexcept { return controls_.empty(); }
    const std::vector<Control>& Controls() const noexcept { return controls_; }
    // The control a command names; null when none matches. A text matches with or without
    // its '&' mnemonic markers.
    const Control* Find(const Token& name) const;
    const Control* FindWindow(std::uint64_t window) const;

  private:
    std::vector<Control> controls_;
};

}  // namespace tarnwick::host
