#pragma once
// The standard input of a session, read on a thread of its own: "answer ID cancel|allow" lines
// go to the event that waits for them, every other line to the session's command loop, so that
// an answer gets through while a command waits for the application.

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tarnwick::host {

class CSessionInput {
  public:
    // Reads input (not owned) until its end.
    explicit CSessionInput(HANDLE input);
    CSessionInput(const CSessionInput&) = delete;
    CSessionInput& operator=(const CSessionInput&) = delete;
    ~CSessionInput();

    // The next line for the command loop, as UTF-16 without its line end: a command, or an
    // answer that no event waits for; none at the end of the input.
    std::optional<std::wstring> NextLine();
    // Announces that the event numbered id waits for an answer.
    void Expect(std::uint64_t id);
    // The answer to event id (true: cancel) once it came within timeoutMs; none when it did
    // not come or the input ended. The event is forgotten either way.
    std::optional<bool> WaitAnswer(std::uint64_t id, DWORD timeoutMs);

  private:
    // Shared with the reading thread, which may outlive this object at the process's end.
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::wstring> lines;
        std::map<std::uint64_t, std::optional<bool>> expected;
        bool ended = false;
    };
    static void Read(HANDLE input, std::shared_ptr<State> state);
    static void Take(State& state, std::wstring line);

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace tarnwick::host
