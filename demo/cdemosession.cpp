#include "cdemosession.h"

#include <ole2.h>
#include <shellapi.h>

#include <cstdio>

namespace tarnwick::demo {

namespace {

UniqueHandle TurnEvent(const std::wstring& id, Role role) {
    const std::wstring name =
        L"Local\\TarnwickDemo" + id + (role == Role::Target ? L"TargetTurn" : L"PeerTurn");
    // Auto-reset: each Pass wakes exactly one Await, whichever side created the event first.
    return UniqueHandle(CreateEventW(nullptr, FALSE, FALSE, name.c_str()));
}

bool PumpUntil(HANDLE event, DWORD deadline) {
    for (;;) {
        const auto left = static_cast<LONG>(deadline - GetTickCount());
        const DWORD woken = MsgWaitForMultipleObjects(
            1, &event, FALSE, left > 0 ? static_cast<DWORD>(left) : 0, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0) return true;
        if (woken != WAIT_OBJECT_0 + 1) return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

}  // namespace

CDemoSession::CDemoSession(std::wstring id, Role role)
    : id_(std::move(id)),
      mine_(TurnEvent(id_, role)),
      theirs_(TurnEvent(id_, role == Role::Target ? Role::Peer : Role::Target)) {}

std::wstring CDemoSession::WindowTitle(Role role) const {
    return (role == Role::Target ? L"Tarnwick demo target " : L"Tarnwick demo peer ") + id_;
}

void CDemoSession::Pass() const { SetEvent(theirs_.get()); }

bool CDemoSession::Await(bool pumpMessages) const {
    if (!pumpMessages) return WaitForSingleObject(mine_.get(), kTurnTimeoutMs) == WAIT_OBJECT_0;
    return PumpUntil(mine_.get(), GetTickCount() + kTurnTimeoutMs);
}

int RunSessionSide(Role role, SessionSide side) {
    const bool target = role == Role::Target;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count != 3) {
        if (arguments != nullptr) LocalFree(arguments);
        std::fwprintf(stderr, L"usage: %ls queue|window SESSION\n",
                      target ? L"tarnwick_demo_target.exe" : L"tarnwick_demo_peer.exe");
        return 2;
    }
    const std::wstring transport = arguments[1];
    const std::wstring id = arguments[2];
    LocalFree(arguments);

    CTranscript out(target ? L"[target]" : L"[peer]");
    const HRESULT initialized = OleInitialize(nullptr);
    if (!out.Check(SUCCEEDED(initialized), L"OleInitialize: 0x%08lX",
                   static_cast<unsigned long>(initialized))) {
        return out.ExitCode();
    }
    const CDemoSession session(id, role);
    if (out.Check(session.Opened(), L"the turn events of session %ls", id.c_str())) {
        side(transport, session, out);
    }
    OleUninitialize();
    return out.ExitCode();
}

}  // namespace tarnwick::demo
