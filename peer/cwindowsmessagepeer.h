#pragma once
// The peer over window messages: it sends each request record to the target's window as
// message 0x8007 and finds the reply record in the same block, and its own window, served by
// a thread of its own, answers the events that the target raises the same way.

#include <windows.h>

#include <atomic>
#include <future>
#include <mutex>
#include <utility>
#include <vector>
#include <thread>

#include "peer/cpeer.h"

namespace tarnwick {

class CWindowsMessagePeer final : public CPeer {
  public:
    // Starts the window thread; Window() is null when the window could not be made.
    explicit CWindowsMessagePeer(HWND targetWindow = nullptr);
    ~CWindowsMessagePeer() override;

    // The window that the target's service sends to.
    HWND Window() const noexcept { return window_; }
    void SetTargetWindow(HWND window) noexcept { targetWindow_ = window; }
    void FreeLateReplies() override { Sweep(false); }

  protected:
    Delivery Exchange(const InvokeRecord& call, Cookie cookie, std::uint32_t& replyBlock) override;

  private:
    static void RegisterWindowClass();
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Makes the window, tells the constructor, and serves the window until it is closed.
    void Run(std::promise<void>& ready);
    LRESULT OnInvoke(std::uint32_t recordBlock);
    // Frees the record blocks of timed-out requests whose reply the target has written since,
    // and that reply; with `all`, every such block, replied or not.
    void Sweep(bool all);

    std::atomic<HWND> targetWindow_;
    std::mutex lateMutex_;
    // Timed-out requests: the record block, and the call block it named when sent.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> late_;
    HWND window_ = nullptr;
    std::thread thread_;
};

}  // namespace tarnwick
