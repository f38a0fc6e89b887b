#pragma once
// A second process of the benchmark: this program started again as "--peer MODE ARGS...",
// with a named event that it sets once it is ready and one that tells it to stop. Each
// wait pumps the calling thread's messages, since a peer may reach this process through a
// window on that thread while it starts.

#include <windows.h>

#include <string>
#include <vector>

#include "standins/common/cscopedhandle.h"

namespace tarnwick::bench {

class CPeerProcess {
  public:
    CPeerProcess() = default;
    CPeerProcess(const CPeerProcess&) = delete;
    CPeerProcess& operator=(const CPeerProcess&) = delete;
    // Stops a peer still running.
    ~CPeerProcess();

    // Starts the peer; the ready and stop event names follow the mode on its command line.
    bool Start(const std::wstring& mode, const std::vector<std::wstring>& args);
    // True once the peer set its ready event within the time-out.
    bool WaitReady(DWORD timeoutMs);
    // Tells the peer to stop and waits for it; a peer that does not end is terminated.
    void Stop();

    // Waits for handle while dispatching the thread's messages; true when it was set.
    static bool PumpUntil(HANDLE handle, DWORD timeoutMs);

  private:
    vask::CScopedHandle ready_;
    vask::CScopedHandle stop_;
    vask::CScopedHandle process_;
};

}  // namespace tarnwick::bench
