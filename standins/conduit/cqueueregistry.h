#pragma once
// The queues of this process: those it serves, by name, and the sections it has posted
// to, kept open so that later posts to the same name cost no kernel call.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/vaskconduit.h"
#include "standins/conduit/cipcqueue.h"
#include "standins/conduit/cqueuesection.h"

namespace vask::conduit {

class CQueueRegistry {
  public:
    static CQueueRegistry& Instance();

    // The three exports, with their results and error codes.
    int Create(const wchar_t* name, VaskIpcReceiveCallback callback, void* context,
               std::uint32_t recordSize, std::uint32_t capacity);
    int Destroy(const wchar_t* name);
    int Send(const wchar_t* name, const void* data, std::uint32_t size, std::uint32_t timeoutMs);

  private:
    CQueueRegistry() = default;
    ~CQueueRegistry();

    std::shared_ptr<CQueueSection> SenderSection(const std::wstring& name);

    std::mutex servedMutex_;
    std::map<std::wstring, std::shared_ptr<CIpcQueue>> served_;
    std::mutex sendersMutex_;
    std::map<std::wstring, std::shared_ptr<CQueueSection>> senders_;
};

}  // namespace vask::conduit
