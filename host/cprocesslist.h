#pragma once
// The processes that run now, by executable name, as a snapshot of the system's process list.

#include <windows.h>

#include <optional>
#include <string>

namespace tarnwick::host {

class CProcessList {
  public:
    // The newest running process of that executable (its file name, in any letter case, with
    // or without ".exe"); none when no such process runs.
    static std::optional<DWORD> Newest(const std::wstring& executable);
    // The executable file name of a running process; empty when there is no such process.
    static std::wstring ExecutableOf(DWORD processId);
};

}  // namespace tarnwick::host
