#include "standins/conduit/cipcqueue.h"

#include "standins/common/debugtrace.h"

namespace vask::conduit {
namespace {

constexpr wchar_t kComponent[] = L"Vask.Conduit";
// Any address inside this DLL, to find the DLL by.
const int kModuleAnchor = 0;

// What the delivery thread gets: its queue, and a reference on this DLL that the thread
// gives back as it exits, so that the DLL cannot be unloaded under a running thread.
struct ThreadStart {
    std::shared_ptr<CIpcQueue> queue;
    HMODULE module;
};

}  // namespace

CIpcQueue::CIpcQueue(std::unique_ptr<CQueueSection> section, VaskIpcReceiveCallback callback,
                     void* context)
    : section_(std::move(section)), callback_(callback), context_(context) {}

CIpcQueue::~CIpcQueue() = default;

std::shared_ptr<CIpcQueue> CIpcQueue::Start(std::unique_ptr<CQueueSection> section,
                                            VaskIpcReceiveCallback callback, void* context) {
    std::shared_ptr<CIpcQueue> queue(new CIpcQueue(std::move(section), callback, context));
    queue->stop_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    queue->stopped_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!queue->stop_.IsValid() || !queue->stopped_.IsValid()) return nullptr;
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&kModuleAnchor), &module)) {
        return nullptr;
    }
    auto start = std::make_unique<ThreadStart>(ThreadStart{queue, module});
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, &CIpcQueue::ThreadMain, start.get(), 0, &threadId);
    if (thread == nullptr) {
        const DWORD error = GetLastError();
        FreeLibrary(module);
        SetLastError(error);
        return nullptr;
    }
    start.release();  // the thread owns it now
    queue->thread_.Reset(thread);
    queue->threadId_ = threadId;
    return queue;
}

DWORD WINAPI CIpcQueue::ThreadMain(void* parameter) {
    HMODULE module = nullptr;
    {
        std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
        module = start->module;
        start->queue->Run();
    }
    FreeLibraryAndExitThread(module, 0);
}

void CIpcQueue::Run() {
    QueueRecord record{};
    while (!stopping_.load()) {
        if (section_->Take(record)) {
            if (stopping_.load()) break;
            Deliver(record);
        } else {
            section_->WaitForRecords(stop_.Get());
        }
    }
    SetEvent(stopped_.Get());
}

void CIpcQueue::Deliver(const QueueRecord& record) {
    try {
        callback_(nullptr, context_, record.data, record.size);
    } catch (...) {
        DebugTrace(kComponent, L"the receive callback threw; the record is dropped");
    }
}

void CIpcQueue::Stop() {
    stopping_.store(true);
    section_->Retire();
    SetEvent(stop_.Get());
    if (GetCurrentThreadId() == threadId_) return;
    // The thread's handle counts too: at process exit the thread is gone without having
    // set `stopped_`. Waiting for `stopped_` rather than for the thread's end keeps this
    // free of the loader lock that a thread needs to end.
    const HANDLE handles[] = {stopped_.Get(), thread_.Get()};
    WaitForMultipleObjects(2, handles, FALSE, INFINITE);
}

}  // namespace vask::conduit
