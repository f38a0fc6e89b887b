#pragma once
// The application the host drives: a running process named by its id, or one the host
// starts; and its GUI thread, the thread of its main window.

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/uniquehandle.h"

namespace tarnwick::host {

class CApplication {
  public:
    // Opens a running process; false when there is none of that id.
    bool Open(DWORD processId);
    // Starts the executable with the arguments; the system's message when it cannot.
    std::optional<std::wstring> Start(const std::wstring& executable,
                                      const std::vector<std::wstring>& arguments);
    // Waits up to timeoutMs for the process to show a visible top-level window and answers
    // the thread of its main window (CWindowFinder::MainThread); 0 when none came or the
    // process ended first.
    DWORD WaitForGuiThread(DWORD timeoutMs) const;

    enum class WaitOutcome { Met, TimedOut, Ended };
    // Asks `condition` again and again (every 50 ms, and at once when the process ends) until
    // it answers true, timeoutMs have passed or the process has ended.
    WaitOutcome WaitUntil(DWORD timeoutMs, const std::function<bool()>& condition) const;

    // True when a visible top-level window of the process answers a message within timeoutMs.
    bool Answers(DWORD timeoutMs) const;
    // The text of the first window with that control id under a visible top-level window of
    // the process; none when there is no such window.
    std::optional<std::wstring> ChildText(int id) const;
    // Asks each visible top-level window of the process to close; false when it has none.
    bool Close() const;

    DWORD ProcessId() const noexcept { return processId_; }
    bool Ended() const;
    // The exit code once the process ended within timeoutMs.
    std::optional<DWORD> WaitForExit(DWORD timeoutMs) const;

  private:
    UniqueHandle process_;
    DWORD processId_ = 0;
};

}  // namespace tarnwick::host
