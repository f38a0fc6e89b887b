#include "ccommandline.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <cwchar>
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

// The forms of one command follow each other; its first row holds the argument counts.
constexpr CommandInfo kCommands[] = {
    {L"attach", 1, kAny, L"attach PID|EXE [ARGS...]",
     L"start the agent in a running or a new application"},
    {L"attach", 2, 2, L"attach --running EXE", L"the same, in the newest running process of EXE"},
    {L"attach", 2, 2, L"attach --title TEXT",
     L"the same, in the process of the first visible window titled ...TEXT..."},
    {L"list", 0, 2, L"list [--handles] [--all]",
     L"list the controls by window: name, [window,] class, id, kind, text; --all adds the "
     L"windows without a translator"},
    {L"windows", 0, 0, L"windows",
     L"the application's visible top-level windows: title, class, modal or disabled"},
    {L"window", 0, 1, L"window [TEXT]",
     L"scope control names to the window titled ...TEXT... (no TEXT: every window)"},
    {L"wait-window", 1, 2, L"wait-window TEXT [SECONDS]",
     L"wait until such a window is visible (default 10 s), then scope to it"},
    {L"wait-closed", 1, 2, L"wait-closed TEXT [SECONDS]",
     L"wait until no such window is left (default 10 s)"},
    {L"wait", 1, 2, L"wait CONTROL [SECONDS]",
     L"wait until the control exists and is visible (default 10 s)"},
    {L"get", 2, 2, L"get CONTROL PROPERTY", L"read a property (calls \"Get\" PROPERTY)"},
    {L"set", 3, 3, L"set CONTROL PROPERTY VALUE", L"change a property (calls \"Set\" PROPERTY)"},
    {L"call", 2, kAny, L"call CONTROL OPERATION [ARGS...]",
     L"call an operation of the type library"},
    {L"watch", 2, kAny, L"watch CONTROL EVENT... [--cancel EVENT]... [--ask]",
     L"print events as they come, cancel some; --ask (in a session): each waits for an answer"},
    {L"members", 1, 1, L"members CONTROL",
     L"the control's properties (settable or not), operations and events"},
    {L"menu", 1, 1, L"menu PATH",
     L"choose a command of the menu bar of the scoped or main window: item texts from the bar, "
     L"\"/\" between them, without '&' or accelerator, in any letter case (\"File/Save As...\")"},
    {L"menu", 1, 1, L"menu --list", L"the menu bar's items, indented by level, with their states"},
    {L"unwatch", 2, kAny, L"unwatch CONTROL EVENT...", L"stop printing the events"},
    {L"sync", 0, 0, L"sync", L"wait until the application handled what it was sent"},
    {L"picture", 1, 3, L"picture PATH [CONTROL | --window TEXT]",
     L"save the control, the window titled ...TEXT... or else the topmost one (with its "
     L"menu bar) as a PNG file"},
    {L"detach", 0, 0, L"detach", L"stop the agent; the application runs on"},
    {L"wait-exit", 0, 1, L"wait-exit [SECONDS]", L"wait for the application to end (default 30 s)"},
    {L"running", 0, 0, L"running", L"check that the application runs and its window answers"},
    {L"blocks", 0, 0, L"blocks",
     L"check that no shared-memory block made since attach is still alive"},
    {L"close", 0, 0, L"close", L"ask the application's windows to close"},
    {L"text", 1, 1, L"text #ID", L"read the text of any window of the application by its id"},
    {L"echo", 0, kAny, L"echo TEXT", L"print the text"},
};

// Where a command takes its number of seconds; npos when it takes none.
size_t SecondsAt(const std::wstring& name) {
    if (name == L"wait-exit") return 0;
    if (name == L"wait-window" || name == L"wait-closed" || name == L"wait") return 1;
    return std::wstring::npos;
}

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

constexpr wchar_t kExpect[] = L"->";

// Where an unquoted "->" word starts in a script line; npos when there is none.
size_t ExpectationAt(std::wstring_view line) {
    bool quoted = false;
    for (size_t i = 0; i + 1 < line.size(); ++i) {
        if (quoted && line[i] == L'\\') {
            ++i;
        } else if (line[i] == L'"') {
            quoted = !quoted;
        } else if (!quoted && line.substr(i, 2) == kExpect && (i == 0 || iswspace(line[i - 1])) &&
                   (i + 2 == line.size() || iswspace(line[i + 2]))) {
            return i;
        }
    }
    return std::wstring_view::npos;
}

std::wstring_view Trimmed(std::wstring_view text) {
    const size_t first = text.find_first_not_of(L" \t\r");
    if (first == std::wstring_view::npos) return {};
    return text.substr(first, text.find_last_not_of(L" \t\r") + 1 - first);
}

