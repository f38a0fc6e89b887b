#pragma once
// An unnamed Win32 mutex that guards one object's tables, and a scope that holds it.

#include <windows.h>

namespace tarnwick {

class CMutex {
  public:
    // A failed creation is traced (error, GetLastError()) and leaves a null handle, which
    // Lock then treats as taken at once.
    explicit CMutex(const GUID& traceUnit);
    CMutex(const CMutex&) = delete;
    CMutex& operator=(const CMutex&) = delete;
    ~CMutex();

    void Lock() const;
    void Unlock() const;
    HANDLE Handle() const { return handle_; }

  private:
    HANDLE handle_;
};

class CMutexLock {
  public:
    explicit CMutexLock(const CMutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
    CMutexLock(const CMutexLock&) = delete;
    CMutexLock& operator=(const CMutexLock&) = delete;
    ~CMutexLock() { mutex_.Unlock(); }

  private:
    const CMutex& mutex_;
};

}  // namespace tarnwick
