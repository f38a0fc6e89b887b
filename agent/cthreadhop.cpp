#include "agent/cthreadhop.h"

#include <atomic>
#include <mutex>
#include <new>
#include <unordered_set>
#include <utility>

#include "standins/common/debugtrace.h"

namespace vask {
namespace {

// One piece of work in flight. The caller and the performing thread each hold a reference;
// the last to let go frees it, with the outcome that nobody read. The caller waits on a
// condition variable rather than an event: no kernel object is made, signalled, waited on or
// closed per request.
struct HopItem {
    CThreadHop::Work work;
    ControlCallOutcome outcome;
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE finished = CONDITION_VARIABLE_INIT;
    bool done = false;  // under lock
    int rounds = 0;
    std::atomic<int> references{2};

    void Release() {
        if (references.fetch_sub(1) == 1) delete this;
    }
    // Waits until the work is done or the bound has passed; the outcome when it is done.
    std::optional<ControlCallOutcome> Wait(DWORD boundMs) {
        const ULONGLONG deadline = GetTickCount64() + boundMs;
        AcquireSRWLockExclusive(&lock);
        while (!done) {
            const ULONGLONG now = GetTickCount64();
            if (boundMs != INFINITE && now >= deadline) break;
            const DWORD left = boundMs == INFINITE ? INFINITE : static_cast<DWORD>(deadline - now);
            SleepConditionVariableSRW(&finished, &lock, left, 0);
        }
        std::optional<ControlCallOutcome> result;
        if (done) result = std::move(outcome);
        ReleaseSRWLockExclusive(&lock);
        return result;
    }
    void Finish() {
        AcquireSRWLockExclusive(&lock);
        done = true;
        ReleaseSRWLockExclusive(&lock);
        WakeConditionVariable(&finished);
    }
};

// The items posted and not yet taken: the message's parameter is a pointer, and any process
// can post to the agent's window, so only a parameter found here is ever followed.
std::mutex g_postedMutex;
std::unordered_set<HopItem*> g_posted;

bool Post(HWND window, HopItem* item) {
    std::lock_guard lock(g_postedMutex);
    if (!PostMessageW(window, CThreadHop::kMessage, 0, reinterpret_cast<LPARAM>(item))) {
        return false;
    }
    g_posted.insert(item);
    return true;
}

HopItem* Take(LPARAM lParam) {
    std::lock_guard lock(g_postedMutex);
    const auto found = g_posted.find(reinterpret_cast<HopItem*>(lParam));
    if (found == g_posted.end()) return nullptr;
    HopItem* item = *found;
    g_posted.erase(found);
    return item;
}

}  // namespace

std::optional<ControlCallOutcome> CThreadHop::Run(HWND window, DWORD boundMs, Work work,
                                                  int rounds, bool& posted) {
    posted = false;
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
        posted = true;
        return work();
    }
    auto* item = new (std::nothrow) HopItem;
    if (item == nullptr) return std::nullopt;
    item->work = std::move(work);
    item->rounds = rounds;
    if (!Post(window, item)) {
        delete item;
        return std::nullopt;
    }
    posted = true;
    std::optional<ControlCallOutcome> outcome = item->Wait(boundMs);
    item->Release();
    return outcome;
}

LRESULT CThreadHop::Perform(HWND window, LPARAM lParam) {
    HopItem* item = Take(lParam);
    if (item == nullptr) {
        DebugTrace(L"hookhost agent", L"a work message that the agent did not post, refused");
        return 0;
    }
    if (item->rounds > 0) {
        --item->rounds;
        if (Post(window, item)) return 0;
    }
    try {
        item->outcome = item->work();
    } catch (...) {
        DebugTrace(L"hookhost agent", L"a request failed on the application's thread");
        item->outcome.code = E_OUTOFMEMORY;
        item->outcome.refusal = L"out of memory";
    }
    item->work = nullptr;  // what it captured goes here, on this thread
    item->Finish();
    item->Release();
    return 0;
}

}  // namespace vask
