#pragma once
// The host command's command line and scripts: the options, then commands separated by "+"
// (or one per script line), each checked against the command table before anything runs.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::host {

// A word of a command. Quoted is true when it was written in double quotes: a quoted word is
// always text, never a number or a flag.
struct Token {
    std::wstring text;
    bool quoted = false;
};

struct Command {
    std::wstring name;
    std::vector<Token> args;
    std::wstring rest;  // the text after the name, as written (what "echo" prints)
    // What a get, set, call or text must print after "->" (written after "->" on its line);
    // the command fails when it prints anything else.
    std::optional<std::wstring> expected;
};

enum class Transport { Queue, Window };

struct Options {
    bool json = false;
    bool help = false;
    bool version = false;
    // Commands come one a line on standard input, each answered as soon as it is done.
    bool session = false;
    // --timeout was given: it then also bounds the waits that have a default of their own.
    bool timeoutGiven = false;
    // Window messages by default: over the IPC queue, the answer to an event that a request makes
    // the application raise cannot arrive before the request returns.
    Transport transport = Transport::Window;
    // How long a request waits for the application's reply; the agent's own bound on an
    // operation is half of it, so that its "busy" answer arrives first.
    unsigned timeoutSeconds = 10;
    std::vector<Command> commands;
};

// A command line or script that cannot run; the message says why.
struct CUsageError {
    std::wstring message;
};

class CCommandLine {
  public:
    // Parses the arguments after the program name; throws CUsageError, and CUsageError too
    // when the script cannot be read.
    static Options Parse(const std::vector<std::wstring>& arguments);
    // The commands of a script's text, one a line; "#" starts a comment line.
    static std::vector<Command> ParseScript(std::wstring_view text);
    // One checked command of a script line; none for a blank or comment line.
    static std::optional<Command> ParseLine(std::wstring_view line);
    // The words of one line: blanks separate them, double quotes group them ("\"" and "\\"
    // inside quotes stand for a quote and a backslash).
    static std::vector<Token> Split(std::wstring_view line);
    static std::wstring Help();
    static std::wstring Version();
    // "--running" or "--title" after attach.
    static bool IsFlag(const Token& word);
    // The seconds a checked wait command names, or the default.
    static DWORD Seconds(const Command& command, DWORD defaultSeconds);

  private:
    static void Check(const Command& command);
};

}  // namespace tarnwick::host
