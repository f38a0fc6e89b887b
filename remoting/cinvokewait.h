#pragma once
// The wait of one raised event: a manual-reset event that the service sets once the peer's
// return has been written into the event's message.

#include <windows.h>

#include <atomic>

#include "iinvokewait.h"

namespace tarnwick {

class CRaiseEventMessage;

class CInvokeWait final : public IInvokeWait {
  public:
    // The message is not owned; the service writes the return into it.
    explicit CInvokeWait(CRaiseEventMessage* message);
    CInvokeWait(const CInvokeWait&) = delete;
    CInvokeWait& operator=(const CInvokeWait&) = delete;
    ~CInvokeWait() override;

    // True exactly when the event is set within the time-out. A wait whose event could not
    // be made never completes.
    bool Wait(DWORD timeoutMs) override;

    // Marks the call complete; every later Wait returns true at once.
    void Signal();
    // Whether Signal ran: the call's outcome is settled, and a later return is not applied.
    bool Signalled() const { return signalled_.load(); }

    CRaiseEventMessage* Message() const { return message_; }
    HANDLE Event() const { return event_; }

  private:
    HANDLE event_;
    CRaiseEventMessage* message_;
    std::atomic<bool> signalled_{false};
};

}  // namespace tarnwick
