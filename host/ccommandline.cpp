#include "ccommandline.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <cwctype>

namespace tarnwick::host {
namespace {

struct CommandInfo {
    const wchar_t* name;
    size_t minArgs;
    size_t maxArgs;
    const wchar_t* synopsis;
    const wchar_t* summary;
};

constexpr size_t kAny = static_cast<size_t>(-1);

constexpr CommandInfo kCommands[] = {
    {L"attach", 1, kAny, L"attach PID|EXE [ARGS...]",
     L"start the agent in a running or a new application"},
    {L"list", 0, 0, L"list", L"list the controls: name, window, class, id, kind, text"},
    {L"get", 2, 2, L"get CONTROL PROPERTY", L"read a property (calls \"Get\" PROPERTY)"},
    {L"set", 3, 3, L"set CONTROL PROPERTY VALUE", L"change a property (calls \"Set\" PROPERTY)"},
    {L"call", 2, kAny, L"call CONTROL OPERATION [ARGS...]",
     L"call an operation of the type library"},
    {L"watch", 2, kAny, L"watch CONTROL EVENT... [--cancel EVENT]...",
     L"print events as they come, cancel some"},
    {L"unwatch", 2, kAny, L"unwatch CONTROL EVENT...", L"stop printing the events"},
    {L"sync", 0, 0, L"sync", L"wait until the application handled what it was sent"},
    {L"picture", 1, 1, L"picture PATH", L"save the application's window as a PNG file"},
    {L"detach", 0, 0, L"detach", L"stop the agent; the application runs on"},
    {L"wait-exit", 0, 1, L"wait-exit [SECONDS]", L"wait for the application to end (default 30 s)"},
    {L"echo", 0, kAny, L"echo TEXT", L"print the text"},
};

const CommandInfo* Find(const std::wstring& name) {
    for (const CommandInfo& info : kCommands) {
        if (name == info.name) return &info;
    }
    return nullptr;
}

// A word in double quotes on the command line keeps them (the shell took the outer ones).
Token ArgumentToken(const std::wstring& argument) {
    if (argument.size() >= 2 && argument.front() == L'"' && argument.back() == L'"') {
        return {argument.substr(1, argument.size() - 2), true};
    }
    return {argument, false};
}

Command MakeCommand(std::vector<Token> words, std::wstring rest) {
    Command command{words.front().text, {}, std::move(rest)};
    command.args.assign(std::make_move_iterator(words.begin() + 1),
                        std::make_move_iterator(words.end()));
    return command;
}

std::wstring ReadScript(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    if (!file) throw CUsageError{L"cannot read the script " + path};
    std::ostringstream bytes;
    bytes << file.rdbuf();
    std::string text = bytes.str();
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    std::wstring wide(text.size(), L'\0');
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           wide.data(), static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return wide;
}

std::vector<Command> SplitAtPlus(const std::vector<std::wstring>& arguments, size_t first) {
    std::vector<Command> commands;
    std::vector<Token> words;
    std::wstring rest;
    for (size_t i = first; i <= arguments.size(); ++i) {
        if (i < arguments.size() && arguments[i] != L"+") {
            if (!words.empty()) rest += (rest.empty() ? L"" : L" ") + arguments[i];
            words.push_back(ArgumentToken(arguments[i]));
            continue;
        }
        if (words.empty()) throw CUsageError{L"an empty command (two \"+\" in a row?)"};
        commands.push_back(MakeCommand(std::move(words), std::move(rest)));
        words.clear();
        rest.clear();
    }
    return commands;
}

}  // namespace

std::vector<Token> CCommandLine::Split(std::wstring_view line) {
    std::vector<Token> words;
    size_t i = 0;
    while (i < line.size()) {
        if (iswspace(line[i])) {
            ++i;
            continue;
        }
        Token word;
        word.quoted = line[i] == L'"';
        if (!word.quoted) {
            while (i < line.size() && !iswspace(line[i])) word.text += line[i++];
        } else {
            for (++i; i < line.size() && line[i] != L'"'; ++i) {
                if (line[i] == L'\\' && i + 1 < line.size() &&
                    (line[i + 1] == L'"' || line[i + 1] == L'\\')) {
                    ++i;
                }
                word.text += line[i];
            }
            if (i == line.size()) throw CUsageError{L"a quote is not closed"};
            ++i;
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::vector<Command> CCommandLine::ParseScript(std::wstring_view text) {
    std::vector<Command> commands;
    size_t start = 0, number = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring_view::npos) end = text.size();
        std::wstring_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        const size_t first = line.find_first_not_of(L" \t\r");
        if (first == std::wstring_view::npos || line[first] == L'#') continue;
        line = line.substr(first, line.find_last_not_of(L" \t\r") + 1 - first);
        const size_t blank = line.find_first_of(L" \t");
        const std::wstring_view name = line.substr(0, blank);
        const std::wstring rest(blank == std::wstring_view::npos
                                    ? std::wstring_view()
                                    : line.substr(line.find_first_not_of(L" \t", blank)));
        try {
            // echo prints its text as written; other lines are split into words.
            if (name == L"echo") {
                commands.push_back({L"echo", {}, rest});
            } else {
                commands.push_back(MakeCommand(Split(line), rest));
            }
            Check(commands.back());
        } catch (const CUsageError& error) {
            throw CUsageError{L"line " + std::to_wstring(number) + L": " + error.message};
        }
    }
    return commands;
}

Options CCommandLine::Parse(const std::vector<std::wstring>& arguments) {
    Options options;
    size_t i = 0;
    for (; i < arguments.size() && arguments[i].rfind(L"--", 0) == 0; ++i) {
        const std::wstring& option = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (option == L"--json") {
            options.json = true;
        } else if (option == L"--help") {
            options.help = true;
            return options;
        } else if (option == L"--transport" && hasValue &&
                   (arguments[i + 1] == L"queue" || arguments[i + 1] == L"window")) {
            options.transport = arguments[++i] == L"queue" ? Transport::Queue : Transport::Window;
        } else if (option == L"--script" && hasValue) {
            if (i + 2 != arguments.size()) throw CUsageError{L"--script FILE comes last"};
            options.commands = ParseScript(ReadScript(arguments[i + 1]));
            return options;
        } else {
            throw CUsageError{L"unknown option or missing value: " + option};
        }
    }
    if (i == arguments.size()) throw CUsageError{L"no command given"};
    options.commands = SplitAtPlus(arguments, i);
    for (const Command& command : options.commands) Check(command);
    return options;
}

void CCommandLine::Check(const Command& command) {
    const CommandInfo* info = Find(command.name);
    if (info == nullptr) throw CUsageError{L"unknown command \"" + command.name + L"\""};
    if (command.args.size() < info->minArgs || command.args.size() > info->maxArgs) {
        throw CUsageError{L"usage: " + std::wstring(info->synopsis)};
    }
    if (command.name == L"watch" && !command.args.back().quoted &&
        command.args.back().text == L"--cancel") {
        throw CUsageError{L"--cancel names an event"};
    }
}

std::wstring CCommandLine::Help() {
    std::wstring text =
        L"usage: tarnwick-host [--json] [--transport queue|window] COMMAND ARGS... "
        L"[+ COMMAND ARGS...]...\n"
        L"       tarnwick-host [--json] [--transport queue|window] --script FILE\n"
        L"CONTROL: Class[n] (the nth control of that class), #ID, 0xHANDLE or its text.\n"
        L"Values: integers (decimal or 0x), true, false, anything else (or quoted) is text.\n"
        L"Commands:";
    for (const CommandInfo& info : kCommands) {
        std::wstring synopsis = info.synopsis;
        synopsis.resize(std::max<size_t>(synopsis.size(), 43), L' ');
        text += L"\n  " + synopsis + L" " + info.summary;
    }
    return text;
}

}  // namespace tarnwick::host
