#include "support/childprocess.h"

#include <gtest/gtest.h>

namespace tarnwick::test {
namespace {

std::wstring Quote(const std::wstring& arg) {
    std::wstring quoted = L"\"";
    for (wchar_t c : arg) {
        if (c == L'"') quoted += L'\\';
        quoted += c;
    }
    return quoted + L"\"";
}

std::wstring OwnPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

CChildProcess::~CChildProcess() {
    if (process_ == nullptr) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 0xDEAD);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
}

bool CChildProcess::Start(const std::wstring& mode, const std::vector<std::wstring>& args) {
    const std::wstring exe = OwnPath();
    std::wstring commandLine = Quote(exe) + L" --child " + Quote(mode);
    for (const auto& arg : args) commandLine += L" " + Quote(arg);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        return false;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
    return true;
}

std::optional<DWORD> CChildProcess::Wait(DWORD timeoutMs) {
    if (process_ == nullptr || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
}

HWND WaitForWindow(HANDLE process, const wchar_t* windowClass, const wchar_t* title,
                   DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    WaitForInputIdle(process, timeoutMs);
    for (;;) {
        if (const HWND window = FindWindowW(windowClass, title)) return window;
        // No event tells of a window made in another process: look again every 10 ms, and
        // stop as soon as the process ends.
        if (GetTickCount64() >= deadline || WaitForSingleObject(process, 10) != WAIT_TIMEOUT) {
            return nullptr;
        }
    }
}

}  // namespace tarnwick::test
