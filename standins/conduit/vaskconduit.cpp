// Exports of Vask.Conduit.x64.dll.
#include <windows.h>

#define VASK_CONDUIT_EXPORTS
#include "platform/vaskconduit.h"
#include "standins/conduit/cqueueregistry.h"

using vask::conduit::CQueueRegistry;

namespace {

// No exception leaves the DLL: the only ones are allocation failures.
template <typename Call>
int Guarded(Call&& call) noexcept {
    try {
        return call(CQueueRegistry::Instance());
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
}

}  // namespace

int CreateIpcQueue(const wchar_t* queueName, VaskIpcReceiveCallback callback, void* context,
                   uint32_t /*flags*/, uint32_t recordSize, uint32_t capacity) {
    return Guarded([&](CQueueRegistry& registry) {
        return registry.Create(queueName, callback, context, recordSize, capacity);
    });
}

int DestroyIpcQueue(const wchar_t* queueName) {
    return Guarded([&](CQueueRegistry& registry) { return registry.Destroy(queueName); });
}

int SendIpcMessage(const wchar_t* queueName, const void* data, uint32_t size, uint32_t /*flags*/,
                   uint32_t /*priority*/, uint32_t timeoutMs, void* /*reserved*/) {
    return Guarded(
        [&](CQueueRegistry& registry) { return registry.Send(queueName, data, size, timeoutMs); });
}
