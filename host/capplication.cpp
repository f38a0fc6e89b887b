#include "capplication.h"

#include <algorithm>

#include "cwindowfinder.h"

namespace tarnwick::host {
namespace {

// One argument as the C runtime's command-line parser reads it back.
std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

std::wstring SystemMessage(DWORD error) {
    wchar_t text[512] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   text, 512, nullptr);
    std::wstring message = text;
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.')) {
        message.pop_back();
    }
    return message.empty() ? L"error " + std::to_wstring(error) : message;
}

std::vector<HWND> VisibleWindows(DWORD processId) {
    std::vector<HWND> windows;
    if (processId == 0) return windows;
    for (const TopWindow& top : CWindowFinder::Visible(processId)) windows.push_back(top.window);
    return windows;
}

}  // namespace

bool CApplication::Open(DWORD processId) {
    process_.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId));
    processId_ = process_ ? processId : 0;
    return process_ != nullptr;
}

std::optional<std::wstring> CApplication::Start(const std::wstring& executable,
                                                const std::vector<std::wstring>& arguments) {
    // An executable named with its folder starts in that folder, where the library in the
    // application finds the type library beside it.
    std::wstring path(MAX_PATH, L'\0');
    wchar_t* name = nullptr;
    const DWORD length = GetFullPathNameW(executable.c_str(), MAX_PATH, path.data(), &name);
    const bool named = executable.find_first_of(L"\\/") != std::wstring::npos && length > 0 &&
                       length < MAX_PATH && name != nullptr;
    const std::wstring folder = named ? path.substr(0, name - path.data()) : L"";
    std::wstring commandLine = QuoteArgument(named ? path.substr(0, length) : executable);
    for (const std::wstring& argument : arguments) commandLine += L" " + QuoteArgument(argument);
    // No standard handles: the application's output stays out of the transcript, and it does
    // not keep this process's output open after it ends.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        named ? folder.c_str() : nullptr, &startup, &info)) {
        return SystemMessage(GetLastError());
    }
    CloseHandle(info.hThread);
    process_.reset(info.hProcess);
    processId_ = info.dwProcessId;
    return std::nullopt;
}

DWORD CApplication::WaitForGuiThread(DWORD timeoutMs) const {
    WaitForInputIdle(process_.get(), timeoutMs);
    DWORD thread = 0;
    WaitUntil(timeoutMs, [&] { return (thread = CWindowFinder::MainThread(processId_)) != 0; });
    return thread;
}

CApplication::WaitOutcome CApplication::WaitUntil(DWORD timeoutMs,
                                                  const std::function<bool()>& condition) const {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) return WaitOutcome::Met;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return WaitOutcome::TimedOut;
        HANDLE process = process_.get();
        const DWORD step = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 50));
        if (MsgWaitForMultipleObjects(1, &process, FALSE, step, QS_ALLINPUT) == WAIT_OBJECT_0) {
            return condition() ? WaitOutcome::Met : WaitOutcome::Ended;
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
}

bool CApplication::Answers(DWORD timeoutMs) const {
    const std::vector<HWND> windows = VisibleWindows(processId_);
    DWORD_PTR result = 0;
    return !windows.empty() && SendMessageTimeoutW(windows.front(), WM_NULL, 0, 0,
                                                   SMTO_ABORTIFHUNG, timeoutMs, &result) != 0;
}

std::optional<std::wstring> CApplication::ChildText(int id) const {
    struct Search {
        int id;
        HWND found = nullptr;
    } search{id};
    for (const HWND top : VisibleWindows(processId_)) {
        EnumChildWindows(
            top,
            [](HWND child, LPARAM context) -> BOOL {
                auto* wanted = reinterpret_cast<Search*>(context);
                if (GetDlgCtrlID(child) != wanted->id) return TRUE;
                wanted->found = child;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) break;
    }
    if (search.found == nullptr) return std::nullopt;
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(search.found)) + 1, L'\0');
    text.resize(static_cast<size_t>(
        GetWindowTextW(search.found, text.data(), static_cast<int>(text.size()))));
    return text;
}

bool CApplication::Close() const {
    const std::vector<HWND> windows = VisibleWindows(processId_);
    for (const HWND window : windows) PostMessageW(window, WM_CLOSE, 0, 0);
    return !windows.empty();
}

bool CApplication::Ended() const {
    return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0;
}

std::optional<DWORD> CApplication::WaitForExit(DWORD timeoutMs) const {
    DWORD code = 0;
    if (!process_ || WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process_.get(), &code)) {
        return std::nullopt;
    }
    return code;
}

}  // namespace tarnwick::host
