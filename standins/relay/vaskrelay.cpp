// Exports of Vask.Relay.x64.dll.
#include <windows.h>

#include <array>
#include <cwchar>
#include <string>

#define VASK_RELAY_EXPORTS
#include "platform/vaskrelay.h"
#include "platform/vasklantern.h"
#include "standins/common/processinfo.h"

// The address this export returns to, inside the calling module.
#if defined(_MSC_VER)
#include <intrin.h>
#define VASK_CALLER_ADDRESS() _ReturnAddress()
#else
#define VASK_CALLER_ADDRESS() __builtin_return_address(0)
#endif

namespace {

bool IsBareName(const wchar_t* name) {
    return name != nullptr && name[0] != L'\0' && std::wcspbrk(name, L"\\/:") == nullptr;
}

std::wstring NativeFolder() {
    std::array<wchar_t, MAX_PATH> buffer{};
    return GetNativePath(buffer.data(), static_cast<int>(buffer.size())) == 1 ? buffer.data() : L"";
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The first folder of the search path that holds `fileName`, joined with it; empty when
// none does.
std::wstring Locate(const wchar_t* fileName, const void* callerAddress) {
    const std::wstring folders[] = {vask::ModuleFolder(vask::ModuleOfAddress(callerAddress)),
                                    NativeFolder()};
    for (const std::wstring& folder : folders) {
        if (folder.empty()) continue;
        std::wstring path = folder + L"\\" + fileName;
        if (IsFile(path)) return path;
    }
    return {};
}

}  // namespace

int GetFileLocationW(const wchar_t* fileName, wchar_t* buffer, int bufferSize) {
    const void* caller = VASK_CALLER_ADDRESS();
    const bool hasBuffer = buffer != nullptr && bufferSize > 0;
    if (hasBuffer) buffer[0] = L'\0';
    if (!hasBuffer || !IsBareName(fileName)) return 0;
    std::wstring path;
    try {
        path = Locate(fileName, caller);
    } catch (...) {
        return 0;
    }
    if (path.empty() || path.size() >= static_cast<size_t>(bufferSize)) return 0;
    std::wmemcpy(buffer, path.c_str(), path.size() + 1);
    return 1;
}
