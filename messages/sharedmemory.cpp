#include "messages/sharedmemory.h"

#include <algorithm>

#include "platform/vaskreservoir.h"
#include "trace/ctraceprovider.h"

namespace tarnwick {
namespace {

// {202599DE-5C92-4866-A420-0A201E461515}
constexpr GUID kTraceGuid = {
    0x202599de, 0x5c92, 0x4866, {0xa4, 0x20, 0x0a, 0x20, 0x1e, 0x46, 0x15, 0x15}};

enum TracePoint : USHORT { kTraceAllocationFailed = 1, kTraceOpenFailed, kTraceEmptyBlock };

}  // namespace

void DestroySharedBlock(std::uint32_t handle) noexcept {
    if (handle == 0) return;
    while (FreeSharedMemory(handle) > 0) {
    }
}

std::span<std::uint8_t> CBlockHolder::Allocate(std::uint32_t size, const SourcePlace& place,
                                               std::uint32_t processId) noexcept {
    Reset();
    std::uint32_t handle = 0;
    if (processId == 0) processId = GetCurrentProcessId();
    void* bytes = AllocateSharedMemory(&handle, size, processId, place.line, place.file);
    if (bytes == nullptr || handle == 0) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceAllocationFailed, size,
              static_cast<std::int32_t>(place.line), static_cast<std::uint32_t>(GetLastError()));
        return {};
    }
    handle_ = handle;
    return {static_cast<std::uint8_t*>(bytes), size};
}

void CBlockHolder::Reset(std::uint32_t handle) noexcept {
    DestroySharedBlock(handle_);
    handle_ = handle;
}

COpenedBlock::COpenedBlock(std::uint32_t handle, const SourcePlace& place) noexcept
    : handle_(handle) {
    if (handle == 0) return;
    std::uint32_t size = 0;
    void* bytes = OpenSharedMemory(handle, &size, place.line, place.file);
    if (bytes == nullptr) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceOpenFailed, handle,
              static_cast<std::int32_t>(place.line));
        return;
    }
    if (size == 0) {
        // Nothing to read; the reference the open took is still ours to drop.
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceEmptyBlock, handle);
        FreeSharedMemory(handle);
        return;
    }
    bytes_ = {static_cast<std::uint8_t*>(bytes), size};
}

COpenedBlock::~COpenedBlock() {
    if (IsOpen()) FreeSharedMemory(handle_);
}

void COpenedBlock::Destroy() noexcept {
    if (!IsOpen()) return;
    bytes_ = {};
    DestroySharedBlock(handle_);
}

namespace {

// Few blocks are held at once (one or two a message being read), so a short list will do.
SRWLOCK g_heldLock = SRWLOCK_INIT;
std::vector<std::uint32_t> g_held;

}  // namespace

CHeldBlock::CHeldBlock(std::uint32_t handle) : handle_(handle) {
    if (handle_ == 0) return;
    AcquireSRWLockExclusive(&g_heldLock);
    try {
        g_held.push_back(handle_);
    } catch (...) {
        handle_ = 0;
    }
    ReleaseSRWLockExclusive(&g_heldLock);
}

CHeldBlock::~CHeldBlock() {
    if (handle_ == 0) return;
    AcquireSRWLockExclusive(&g_heldLock);
    const auto it = std::find(g_held.begin(), g_held.end(), handle_);
    if (it != g_held.end()) g_held.erase(it);
    ReleaseSRWLockExclusive(&g_heldLock);
}

bool CHeldBlock::IsHeld(std::uint32_t handle) noexcept {
    if (handle == 0) return false;
    AcquireSRWLockShared(&g_heldLock);
    const bool held = std::find(g_held.begin(), g_held.end(), handle) != g_held.end();
    ReleaseSRWLockShared(&g_heldLock);
    return held;
}

CReceivedBlocks::CReceivedBlocks(std::initializer_list<std::uint32_t> held) {
    for (std::uint32_t handle : held) {
        if (handle != 0) handles_.insert(handle);
    }
}

bool CReceivedBlocks::Claim(std::uint32_t handle) {
    return handle == 0 || handles_.insert(handle).second;
}

std::optional<std::vector<std::uint8_t>> TakeSharedBlock(std::uint32_t handle,
                                                         const SourcePlace& place) {
    COpenedBlock block(handle, place);
    if (!block.IsOpen()) return std::nullopt;
    std::vector<std::uint8_t> copy(block.Bytes().begin(), block.Bytes().end());
    block.Destroy();
    return copy;
}

std::optional<std::wstring> ReadBlockText(std::span<const std::uint8_t> block, size_t offset,
                                          size_t maxUnits) {
    if (offset > block.size()) return std::nullopt;
    const size_t units = std::min(maxUnits, (block.size() - offset) / sizeof(wchar_t));
    std::wstring text;
    for (size_t i = 0; i < units; ++i) {
        wchar_t unit = 0;
        std::memcpy(&unit, block.data() + offset + i * sizeof(wchar_t), sizeof unit);
        if (unit == L'\0') return text;
        text.push_back(unit);
    }
    return std::nullopt;
}

void WriteBlockText(std::span<std::uint8_t> block, size_t offset, size_t fieldUnits,
                    const wchar_t* text) noexcept {
    std::memset(block.data() + offset, 0, fieldUnits * sizeof(wchar_t));
    if (text == nullptr || fieldUnits == 0) return;
    const size_t length = wcsnlen(text, fieldUnits - 1);
    std::memcpy(block.data() + offset, text, length * sizeof(wchar_t));
}

}  // namespace tarnwick
