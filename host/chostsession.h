#pragma once
// One run of the host command: it attaches to an application (starting the agent there and
// connecting a peer to it), runs the commands in order and prints what they answer, and prints
// and answers the events it watches. It detaches when it goes if still attached.

#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capplication.h"
#include "ccommandline.h"
#include "ccontroltable.h"
#include "coutput.h"
#include "peer/cpeer.h"

namespace tarnwick::host {

// A command that failed; the message says why.
struct CHostError {
    std::wstring message;
};

class CHostSession {
  public:
    CHostSession(COutput& out, Transport transport);
    CHostSession(const CHostSession&) = delete;
    CHostSession& operator=(const CHostSession&) = delete;
    ~CHostSession();

    // Runs one checked command; throws CHostError.
    void Run(const Command& command);

  private:
    struct Watch {
        std::wstring control;
        bool cancel = false;
    };

    void Attach(const Command& command);
    void Connect(DWORD thread);
    void List(const Command& command);
    void Get(const Command& command);
    void Set(const Command& command);
    void Call(const Command& command);
    // Calls a member of the control with the command's arguments after the first two, and
    // prints the result; a member that drives the application is followed by a "Sync".
    void Operate(const Command& command, const std::wstring& member, bool drives);
    void WatchEvents(const Command& command);
    void Unwatch(const Command& command);
    void Sync(const Command& command);
    void Picture(const Command& command);
    void Detach(const Command& command);
    void WaitExit(const Command& command);
    void Echo(const Command& command);

    // The controls of the last list, listed now when there is none.
    const CControlTable& Table();
    const Control& Resolve(const Token& name);
    CVariantHolder Reference(const Control& control);
    // Calls a member of the agent (a method call) and answers its result; throws when it
    // failed.
    CVariantHolder Invoke(const std::wstring& member, std::vector<CVariantHolder> arguments);
    PeerTarget AgentTarget() const;
    PeerTarget ControlTarget(const Control& control) const;
    // Throws with what went wrong when the reply is not a completed one.
    void Check(const PeerReply& reply, const std::wstring& what) const;
    // Prints "COMMAND ... -> RESULT" or its JSON object.
    void PrintResult(const std::wstring& head, CJsonObject json, const VARIANT& result);
    void Forget();
    CVariantHolder OnEvent(const PeerEvent& event);

    COutput& out_;
    const Transport transport_;
    CApplication app_;
    std::optional<CControlTable> table_;
    Microsoft::WRL::ComPtr<IRecordInfo> referenceInfo_;
    std::mutex watchMutex_;
    std::map<std::pair<std::uint64_t, std::wstring>, Watch> watches_;  // by window and event
    // Last, so that it goes first, with the thread that calls OnEvent.
    std::unique_ptr<CPeer> peer_;
};

}  // namespace tarnwick::host
