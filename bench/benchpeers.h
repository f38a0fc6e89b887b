#pragma once
// The peer processes of the remoting and hook benchmarks and what they share with its host.
//
// Every mode takes the names of its ready and stop events first: it sets the ready event
// once the host can start timing, and ends when the stop event is set.
//   queue       TARGETQUEUE STAMPS   the peer library over IPC queues
//   window      HOSTWINDOW STAMPS    the peer library over window messages
//   barequeue   HOSTQUEUE PEERQUEUE  echoes each 16-byte record back, no library
//   barewindow  HOSTWINDOW RECORD    answers message 0x8007 by rewriting the record in a
//                                    named 16-byte mapping, no library
//   hook        HOSTWINDOW COUNTER P B T O EVENT
//                                    the peer library over window messages, subscribed to
//                                    EVENT of the return address P B T O (hex); counts the
//                                    events it answers in the 64-bit COUNTER mapping
// STAMPS names a mapping of one 64-bit performance-counter value that the library peers
// write when their event handler starts.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace tarnwick::bench {

// Sent by a window peer to the host's window: wParam is the peer's window, lParam the mode.
inline constexpr UINT kHelloMessage = WM_APP + 1;
inline constexpr LPARAM kHelloLibrary = 1;
inline constexpr LPARAM kHelloBare = 2;

// The return address under which the library peers subscribe.
inline constexpr std::uint64_t kPeerAddressO = 0x4F;

// A hidden window of this process, destroyed with its owner.
struct CWindowDestroyer {
    void operator()(HWND window) const noexcept { DestroyWindow(window); }
};
using CUniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, CWindowDestroyer>;

// A value in hexadecimal, as the peers read their window and address arguments.
std::wstring Hex(std::uint64_t value);
inline std::wstring Hex(HWND window) { return Hex(reinterpret_cast<std::uintptr_t>(window)); }
// The prefix followed by this process's id: a name no other benchmark run uses.
std::wstring Numbered(const wchar_t* prefix);

// Registers the window class if it is not yet and makes a hidden window of it; null when it
// could not.
CUniqueWindow CreateHiddenWindow(const wchar_t* className, WNDPROC procedure);

// Runs the peer mode named by args[0]; the process's exit code.
int RunPeer(const std::vector<std::wstring>& args);

// The main of a benchmark that starts itself again as its peers: "--peer MODE ..." runs the
// peer, anything else runs `run`, with the count given as "COUNTOPTION N" (at least 1) for a
// quick single round, or none for the full plan. OLE is initialised around either.
int RunBenchmarkProgram(const wchar_t* countOption,
                        const std::function<int(std::optional<int> count)>& run);

}  // namespace tarnwick::bench
