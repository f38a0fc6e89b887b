#pragma once
// What the demo's target and peer share in one session: the names they meet under (queues,
// window titles, turn events), the object that the peer drives, and the turns they take. Each
// side does its steps, hands the turn over and waits for it to come back, so that the
// transcript they print together always comes out in the same order.

#include <windows.h>

#include <string>

#include "ctranscript.h"
#include "messagetypes.h"
#include "common/uniquehandle.h"

namespace tarnwick::demo {

enum class Role { Target, Peer };

// The transports by their command-line names.
inline constexpr const wchar_t* kQueueTransport = L"queue";
inline constexpr const wchar_t* kWindowTransport = L"window";

// The target's button, whose Click event the peer subscribes to and whose members it calls.
inline constexpr ReturnAddressRecord kButtonAddress{0x1, 0x2, 0x3, 0xB0};
inline constexpr const wchar_t* kClickEvent = L"Click";

// How long either side waits for its turn before it gives up.
inline constexpr DWORD kTurnTimeoutMs = 15000;

class CDemoSession {
  public:
    // id names the session (unique per run and transport); both sides pass the same one.
    CDemoSession(std::wstring id, Role role);

    bool Opened() const noexcept { return mine_ != nullptr && theirs_ != nullptr; }
    // A name of this session: stem followed by the id, e.g. the queue "TwT" + id.
    std::wstring Name(const wchar_t* stem) const { return stem + id_; }
    // The title of a side's window, which the other side looks up.
    std::wstring WindowTitle(Role role) const;

    void Pass() const;
    // Waits for the turn; false on time-out. With pumpMessages the thread serves its windows
    // meanwhile, which a thread whose window receives the other side's requests must do.
    bool Await(bool pumpMessages) const;

  private:
    std::wstring id_;
    UniqueHandle mine_;
    UniqueHandle theirs_;
};

// One side's part of a session over the named transport.
using SessionSide = void (*)(const std::wstring& transport, const CDemoSession& session,
                             CTranscript& out);

// The main of the target and the peer: reads "queue|window SESSION" from the command line,
// initialises OLE and runs the side. Answers the exit code: 0 when every step did what it
// should, 1 when one did not, 2 for a wrong command line.
int RunSessionSide(Role role, SessionSide side);

}  // namespace tarnwick::demo
