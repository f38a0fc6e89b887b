#pragma once
// The session-wide block pool: one named page-file mapping that every process maps once,
// with blocks, handles and reference counts kept in it under a CInterprocessLock.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "standins/common/cscopedhandle.h"
#include "standins/reservoir/poollayout.h"

namespace vask::reservoir {

// Where a call comes from, for diagnostics only.
struct CallerInfo {
    int line;
    const char* file;  // a file stem; may be null
};

class CSharedPool {
  public:
    static constexpr std::uint32_t kMaxBlockSize = kPageSize;
    // Results of Free besides the count left.
    static constexpr std::int32_t kNoSuchBlock = -1;
    static constexpr std::int32_t kPoolUnavailable = -2;

    // The pool of this process, mapped on first use (the DLL asks at load).
    static CSharedPool& Instance() noexcept;

    CSharedPool(const CSharedPool&) = delete;
    CSharedPool& operator=(const CSharedPool&) = delete;

    // True once the pool is mapped; maps it when it is not yet.
    bool EnsureMapped() noexcept { return Header() != nullptr; }

    void* Allocate(std::uint32_t* handle, std::uint32_t size, std::uint32_t processId,
                   const CallerInfo& caller) noexcept;
    void* Open(std::uint32_t handle, std::uint32_t* size, const CallerInfo& caller) noexcept;
    std::int32_t Free(std::uint32_t handle) noexcept;
    // Blocks alive in the pool (a diagnostic for tests); 0 when the pool cannot be reached.
    std::uint32_t LiveBlocks() noexcept;
    // The process a live block was made for (a diagnostic for tests); 0 when none is alive.
    std::uint32_t ProcessOf(std::uint32_t handle) noexcept;

  private:
    CSharedPool() = default;

    PoolHeader* Header() noexcept;
    void Map() noexcept;
    std::uint8_t* ChunkAddress(std::uint32_t page, std::uint32_t chunk,
                               std::uint32_t sizeClass) const noexcept;

    std::mutex mapMutex_;
    CScopedHandle mapping_;
    CMappedView view_;
    std::atomic<PoolHeader*> header_{nullptr};
};

}  // namespace vask::reservoir
