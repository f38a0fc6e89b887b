#include "standins/common/processinfo.h"

#include "standins/common/cscopedhandle.h"

namespace vask {

std::uint64_t ProcessStartTime(HANDLE process) noexcept {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

bool IsProcessRunning(DWORD processId, std::uint64_t startTime) noexcept {
    if (processId == GetCurrentProcessId()) return true;
    CScopedHandle process(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process.IsValid()) return GetLastError() != ERROR_INVALID_PARAMETER;
    if (WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0) return false;
    if (startTime == 0) return true;
    const std::uint64_t actual = ProcessStartTime(process.Get());
    return actual == 0 || actual == startTime;
}

HMODULE ModuleOfAddress(const void* address) noexcept {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        static_cast<LPCWSTR>(address), &module);
    return module;
}

std::wstring ModuleFolder(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace vask
