#pragma once
// Lets helper processes start their work at the same moment, so that their work truly overlaps:
// each announces that it is ready, and the test lets them all go at once.

#include <windows.h>

#include <string>

#include "standins/common/cscopedhandle.h"

namespace tarnwick::test {

class CStartBarrier {
  public:
    // The barrier's objects, under a name unique to this process and `what`.
    explicit CStartBarrier(const wchar_t* what)
        : name_(std::wstring(L"Local\\TarnwickTest.Barrier.") + what + L"." +
                std::to_wstring(GetCurrentProcessId())),
          ready_(CreateSemaphoreW(nullptr, 0, 64, (name_ + L".Ready").c_str())),
          go_(CreateEventW(nullptr, TRUE, FALSE, (name_ + L".Go").c_str())) {}

    const std::wstring& Name() const { return name_; }

    // Waits until `count` helpers are ready, then lets them go; false if they are not.
    bool Release(int count) {
        for (int i = 0; i < count; ++i) {
            if (WaitForSingleObject(ready_.Get(), 30000) != WAIT_OBJECT_0) return false;
        }
        return SetEvent(go_.Get()) != 0;
    }

    // Helper side: announces readiness and waits to be let go.
    static bool Arrive(const std::wstring& name) {
        vask::CScopedHandle ready(
            OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, (name + L".Ready").c_str()));
        vask::CScopedHandle go(OpenEventW(SYNCHRONIZE, FALSE, (name + L".Go").c_str()));
        return ready.IsValid() && go.IsValid() && ReleaseSemaphore(ready.Get(), 1, nullptr) &&
               WaitForSingleObject(go.Get(), 30000) == WAIT_OBJECT_0;
    }

  private:
    std::wstring name_;
    vask::CScopedHandle ready_;
    vask::CScopedHandle go_;
};

}  // namespace tarnwick::test
