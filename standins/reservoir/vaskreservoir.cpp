// Exports of Vask.Reservoir.x64.dll. The pool is mapped when the DLL loads, so that every
// process that can receive a handle keeps the pool, and the blocks in it, alive.
#include <windows.h>

#define VASK_RESERVOIR_EXPORTS
#include "platform/vaskreservoir.h"
#include "standins/reservoir/csharedpool.h"

using vask::reservoir::CSharedPool;

void* AllocateSharedMemory(uint32_t* handle, uint32_t size, uint32_t processId, int sourceLine,
                           const char* sourceFile) {
    return CSharedPool::Instance().Allocate(handle, size, processId, {sourceLine, sourceFile});
}

void* OpenSharedMemory(uint32_t handle, uint32_t* size, int sourceLine, const char* sourceFile) {
    return CSharedPool::Instance().Open(handle, size, {sourceLine, sourceFile});
}

int32_t FreeSharedMemory(uint32_t handle) { return CSharedPool::Instance().Free(handle); }

uint32_t GetMaxPageSize(uint32_t /*reserved*/) { return CSharedPool::kMaxBlockSize; }

uint32_t GetLiveBlockCount() { return CSharedPool::Instance().LiveBlocks(); }

uint32_t GetBlockProcessId(uint32_t handle) { return CSharedPool::Instance().ProcessOf(handle); }

extern "C" BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) CSharedPool::Instance().EnsureMapped();
    return TRUE;
}
