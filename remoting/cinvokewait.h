#pragma once
// The wait of one raised event. A waiting thread waits on an auto-reset event of its own,
// made on its first wait and reused by every later one; the service completes the wait once
// the peer's return has been written into the event's message.
//
// No signal outlives its wait: the completer sets a thread's event only when that thread is
// registered as waiting, and a waiter that gives up while the completion is on its way takes
// the signal before it returns. A return that comes later sets nothing.

#include <windows.h>

#include <atomic>

#include "iinvokewait.h"

namespace tarnwick {

class CRaiseEventMessage;

class CInvokeWait final : public IInvokeWait {
  public:
    // The message is not owned; the service writes the return into it.
    explicit CInvokeWait(CRaiseEventMessage* message) noexcept : message_(message) {}
    CInvokeWait(const CInvokeWait&) = delete;
    CInvokeWait& operator=(const CInvokeWait&) = delete;
    ~CInvokeWait() override;

    // True exactly when the wait completed within the time-out. A wait for which no event
    // could be made never completes.
    bool Wait(DWORD timeoutMs) override;

    // Marks the call complete; every later Wait returns true at once. Answers the event that
    // wakes the thread waiting meanwhile (null when none is): pass it to Wake, which may be
    // done after leaving the service guard, since that thread cannot go before it is woken.
    [[nodiscard]] HANDLE Complete() noexcept;
    static void Wake(HANDLE event) noexcept {
        if (event != nullptr) SetEvent(event);
    }
    void Signal() noexcept { Wake(Complete()); }
    // Whether the call's outcome is settled, so that a later return is not applied.
    bool Signalled() const noexcept { return waiter_.load() == Completed(); }

    CRaiseEventMessage* Message() const noexcept { return message_; }

  private:
    static HANDLE Completed() noexcept { return INVALID_HANDLE_VALUE; }
    bool WaitOnThreadEvent(HANDLE event, DWORD timeoutMs);
    // Threads that wait while another is registered share one manual-reset event.
    bool WaitOnSharedEvent(DWORD timeoutMs);

    CRaiseEventMessage* message_;
    // Null while nobody waits; the registered thread's event; or Completed().
    std::atomic<HANDLE> waiter_{nullptr};
    std::atomic<HANDLE> shared_{nullptr};
};

}  // namespace tarnwick
