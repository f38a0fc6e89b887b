#include "csessioninput.h"

#include <chrono>
#include <cwchar>
#include <thread>
#include <vector>

#include "ccommandline.h"
#include "coutput.h"

namespace tarnwick::host {

CSessionInput::CSessionInput(HANDLE input) {
    std::thread(&CSessionInput::Read, input, state_).detach();
}

CSessionInput::~CSessionInput() = default;

void CSessionInput::Read(HANDLE input, std::shared_ptr<State> state) {
    std::string pending;
    std::vector<char> buffer(4096);
    DWORD read = 0;
    while (ReadFile(input, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) &&
           read > 0) {
        pending.append(buffer.data(), read);
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            Take(*state, Wide(line));
        }
    }
    if (!pending.empty()) Take(*state, Wide(pending));
    std::lock_guard lock(state->mutex);
    state->ended = true;
    state->changed.notify_all();
}

void CSessionInput::Take(State& state, std::wstring line) {
    // "answer ID cancel" or "answer ID allow" for an event that waits goes to that event.
    std::vector<Token> words;
    try {
        words = CCommandLine::Split(line);
    } catch (const CUsageError&) {
    }
    std::lock_guard lock(state.mutex);
    if (words.size() == 3 && words[0].text == L"answer" &&
        (words[2].text == L"cancel" || words[2].text == L"allow") &&
        words[1].text.find_first_not_of(L"0123456789") == std::wstring::npos &&
        !words[1].text.empty() && words[1].text.size() < 20) {
        const auto found = state.expected.find(std::wcstoull(words[1].text.c_str(), nullptr, 10));
        if (found != state.expected.end() && !found->second) {
            found->second = words[2].text == L"cancel";
            state.changed.notify_all();
            return;
        }
    }
    state.lines.push_back(std::move(line));
    state.changed.notify_all();
}

std::optional<std::wstring> CSessionInput::NextLine() {
    std::unique_lock lock(state_->mutex);
    state_->changed.wait(lock, [this] { return !state_->lines.empty() || state_->ended; });
    if (state_->lines.empty()) return std::nullopt;
    std::wstring line = std::move(state_->lines.front());
    state_->lines.pop_front();
    return line;
}

void CSessionInput::Expect(std::uint64_t id) {
    std::lock_guard lock(state_->mutex);
    state_->expected.emplace(id, std::nullopt);
}

std::optional<bool> CSessionInput::WaitAnswer(std::uint64_t id, DWORD timeoutMs) {
    std::unique_lock lock(state_->mutex);
    const auto found = state_->expected.find(id);
    if (found == state_->expected.end()) return std::nullopt;
    state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return found->second.has_value() || state_->ended; });
    const std::optional<bool> answer = found->second;
    state_->expected.erase(found);
    return answer;
}

}  // namespace tarnwick::host
