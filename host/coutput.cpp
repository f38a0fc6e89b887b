#include "coutput.h"

#include <windows.h>

#include <cstdio>

namespace tarnwick::host {

std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

std::wstring Wide(const std::string& utf8) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                         nullptr, 0);
    std::wstring text(size > 0 ? static_cast<size_t>(size) : 0, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
    return text;
}

CJsonObject& CJsonObject::Add(const char* key, Json value) {
    value_[key] = std::move(value);
    return *this;
}

CJsonObject& CJsonObject::AddText(const char* key, const std::wstring& text) {
    return Add(key, Utf8(text));
}

void COutput::Line(const std::wstring& readable, const CJsonObject& json) {
    const std::string line =
        json_ ? json.Value().dump(-1, ' ', false, Json::error_handler_t::replace)
              : Utf8(readable);
    std::lock_guard lock(mutex_);
    Write(stdout, line);
}

void COutput::Error(const std::wstring& text) { Write(stderr, Utf8(L"tarnwick-host: error: " + text)); }

void COutput::Write(FILE* stream, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

}  // namespace tarnwick::host
