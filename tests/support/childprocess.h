#pragma once
// Starts this test executable again as a helper process in a child mode, and waits for it.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace tarnwick::test {

class CChildProcess {
public:
    CChildProcess() = default;
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;
    // A child still running when its owner goes is terminated, so a failed test leaves none.
    ~CChildProcess();

    // Starts "<this exe> --child MODE ARGS..."; false (and a GoogleTest failure) if it cannot.
    bool Start(const std::wstring& mode, const std::vector<std::wstring>& args = {});

    // Waits for the child; its exit code, or nothing on timeout.
    std::optional<DWORD> Wait(DWORD timeoutMs = 60000);

    DWORD ProcessId() const { return processId_; }
    HANDLE Handle() const { return process_; }

private:
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
};

// The top-level window of `windowClass` titled `title` once `process` shows it, or null when the
// process ended or `timeoutMs` passed first. WaitForInputIdle alone may answer before a
// starting application has made its window.
HWND WaitForWindow(HANDLE process, const wchar_t* windowClass, const wchar_t* title,
                   DWORD timeoutMs);

}  // namespace tarnwick::test
