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

namespace {

std::string Dump(const nlohmann::ordered_json& value) {
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

nlohmann::ordered_json COutput::Typed(const char* type, const CJsonObject& json,
                                      bool ofCommand) const {
    nlohmann::ordered_json line = {{"type", type}};
    if (command_ && ofCommand) line["id"] = *command_;
    for (const auto& [key, value] : json.Value().items()) line[key] = value;
    return line;
}

void COutput::Print(const char* type, const std::wstring& readable, const CJsonObject& json) {
    std::lock_guard lock(mutex_);
    if (!json_) {
        Write(stdout, Utf8(readable));
        return;
    }
    const bool result = std::string_view(type) == "result";
    nlohmann::ordered_json line = Typed(type, json, result);
    // A command's lines go out one behind, so that the last can be marked done.
    if (session_ && command_ && result) {
        FlushPending(false);
        pending_ = std::move(line);
        return;
    }
    Write(stdout, Dump(line));
}

void COutput::Line(const std::wstring& readable, const CJsonObject& json) {
    Print("result", readable, json);
}

void COutput::Event(const std::wstring& readable, const CJsonObject& json) {
    Print("event", readable, json);
}

void COutput::Failure(const std::wstring& message, const CJsonObject& extra) {
    if (!(json_ && session_)) {
        Error(message);
        return;
    }
    std::lock_guard lock(mutex_);
    nlohmann::ordered_json line = Typed("error", CJsonObject().AddText("message", message), true);
    for (const auto& [key, value] : extra.Value().items()) line[key] = value;
    if (command_) {
        FlushPending(false);
        line["done"] = true;
        command_.reset();
    }
    Write(stdout, Dump(line));
}

void COutput::Notice(const std::wstring& message, const CJsonObject& extra) {
    std::lock_guard lock(mutex_);
    if (!json_) {
        Write(stdout, Utf8(L"tarnwick-host: " + message));
        return;
    }
    nlohmann::ordered_json line = Typed("error", CJsonObject().AddText("message", message), false);
    for (const auto& [key, value] : extra.Value().items()) line[key] = value;
    Write(stdout, Dump(line));
}

void COutput::Begin(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    command_ = id;
    pending_.reset();
}

void COutput::End() {
    std::lock_guard lock(mutex_);
    if (!command_) return;
    if (json_ && session_) {
        if (!pending_) pending_ = Typed("result", CJsonObject(), true);
        FlushPending(true);
    }
    command_.reset();
}

void COutput::FlushPending(bool done) {
    if (!pending_) return;
    if (done) (*pending_)["done"] = true;
    Write(stdout, Dump(*pending_));
    pending_.reset();
}

void COutput::Error(const std::wstring& text) { Write(stderr, Utf8(L"tarnwick-host: error: " + text)); }

void COutput::Write(FILE* stream, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

}  // namespace tarnwick::host
