#pragma once
// The guard of one object's tables: a recursive lock of this process (the same thread may
// take it again), which costs no kernel call unless another thread holds it; and a scope
// that holds it.

#include <windows.h>

namespace tarnwick {

class CCriticalSection {
  public:
    CCriticalSection() noexcept;
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;
    ~CCriticalSection();

    void Lock() const noexcept { EnterCriticalSection(&section_); }
    void Unlock() const noexcept { LeaveCriticalSection(&section_); }

  private:
    mutable CRITICAL_SECTION section_;
};

class CCriticalSectionLock {
  public:
    explicit CCriticalSectionLock(const CCriticalSection& section) noexcept : section_(section) {
        section_.Lock();
    }
    CCriticalSectionLock(const CCriticalSectionLock&) = delete;
    CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;
    ~CCriticalSectionLock() { section_.Unlock(); }

  private:
    const CCriticalSection& section_;
};

}  // namespace tarnwick
