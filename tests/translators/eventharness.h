#pragma once
// Events of translators carried the real way: a window-message service of this process (its
// window on the test's thread), a host notification that files the peer's subscriptions, and a
// peer on a thread of its own that records each event and answers it, cancelling on request.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "iinvokemanagementservice.h"
#include "peer/cwindowsmessagepeer.h"

namespace tarnwick::test {

// One event as the peer received it.
struct ReceivedEvent {
    std::wstring name;
    HWND window = nullptr;
    std::vector<LONG> numbers;          // VT_I4 and VT_BOOL arguments, in call order
    std::vector<std::int64_t> nodes;    // the item handles of node record arguments
};

class CEventHarness {
  public:
    // The one harness of the test executable: the service is module-wide.
    static CEventHarness& Instance();

    IInvokeManagementService* Service() const { return service_; }
    // The owner id the translators of this harness carry.
    static constexpr std::uint64_t kOwnerId = 0x7A11;

    // Subscribes the peer to an event of the window's translator about the window, or about
    // `about` (an ancestor, for key events).
    bool Subscribe(HWND window, const wchar_t* name, HWND about = nullptr);
    // Events whose names are in `names` are answered with cancel from now on.
    void Cancel(std::set<std::wstring> names);
    // The events received so far, and forgetting them.
    std::vector<ReceivedEvent> Events();
    std::vector<std::wstring> EventNames();
    void Clear();

  private:
    CEventHarness();
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    class CHost;
    std::unique_ptr<CHost> host_;
    std::unique_ptr<CWindowsMessagePeer> peer_;
    HWND window_ = nullptr;
    IInvokeManagementService* service_ = nullptr;
    std::mutex mutex_;
    std::set<std::wstring> cancelled_;
    std::vector<ReceivedEvent> events_;
};

}  // namespace tarnwick::test
