#pragma once
// A queue this process serves: its section and the delivery thread that hands each record
// to the receive callback.

#include <windows.h>

#include <atomic>
#include <memory>

#include "platform/vaskconduit.h"
#include "standins/common/cscopedhandle.h"
#include "standins/conduit/cqueuesection.h"

namespace vask::conduit {

class CIpcQueue {
  public:
    // Starts delivery from a claimed section; null with an error code when the thread or
    // its events cannot be made.
    static std::shared_ptr<CIpcQueue> Start(std::unique_ptr<CQueueSection> section,
                                            VaskIpcReceiveCallback callback, void* context);

    CIpcQueue(const CIpcQueue&) = delete;
    CIpcQueue& operator=(const CIpcQueue&) = delete;
    ~CIpcQueue();

    // Ends delivery: no callback starts afterwards. Waits for a callback in progress unless
    // called on the delivery thread itself (from the callback).
    void Stop();

  private:
    CIpcQueue(std::unique_ptr<CQueueSection> section, VaskIpcReceiveCallback callback,
              void* context);

    static DWORD WINAPI ThreadMain(void* parameter);
    void Run();
    void Deliver(const QueueRecord& record);

    std::unique_ptr<CQueueSection> section_;
    VaskIpcReceiveCallback callback_;
    void* context_;
    std::atomic<bool> stopping_{false};
    CScopedHandle stop_;     // wakes the delivery thread to stop
    CScopedHandle stopped_;  // set by the delivery thread when it delivers no more
    CScopedHandle thread_;
    DWORD threadId_ = 0;
};

}  // namespace vask::conduit
