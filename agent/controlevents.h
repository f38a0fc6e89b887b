#pragma once
// The events that each kind of control raises, by the interface type name of its translator:
// what the agent's "ListEvents" answers and what a subscription may name.

#include <string>
#include <vector>

namespace vask {

// The kind's short name ("Button", "TreeView") within its interface type name
// ("Tarnwick.Virtual.Interfaces.IVirtualButton, Tarnwick.Virtual.Interfaces").
std::wstring KindName(const std::wstring& interfaceTypeName);

// The kind's own events first, then those of every control; empty for a name of no kind.
std::vector<std::wstring> EventsOf(const std::wstring& interfaceTypeName);

// "Button raises no event "Clickd" (its events: ...)"; empty when the kind raises `event`.
std::wstring UnknownEvent(const std::wstring& interfaceTypeName, const std::wstring& event);

}  // namespace vask
