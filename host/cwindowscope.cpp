#include "cwindowscope.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "chosterror.h"
#include "cvaluetext.h"

namespace tarnwick::host {
namespace {


// The titles of windows as a list for messages: "A", "B" (or none).
std::wstring Titles(const std::vector<TopWindow>& windows) {
    std::wstring titles;
    for (const TopWindow& top : windows) {
        titles += (titles.empty() ? L"" : L", ") + CValueText::Quote(top.title);
    }
    return titles.empty() ? L"none" : titles;
}

}  // namespace

void CWindowScope::Windows(const Command&) const {
    const std::vector<TopWindow> windows = CWindowFinder::Visible(app_.ProcessId());
    if (windows.empty()) throw CHostError{L"the application shows no visible window"};
    int titleWidth = 0, classWidth = 0;
    for (const TopWindow& top : windows) {
        titleWidth = std::max(titleWidth, static_cast<int>(CValueText::Quote(top.title).size()));
        classWidth = std::max(classWidth, static_cast<int>(top.className.size()));
    }
    for (const TopWindow& top : windows) {
        const wchar_t* state = top.modal ? L"modal" : top.disabled ? L"disabled" : L"";
        wchar_t line[1024] = {};
        std::swprintf(line, std::size(line), L"%-*ls  %-*ls  %ls", titleWidth,
                      CValueText::Quote(top.title).c_str(), classWidth, top.className.c_str(),
                      state);
        std::wstring readable = line;
        readable.erase(readable.find_last_not_of(L' ') + 1);
        out_.Line(readable, CJsonObject()
                                .AddText("command", L"windows")
                                .AddText("window", CValueText::Hex(top.window))
                                .AddText("title", top.title)
                                .AddText("class", top.className)
                                .Add("modal", top.modal)
                                .Add("disabled", top.disabled));
    }
}

void CWindowScope::Window(const Command& command) {
    if (command.args.empty()) {
        End();
        out_.Line(L"window -> done (names count in every window)",
                  CJsonObject().AddText("command", L"window").Add("title", nullptr));
        return;
    }
    ScopeTo(command, Titled(command.args[0].text));
}

TopWindow CWindowScope::Titled(const std::wstring& text) const {
    std::vector<TopWindow> matching = Matching(text);
    if (matching.empty()) {
        throw CHostError{L"no window whose title contains " + CValueText::Quote(text) +
                         L" (its windows: " + Titles(CWindowFinder::Visible(app_.ProcessId())) +
                         L")"};
    }
    return std::move(matching.front());
}

void CWindowScope::WaitWindow(const Command& command) {
    const std::wstring& text = command.args[0].text;
    const DWORD seconds = CCommandLine::Seconds(command, defaultWaitSeconds_);
    std::vector<TopWindow> matching;
    const auto outcome =
        app_.WaitUntil(seconds * 1000, [&] { return !(matching = Matching(text)).empty(); });
    const std::wstring missing = L"no window whose title contains " + CValueText::Quote(text);
    if (outcome == CApplication::WaitOutcome::Ended) {
        throw CHostError{L"the application has ended, with " + missing};
    }
    if (outcome == CApplication::WaitOutcome::TimedOut) {
        throw CHostError{L"wait-window: " + missing + L" after " + std::to_wstring(seconds) +
                         L" s (its windows: " + Titles(CWindowFinder::Visible(app_.ProcessId())) +
                         L")"};
    }
    ScopeTo(command, matching.front());
}

void CWindowScope::WaitClosed(const Command& command) {
    const std::wstring& text = command.args[0].text;
    const DWORD seconds = CCommandLine::Seconds(command, defaultWaitSeconds_);
    std::vector<TopWindow> matching;
    const auto outcome =
        app_.WaitUntil(seconds * 1000, [&] { return (matching = Matching(text)).empty(); });
    if (outcome != CApplication::WaitOutcome::Met) {
        throw CHostError{L"wait-closed: still open after " + std::to_wstring(seconds) + L" s: " +
                         Titles(matching)};
    }
    const bool endsScope = scope_ != nullptr && (!IsWindow(scope_) || !IsWindowVisible(scope_) ||
                                                 CWindowFinder::Contains(title_, text));
    if (endsScope) End();
    out_.Line(command.name + L" " + CValueText::Quote(text) + L" -> done" +
                  (endsScope ? L" (names count in every window again)" : L""),
              CJsonObject()
                  .AddText("command", command.name)
                  .AddText("text", text)
                  .Add("scopeEnded", endsScope));
}

TopWindow CWindowScope::ScopeOrMain() const {
    if (scope_ != nullptr) {
        if (!IsWindow(scope_))
            throw CHostError{L"the window " + CValueText::Quote(title_) + L" is gone"};
        return CWindowFinder::Describe(scope_);
    }
    std::optional<TopWindow> main = CWindowFinder::MainWindow(app_.ProcessId());
    if (!main) throw CHostError{L"the application shows no visible window"};
    return std::move(*main);
}

std::wstring CWindowScope::Where() const {
    return scope_ == nullptr ? L"" : L" (in window " + CValueText::Quote(title_) + L")";
}

void CWindowScope::End() {
    scope_ = nullptr;
    title_.clear();
}

void CWindowScope::ScopeTo(const Command& command, const TopWindow& window) {
    scope_ = window.window;
    title_ = window.title;
    out_.Line(command.name + L" " + CValueText::Quote(command.args[0].text) + L" -> " +
                  CValueText::Quote(title_),
              CJsonObject()
                  .AddText("command", command.name)
                  .AddText("window", CValueText::Hex(window.window))
                  .AddText("title", title_));
}

std::vector<TopWindow> CWindowScope::Matching(const std::wstring& text) const {
    std::vector<TopWindow> windows = CWindowFinder::Visible(app_.ProcessId());
    std::erase_if(windows,
                  [&](const TopWindow& top) { return !CWindowFinder::Contains(top.title, text); });
    return windows;
}

}  // namespace tarnwick::host
