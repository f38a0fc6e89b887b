// Exports of Vask.Lantern.x64.dll.
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

#define VASK_LANTERN_EXPORTS
#include "platform/vasklantern.h"
#include "standins/common/processinfo.h"

namespace {

// Any address inside this DLL, to find the DLL by.
const int kModuleAnchor = 0;

// A number from the environment (decimal or 0x-prefixed); 0 when it is missing.
long EnvironmentNumber(const wchar_t* name) {
    wchar_t text[32] = {};
    const DWORD length = GetEnvironmentVariableW(name, text, 32);
    if (length == 0 || length >= 32) return 0;
    return std::wcstol(text, nullptr, 0);
}

// How many leading bytes of UTF-8 `text` make whole characters, at most `limit`.
size_t WholeCharacters(const std::string& text, size_t limit) {
    if (limit >= text.size()) return text.size();
    size_t cut = limit;
    // A byte 10xxxxxx continues the character before it: cut before that character.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

std::string ToUtf8(const wchar_t* source, int count) {
    if (count == 0) return {};
    const int needed = WideCharToMultiByte(CP_UTF8, 0, source, count, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return {};
    std::string converted(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, source, count, converted.data(), needed, nullptr, nullptr);
    return converted;
}

}  // namespace

int IsTraceLevel(int level) {
    const long enabled = EnvironmentNumber(L"VASK_TRACE_LEVEL");
    return enabled > 0 && enabled >= level ? 1 : 0;
}

int IsTraceSource(int source) {
    const unsigned long sources =
        static_cast<unsigned long>(EnvironmentNumber(L"VASK_TRACE_SOURCES"));
    return (sources & static_cast<unsigned long>(source)) != 0 ? 1 : 0;
}

int WideCharToChar(const wchar_t* source, int sourceCount, char* destination, int destinationSize) {
    if (destination == nullptr || destinationSize <= 0) return 0;
    std::string converted;
    try {
        if (source != nullptr && sourceCount >= -1) converted = ToUtf8(source, sourceCount);
    } catch (...) {
        converted.clear();
    }
    const size_t room = static_cast<size_t>(destinationSize);
    // A converted terminator that fits ends the text; otherwise one is added after the
    // whole characters that leave room for it.
    if (!converted.empty() && converted.back() == '\0' && converted.size() <= room) {
        std::memcpy(destination, converted.data(), converted.size());
        return static_cast<int>(converted.size());
    }
    const size_t kept = WholeCharacters(converted, room - 1);
    std::memcpy(destination, converted.data(), kept);
    destination[kept] = '\0';
    return static_cast<int>(kept + 1);
}

int GetNativePath(wchar_t* buffer, int bufferSize) {
    if (buffer == nullptr || bufferSize <= 0) return 0;
    buffer[0] = L'\0';
    std::wstring folder;
    try {
        folder = vask::ModuleFolder(vask::ModuleOfAddress(&kModuleAnchor));
    } catch (...) {
        return 0;
    }
    if (folder.empty() || folder.size() >= static_cast<size_t>(bufferSize)) return 0;
    std::wmemcpy(buffer, folder.c_str(), folder.size() + 1);
    return 1;
}