std::vector<Command> SplitAtPlus(const std::vector<std::wstring>& arguments, size_t first) {
    std::vector<Command> commands;
    std::vector<Token> words;
    std::wstring rest;
    std::optional<std::wstring> expected;
    for (size_t i = first; i <= arguments.size(); ++i) {
        if (i < arguments.size() && arguments[i] == kExpect && !words.empty() && !expected) {
            expected.emplace();
            continue;
        }
        if (i < arguments.size() && arguments[i] != L"+" && expected) {
            *expected += (expected->empty() ? L"" : L" ") + arguments[i];
            continue;
        }
        if (i < arguments.size() && arguments[i] != L"+") {
            if (!words.empty()) rest += (rest.empty() ? L"" : L" ") + arguments[i];
            words.push_back(ArgumentToken(arguments[i]));
            continue;
        }
        if (words.empty()) throw CUsageError{L"an empty command (two \"+\" in a row?)"};
        commands.push_back(MakeCommand(std::move(words), std::move(rest)));
        commands.back().expected = std::move(expected);
        words.clear();
        rest.clear();
        expected.reset();
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
        // Quotes inside a word group blanks into it too (node:"Big trees/Oak"), as in a shell.
        while (i < line.size() && !iswspace(line[i])) {
            if (line[i] != L'"') {
                word.text += line[i++];
                continue;
            }
            for (++i; i < line.size() && line[i] != L'"'; ++i) {
                if (line[i] == L'\\' && i + 1 < line.size() &&
                    (line[i + 1] == L'"' || line[i + 1] == L'\\')) {
                    ++i;
                }
                word.text += line[i];
            }
            if (i == line.size()) throw CUsageError{L"a quote is not closed"};
            ++i;
            if (word.quoted) break;
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::optional<Command> CCommandLine::ParseLine(std::wstring_view line) {
    const size_t first = line.find_first_not_of(L" \t\r");
    if (first == std::wstring_view::npos || line[first] == L'#') return std::nullopt;
    line = line.substr(first, line.find_last_not_of(L" \t\r") + 1 - first);
    const size_t blank = line.find_first_of(L" \t");
    const std::wstring_view name = line.substr(0, blank);
    const std::wstring rest(blank == std::wstring_view::npos
                                ? std::wstring_view()
                                : line.substr(line.find_first_not_of(L" \t", blank)));
    Command command;
    // echo prints its text as written; other lines are split into words.
    if (name == L"echo") {
        command = {L"echo", {}, rest, {}};
    } else if (const size_t at = ExpectationAt(line); at != std::wstring_view::npos) {
        command = MakeCommand(Split(line.substr(0, at)), rest);
        command.expected = std::wstring(Trimmed(line.substr(at + 2)));
    } else {
        command = MakeCommand(Split(line), rest);
    }
    Check(command);
    return command;
}

std::vector<Command> CCommandLine::ParseScript(std::wstring_view text) {
    std::vector<Command> commands;
    size_t start = 0, number = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring_view::npos) end = text.size();
        const std::wstring_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        try {
            if (std::optional<Command> command = ParseLine(line)) {
                commands.push_back(std::move(*command));
            }
        } catch (const CUsageError& error) {
            throw CUsageError{L"line " + std::to_wstring(number) + L": " + error.message};
        }
    }
    return commands;
}

Options CCommandLine::Parse(const std::vector<std::wstring>& arguments) {
    Options options;
    size_t i = 0;
    for (; i < arguments.size() && arguments[i].rfind(L"-", 0) == 0 && arguments[i] != kExpect;
         ++i) {
        const std::wstring& option = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (option == L"--") {
            ++i;
            break;
        }
        if (option == L"--json") {
            options.json = true;
        } else if (option == L"--help" || option == L"-h") {
            options.help = true;
            return options;
        } else if (option == L"--version") {
            options.version = true;
            return options;
        } else if (option == L"--session") {
            options.session = true;
        } else if (option == L"--transport" && hasValue &&
                   (arguments[i + 1] == L"queue" || arguments[i + 1] == L"window")) {
            options.transport = arguments[++i] == L"queue" ? Transport::Queue : Transport::Window;
        } else if (option == L"--timeout" && hasValue) {
            const std::wstring& value = arguments[++i];
            const unsigned long seconds =
                value.size() <= 4 && value.find_first_not_of(L"0123456789") == std::wstring::npos
                    ? std::wcstoul(value.c_str(), nullptr, 10)
                    : 0;
            if (seconds < 1 || seconds > 3600) {
                throw CUsageError{L"--timeout takes seconds from 1 to 3600, not " + value};
            }
            options.timeoutSeconds = static_cast<unsigned>(seconds);
            options.timeoutGiven = true;
        } else if (option == L"--script" && hasValue && !options.session) {
            if (i + 2 != arguments.size()) throw CUsageError{L"--script FILE comes last"};
            options.commands = ParseScript(ReadScript(arguments[i + 1]));
            return options;
        } else {
            throw CUsageError{L"unknown option or missing value: " + option};
        }
    }
    if (options.session) {
        if (i != arguments.size()) {
            throw CUsageError{L"--session reads its commands from standard input, not " +
                              arguments[i]};
        }
        return options;
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
    static const std::wstring_view expecting[] = {L"get", L"set", L"call", L"text"};
    if (command.expected &&
        std::find(std::begin(expecting), std::end(expecting), command.name) == std::end(expecting)) {
        throw CUsageError{command.name + L" takes no expected result (\"->\")"};
    }
    if (command.expected && command.expected->empty()) {
        throw CUsageError{L"nothing after \"->\""};
    }
    if (command.name == L"list") {
        for (size_t i = 0; i < command.args.size(); ++i) {
            const Token& flag = command.args[i];
            if (flag.quoted || (flag.text != L"--handles" && flag.text != L"--all") ||
                (i == 1 && flag.text == command.args[0].text)) {
                throw CUsageError{L"usage: " + std::wstring(info->synopsis)};
            }
        }
    }
    const auto isWindowFlag = [](const Token& word) {
        return !word.quoted && word.text == L"--window";
    };
    if (command.name == L"picture" && command.args.size() > 1 &&
        (command.args.size() == 3) != isWindowFlag(command.args[1])) {
        throw CUsageError{L"usage: " + std::wstring(info->synopsis)};
    }
    if (command.name == L"attach" && IsFlag(command.args[0]) && command.args.size() != 2) {
        throw CUsageError{L"usage: attach " + command.args[0].text +
                          (command.args[0].text == L"--title" ? L" TEXT" : L" EXE")};
    }
    if (const size_t at = SecondsAt(command.name); at < command.args.size()) {
        const std::wstring& seconds = command.args[at].text;
        if (seconds.empty() || seconds.size() > 6 ||
            seconds.find_first_not_of(L"0123456789") != std::wstring::npos) {
            throw CUsageError{command.name + L" takes a number of seconds, not " + seconds};
        }
    }
    if (command.name == L"watch" && !command.args.back().quoted &&
        command.args.back().text == L"--cancel") {
        throw CUsageError{L"--cancel names an event"};
    }
    if (command.name == L"watch") {
        const auto isEvent = [](const Token& word) {
            return word.quoted || (word.text != L"--cancel" && word.text != L"--ask");
        };
        if (std::none_of(command.args.begin() + 1, command.args.end(), isEvent)) {
            throw CUsageError{L"usage: " + std::wstring(info->synopsis)};
        }
    }
}

bool CCommandLine::IsFlag(const Token& word) {
    return !word.quoted && (word.text == L"--running" || word.text == L"--title");
}

DWORD CCommandLine::Seconds(const Command& command, DWORD defaultSeconds) {
    const size_t at = SecondsAt(command.name);
    return at < command.args.size() ? std::wcstoul(command.args[at].text.c_str(), nullptr, 10)
                                    : defaultSeconds;
}

std::wstring CCommandLine::Help() {
    std::wstring text =
        L"usage: tarnwick-host [--json] [--transport queue|window] [--timeout SECONDS] "
        L"COMMAND ARGS... [+ COMMAND ARGS...]...\n"
        L"       tarnwick-host [--json] [--transport queue|window] [--timeout SECONDS] "
        L"--script FILE\n"
        L"       tarnwick-host [--json] [--transport queue|window] [--timeout SECONDS] "
        L"--session\n"
        L"       tarnwick-host --help | -h | --version\n"
        L"--timeout: how long a request waits for the application (default 10); an operation\n"
        L"still running after half of it fails at once as busy (a modal window is open). Given,\n"
        L"it is also the default of every wait and of the wait for an answer (default 5).\n"
        L"--session: commands come one a line on standard input, each answered as soon as it\n"
        L"is done; a line may start with a number that the answer's lines carry (\"7 get ...\");\n"
        L"\"answer ID cancel\" or \"answer ID allow\" answers an event watched with --ask; the\n"
        L"session detaches at the end of the input. With --json every line is a JSON object\n"
        L"whose \"type\" is \"result\", \"event\" or \"error\"; the last line of a command's\n"
        L"answer has \"done\": true.\n"
        L"--: ends the options.\n"
        L"CONTROL: Class[n] (the nth control of that class), #ID, 0xHANDLE or its text (without\n"
        L"         '&', in any letter case); after \"window TEXT\", only inside that window.\n"
        L"Values take the type the operation declares for them: text stays text; integers\n"
        L"(decimal or 0x), true and false become numbers and booleans where it wants one.\n"
        L"A quoted value is always text.\n"
        L"NODE: node:PATH names a tree node by its texts from the top level, \"/\" between\n"
        L"      (node:Plants/Trees/Oak); results and events name nodes that way too.\n"
        L"get, set, call and text may end with \"-> RESULT\": the command fails unless it prints\n"
        L"RESULT (as printed: \"text\", [a, b], true, 2, node:PATH, done; a text also\n"
        L"without its quotes; busy: the operation went on in a modal window, the command\n"
        L"succeeds and the session goes on). In a shell, quote it: '->'.\n"
        L"Commands:";
    for (const CommandInfo& info : kCommands) {
        std::wstring synopsis = info.synopsis;
        synopsis.resize(std::max<size_t>(synopsis.size(), 43), L' ');
        text += L"\n  " + synopsis + L" " + info.summary;
    }
    return text;
}

std::wstring CCommandLine::Version() { return L"tarnwick-host " TARNWICK_VERSION; }

}  // namespace tarnwick::host
