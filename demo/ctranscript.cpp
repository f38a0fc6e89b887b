#include "ctranscript.h"

#include <cstdio>
#include <cwchar>
#include <iterator>

namespace tarnwick::demo {

void CTranscript::Print(const wchar_t* lead, const wchar_t* mark, const wchar_t* format,
                        va_list args) {
    wchar_t text[1024] = {};
    std::vswprintf(text, std::size(text), format, args);
    std::lock_guard lock(mutex_);
    std::wprintf(L"%ls %ls%ls%ls\n", prefix_, lead, text, mark);
    std::fflush(stdout);
}

void CTranscript::Line(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    Print(L"", L"", format, args);
    va_end(args);
}

bool CTranscript::Expect(bool ok, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    Print(L"", ok ? L"" : L"  <- UNEXPECTED", format, args);
    va_end(args);
    if (!ok) ++failures_;
    return ok;
}

bool CTranscript::Check(bool ok, const wchar_t* format, ...) {
    if (ok) return true;
    va_list args;
    va_start(args, format);
    Print(L"FAILED: ", L"", format, args);
    va_end(args);
    ++failures_;
    return false;
}

std::wstring CTranscript::Value(const VARIANT& value) {
    switch (value.vt) {
        case VT_EMPTY:
            return L"empty";
        case VT_NULL:
            return L"null";
        case VT_BOOL:
            return value.boolVal != VARIANT_FALSE ? L"true" : L"false";
        case VT_I4:
            return std::to_wstring(value.lVal);
        case VT_BSTR:
            return L"\"" + std::wstring(value.bstrVal != nullptr ? value.bstrVal : L"") + L"\"";
        case VT_UNKNOWN:
            if (value.punkVal == nullptr) return L"nothing";
            break;
        default:
            break;
    }
    return L"(a value of type " + std::to_wstring(value.vt) + L")";
}

}  // namespace tarnwick::demo
