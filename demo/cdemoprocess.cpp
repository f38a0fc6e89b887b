#include "cdemoprocess.h"

namespace tarnwick::demo {

namespace {

std::wstring FolderOfThisExecutable() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// The child writes to the same output as this process: the standard handles are made
// inheritable and handed over explicitly.
HANDLE InheritableStandardHandle(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    return handle;
}

}  // namespace

DWORD CDemoProcess::Start(const wchar_t* executable, const std::wstring& arguments) {
    const std::wstring path = FolderOfThisExecutable() + executable;
    std::wstring commandLine = L"\"" + path + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = InheritableStandardHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = InheritableStandardHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = InheritableStandardHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &info)) {
        return GetLastError();
    }
    CloseHandle(info.hThread);
    process_.reset(info.hProcess);
    return ERROR_SUCCESS;
}

std::optional<DWORD> CDemoProcess::Wait(DWORD deadline) const {
    if (!process_) return std::nullopt;
    const auto left = static_cast<LONG>(deadline - GetTickCount());
    if (WaitForSingleObject(process_.get(), left > 0 ? static_cast<DWORD>(left) : 0) !=
        WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process_.get(), &code)) return std::nullopt;
    return code;
}

bool CDemoProcess::Stop() {
    if (!process_ || WaitForSingleObject(process_.get(), 0) != WAIT_TIMEOUT) return false;
    TerminateProcess(process_.get(), 0xDEAD);
    WaitForSingleObject(process_.get(), 5000);
    return true;
}

}  // namespace tarnwick::demo
