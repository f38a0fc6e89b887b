#pragma once
// One run of the host command: it attaches to an application (starting the agent there and
// connecting a peer to it), runs the commands in order and prints what they answer, and prints
// and answers the events it watches. It detaches when it goes if still attached.

#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capplication.h"
#include "chosterror.h"
#include "ccommandline.h"
#include "ccontroltable.h"
#include "coperationtypes.h"
#include "coutput.h"
#include "csessioninput.h"
#include "ctreenodes.h"
#include "cvaluetext.h"
#include "cwindowscope.h"
#include "peer/cpeer.h"

namespace tarnwick::host {

class CHostSession {
  public:
    CHostSession(COutput& out, Transport transport, unsigned timeoutSeconds);
    CHostSession(const CHostSession&) = delete;
    CHostSession& operator=(const CHostSession&) = delete;
    ~CHostSession();

    // Runs one checked command; throws CHostError.
    void Run(const Command& command);
    // In a session: events watched with --ask wait for their answer from input, up to
    // timeoutMs each, and are allowed without one.
    void SetAnswers(CSessionInput* input, DWORD timeoutMs) noexcept {
        answers_ = input;
        answerTimeoutMs_ = timeoutMs;
    }
    // The seconds of a wait command that names none.
    void SetDefaultWaitSeconds(DWORD seconds) noexcept { scope_.SetDefaultWaitSeconds(seconds); }

  private:
    struct Watch {
        std::wstring control;
        bool cancel = false;
        bool ask = false;
    };

    void Attach(const Command& command);
    // Opens the process that "attach --running EXE" or "attach --title TEXT" names; answers
    // how readable lines name the application.
    std::wstring OpenRunning(const Command& command);
    void Connect(DWORD thread);
    void List(const Command& command);
    void Get(const Command& command);
    void Set(const Command& command);
    void Call(const Command& command);
    // Calls a member of the control with the command's arguments after the first two, and
    // prints the result; a member that drives the application is followed by a "Sync".
    void Operate(const Command& command, const std::wstring& member, bool drives);
    // The arguments after the control, converted by the types the operation declares.
    std::vector<CVariantHolder> OperationArguments(const Command& command, const Control& control,
                                                   const std::wstring& member);
    // Whether a driving command's reply may mean that the application is going: it did not
    // arrive, or the application shows no window any more.
    bool Gone(const PeerReply& reply) const;
    // True when the application has ended (given a moment to): then the driving command
    // printed "HEAD -> done (the application ended)" and the session forgot the application.
    bool EndedAfter(const std::wstring& head, CJsonObject json);
    void WatchEvents(const Command& command);
    void Members(const Command& command);
    // "menu --list" prints the menu bar of the scoped or main window; "menu PATH" chooses one
    // of its commands.
    void Menu(const Command& command);
    void ListMenu(const TopWindow& window);
    // The answer to an asked event: printed with its number, waited for on input.
    bool AskAnswer(const std::wstring& readable, CJsonObject json);
    void Unwatch(const Command& command);
    void Sync(const Command& command);
    void Picture(const Command& command);
    void Detach(const Command& command);
    void WaitExit(const Command& command);
    void Running(const Command& command);
    void Blocks(const Command& command);
    void Close(const Command& command);
    void Text(const Command& command);
    void Echo(const Command& command);
    void Windows(const Command& command);
    void Window(const Command& command);
    void WaitWindow(const Command& command);
    void WaitClosed(const Command& command);
    void WaitControl(const Command& command);

    // The controls of the last list in the window scope, listed now when there is none.
    const CControlTable& Table();
    // The control a name means; the table is listed again before the name fails.
    Control Resolve(const Token& name);
    CVariantHolder Reference(const Control& control);
    // The nodes of a tree view, and an argument written node:PATH as the node's handle.
    CTreeNodes& Nodes(const Control& control);
    CVariantHolder NodeArgument(const Control& control, const std::wstring& path);
    // What names node handles in an operation's result: only operations that answer nodes.
    NodeNamer ResultNamer(const Control& control, const std::wstring& member);
    void ForgetNodes();
    // Calls a member of the agent (a method call) and answers its result; throws when it
    // failed.
    CVariantHolder Invoke(const std::wstring& member, std::vector<CVariantHolder> arguments);
    // The same call, its reply as it came.
    PeerReply CallAgent(const std::wstring& member, std::vector<CVariantHolder> arguments);
    PeerTarget AgentTarget() const;
    PeerTarget ControlTarget(const Control& control) const;
    // Throws with what went wrong when the reply is not a completed one.
    void Check(const PeerReply& reply, const std::wstring& what) const;
    // Prints "COMMAND ... -> RESULT" or its JSON object; throws when the command expected
    // another result.
    void PrintResult(const std::wstring& head, CJsonObject json, const VARIANT& result,
                     const NodeNamer& nodes = {});
    void Forget();
    CVariantHolder OnEvent(const PeerEvent& event);
    // Events that come while a command runs are printed after its output, so that each one
    // follows the command that raised it; at other times they are printed as they come.
    void HoldEvents();
    void PrintHeldEvents();

    COutput& out_;
    const Transport transport_;
    const DWORD timeoutMs_;
    std::uint64_t sessionKey_ = 0;
    CApplication app_;
    std::wstring appName_;  // the executable or "process PID", as attach was given it
    bool ended_ = false;    // a driving command ended the application
    CWindowScope scope_{out_, app_};
    COperationTypes types_;
    std::optional<CControlTable> table_;
    std::optional<std::wstring> expected_;  // of the command running
    Microsoft::WRL::ComPtr<IRecordInfo> referenceInfo_;
    std::mutex watchMutex_;  // over watches_ and trees_: events read them on another thread
    std::map<std::pair<std::uint64_t, std::wstring>, Watch> watches_;  // by window and event
    std::map<std::uint64_t, std::unique_ptr<CTreeNodes>> trees_;        // by window
    bool holding_ = false;                                               // under watchMutex_
    std::vector<std::pair<std::wstring, CJsonObject>> held_;             // under watchMutex_
    // The session pool's live blocks before the agent started, to tell what a session left.
    std::uint32_t blocksAtAttach_ = 0;
    CSessionInput* answers_ = nullptr;
    DWORD answerTimeoutMs_ = 0;
    std::atomic<std::uint64_t> asked_{0};  // the number of the last asked event
    // Last, so that it goes first, with the thread that calls OnEvent.
    std::unique_ptr<CPeer> peer_;
};

}  // namespace tarnwick::host
