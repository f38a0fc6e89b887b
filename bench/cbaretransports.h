#pragma once
// The host's side of the two bare transports, with no library: a 16-byte record posted to
// the peer's queue and echoed back to a queue of the host's own, whose delivery thread
// wakes the sender; and a 16-byte record in a named mapping that the peer's window rewrites
// while SendMessageW waits.

#include <windows.h>

#include <cstdint>
#include <string>

#include "bench/csharedview.h"
#include "iinvokemanagementservice.h"
#include "standins/common/cscopedhandle.h"

namespace tarnwick::bench {

class CBareQueue {
  public:
    // Creates the host's queue; Created() tells whether that worked.
    CBareQueue(std::wstring ownQueue, std::wstring peerQueue);
    CBareQueue(const CBareQueue&) = delete;
    CBareQueue& operator=(const CBareQueue&) = delete;
    ~CBareQueue();

    bool Created() const noexcept { return created_; }
    // One round trip of a record carrying value; true when it came back answered.
    bool RoundTrip(std::uint32_t value);

  private:
    static void Receive(void* reserved, void* context, const void* data, std::uint32_t size);

    std::wstring ownQueue_;
    std::wstring peerQueue_;
    vask::CScopedHandle arrived_;
    InvokeRecord reply_{};
    bool created_ = false;
};

class CBareWindow {
  public:
    // Creates the named 16-byte mapping that the peer opens by Name().
    explicit CBareWindow(std::wstring name);

    bool Created() const noexcept { return view_.Get() != nullptr; }
    const std::wstring& Name() const noexcept { return name_; }
    void SetPeerWindow(HWND window) noexcept { peer_ = window; }
    bool RoundTrip(std::uint32_t value);

  private:
    std::wstring name_;
    CSharedView view_;
    HWND peer_ = nullptr;
};

}  // namespace tarnwick::bench
