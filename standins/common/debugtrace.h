#pragma once
// Diagnostics of the stand-ins: one line to the debugger output per event.

namespace vask {

// Formats like swprintf (wide strings with %ls, which means the same on every compiler) and writes
// "[component] text" to OutputDebugStringW. Texts longer than 511 characters are cut.
void DebugTrace(const wchar_t* component, const wchar_t* format, ...) noexcept;

}  // namespace vask
