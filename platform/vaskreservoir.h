#pragma once
// Vask.Reservoir.x64.dll: numbered shared-memory blocks, as this library calls them.
//
// A block is named by a 32-bit handle that every process of the session can open. It is
// made with one reference; OpenSharedMemory adds one and FreeSharedMemory drops one. When
// none is left the block is gone: its handle then names nothing, and handles are not
// reused within a session, so a late second free of a gone block cannot reach a newer one.
// Pointers stay readable for the life of the calling process, but a block's bytes are
// another block's once it is gone.
//
// The stand-in keeps every block in one session-wide pool that each process maps once
// (a named page-file mapping of about 34 MiB): allocating, opening and freeing touch no
// kernel object. The pool lives while at least one process of the session has the DLL
// loaded (each process maps it when the DLL loads), so a block outlives the process that
// made it as long as another one, such as its receiver, is running. Blocks of a process
// that dies without freeing them stay allocated until the session ends.

#include <stdint.h>

#if defined(VASK_RESERVOIR_EXPORTS)
#define VASK_RESERVOIR_API __declspec(dllexport)
#else
#define VASK_RESERVOIR_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Makes a block of `size` bytes for process `processId` (recorded with the block) and
// writes its handle (never 0) to `*handle`. Answers the block's zero-filled bytes, or null
// with an error code for GetLastError when `handle` is null, `size` is 0 or above
// GetMaxPageSize, or the pool is full. `sourceLine` and `sourceFile` (a file stem, may be
// null) only name the caller in diagnostics.
VASK_RESERVOIR_API void* AllocateSharedMemory(uint32_t* handle, uint32_t size, uint32_t processId,
                                              int sourceLine, const char* sourceFile);

// Takes a reference on the block named by `handle` and answers its bytes, writing the size
// it was allocated with to `*size` (when not null); null when the handle names no block.
VASK_RESERVOIR_API void* OpenSharedMemory(uint32_t handle, uint32_t* size, int sourceLine,
                                          const char* sourceFile);

// Drops one reference and answers how many remain; at 0 the block is gone. A handle that
// names no block answers -1 and changes nothing; -2 means the pool could not be reached.
VASK_RESERVOIR_API int32_t FreeSharedMemory(uint32_t handle);

// The largest size of one block, in bytes: 65536, the platform's allocation granularity,
// which holds an array block of 4095 values. The argument is reserved: pass 0.
VASK_RESERVOIR_API uint32_t GetMaxPageSize(uint32_t reserved);

// Stand-in diagnostic, for tests only: not an export of the maker's library, and the library
// never calls it. The number of blocks alive in the session's pool, or 0 when the pool cannot
// be reached.
VASK_RESERVOIR_API uint32_t GetLiveBlockCount(void);

// Stand-in diagnostic, for tests only, as above: the process id a live block was made for, or 0
// when the handle names no block.
VASK_RESERVOIR_API uint32_t GetBlockProcessId(uint32_t handle);

#ifdef __cplusplus
}
#endif
