#include "standins/reservoir/csharedpool.h"

#include <bit>
#include <cstring>
#include <string>

#include "standins/common/cinterprocesslock.h"
#include "standins/common/debugtrace.h"

namespace vask::reservoir {
namespace {

constexpr wchar_t kComponent[] = L"Vask.Reservoir";
// Local\ keeps the pool to the session. The version changes with the layout.
constexpr wchar_t kPoolName[] = L"Local\\Vask.Reservoir.Pool.v1";

constexpr std::uint32_t ChunkSize(std::uint32_t sizeClass) {
    return 1u << (kMinChunkShift + sizeClass);
}
constexpr std::uint32_t ChunksPerPage(std::uint32_t sizeClass) {
    return kPageSize / ChunkSize(sizeClass);
}
static_assert(ChunkSize(kClassCount - 1) == kPageSize);

std::uint32_t SizeClassOf(std::uint32_t size) {
    std::uint32_t sizeClass = 0;
    while (ChunkSize(sizeClass) < size) ++sizeClass;
    return sizeClass;
}

std::wstring Widen(const char* text) {
    if (text == nullptr) return L"?";
    std::wstring wide;
    for (; *text != '\0' && wide.size() < 64; ++text) {
        wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    }
    return wide;
}

bool PageServes(const PoolPage& page, std::uint32_t sizeClass) {
    return page.sizeClass == sizeClass + 1 && page.used < ChunksPerPage(sizeClass);
}

// A page of the class with a free chunk, else a page that serves no class; kPageCount
// when there is neither.
std::uint32_t FindPage(const PoolHeader& header, std::uint32_t sizeClass) {
    std::uint32_t firstFree = kPageCount;
    const std::uint32_t hint = header.pageHint[sizeClass];
    if (hint != 0 && hint <= kPageCount) {
        const PoolPage& page = header.pages[hint - 1];
        if (PageServes(page, sizeClass) || page.sizeClass == 0) return hint - 1;
    }
    for (std::uint32_t i = 0; i < kPageCount; ++i) {
        if (PageServes(header.pages[i], sizeClass)) return i;
        if (firstFree == kPageCount && header.pages[i].sizeClass == 0) firstFree = i;
    }
    return firstFree;
}

// The first clear bit below `count`; `count` when every one is set.
std::uint32_t FirstFreeChunk(const PoolPage& page, std::uint32_t count) {
    for (std::uint32_t word = 0; word * 64 < count; ++word) {
        const std::uint64_t free = ~page.inUse[word];
        if (free == 0) continue;
        const std::uint32_t chunk = word * 64 + static_cast<std::uint32_t>(std::countr_zero(free));
        return chunk < count ? chunk : count;
    }
    return count;
}

bool TakeChunk(PoolHeader& header, std::uint32_t sizeClass, std::uint32_t& pageIndex,
               std::uint32_t& chunk) {
    pageIndex = FindPage(header, sizeClass);
    if (pageIndex >= kPageCount) return false;
    PoolPage& page = header.pages[pageIndex];
    if (page.sizeClass == 0) page = PoolPage{sizeClass + 1, 0, {}};
    chunk = FirstFreeChunk(page, ChunksPerPage(sizeClass));
    if (chunk >= ChunksPerPage(sizeClass)) return false;  // counts disagree with the bits
    page.inUse[chunk / 64] |= std::uint64_t{1} << (chunk % 64);
    ++page.used;
    header.pageHint[sizeClass] = pageIndex + 1;
    return true;
}

void ReleaseChunk(PoolPage& page, std::uint32_t chunk) {
    page.inUse[chunk / 64] &= ~(std::uint64_t{1} << (chunk % 64));
    if (page.used > 0) --page.used;
    if (page.used == 0) page = PoolPage{};
}

// Another handle from the same slot, skipping 0 and slots still in use; null when every
// slot is in use.
PoolSlot* FindFreeSlot(PoolHeader& header, std::uint32_t& handle) {
    for (std::uint32_t tries = 0; tries < kSlotCount; ++tries) {
        handle = ++header.lastHandle;
        if (handle == 0) handle = ++header.lastHandle;
        PoolSlot& slot = header.slots[handle & (kSlotCount - 1)];
        if (slot.handle == 0) return &slot;
    }
    return nullptr;
}

// The slot of a live block named by `handle`, checked so that it cannot lead outside the
// pool, whatever another process wrote into the shared header; null otherwise.
PoolSlot* LiveSlot(PoolHeader& header, std::uint32_t handle) {
    if (handle == 0) return nullptr;
    PoolSlot& slot = header.slots[handle & (kSlotCount - 1)];
    if (slot.handle != handle || slot.references <= 0) return nullptr;
    const bool sound = [&] {
        if (slot.page >= kPageCount) return false;
        const PoolPage& page = header.pages[slot.page];
        if (page.sizeClass == 0 || page.sizeClass > kClassCount) return false;
        const std::uint32_t sizeClass = page.sizeClass - 1;
        if (slot.chunk >= ChunksPerPage(sizeClass)) return false;
        if ((page.inUse[slot.chunk / 64] & (std::uint64_t{1} << (slot.chunk % 64))) == 0) {
            return false;
        }
        return slot.size != 0 && slot.size <= ChunkSize(sizeClass);
    }();
    if (!sound) {
        DebugTrace(kComponent, L"slot of handle %lu is inconsistent; treated as no block",
                   static_cast<unsigned long>(handle));
        return nullptr;
    }
    return &slot;
}

}  // namespace

CSharedPool& CSharedPool::Instance() noexcept {
    static CSharedPool pool;
    return pool;
}

PoolHeader* CSharedPool::Header() noexcept {
    PoolHeader* header = header_.load(std::memory_order_acquire);
    if (header != nullptr) return header;
    std::lock_guard<std::mutex> lock(mapMutex_);
    if (header_.load(std::memory_order_relaxed) == nullptr) Map();
    return header_.load(std::memory_order_relaxed);
}

void CSharedPool::Map() noexcept {
    CScopedHandle mapping(CreateFileMappingW(
        INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT,
        static_cast<DWORD>(kPoolBytes >> 32), static_cast<DWORD>(kPoolBytes), kPoolName));
    if (!mapping.IsValid()) {
        DebugTrace(kComponent, L"cannot create the pool mapping: error %lu", GetLastError());
        return;
    }
    CMappedView view(MapViewOfFile(mapping.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0,
                                   static_cast<SIZE_T>(kPoolBytes)));
    if (view.Get() == nullptr) {
        DebugTrace(kComponent, L"cannot map the pool: error %lu", GetLastError());
        return;
    }
    mapping_ = std::move(mapping);
    view_ = std::move(view);
    header_.store(static_cast<PoolHeader*>(view_.Get()), std::memory_order_release);
}

std::uint8_t* CSharedPool::ChunkAddress(std::uint32_t page, std::uint32_t chunk,
                                        std::uint32_t sizeClass) const noexcept {
    return static_cast<std::uint8_t*>(view_.Get()) + kDataOffset + std::uint64_t{page} * kPageSize +
           std::uint64_t{chunk} * ChunkSize(sizeClass);
}

void* CSharedPool::Allocate(std::uint32_t* handle, std::uint32_t size, std::uint32_t processId,
                            const CallerInfo& caller) noexcept {
    if (handle == nullptr || size == 0 || size > kMaxBlockSize) {
        DebugTrace(kComponent, L"%ls:%d: refused a block of %lu bytes", Widen(caller.file).c_str(),
                   caller.line, static_cast<unsigned long>(size));
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    PoolHeader* header = Header();
    if (header == nullptr) {
        SetLastError(ERROR_NOT_READY);
        return nullptr;
    }
    const std::uint32_t sizeClass = SizeClassOf(size);
    std::uint32_t newHandle = 0, page = 0, chunk = 0;
    {
        CInterprocessLock lock(header->lock, kComponent);
        if (!lock.Held()) {
            SetLastError(ERROR_TIMEOUT);
            return nullptr;
        }
        PoolSlot* slot = FindFreeSlot(*header, newHandle);
        if (slot == nullptr || !TakeChunk(*header, sizeClass, page, chunk)) {
            DebugTrace(kComponent, L"%ls:%d: pool full, no block of %lu bytes (%lu live)",
                       Widen(caller.file).c_str(), caller.line, static_cast<unsigned long>(size),
                       static_cast<unsigned long>(header->liveBlocks));
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        *slot = PoolSlot{newHandle, 1, page, chunk, size, processId};
        ++header->liveBlocks;
    }
    std::uint8_t* bytes = ChunkAddress(page, chunk, sizeClass);
    std::memset(bytes, 0, size);
    *handle = newHandle;
    return bytes;
}

void* CSharedPool::Open(std::uint32_t handle, std::uint32_t* size,
                        const CallerInfo& caller) noexcept {
    PoolHeader* header = Header();
    if (header == nullptr) {
        SetLastError(ERROR_NOT_READY);
        return nullptr;
    }
    std::uint32_t page = 0, chunk = 0, blockSize = 0, sizeClass = 0;
    {
        CInterprocessLock lock(header->lock, kComponent);
        if (!lock.Held()) {
            SetLastError(ERROR_TIMEOUT);
            return nullptr;
        }
        PoolSlot* slot = LiveSlot(*header, handle);
        if (slot == nullptr || slot->references == INT32_MAX) {
            DebugTrace(kComponent, L"%ls:%d: handle %lu names no block", Widen(caller.file).c_str(),
                       caller.line, static_cast<unsigned long>(handle));
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        ++slot->references;
        page = slot->page;
        chunk = slot->chunk;
        blockSize = slot->size;
        sizeClass = header->pages[page].sizeClass - 1;
    }
    if (size != nullptr) *size = blockSize;
    return ChunkAddress(page, chunk, sizeClass);
}

std::int32_t CSharedPool::Free(std::uint32_t handle) noexcept {
    PoolHeader* header = Header();
    if (header == nullptr) return kPoolUnavailable;
    CInterprocessLock lock(header->lock, kComponent);
    if (!lock.Held()) return kPoolUnavailable;
    PoolSlot* slot = LiveSlot(*header, handle);
    if (slot == nullptr) return kNoSuchBlock;
    const std::int32_t left = --slot->references;
    if (left == 0) {
        ReleaseChunk(header->pages[slot->page], slot->chunk);
        *slot = PoolSlot{};
        --header->liveBlocks;
    }
    return left;
}

std::uint32_t CSharedPool::LiveBlocks() noexcept {
    PoolHeader* header = Header();
    if (header == nullptr) return 0;
    CInterprocessLock lock(header->lock, kComponent);
    return lock.Held() ? header->liveBlocks : 0;
}

std::uint32_t CSharedPool::ProcessOf(std::uint32_t handle) noexcept {
    PoolHeader* header = Header();
    if (header == nullptr) return 0;
    CInterprocessLock lock(header->lock, kComponent);
    if (!lock.Held()) return 0;
    const PoolSlot* slot = LiveSlot(*header, handle);
    return slot != nullptr ? slot->processId : 0;
}

}  // namespace vask::reservoir
