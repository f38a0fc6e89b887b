#pragma once
// What the benchmarks that read controls share: the hidden window that holds the controls,
// timed rounds that alternate which way goes first, and where a check's reading first differs
// from what the control holds.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace tarnwick::bench {

struct WindowDestroy {
    void operator()(HWND window) const noexcept { DestroyWindow(window); }
};
using CWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroy>;

// A top-level window of a class of its own that is never shown: its controls are real windows
// that nobody sees.
inline CWindow CreateControlHost(const wchar_t* className) {
    WNDCLASSW hostClass{};
    hostClass.lpfnWndProc = &DefWindowProcW;
    hostClass.hInstance = GetModuleHandleW(nullptr);
    hostClass.lpszClassName = className;
    RegisterClassW(&hostClass);
    return CWindow(CreateWindowExW(0, className, className, WS_OVERLAPPEDWINDOW, 0, 0, 800, 600,
                                   nullptr, nullptr, hostClass.hInstance, nullptr));
}

// A child control of the host; destroyed with it.
inline HWND AddControl(HWND host, const wchar_t* className, DWORD style, int id) {
    return CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 400, 300, host,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

// Times two ways once each, the first going first in even rounds, and keeps each one's best.
// A way answers its time, or a negative one when it failed; then this answers false.
inline bool TimeRound(int round, const std::function<double()>& first,
                      const std::function<double()>& second, double& bestFirst,
                      double& bestSecond) {
    double firstTime = 0, secondTime = 0;
    if (round % 2 == 0) {
        firstTime = first();
        secondTime = second();
    } else {
        secondTime = second();
        firstTime = first();
    }
    if (firstTime < 0 || secondTime < 0) return false;
    bestFirst = std::min(bestFirst, firstTime);
    bestSecond = std::min(bestSecond, secondTime);
    return true;
}

inline std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (const wchar_t character : text) {
        narrow += character < 0x80 ? static_cast<char>(character) : '?';
    }
    return narrow;
}

// Where what a read saw first differs from what was expected, for the report; empty when the
// two are the same.
inline std::string Difference(const std::vector<std::wstring>& seen,
                              const std::vector<std::wstring>& expected) {
    char text[320];
    const auto [differs, wanted] =
        std::mismatch(seen.begin(), seen.end(), expected.begin(), expected.end());
    if (differs != seen.end() && wanted != expected.end()) {
        std::snprintf(text, sizeof text, "value %zu is \"%s\" where \"%s\" was expected",
                      static_cast<size_t>(differs - seen.begin()), Narrow(*differs).c_str(),
                      Narrow(*wanted).c_str());
        return text;
    }
    if (seen.size() == expected.size()) return {};
    std::snprintf(text, sizeof text, "%zu values read where %zu were expected", seen.size(),
                  expected.size());
    return text;
}

}  // namespace tarnwick::bench
