#include "standins/common/cinterprocesslock.h"

#include <atomic>

#include "standins/common/debugtrace.h"
#include "standins/common/processinfo.h"

namespace vask {
namespace {

// Spins this often before yielding the processor, and checks the holder's process this
// often (in milliseconds) while waiting.
constexpr int kSpinsBeforeYield = 64;
constexpr ULONGLONG kHolderCheckIntervalMs = 50;

bool TryTake(std::atomic_ref<std::uint32_t> word, std::uint32_t self,
             std::uint32_t& holder) noexcept {
    holder = 0;
    return word.compare_exchange_strong(holder, self, std::memory_order_acquire,
                                        std::memory_order_relaxed);
}

void Pause(int attempt) noexcept {
    if (attempt < kSpinsBeforeYield) {
        YieldProcessor();
    } else if (attempt < 2 * kSpinsBeforeYield) {
        SwitchToThread();
    } else {
        Sleep(1);
    }
}

}  // namespace

CInterprocessLock::CInterprocessLock(std::uint32_t& word, const wchar_t* component,
                                     DWORD timeoutMs) noexcept
    : word_(word), component_(component) {
    held_ = Acquire(timeoutMs);
}

CInterprocessLock::~CInterprocessLock() {
    if (held_) std::atomic_ref<std::uint32_t>(word_).store(0, std::memory_order_release);
}

bool CInterprocessLock::Acquire(DWORD timeoutMs) noexcept {
    const std::uint32_t self = GetCurrentProcessId();
    std::atomic_ref<std::uint32_t> word(word_);
    std::uint32_t holder = 0;
    if (TryTake(word, self, holder)) return true;
    const ULONGLONG start = GetTickCount64();
    ULONGLONG lastCheck = start;
    for (int attempt = 0;; ++attempt) {
        Pause(attempt);
        if (word.load(std::memory_order_relaxed) == 0 && TryTake(word, self, holder)) {
            return true;
        }
        const ULONGLONG now = GetTickCount64();
        if (now - lastCheck >= kHolderCheckIntervalMs) {
            lastCheck = now;
            holder = word.load(std::memory_order_relaxed);
            if (holder != 0 && TryTakeOver(holder)) return true;
        }
        if (now - start >= timeoutMs) {
            DebugTrace(component_, L"lock still held by process %lu after %lu ms; giving up",
                       static_cast<unsigned long>(word.load()),
                       static_cast<unsigned long>(timeoutMs));
            return false;
        }
    }
}

bool CInterprocessLock::TryTakeOver(std::uint32_t holder) noexcept {
    if (IsProcessRunning(holder)) return false;
    std::uint32_t expected = holder;
    if (!std::atomic_ref<std::uint32_t>(word_).compare_exchange_strong(
            expected, GetCurrentProcessId(), std::memory_order_acquire)) {
        return false;
    }
    DebugTrace(component_, L"took over the lock of process %lu, which has exited",
               static_cast<unsigned long>(holder));
    return true;
}

}  // namespace vask
