#pragma once
// What the host command prints: each line either readable or as one JSON object, whole and
// flushed at once, from the command thread and from the peer's receive thread alike. In a
// session the lines of a command's answer carry its number, and the last one says so.

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
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
    explicit COutput(bool json, bool session = false) : json_(json), session_(session) {}

    bool Json() const noexcept { return json_; }
    // A line of the command that runs (JSON type "result").
    void Line(const std::wstring& readable, const CJsonObject& json);
    // An event, from whichever thread it comes (JSON type "event").
    void Event(const std::wstring& readable, const CJsonObject& json);
    // What failed. Readable, and outside a JSON session: "tarnwick-host: error: TEXT" on
    // standard error. In a JSON session: a line of type "error" with the message, the
    // command's number when a command runs, and the members of extra.
    void Failure(const std::wstring& message, const CJsonObject& extra = {});
    // Something that went wrong outside any command (an event no one answered): readable on
    // standard output, in JSON a line of type "error" without a command's number.
    void Notice(const std::wstring& message, const CJsonObject& extra);
    // In a session: the lines that follow answer the command numbered id, until End, which
    // marks the last of them "done" (or prints a line of its own when there was none).
    void Begin(std::uint64_t id);
    void End();
    // "tarnwick-host: error: TEXT" on standard error.
    static void Error(const std::wstring& text);

  private:
    void Print(const char* type, const std::wstring& readable, const CJsonObject& json);
    // The line with its type first, then the command's number when it belongs to a command.
    nlohmann::ordered_json Typed(const char* type, const CJsonObject& json, bool ofCommand) const;
    void FlushPending(bool done);
    static void Write(FILE* stream, const std::string& line);

    const bool json_;
    const bool session_;
    std::mutex mutex_;
    std::optional<std::uint64_t> command_;      // under mutex_: the command whose answer runs
    std::optional<nlohmann::ordered_json> pending_;  // under mutex_: its latest JSON line
};

}  // namespace tarnwick::host
