#include "standins/common/debugtrace.h"

#include <windows.h>

#include <cstdarg>
#include <cwchar>

namespace vask {

void DebugTrace(const wchar_t* component, const wchar_t* format, ...) noexcept {
    wchar_t text[512] = {};
    int used = std::swprintf(text, 512, L"[%ls] ", component);
    if (used < 0) used = 0;
    va_list args;
    va_start(args, format);
    std::vswprintf(text + used, 512 - static_cast<size_t>(used) - 1, format, args);
    va_end(args);
    const size_t length = std::wcslen(text);
    if (length + 1 < 512) {
        text[length] = L'\n';
        text[length + 1] = L'\0';
    }
    OutputDebugStringW(text);
}

}  // namespace vask
