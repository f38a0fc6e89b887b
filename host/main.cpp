// tarnwick-host: attaches to an application, lists, reads and drives its controls and prints
// their events. Exit code 0 when every command succeeded, 1 when one failed, 2 for a command
// line that cannot run.
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cwctype>
#include <memory>
#include <optional>
#include <string>

#include "ccommandline.h"
#include "chostsession.h"
#include "coutput.h"
#include "csessioninput.h"

namespace {

struct ComApartment {
    ComApartment() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~ComApartment() { CoUninitialize(); }
};

std::vector<std::wstring> Arguments() {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> arguments;
    for (int i = 1; words != nullptr && i < count; ++i) arguments.emplace_back(words[i]);
    LocalFree(words);
    return arguments;
}

std::unique_ptr<tarnwick::host::CHostSession> MakeSession(const tarnwick::host::Options& options,
                                                          tarnwick::host::COutput& out) {
    auto session = std::make_unique<tarnwick::host::CHostSession>(out, options.transport,
                                                                  options.timeoutSeconds);
    if (options.timeoutGiven) session->SetDefaultWaitSeconds(options.timeoutSeconds);
    return session;
}

int RunCommands(const tarnwick::host::Options& options) {
    using namespace tarnwick::host;
    COutput out(options.json);
    const auto session = MakeSession(options, out);
    for (const Command& command : options.commands) {
        try {
            session->Run(command);
        } catch (const CHostError& error) {
            COutput::Error(error.message);
            return 1;
        }
    }
    return 0;
}

// A session line's leading number, which the answer's lines carry; none when it has none.
std::optional<std::uint64_t> TakeNumber(std::wstring& line) {
    const size_t first = line.find_first_not_of(L" \t");
    if (first == std::wstring::npos || !std::iswdigit(line[first])) return std::nullopt;
    const size_t end = line.find_first_not_of(L"0123456789", first);
    if (end == std::wstring::npos || !std::iswspace(line[end]) || end - first > 18) {
        return std::nullopt;
    }
    const std::uint64_t number = std::wcstoull(line.c_str() + first, nullptr, 10);
    line.erase(0, end);
    return number;
}

// Whether the line answers an asked event ("answer ID ..."); the input hands an answer that an
// event waits for to that event, so one that reaches here came too late or names no event.
bool IsAnswer(const std::wstring& line) {
    try {
        const std::vector<tarnwick::host::Token> words = tarnwick::host::CCommandLine::Split(line);
        return !words.empty() && !words[0].quoted && words[0].text == L"answer";
    } catch (const tarnwick::host::CUsageError&) {
        return false;
    }
}

// Commands from standard input, each answered as soon as it is done; a failure is reported
// and the session goes on. Detaches at the end of the input; exit code 0 (failures were
// answered as they came).
int RunSession(const tarnwick::host::Options& options) {
    using namespace tarnwick::host;
    COutput out(options.json, true);
    CSessionInput input(GetStdHandle(STD_INPUT_HANDLE));
    const auto session = MakeSession(options, out);
    session->SetAnswers(&input, options.timeoutGiven ? options.timeoutSeconds * 1000 : 5000);
    std::uint64_t count = 0;
    while (std::optional<std::wstring> line = input.NextLine()) {
        // Not a command: it takes no number, and the command that runs keeps its own.
        if (IsAnswer(*line)) {
            out.Notice(
                L"no event waits for this answer (it was answered already, or never "
                L"asked): " +
                    *line,
                CJsonObject().AddText("answer", *line));
            continue;
        }
        ++count;
        const std::uint64_t number = TakeNumber(*line).value_or(count);
        out.Begin(number);
        try {
            const std::optional<Command> command = CCommandLine::ParseLine(*line);
            if (command) session->Run(*command);
            out.End();
        } catch (const CHostError& error) {
            out.Failure(error.message);
        } catch (const CUsageError& error) {
            out.Failure(error.message + L" (tarnwick-host --help lists the commands)");
        }
    }
    return 0;
}

}  // namespace

int main() {
    using namespace tarnwick::host;
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    Options options;
    try {
        options = CCommandLine::Parse(Arguments());
    } catch (const CUsageError& error) {
        COutput::Error(error.message + L" (tarnwick-host --help lists the commands)");
        return 2;
    }
    if (options.help || options.version) {
        COutput(false).Line(options.help ? CCommandLine::Help() : CCommandLine::Version(),
                            CJsonObject());
        return 0;
    }
    const ComApartment apartment;
    return options.session ? RunSession(options) : RunCommands(options);
}
