#include "cwindowfinder.h"

#include <algorithm>
#include <cwctype>

namespace tarnwick::host {
namespace {

struct Search {
    DWORD processId;
    std::vector<TopWindow> found;
};

BOOL CALLBACK AddVisible(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    const bool wanted = search->processId == 0 ? processId != GetCurrentProcessId()
                                               : processId == search->processId;
    if (wanted && IsWindowVisible(window)) {
        search->found.push_back(CWindowFinder::Describe(window));
    }
    return TRUE;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

}  // namespace

std::vector<TopWindow> CWindowFinder::Visible(DWORD processId) {
    Search search{processId, {}};
    EnumWindows(AddVisible, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::optional<TopWindow> CWindowFinder::ByTitle(DWORD processId, const std::wstring& text) {
    for (TopWindow& top : Visible(processId)) {
        if (Contains(top.title, text)) return std::move(top);
    }
    return std::nullopt;
}

std::optional<TopWindow> CWindowFinder::MainWindow(DWORD processId) {
    std::vector<TopWindow> windows = Visible(processId);
    const auto unowned = std::find_if(windows.begin(), windows.end(),
                                      [](const TopWindow& top) { return !top.owned; });
    if (unowned != windows.end()) return std::move(*unowned);
    if (windows.empty()) return std::nullopt;
    return std::move(windows.front());
}

DWORD CWindowFinder::MainThread(DWORD processId) {
    const std::optional<TopWindow> main = MainWindow(processId);
    return main ? main->thread : 0;
}

std::vector<HWND> CWindowFinder::Descendants(HWND window) {
    std::vector<HWND> found;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM into) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(into)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

TopWindow CWindowFinder::Describe(HWND window) {
    TopWindow top;
    top.window = window;
    top.thread = GetWindowThreadProcessId(window, &top.process);
    top.title = Text(window);
    top.className = ClassOf(window);
    const HWND owner = GetWindow(window, GW_OWNER);
    top.owned = owner != nullptr;
    top.disabled = !IsWindowEnabled(window);
    top.modal = owner != nullptr && !top.disabled && !IsWindowEnabled(owner);
    return top;
}

// Of another process's window, GetWindowTextW reads the text the system keeps and sends
// nothing, so a busy application cannot stall it (GetWindowTextLengthW would send).
std::wstring CWindowFinder::Text(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

std::wstring CWindowFinder::ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

bool CWindowFinder::Contains(const std::wstring& text, const std::wstring& part) {
    return Lower(text).find(Lower(part)) != std::wstring::npos;
}

}  // namespace tarnwick::host
