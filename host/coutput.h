#pragma once
// What the host command prints: each line either readable or as one JSON object, whole and
// flushed at once, from the command thread and from the peer's receive thread alike.

#include <cstdio>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

namespace tarnwick::host {

// JSON values keep their members in the order added.
using Json = nlohmann::ordered_json;

// Text between the host's wide strings and JSON's UTF-8.
std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);

// Builds one JSON object, its members in the order added.
class CJsonObject {
  public:
    CJsonObject& Add(const char* key, Json value);
    CJsonObject& AddText(const char* key, const std::wstring& text);
    const Json& Value() const noexcept { return value_; }

  private:
    Json value_ = Json::object();
};

class COutput {
  public:
    explicit COutput(bool json) : json_(json) {}

    bool Json() const noexcept { return json_; }
    // Prints the line of the chosen style, UTF-8, to standard output.
    void Line(const std::wstring& readable, const CJsonObject& json);
    // "tarnwick-host: error: TEXT" on standard error.
    static void Error(const std::wstring& text);

  private:
    static void Write(FILE* stream, const std::string& line);

    const bool json_;
    std::mutex mutex_;
};

}  // namespace tarnwick::host
