#include "cprocesslist.h"

#include <tlhelp32.h>

#include <cwchar>
#include <functional>

#include "common/uniquehandle.h"

namespace tarnwick::host {
namespace {

// Calls `visit` for each process of a snapshot until it answers false.
void ForEachProcess(const std::function<bool(const PROCESSENTRY32W&)>& visit) {
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (!visit(entry)) return;
    }
}

// The file name of a path: a dot in a folder name is not an extension.
std::wstring FileName(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool SameExecutable(const std::wstring& running, const std::wstring& wanted) {
    const std::wstring name = FileName(wanted);
    return _wcsicmp(running.c_str(), name.c_str()) == 0 ||
           _wcsicmp(running.c_str(), (name + L".exe").c_str()) == 0;
}

// When the process started, as a FILETIME's 64-bit count; 0 when it cannot be read.
ULONGLONG StartTime(DWORD processId) {
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!process || !GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) return 0;
    return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace

std::optional<DWORD> CProcessList::Newest(const std::wstring& executable) {
    std::optional<DWORD> newest;
    ULONGLONG newestStart = 0;
    ForEachProcess([&](const PROCESSENTRY32W& entry) {
        if (!SameExecutable(entry.szExeFile, executable)) return true;
        const ULONGLONG start = StartTime(entry.th32ProcessID);
        if (!newest || start > newestStart) {
            newest = entry.th32ProcessID;
            newestStart = start;
        }
        return true;
    });
    return newest;
}

std::wstring CProcessList::ExecutableOf(DWORD processId) {
    std::wstring name;
    ForEachProcess([&](const PROCESSENTRY32W& entry) {
        if (entry.th32ProcessID != processId) return true;
        name = FileName(entry.szExeFile);
        return false;
    });
    return name;
}

}  // namespace tarnwick::host
