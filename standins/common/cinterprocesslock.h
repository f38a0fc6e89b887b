#pragma once
// A lock whose whole state is one 32-bit word in memory shared between processes: 0 when
// free, else the id of the holding process. Taking it costs one interlocked operation when
// it is free, and never a kernel object, so it fits operations of a microsecond or two.
//
// A holder that dies (crash, TerminateProcess) leaves its id in the word. A waiter checks
// now and then whether that process still runs and, when it does not, takes the lock over
// and finds the guarded data as the holder left it: users order their writes so that an
// interrupted update can only leak a block or a slot, never hand out one twice.
// A holder that runs but never lets go makes waiters give up after their time-out, traced.

#include <windows.h>

#include <cstdint>

namespace vask {

class CInterprocessLock {
  public:
    // How long a waiter tries before it gives up.
    static constexpr DWORD kDefaultTimeoutMs = 5000;

    // Takes the lock on `word`, waiting at most timeoutMs; Held() tells whether it did.
    CInterprocessLock(std::uint32_t& word, const wchar_t* component,
                      DWORD timeoutMs = kDefaultTimeoutMs) noexcept;
    CInterprocessLock(const CInterprocessLock&) = delete;
    CInterprocessLock& operator=(const CInterprocessLock&) = delete;
    ~CInterprocessLock();

    bool Held() const noexcept { return held_; }

  private:
    bool Acquire(DWORD timeoutMs) noexcept;
    bool TryTakeOver(std::uint32_t holder) noexcept;

    std::uint32_t& word_;
    const wchar_t* component_;
    bool held_ = false;
};

}  // namespace vask
