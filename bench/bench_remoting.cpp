// Raised-event round trips (raise, the peer answers, the raiser wakes) through the library
// over each transport, beside the bare transport carrying a 16-byte record between the same
// two processes with no library, timed in alternating rounds of the same run. Then where the
// time of one round trip goes: the library's steps timed alone, the two legs of a round trip
// from performance-counter stamps, and the kernel calls this process makes per round trip.
// Usage: bench_remoting [--round-trips N]   (one round of N instead of 7 of 2000)
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench/benchclock.h"
#include "bench/benchpeers.h"
#include "bench/cbaretransports.h"
#include "bench/cbenchhost.h"
#include "bench/ckernelcallcounter.h"
#include "bench/chostwindow.h"
#include "bench/cpeerprocess.h"
#include "bench/craisesteps.h"
#include "bench/csharedview.h"
#include "invokemanagementservices.h"
#include "platform/vaskreservoir.h"

namespace tarnwick::bench {

namespace {

// How much is timed. "--round-trips N" makes one round of N, for a quick look or a trace.
struct Plan {
    int rounds = 7;
    int roundTrips = 2000;
    int warmUp = 500;
    int stepRuns = 500;
};
constexpr DWORD kReadyTimeoutMs = 30000;

using RoundTrip = std::function<bool(int)>;

// Microseconds per round trip; negative when one failed.
double TimeRoundTrips(const RoundTrip& roundTrip, int count) {
    const double start = Now();
    for (int i = 1; i <= count; ++i) {
        if (!roundTrip(i)) return -1;
    }
    return (Now() - start) / count;
}

struct Transport {
    const char* name;
    RoundTrip library;
    RoundTrip bare;
    std::vector<double> libraryRuns;
    std::vector<double> bareRuns;
    double toHandler = 0;    // raise to the peer's handler, median
    double fromHandler = 0;  // peer's handler to the raiser awake, median
    // Kernel calls of this process per round trip, own and the transport's.
    double libraryOwnCalls = 0;
    double libraryTransportCalls = 0;
    double bareOwnCalls = 0;
    double bareTransportCalls = 0;

