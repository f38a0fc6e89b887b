#pragma once
// What the host command prints: each line either readable or as one JSON object, whole and
// flushed at once, from the command thread and from the peer's receive thread alike.

#include <cstdio>
#include <mutex>
#include <string>

namespace tarnwick::host {

// Builds one JSON object, its members in the order added.
class CJsonObject {
  public:
    CJsonObject& Add(const wchar_t* key, const std::wstring& jsonValue);
    CJsonObject& AddText(const wchar_t* key, const std::wstring& text);
    std::wstring Text() const { return text_ + L"}"; }

  private:
    std::wstring text_ = L"{";
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
    static void Write(FILE* stream, const std::wstring& line);

    const bool json_;
    std::mutex mutex_;
};

}  // namespace tarnwick::host
