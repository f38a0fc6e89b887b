// The demo driver. It shows that the library and its type library load, then runs a remoting
// session between a target process and a peer process over each transport, an IPC queue and
// then window messages, and prints their transcript and how each ended. The exit code is 0
// only when every step of both sessions did what it should and no shared-memory block was
// left behind.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdint>
#include <string>

#include "cdemoprocess.h"
#include "cdemosession.h"
#include "ctranscript.h"
#include "itypelibresolutionservice.h"
#include "platform/vaskreservoir.h"

namespace tarnwick::demo {
namespace {

constexpr const wchar_t* kLibrary = L"Tarnwick.Virtual.Native.x64.dll";
constexpr const wchar_t* kTypeLibrary = L"Tarnwick.Virtual.Interfaces.tlb";
constexpr const wchar_t* kTargetProgram = L"tarnwick_demo_target.exe";
constexpr const wchar_t* kPeerProgram = L"tarnwick_demo_peer.exe";
// A session that has not ended by then is stopped.
constexpr DWORD kSessionTimeoutMs = 30000;

struct TypeCounts {
    UINT interfaces = 0;
    UINT records = 0;
};

TypeCounts CountTypes(ITypeLib& library) {
    TypeCounts counts;
    for (UINT i = 0; i < library.GetTypeInfoCount(); ++i) {
        TYPEKIND kind = TKIND_MAX;
        if (FAILED(library.GetTypeInfoType(i, &kind))) continue;
        if (kind == TKIND_DISPATCH || kind == TKIND_INTERFACE) ++counts.interfaces;
        if (kind == TKIND_RECORD) ++counts.records;
    }
    return counts;
}

// The library is loaded through its import library; its type library resolution service
// finds the type library in the working directory.
bool ShowLibraries(CTranscript& out) {
    if (!out.Check(GetModuleHandleW(kLibrary) != nullptr, L"%ls is not loaded", kLibrary))
        return false;
    Microsoft::WRL::ComPtr<ITypeLib> library;
    if (!out.Check(
            GetTypeLibResolutionService()->GetTypeLib(kTypeLibrary, library.GetAddressOf()) &&
                library.Get() != nullptr,
            L"the type library resolution service did not find %ls", kTypeLibrary))
        return false;
    const TypeCounts counts = CountTypes(*library.Get());
    return out.Expect(counts.interfaces > 0 && counts.records > 0,
                      L"%ls loaded; its type library resolution service found %ls: %u "
                      L"interfaces, %u records",
                      kLibrary, kTypeLibrary, counts.interfaces, counts.records);
}

std::wstring ExitText(const std::optional<DWORD>& code) {
    return code ? L"exit code " + std::to_wstring(*code) : std::wstring(L"stopped");
}

// Starts the target and the peer on one transport and waits for both; one that has not
// ended within the session's time is stopped.
bool RunSession(CTranscript& out, const wchar_t* transport, const wchar_t* title) {
    out.Line(L"--- over %ls ---", title);
    const std::wstring arguments =
        std::wstring(transport) + L" " + std::to_wstring(GetCurrentProcessId()) + transport[0];
    CDemoProcess target;
    CDemoProcess peer;
    const auto start = [&](CDemoProcess& process, const wchar_t* program) {
        const DWORD error = process.Start(program, arguments);
        return out.Check(error == ERROR_SUCCESS, L"could not start %ls: error %lu", program, error);
    };
    if (!start(target, kTargetProgram) || !start(peer, kPeerProgram)) return false;
    const DWORD deadline = GetTickCount() + kSessionTimeoutMs;
    const std::optional<DWORD> targetExit = target.Wait(deadline);
    const std::optional<DWORD> peerExit = peer.Wait(deadline);
    const bool targetStopped = target.Stop();
    const bool peerStopped = peer.Stop();
    if (targetStopped || peerStopped) {
        out.Line(L"the session did not end within %lu s: stopped what still ran",
                 kSessionTimeoutMs / 1000);
    }
    const bool ok = targetExit == 0u && peerExit == 0u;
    out.Expect(ok, L"%ls: target %ls, peer %ls", title, ExitText(targetExit).c_str(),
               ExitText(peerExit).c_str());
    return ok;
}

int Run() {
    CTranscript out(L"[demo]");
    bool ok = ShowLibraries(out);
    const std::uint32_t before = GetLiveBlockCount();
    ok = RunSession(out, kQueueTransport, L"the IPC queue") && ok;
    ok = RunSession(out, kWindowTransport, L"window messages") && ok;
    const std::uint32_t after = GetLiveBlockCount();
    ok =
        out.Expect(after == before, L"shared-memory blocks alive: %u before the sessions, %u after",
                   before, after) &&
        ok;
    out.Line(ok ? L"every step did what it should over both transports"
                : L"some steps did not do what they should: see the lines marked above");
    return ok ? 0 : 1;
}

}  // namespace
}  // namespace tarnwick::demo

int main() { return tarnwick::demo::Run(); }
