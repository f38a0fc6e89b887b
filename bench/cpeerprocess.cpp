#include "bench/cpeerprocess.h"

#include <atomic>

namespace tarnwick::bench {

namespace {

constexpr DWORD kStopTimeoutMs = 10000;

std::wstring UniqueEventName(const wchar_t* role) {
    static std::atomic<int> next{1};
    return L"Local\\TarnwickBench." + std::wstring(role) + L"." +
           std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(next++);
}

}  // namespace

CPeerProcess::~CPeerProcess() { Stop(); }

bool CPeerProcess::Start(const std::wstring& mode, const std::vector<std::wstring>& args) {
    const std::wstring readyName = UniqueEventName(L"Ready");
    const std::wstring stopName = UniqueEventName(L"Stop");
    ready_.Reset(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    stop_.Reset(CreateEventW(nullptr, TRUE, FALSE, stopName.c_str()));
    if (!ready_.IsValid() || !stop_.IsValid()) return false;
    wchar_t self[MAX_PATH] = {};
    if (GetModuleFileNameW(nullptr, self, MAX_PATH) == 0) return false;
    std::wstring commandLine =
        L"\"" + std::wstring(self) + L"\" --peer " + mode + L" " + readyName + L" " + stopName;
    for (const std::wstring& arg : args) commandLine += L" " + arg;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    process_.Reset(info.hProcess);
    return true;
}

bool CPeerProcess::WaitReady(DWORD timeoutMs) {
    return process_.IsValid() && PumpUntil(ready_.Get(), timeoutMs);
}

void CPeerProcess::Stop() {
    if (!process_.IsValid()) return;
    SetEvent(stop_.Get());
    if (!PumpUntil(process_.Get(), kStopTimeoutMs)) TerminateProcess(process_.Get(), 1);
    process_.Reset();
}

bool CPeerProcess::PumpUntil(HANDLE handle, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        const DWORD result = MsgWaitForMultipleObjects(
            1, &handle, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
        if (result == WAIT_OBJECT_0) return true;
        if (result != WAIT_OBJECT_0 + 1) return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
}

}  // namespace tarnwick::bench
