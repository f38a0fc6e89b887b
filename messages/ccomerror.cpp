#include "ccomerror.h"

#include <cwchar>

namespace tarnwick {
namespace {

// Room for the fallback texts, terminator included.
constexpr size_t kFallbackUnits = 32;

// The system's message for the code, without its trailing line break; null when it has none.
wchar_t* AllocateSystemText(HRESULT code) noexcept {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) return nullptr;
    if (length > 1 && text[length - 1] == L'\n') {
        text[length - 1] = L'\0';
        if (text[length - 2] == L'\r') text[length - 2] = L'\0';
    }
    return text;
}

// Dispatch codes carry their error number above 0x200 in the low word.
bool IsDispatchCode(HRESULT code) noexcept {
    const auto value = static_cast<DWORD>(code);
    return value >= 0x80040200u && value <= 0x8004FFFFu && (value & 0xFFFFu) != 0x200u;
}

}  // namespace

wchar_t* AllocateErrorText(HRESULT code) noexcept {
    if (wchar_t* text = AllocateSystemText(code)) return text;
    auto* text = static_cast<wchar_t*>(LocalAlloc(LMEM_FIXED, kFallbackUnits * sizeof(wchar_t)));
    if (text == nullptr) return nullptr;
    if (IsDispatchCode(code)) {
        const int number = static_cast<int>(static_cast<DWORD>(code) & 0xFFFFu) - 0x200;
        _snwprintf_s(text, kFallbackUnits, _TRUNCATE, L"IDispatch error #%d", number);
    } else {
        _snwprintf_s(text, kFallbackUnits, _TRUNCATE, L"Unknown error 0x%0lX", code);
    }
    return text;
}

}  // namespace tarnwick
