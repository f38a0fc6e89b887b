#include "standins/conduit/cqueueregistry.h"

#include "standins/common/debugtrace.h"

namespace vask::conduit {
namespace {

constexpr wchar_t kComponent[] = L"Vask.Conduit";

int Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

}  // namespace

CQueueRegistry& CQueueRegistry::Instance() {
    static CQueueRegistry registry;
    return registry;
}

// Reached only at process exit: a queue still served holds the DLL loaded until then.
CQueueRegistry::~CQueueRegistry() {
    for (auto& [name, queue] : served_) {
        DebugTrace(kComponent, L"queue %ls was not destroyed before unload", name.c_str());
    }
}

int CQueueRegistry::Create(const wchar_t* name, VaskIpcReceiveCallback callback, void* context,
                           std::uint32_t recordSize, std::uint32_t capacity) {
    if (!CQueueSection::IsValidName(name) || callback == nullptr || recordSize == 0 ||
        recordSize > kMaxRecordSize) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard<std::mutex> lock(servedMutex_);
    if (served_.count(name) != 0) return Fail(ERROR_ALREADY_EXISTS);
    std::unique_ptr<CQueueSection> section = CQueueSection::Create(name);
    if (section == nullptr) {
        const DWORD error = GetLastError();
        DebugTrace(kComponent, L"cannot create queue %ls: error %lu", name, error);
        return Fail(error);
    }
    if (!section->Claim(capacity, recordSize)) return 0;
    CQueueSection* claimed = section.get();
    std::shared_ptr<CIpcQueue> queue = CIpcQueue::Start(std::move(section), callback, context);
    if (queue == nullptr) {
        const DWORD error = GetLastError();
        claimed->Retire();
        return Fail(error);
    }
    served_.emplace(name, std::move(queue));
    return 1;
}

int CQueueRegistry::Destroy(const wchar_t* name) {
    if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::shared_ptr<CIpcQueue> queue;
    {
        std::lock_guard<std::mutex> lock(servedMutex_);
        const auto it = served_.find(name);
        if (it == served_.end()) return Fail(ERROR_FILE_NOT_FOUND);
        queue = std::move(it->second);
        served_.erase(it);
    }
    // Outside the lock: a callback in progress may be creating, destroying or posting.
    queue->Stop();
    return 1;
}

int CQueueRegistry::Send(const wchar_t* name, const void* data, std::uint32_t size,
                         std::uint32_t timeoutMs) {
    if (!CQueueSection::IsValidName(name) || data == nullptr || size == 0 ||
        size > kMaxRecordSize) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const std::shared_ptr<CQueueSection> section = SenderSection(name);
    if (section == nullptr) return 0;
    return section->Post(data, size, timeoutMs) ? 1 : 0;
}

std::shared_ptr<CQueueSection> CQueueRegistry::SenderSection(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(sendersMutex_);
    const auto it = senders_.find(name);
    if (it != senders_.end()) return it->second;
    std::shared_ptr<CQueueSection> section = CQueueSection::Open(name);
    if (section != nullptr) senders_.emplace(name, section);
    return section;
}

}  // namespace vask::conduit
