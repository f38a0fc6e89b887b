#include "coutput.h"

#include <windows.h>

#include <cstdio>

#include "cvaluetext.h"

namespace tarnwick::host {

CJsonObject& CJsonObject::Add(const wchar_t* key, const std::wstring& jsonValue) {
    if (text_.size() > 1) text_ += L",";
    text_ += CValueText::Quote(key) + L":" + jsonValue;
    return *this;
}

CJsonObject& CJsonObject::AddText(const wchar_t* key, const std::wstring& text) {
    return Add(key, CValueText::Quote(text));
}

void COutput::Line(const std::wstring& readable, const CJsonObject& json) {
    std::lock_guard lock(mutex_);
    Write(stdout, json_ ? json.Text() : readable);
}

void COutput::Error(const std::wstring& text) { Write(stderr, L"tarnwick-host: error: " + text); }

void COutput::Write(FILE* stream, const std::wstring& line) {
    const std::wstring whole = line + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, whole.data(), static_cast<int>(whole.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, whole.data(), static_cast<int>(whole.size()), bytes.data(),
                        size, nullptr, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}

}  // namespace tarnwick::host
