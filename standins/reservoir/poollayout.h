#pragma once
// The layout of the session-wide block pool. Every process maps the same bytes, so this
// layout is shared by all of them; a change to it needs a new pool name. A pool that is
// all zeros is a valid empty pool, so whoever maps it first has nothing to initialise.

#include <cstdint>

namespace vask::reservoir {

// Blocks are cut from 64 KiB pages. A page serves one size class: chunks of 64 << c bytes
// for c = 0 (64 B) to 10 (one 64 KiB chunk). A block takes the smallest chunk that holds it.
inline constexpr std::uint32_t kPageSize = 64 * 1024;
inline constexpr std::uint32_t kPageCount = 512;  // 32 MiB of block bytes
inline constexpr std::uint32_t kMinChunkShift = 6;
inline constexpr std::uint32_t kClassCount = 11;
inline constexpr std::uint32_t kMaxChunksPerPage = kPageSize >> kMinChunkShift;
inline constexpr std::uint32_t kBitmapWords = kMaxChunksPerPage / 64;

// Live blocks at most. A handle's slot is handle % kSlotCount; the slot remembers the
// handle it serves, so a stale handle never matches the slot's next block.
inline constexpr std::uint32_t kSlotCount = 65536;
static_assert((kSlotCount & (kSlotCount - 1)) == 0, "slot count must be a power of two");

struct PoolSlot {
    std::uint32_t handle;  // 0 while the slot is free
    std::int32_t references;
    std::uint32_t page;
    std::uint32_t chunk;
    std::uint32_t size;       // as allocated
    std::uint32_t processId;  // the process the block was made for
};

struct PoolPage {
    std::uint32_t sizeClass;            // class + 1; 0 while the page serves no class
    std::uint32_t used;                 // chunks in use
    std::uint64_t inUse[kBitmapWords];  // one bit per chunk
};

struct PoolHeader {
    std::uint32_t lock;        // CInterprocessLock word
    std::uint32_t lastHandle;  // handles count up from here and skip 0
    std::uint32_t liveBlocks;
    std::uint32_t reserved;
    std::uint32_t pageHint[kClassCount];  // index + 1 of the page that served a class last
    PoolPage pages[kPageCount];
    PoolSlot slots[kSlotCount];
};

// Block bytes start at the first page boundary after the header.
inline constexpr std::uint64_t kDataOffset =
    (sizeof(PoolHeader) + kPageSize - 1) / kPageSize * kPageSize;
inline constexpr std::uint64_t kPoolBytes = kDataOffset + std::uint64_t{kPageSize} * kPageCount;

}  // namespace vask::reservoir
