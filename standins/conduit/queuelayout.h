#pragma once
// The layout of one queue's named mapping, shared by its owner and every sender. A change
// to it needs new object names.

#include <cstdint>

namespace vask::conduit {

inline constexpr std::uint32_t kMaxRecordSize = 64;
inline constexpr std::uint32_t kMaxCapacity = 4096;

struct QueueHeader {
    std::uint32_t lock;   // CInterprocessLock word
    std::uint32_t alive;  // 1 while a delivery thread serves the queue
    std::uint32_t ownerProcessId;
    std::uint32_t capacity;        // records the ring holds, 1..kMaxCapacity
    std::uint32_t recordSize;      // the largest record the owner expects
    std::uint32_t head;            // count of records taken; wraps
    std::uint32_t tail;            // count of records posted; wraps
    std::uint32_t sleeping;        // 1 while the delivery thread waits for the wake event
    std::uint64_t ownerStartTime;  // tells the owner apart from a later process of its id
    std::uint64_t sleepingSince;   // GetTickCount64 when the delivery thread last went to sleep
    std::uint64_t lastTakeAt;      // GetTickCount64 when the owner last took a record
};

// A post that wakes a delivery thread asleep for this long, or that finds records waiting
// that the owner has not taken for this long, first checks that the owner still runs: an
// owner that died then refuses posts instead of losing them.
inline constexpr std::uint64_t kIdleBeforeOwnerCheckMs = 50;

struct QueueSlot {
    std::uint32_t size;
    std::uint8_t data[kMaxRecordSize];
};

struct QueueLayout {
    QueueHeader header;
    QueueSlot slots[kMaxCapacity];
};

// A record as it leaves the ring.
struct QueueRecord {
    std::uint32_t size;
    std::uint8_t data[kMaxRecordSize];
};

}  // namespace vask::conduit
