#include "remoting/cinvokewait.h"

namespace tarnwick {

namespace {

// The calling thread's wait event: auto-reset, made on the thread's first wait, closed when
// the thread ends.
class CThreadWaitEvent {
  public:
    CThreadWaitEvent() = default;
    CThreadWaitEvent(const CThreadWaitEvent&) = delete;
    CThreadWaitEvent& operator=(const CThreadWaitEvent&) = delete;
    ~CThreadWaitEvent() {
        if (event_ != nullptr) CloseHandle(event_);
    }

    HANDLE Get() {
        if (event_ == nullptr) event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        return event_;
    }

  private:
    HANDLE event_ = nullptr;
};

HANDLE ThreadWaitEvent() {
    thread_local CThreadWaitEvent event;
    return event.Get();
}

}  // namespace

CInvokeWait::~CInvokeWait() {
    if (const HANDLE shared = shared_.load(); shared != nullptr) CloseHandle(shared);
}

bool CInvokeWait::Wait(DWORD timeoutMs) {
    if (waiter_.load() == Completed()) return true;
    if (timeoutMs == 0) return false;
    const HANDLE own = ThreadWaitEvent();
    HANDLE expected = nullptr;
    if (own != nullptr && waiter_.compare_exchange_strong(expected, own)) {
        return WaitOnThreadEvent(own, timeoutMs);
    }
    return expected == Completed() || WaitOnSharedEvent(timeoutMs);
}

bool CInvokeWait::WaitOnThreadEvent(HANDLE event, DWORD timeoutMs) {
    // Only a completion that found this thread registered sets its event.
    if (WaitForSingleObject(event, timeoutMs) == WAIT_OBJECT_0) return true;
    HANDLE registered = event;
    if (waiter_.compare_exchange_strong(registered, nullptr)) return false;
    // Completed after the time-out: the signal is on its way. Taking it now keeps it from
    // waking this thread's next wait.
    WaitForSingleObject(event, INFINITE);
    return true;
}

bool CInvokeWait::WaitOnSharedEvent(DWORD timeoutMs) {
    HANDLE shared = shared_.load();
    if (shared == nullptr) {
        const HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (made == nullptr) return waiter_.load() == Completed();
        if (shared_.compare_exchange_strong(shared, made)) {
            shared = made;
        } else {
            CloseHandle(made);
        }
    }
    // The event is published before this check, so a completion after it sets the event.
    return waiter_.load() == Completed() || WaitForSingleObject(shared, timeoutMs) == WAIT_OBJECT_0;
}

HANDLE CInvokeWait::Complete() noexcept {
    const HANDLE previous = waiter_.exchange(Completed());
    // Set at once: the shared event lives as long as the wait, which its waiters keep alive.
    if (const HANDLE shared = shared_.load(); shared != nullptr) SetEvent(shared);
    return previous == Completed() ? nullptr : previous;
}

}  // namespace tarnwick
