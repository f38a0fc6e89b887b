#pragma once
// The agent's IPC queue as automation hosts see it. Records pass on to the library's queue
// service behind it, whose own queue has a name that nobody else is told; a return address
// passes only when it names the queue of the attached host, so that no other process can
// redirect that host's replies and events to itself.

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>

namespace vask {

class CQueueGate {
  public:
    // Serves `publicName`; the service behind it is to be made with InnerName().
    explicit CQueueGate(std::wstring publicName);
    CQueueGate(const CQueueGate&) = delete;
    CQueueGate& operator=(const CQueueGate&) = delete;
    ~CQueueGate();

    bool IsOpen() const noexcept { return open_; }
    const std::wstring& InnerName() const noexcept { return innerName_; }
    // The one queue that a return address may name from now on.
    void Admit(std::wstring hostQueue);

  private:
    static void Receive(void* reserved, void* context, const void* data, std::uint32_t size);
    // False for a return-address record that names another queue; its block is then freed.
    bool Passes(std::uint32_t block);

    const std::wstring publicName_;
    std::wstring innerName_;
    bool open_ = false;
    std::mutex mutex_;
    std::wstring admitted_;
};

}  // namespace vask
