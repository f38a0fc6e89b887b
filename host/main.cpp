// tarnwick-host: attaches to an application, lists, reads and drives its controls and prints
// their events. Exit code 0 when every command succeeded, 1 when one failed, 2 for a command
// line that cannot run.
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include "ccommandline.h"
#include "chostsession.h"
#include "coutput.h"

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

int RunCommands(const tarnwick::host::Options& options) {
    using namespace tarnwick::host;
    COutput out(options.json);
    CHostSession session(out, options.transport, options.timeoutSeconds);
    for (const Command& command : options.commands) {
        try {
            session.Run(command);
        } catch (const CHostError& error) {
            COutput::Error(error.message);
            return 1;
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
    if (options.help) {
        COutput(false).Line(CCommandLine::Help(), CJsonObject());
        return 0;
    }
    const ComApartment apartment;
    return RunCommands(options);
}
