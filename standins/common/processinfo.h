#pragma once
// Facts about processes and modules that the stand-ins need: whether a process that once
// held something still runs, and which folder a module lies in.

#include <windows.h>

#include <cstdint>
#include <string>

namespace vask {

// The creation time of a process (FILETIME as 64 bits); 0 when it cannot be read.
std::uint64_t ProcessStartTime(HANDLE process) noexcept;

// False only when the process is known to be gone: no process has that id, it has exited,
// or (when startTime is not 0) the id now belongs to a process started at another time.
// A process that cannot be inspected counts as running.
bool IsProcessRunning(DWORD processId, std::uint64_t startTime = 0) noexcept;

// The module that contains the given code or data address; null when there is none.
HMODULE ModuleOfAddress(const void* address) noexcept;

// The folder of a module's file (null: the process's executable), without a trailing
// backslash; empty when it cannot be read.
std::wstring ModuleFolder(HMODULE module);

}  // namespace vask
