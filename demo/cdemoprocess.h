#pragma once
// A process that the demo driver starts and waits for. It writes to the driver's own
// standard output and error, and is stopped if it is still running when its owner goes.

#include <windows.h>

#include <optional>
#include <string>

#include "common/uniquehandle.h"

namespace tarnwick::demo {

class CDemoProcess {
  public:
    CDemoProcess() = default;
    CDemoProcess(const CDemoProcess&) = delete;
    CDemoProcess& operator=(const CDemoProcess&) = delete;
    ~CDemoProcess() { Stop(); }

    // Starts the executable beside this one with the arguments (a command line's tail);
    // answers ERROR_SUCCESS or why it could not.
    DWORD Start(const wchar_t* executable, const std::wstring& arguments);
    // The exit code once the process ended, waiting until the tick count deadline; nothing
    // when it was not started or is still running then.
    std::optional<DWORD> Wait(DWORD deadline) const;
    // Ends the process if it still runs; true when it had to be stopped.
    bool Stop();

  private:
    UniqueHandle process_;
};

}  // namespace tarnwick::demo
