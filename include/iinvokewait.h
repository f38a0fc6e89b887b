#pragma once
// The wait of a raised event for its return. The caller blocks on it, with a time-out, until
// the peer's method return has been written into the event's message.

#include <windows.h>

#include "tarnwickapi.h"

namespace tarnwick {

class TARNWICK_API IInvokeWait {
  public:
    // Defined in the library, so that hosts import them.
    IInvokeWait() noexcept;
    IInvokeWait(const IInvokeWait&) noexcept;
    IInvokeWait& operator=(const IInvokeWait&) noexcept;
    virtual ~IInvokeWait();

    // True when the call has completed within the time-out (milliseconds; INFINITE allowed).
    virtual bool Wait(DWORD timeoutMs) = 0;
};

}  // namespace tarnwick