    double LibraryMedian() const { return Median(libraryRuns); }
    double BareMedian() const { return Median(bareRuns); }
    // Library time per round trip over bare time.
    double Ratio() const { return LibraryMedian() / BareMedian(); }
};

// The two legs of library round trips, from the stamp the peer's handler writes.
bool MeasureLegs(Transport& transport, const void* stamp, int count) {
    std::vector<double> out;
    std::vector<double> back;
    for (int i = 1; i <= count; ++i) {
        const LONGLONG raised = Ticks();
        if (!transport.library(i)) return false;
        const LONGLONG woken = Ticks();
        LONGLONG handled = 0;
        std::memcpy(&handled, stamp, sizeof handled);
        out.push_back(Microseconds(handled - raised));
        back.push_back(Microseconds(woken - handled));
    }
    transport.toHandler = Median(out);
    transport.fromHandler = Median(back);
    return true;
}

// Kernel calls per round trip of each kind, counted over `count` more round trips.
bool CountCalls(Transport& transport, int count) {
    const auto perRoundTrip = [count](const RoundTrip& roundTrip, double& own, double& carried) {
        const KernelCalls before = CKernelCallCounter::Counted();
        if (TimeRoundTrips(roundTrip, count) < 0) return false;
        const KernelCalls calls = CKernelCallCounter::Counted() - before;
        own = static_cast<double>(calls.own) / count;
        carried = static_cast<double>(calls.transport) / count;
        return true;
    };
    return perRoundTrip(transport.library, transport.libraryOwnCalls,
                        transport.libraryTransportCalls) &&
           perRoundTrip(transport.bare, transport.bareOwnCalls, transport.bareTransportCalls);
}

// Each round times the library's steps alone too, so that they meet the same load as the
// round trips they are compared with.
bool RunRounds(const Plan& plan, std::vector<Transport>& transports, CRaiseSteps& steps) {
    for (Transport& transport : transports) {
        if (TimeRoundTrips(transport.library, plan.warmUp) < 0 ||
            TimeRoundTrips(transport.bare, plan.warmUp) < 0) {
            std::printf("remoting: the %s warm-up failed\n", transport.name);
            return false;
        }
    }
    for (int round = 1; round <= plan.rounds; ++round) {
        std::printf("round %d:", round);
        for (Transport& transport : transports) {
            const double library = TimeRoundTrips(transport.library, plan.roundTrips);
            const double bare = TimeRoundTrips(transport.bare, plan.roundTrips);
            if (library < 0 || bare < 0) {
                std::printf("\nremoting: a %s round trip failed (%s)\n", transport.name,
                            library < 0 ? "library" : "bare");
                return false;
            }
            transport.libraryRuns.push_back(library);
            transport.bareRuns.push_back(bare);
            std::printf("  %s library %.1f us, bare %.1f us;", transport.name, library, bare);
        }
        std::printf("\n");
        if (!steps.TimeRound(plan.stepRuns)) {
            std::printf("remoting: a library step failed when timed alone\n");
            return false;
        }
    }
    return true;
}

// One total of the breakdown.
void PrintRow(const char* name, double queue, double window) {
    std::printf("  %-50s %5s %8s %8.2f %8.2f\n", name, "", "", queue, window);
}

void PrintCalls(const Transport& transport) {
    std::printf(
        "  %-7s library: transport %.2f + library's own %.2f; bare: transport %.2f + its own "
        "%.2f\n",
        transport.name, transport.libraryTransportCalls, transport.libraryOwnCalls,
        transport.bareTransportCalls, transport.bareOwnCalls);
}

void PrintBreakdown(const Plan& plan, const std::vector<RaiseStep>& steps, const Transport& queue,
                    const Transport& window) {
    std::printf(
        "\nwhere one round trip's time goes (us; library steps timed alone in this process, "
        "median of %d rounds of %d; calls: kernel calls of one run of the step, counted):\n",
        plan.rounds, plan.stepRuns);
    std::printf("  %-50s %5s %8s %8s %8s\n", "step", "calls", "each", queue.name, window.name);
    double queueSum = 0;
    double windowSum = 0;
    for (const RaiseStep& step : steps) {
        queueSum += step.microseconds * step.perQueueRaise;
        windowSum += step.microseconds * step.perWindowRaise;
        std::printf("  %-50s %5.1f %8.2f %8.2f %8.2f\n", step.name.c_str(), step.kernelCalls,
                    step.microseconds, step.microseconds * step.perQueueRaise,
                    step.microseconds * step.perWindowRaise);
    }
    PrintRow("library's own steps, sum", queueSum, windowSum);
    PrintRow("bare transport round trip (measured above)", queue.BareMedian(), window.BareMedian());
    PrintRow("rest: the round trip less the two lines above",
             queue.LibraryMedian() - queueSum - queue.BareMedian(),
             window.LibraryMedian() - windowSum - window.BareMedian());
    PrintRow("library round trip (measured above)", queue.LibraryMedian(), window.LibraryMedian());
    std::printf("legs of a library round trip, from the peer handler's stamp (median of %d):\n",
                plan.roundTrips);
    PrintRow("raise until the peer's handler runs", queue.toHandler, window.toHandler);
    PrintRow("peer's handler until the raiser is awake", queue.fromHandler, window.fromHandler);
    std::printf(
        "kernel calls of this process per round trip (%d more of each, every thread; the "
        "transport's: those of the queue library and the sent messages):\n",
        plan.roundTrips);
    PrintCalls(queue);
    PrintCalls(window);
}

int Run(const Plan& plan) {
    // The library is linked into this program; the queue library is the IPC transport.
    const bool counting =
        CKernelCallCounter::Install(GetModuleHandleW(nullptr), CallSide::Own) &&
        CKernelCallCounter::Install(GetModuleHandleW(L"Vask.Reservoir.x64.dll"), CallSide::Own) &&
        CKernelCallCounter::Install(GetModuleHandleW(L"Vask.Conduit.x64.dll"), CallSide::Transport);
    if (!counting) {
        std::printf("remoting: could not count kernel calls\n");
        return 1;
    }
    const std::wstring stampName = Numbered(L"Local\\TarnwickBench.Stamp.");
    const std::wstring hostQueue = Numbered(L"TwH");
    const std::wstring bareQueueName = Numbered(L"TwQ");
    const std::wstring targetQueue = Numbered(L"TwT");
    const CSharedView stamp = CSharedView::Create(stampName, sizeof(LONGLONG));
    CBareWindow bareWindow(Numbered(L"Local\\TarnwickBench.Record."));
    CBenchHost windowHost;
    const CHostWindow hostWindow(windowHost, &bareWindow);
    CBareQueue bareQueue(hostQueue, bareQueueName);
    CBenchHost queueHost;
    queueHost.SetService(
        GetLpcInvokeManagementService(SysAllocString(targetQueue.c_str()), &queueHost));
    if (stamp.Get() == nullptr || hostWindow.Get() == nullptr || !bareWindow.Created() ||
        !bareQueue.Created() || queueHost.Service() == nullptr) {
        std::printf("remoting: could not make the host's window, queue or mappings\n");
        return 1;
    }

    // Every block of the run is freed by the time the peers are gone.
    const std::uint32_t blocksBefore = GetLiveBlockCount();
    CPeerProcess queuePeer;
    CPeerProcess bareQueuePeer;
    CPeerProcess windowPeer;
    CPeerProcess bareWindowPeer;
    const bool started =
        queuePeer.Start(L"queue", {targetQueue, stampName}) &&
        queuePeer.WaitReady(kReadyTimeoutMs) &&
        bareQueuePeer.Start(L"barequeue", {hostQueue, bareQueueName}) &&
        bareQueuePeer.WaitReady(kReadyTimeoutMs) &&
        windowPeer.Start(L"window", {Hex(hostWindow.Get()), stampName}) &&
        windowPeer.WaitReady(kReadyTimeoutMs) &&
        bareWindowPeer.Start(L"barewindow", {Hex(hostWindow.Get()), bareWindow.Name()}) &&
        bareWindowPeer.WaitReady(kReadyTimeoutMs);
    if (!started) {
        std::printf("remoting: a peer process did not start or subscribe\n");
        return 1;
    }

    std::vector<Transport> transports;
    transports.push_back(
        {"queue", [&](int i) { return queueHost.Raise(i); },
         [&](int i) { return bareQueue.RoundTrip(static_cast<std::uint32_t>(i)); }});
    transports.push_back(
        {"window", [&](int i) { return windowHost.Raise(i); },
         [&](int i) { return bareWindow.RoundTrip(static_cast<std::uint32_t>(i)); }});
    CRaiseSteps steps(*queueHost.Service(), queueHost.Address());
    if (!RunRounds(plan, transports, steps)) return 1;
    for (Transport& transport : transports) {
        if (!MeasureLegs(transport, stamp.Get(), plan.roundTrips) ||
            !CountCalls(transport, plan.roundTrips)) {
            std::printf("remoting: a %s round trip failed while stamped or counted\n",
                        transport.name);
            return 1;
        }
    }
    PrintBreakdown(plan, steps.Steps(), transports[0], transports[1]);
    for (CPeerProcess* peer : {&queuePeer, &bareQueuePeer, &windowPeer, &bareWindowPeer}) {
        peer->Stop();
    }
    const std::uint32_t blocksAfter = GetLiveBlockCount();
    std::printf("shared-memory blocks alive: %u before the peers started, %u after they ended\n",
                blocksBefore, blocksAfter);
    if (blocksAfter != blocksBefore) {
        std::printf("remoting: the run left shared-memory blocks behind\n");
        return 1;
    }

    std::printf("\n");
    for (const Transport& transport : transports) {
        std::printf(
            "%s: library %.0f raised-event round trips/s, bare %.0f round trips/s of a 16-byte "
            "record, ratio %.2f (library/bare time per round trip)\n",
            transport.name, 1e6 / transport.LibraryMedian(), 1e6 / transport.BareMedian(),
            transport.Ratio());
    }
    const Transport& queue = transports[0];
    const Transport& window = transports[1];
    std::printf(
        "remoting: ratio %.2f (library/bare time per raised-event round trip, the larger of IPC "
        "queue %.2f and window message %.2f; kernel calls per raise: queue %.1f of the "
        "transport + %.1f of the library, window %.1f + %.1f)\n",
        std::max(queue.Ratio(), window.Ratio()), queue.Ratio(), window.Ratio(),
        queue.libraryTransportCalls, queue.libraryOwnCalls, window.libraryTransportCalls,
        window.libraryOwnCalls);
    return 0;
}

}  // namespace

}  // namespace tarnwick::bench

int main() {
    return tarnwick::bench::RunBenchmarkProgram(L"--round-trips", [](std::optional<int> count) {
        tarnwick::bench::Plan plan;
        if (count) plan = {1, *count, *count, *count};
        return tarnwick::bench::Run(plan);
    });
}
