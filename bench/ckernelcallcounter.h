#pragma once
// Counts the kernel calls that modules of this process make, by pointing their import-table
// entries at counting forwarders: waits, event, mutex and handle operations, mappings,
// process queries, sleeps, sent and posted messages and window properties (each a round trip
// to the kernel, under Wine to its server), and critical sections and slim reader/writer
// locks that had to wait (two calls: the wait and the wake).
// A call made from one module counts on the side that module was installed for; sent
// messages always count as the transport's.

#include <windows.h>

#include <cstdint>

namespace tarnwick::bench {

enum class CallSide : int { Own = 0, Transport = 1 };

struct KernelCalls {
    std::int64_t own = 0;
    std::int64_t transport = 0;

    KernelCalls operator-(const KernelCalls& earlier) const {
        return {own - earlier.own, transport - earlier.transport};
    }
};

class CKernelCallCounter {
  public:
    // Counts the calls of `module` from now on. False when its import table could not be
    // read or changed.
    static bool Install(HMODULE module, CallSide side);
    // The calls counted so far, of every thread.
    static KernelCalls Counted();
};

}  // namespace tarnwick::bench
