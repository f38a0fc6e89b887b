#pragma once
// A top-level window of the test's thread with the hooking host attached to the thread, its
// translators' events going to the event harness.

#include <windows.h>

#include "platform/vaskhookhost.h"
#include "translators/eventharness.h"

namespace tarnwick::test {

class CTranslatorHost {
  public:
    CTranslatorHost() {
        CEventHarness& harness = CEventHarness::Instance();
        attached_ =
            AttachHookHost(GetCurrentThreadId(), CEventHarness::kOwnerId, harness.Service()) != 0;
        parent_ = CreateWindowExW(0, L"Static", L"parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100,
                                  100, 400, 300, nullptr, nullptr, nullptr, nullptr);
    }
    CTranslatorHost(const CTranslatorHost&) = delete;
    CTranslatorHost& operator=(const CTranslatorHost&) = delete;
    ~CTranslatorHost() {
        DestroyWindow(parent_);
        if (attached_) DetachHookHost();
    }

    bool Attached() const { return attached_; }
    HWND Parent() const { return parent_; }
    // Dispatches what was posted to this thread, through the host's queue hook.
    void Pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

  private:
    bool attached_ = false;
    HWND parent_ = nullptr;
};

}  // namespace tarnwick::test
