#pragma once
// The lines that one demo process prints: each carries the process's prefix ("[target]",
// "[peer]", "[demo]") and is flushed at once, so that the lines of processes sharing one
// output interleave in the order they were printed. Steps that did not do what they should
// are marked and counted; the count decides the exit code.

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstdarg>
#include <mutex>
#include <string>

namespace tarnwick::demo {

class CTranscript {
  public:
    explicit CTranscript(const wchar_t* prefix) : prefix_(prefix) {}
    CTranscript(const CTranscript&) = delete;
    CTranscript& operator=(const CTranscript&) = delete;

    void Line(const wchar_t* format, ...);
    // Prints the line of a step; one that did not do what it should is marked UNEXPECTED and
    // counted. Answers ok.
    bool Expect(bool ok, const wchar_t* format, ...);
    // Counts a step that did not do what it should and prints what was expected of it; prints
    // nothing when ok. Answers ok.
    bool Check(bool ok, const wchar_t* format, ...);
    // 0 when every step did what it should.
    int ExitCode() const noexcept { return failures_ == 0 ? 0 : 1; }

    // A value as the transcript shows it: 5, "text", true, empty, nothing.
    static std::wstring Value(const VARIANT& value);

  private:
    void Print(const wchar_t* lead, const wchar_t* mark, const wchar_t* format, va_list args);

    const wchar_t* prefix_;
    std::mutex mutex_;
    std::atomic<int> failures_{0};
};

}  // namespace tarnwick::demo
