#pragma once
// Vask.Conduit.x64.dll: named inter-process record queues, as this library calls them.
//
// A queue belongs to the process that creates it. Records posted to its name from any
// process of the session are delivered, one at a time and in the order they were posted,
// to the queue's receive callback on a delivery thread of the queue library.
//
// The stand-in keeps each queue in a named page-file mapping (a ring of records) with a
// named event that wakes the delivery thread; a sender keeps both open after its first
// post to a name, so that later posts touch no kernel object unless the thread sleeps.
// Records from 1 to 64 bytes are carried. A post to a full ring waits for room, up to its
// time-out and never longer than 5 seconds, then fails with ERROR_TIMEOUT. When the owner
// has died without destroying its queue, a post fails with ERROR_FILE_NOT_FOUND once the
// owner has looked idle for 50 ms or more (its delivery thread asleep, or records waiting
// untaken), or the ring is full; a record posted before that is lost.

#include <stdint.h>
#include <wchar.h>

#if defined(VASK_CONDUIT_EXPORTS)
#define VASK_CONDUIT_API __declspec(dllexport)
#else
#define VASK_CONDUIT_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Called on the delivery thread for each record: `reserved` is always null, `context` is
// the one given to CreateIpcQueue, `data` and `size` are the record, valid during the call.
typedef void (*VaskIpcReceiveCallback)(void* reserved, void* context, const void* data,
                                       uint32_t size);

// Creates the queue `queueName` and starts its delivery thread. `flags` is not used (0);
// `recordSize` is the largest record the owner expects (1 to 64); `capacity` is the number
// of records the ring holds (clamped to 1..4096, rounded up to a power of two). Answers
// non-zero on success; 0 with an error code when the name is empty or too long, the
// callback is null or the record size is out of range (ERROR_INVALID_PARAMETER), or a
// running process already serves that name (ERROR_ALREADY_EXISTS).
VASK_CONDUIT_API int CreateIpcQueue(const wchar_t* queueName, VaskIpcReceiveCallback callback,
                                    void* context, uint32_t flags, uint32_t recordSize,
                                    uint32_t capacity);

// Stops the queue: records not yet delivered are dropped, later posts fail, and the
// callback is not called again. Waits for a callback in progress, unless it is called from
// that callback, which then finishes normally. Answers 0 (ERROR_FILE_NOT_FOUND) when this
// process has no queue of that name.
VASK_CONDUIT_API int DestroyIpcQueue(const wchar_t* queueName);

// Posts a copy of `size` bytes to the queue `queueName`. `flags`, `priority` and
// `reserved` are not used (pass 0, 0 and null); `timeoutMs` bounds the wait for room in a
// full ring (0xFFFFFFFF: the longest, 5 seconds). Answers non-zero when the record is
// queued; 0 with an error code for GetLastError otherwise: ERROR_INVALID_PARAMETER for an
// empty name or a size of 0 or above 64, ERROR_FILE_NOT_FOUND when no queue of that name
// is served, ERROR_TIMEOUT when the ring stayed full.
VASK_CONDUIT_API int SendIpcMessage(const wchar_t* queueName, const void* data, uint32_t size,
                                    uint32_t flags, uint32_t priority, uint32_t timeoutMs,
                                    void* reserved);

#ifdef __cplusplus
}
#endif
