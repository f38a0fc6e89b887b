#pragma once
// One queue's shared state as a process sees it: the named mapping with the record ring
// and the named event that wakes the delivery thread. The owner and the senders of a queue
// each hold their own CQueueSection of the same name.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "standins/common/cscopedhandle.h"
#include "standins/conduit/queuelayout.h"

namespace vask::conduit {

class CQueueSection {
  public:
    // Longest name of a queue, in characters once '\' and '%' are escaped.
    static constexpr size_t kMaxNameLength = 200;

    // True when `name` can name a queue: not empty and not too long.
    static bool IsValidName(const wchar_t* name);

    // Creates the objects of `name`, or opens them when they exist; for the owner.
    static std::unique_ptr<CQueueSection> Create(const std::wstring& name);
    // Opens the objects of `name`; null with ERROR_FILE_NOT_FOUND when there are none.
    static std::unique_ptr<CQueueSection> Open(const std::wstring& name);

    CQueueSection(const CQueueSection&) = delete;
    CQueueSection& operator=(const CQueueSection&) = delete;

    // Owner side. Claim resets the ring and marks the queue served by this process; it
    // fails with ERROR_ALREADY_EXISTS while another running process serves it.
    bool Claim(std::uint32_t capacity, std::uint32_t recordSize);
    // Marks the queue unserved and drops what it holds.
    void Retire();
    // Copies out the next record; false when there is none or it was malformed (dropped).
    bool Take(QueueRecord& record);
    // Waits until a record may have been posted or `stop` is signalled.
    void WaitForRecords(HANDLE stop);

    // Sender side: copies the record into the ring and wakes the delivery thread when it
    // sleeps. False with an error code for GetLastError when the record was not queued.
    bool Post(const void* data, std::uint32_t size, DWORD timeoutMs);

  private:
    CQueueSection(CScopedHandle mapping, CMappedView view, CScopedHandle wake);

    enum class PostResult { Posted, Full, NotServed, LockTimeout };
    // `waiting`: the records the ring held before this one.
    PostResult TryPost(const void* data, std::uint32_t size, std::uint32_t& waiting);
    bool IsOwnerGone();
    // Whether an owner idle since `since` has died (the queue is then marked unserved).
    // Asked only after a while, so that a busy exchange of records pays no kernel call.
    bool IdleOwnerIsGone(std::uint64_t since);

    CScopedHandle mapping_;
    CMappedView view_;
    CScopedHandle wake_;
    QueueLayout* layout_;
};

}  // namespace vask::conduit
