#include "standins/conduit/cqueuesection.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>

#include "standins/common/cinterprocesslock.h"
#include "standins/common/debugtrace.h"
#include "standins/common/processinfo.h"

namespace vask::conduit {
namespace {

constexpr wchar_t kComponent[] = L"Vask.Conduit";
// Local\ keeps queues to the session. The version changes with the layout.
constexpr wchar_t kSectionPrefix[] = L"Local\\Vask.Conduit.v2.Queue.";
constexpr wchar_t kWakePrefix[] = L"Local\\Vask.Conduit.v2.Wake.";
// A post to a full ring waits at most this long, and checks this often whether the
// owner still runs.
constexpr DWORD kLongestFullWaitMs = 5000;
constexpr ULONGLONG kOwnerCheckIntervalMs = 250;

// Object names may not hold '\'; '%' is escaped too, so that no two names meet.
std::wstring Escape(const wchar_t* name) {
    std::wstring escaped;
    for (; *name != L'\0'; ++name) {
        if (*name == L'\\') {
            escaped += L"%5C";
        } else if (*name == L'%') {
            escaped += L"%25";
        } else {
            escaped += *name;
        }
    }
    return escaped;
}

std::uint32_t Capacity(const QueueHeader& header) {
    return std::clamp<std::uint32_t>(header.capacity, 1, kMaxCapacity);
}

std::uint32_t Load(std::uint32_t& word) { return std::atomic_ref<std::uint32_t>(word).load(); }

}  // namespace

bool CQueueSection::IsValidName(const wchar_t* name) {
    return name != nullptr && name[0] != L'\0' &&
           wcsnlen(name, kMaxNameLength + 1) <= kMaxNameLength &&
           Escape(name).size() <= kMaxNameLength;
}

CQueueSection::CQueueSection(CScopedHandle mapping, CMappedView view, CScopedHandle wake)
    : mapping_(std::move(mapping)),
      view_(std::move(view)),
      wake_(std::move(wake)),
      layout_(static_cast<QueueLayout*>(view_.Get())) {}

std::unique_ptr<CQueueSection> CQueueSection::Create(const std::wstring& name) {
    const std::wstring escaped = Escape(name.c_str());
    CScopedHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr,
                                             PAGE_READWRITE | SEC_COMMIT, 0, sizeof(QueueLayout),
                                             (kSectionPrefix + escaped).c_str()));
    if (!mapping.IsValid()) return nullptr;
    CMappedView view(
        MapViewOfFile(mapping.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(QueueLayout)));
    if (view.Get() == nullptr) return nullptr;
    CScopedHandle wake(CreateEventW(nullptr, FALSE, FALSE, (kWakePrefix + escaped).c_str()));
    if (!wake.IsValid()) return nullptr;
    return std::unique_ptr<CQueueSection>(
        new CQueueSection(std::move(mapping), std::move(view), std::move(wake)));
}

std::unique_ptr<CQueueSection> CQueueSection::Open(const std::wstring& name) {
    const std::wstring escaped = Escape(name.c_str());
    CScopedHandle mapping(OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE,
                                           (kSectionPrefix + escaped).c_str()));
    CScopedHandle wake(OpenEventW(EVENT_MODIFY_STATE, FALSE, (kWakePrefix + escaped).c_str()));
    if (!mapping.IsValid() || !wake.IsValid()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    CMappedView view(
        MapViewOfFile(mapping.Get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(QueueLayout)));
    if (view.Get() == nullptr) {
        DebugTrace(kComponent, L"cannot map queue %ls: error %lu", name.c_str(), GetLastError());
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return std::unique_ptr<CQueueSection>(
        new CQueueSection(std::move(mapping), std::move(view), std::move(wake)));
}

bool CQueueSection::Claim(std::uint32_t capacity, std::uint32_t recordSize) {
    QueueHeader& header = layout_->header;
    // The recorded owner's liveness costs kernel calls, so it is checked outside the lock;
    // the claim then succeeds only if no other owner has been recorded meanwhile.
    std::uint32_t owner = 0;
    std::uint64_t ownerStart = 0;
    {
        CInterprocessLock lock(header.lock, kComponent);
        if (!lock.Held()) {
            SetLastError(ERROR_TIMEOUT);
            return false;
        }
        if (header.alive != 0) {
            owner = header.ownerProcessId;
            ownerStart = header.ownerStartTime;
        }
    }
    if (owner != 0 && IsProcessRunning(owner, ownerStart)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return false;
    }
    const std::uint64_t selfStart = ProcessStartTime(GetCurrentProcess());
    CInterprocessLock lock(header.lock, kComponent);
    if (!lock.Held()) {
        SetLastError(ERROR_TIMEOUT);
        return false;
    }
    if (header.alive != 0 &&
        (header.ownerProcessId != owner || header.ownerStartTime != ownerStart)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return false;
    }
    if (owner != 0) {
        DebugTrace(kComponent, L"queue of exited process %lu taken over by process %lu",
                   static_cast<unsigned long>(owner), GetCurrentProcessId());
    }
    header.ownerProcessId = GetCurrentProcessId();
    header.ownerStartTime = selfStart;
    // A power of two keeps the ring's slot order right when the counters wrap.
    header.capacity = std::bit_ceil(std::clamp<std::uint32_t>(capacity, 1, kMaxCapacity));
    header.recordSize = recordSize;
    header.head = 0;
    header.tail = 0;
    header.sleeping = 0;
    header.lastTakeAt = GetTickCount64();
    header.alive = 1;
    return true;
}

void CQueueSection::Retire() {
    QueueHeader& header = layout_->header;
    CInterprocessLock lock(header.lock, kComponent);
    if (!lock.Held()) return;  // the lock's holder is stuck; the time-out was traced
    if (header.ownerProcessId != GetCurrentProcessId()) return;
    header.alive = 0;
    header.ownerProcessId = 0;
    header.ownerStartTime = 0;
    header.head = header.tail;
}

bool CQueueSection::Take(QueueRecord& record) {
    QueueHeader& header = layout_->header;
    CInterprocessLock lock(header.lock, kComponent);
    if (!lock.Held() || header.head == header.tail) return false;
    const QueueSlot& slot = layout_->slots[header.head % Capacity(header)];
    ++header.head;
    std::atomic_ref<std::uint64_t>(header.lastTakeAt).store(GetTickCount64());
    // Every process of the session can write the ring: a size no post makes is refused.
    if (slot.size == 0 || slot.size > kMaxRecordSize) {
        DebugTrace(kComponent, L"dropped a record of impossible size %lu",
                   static_cast<unsigned long>(slot.size));
        return false;
    }
    record.size = slot.size;
    std::memcpy(record.data, slot.data, record.size);
    return true;
}

void CQueueSection::WaitForRecords(HANDLE stop) {
    QueueHeader& header = layout_->header;
    // A sender reads `sleeping` after it has moved `tail`; storing `sleeping` before reading
    // `tail` here means that one of the two sides always sees the other.
    std::atomic_ref<std::uint64_t>(header.sleepingSince).store(GetTickCount64());
    std::atomic_ref<std::uint32_t>(header.sleeping).store(1);
    if (Load(header.tail) != Load(header.head)) {
        std::atomic_ref<std::uint32_t>(header.sleeping).store(0);
        return;
    }
    const HANDLE handles[] = {stop, wake_.Get()};
    WaitForMultipleObjects(2, handles, FALSE, INFINITE);
}

bool CQueueSection::Post(const void* data, std::uint32_t size, DWORD timeoutMs) {
    const DWORD longest = std::min(timeoutMs, kLongestFullWaitMs);
    const ULONGLONG start = GetTickCount64();
    ULONGLONG lastOwnerCheck = start;
    for (;;) {
        std::uint32_t waiting = 0;
        switch (TryPost(data, size, waiting)) {
            case PostResult::Posted: {
                QueueHeader& header = layout_->header;
                const bool wakes = std::atomic_ref<std::uint32_t>(header.sleeping).exchange(0) != 0;
                const std::uint64_t idleSince =
                    std::atomic_ref<std::uint64_t>(wakes ? header.sleepingSince : header.lastTakeAt)
                        .load();
                if ((wakes || waiting > 0) && IdleOwnerIsGone(idleSince)) {
                    SetLastError(ERROR_FILE_NOT_FOUND);
                    return false;
                }
                if (wakes) SetEvent(wake_.Get());
                return true;
            }
            case PostResult::NotServed:
                SetLastError(ERROR_FILE_NOT_FOUND);
                return false;
            case PostResult::LockTimeout:
                SetLastError(ERROR_TIMEOUT);
                return false;
            case PostResult::Full:
                break;
        }
        const ULONGLONG now = GetTickCount64();
        if (now - lastOwnerCheck >= kOwnerCheckIntervalMs) {
            lastOwnerCheck = now;
            if (IsOwnerGone()) {
                SetLastError(ERROR_FILE_NOT_FOUND);
                return false;
            }
        }
        if (now - start >= longest) {
            SetLastError(ERROR_TIMEOUT);
            return false;
        }
        Sleep(1);
    }
}

CQueueSection::PostResult CQueueSection::TryPost(const void* data, std::uint32_t size,
                                                 std::uint32_t& waiting) {
    QueueHeader& header = layout_->header;
    CInterprocessLock lock(header.lock, kComponent);
    if (!lock.Held()) return PostResult::LockTimeout;
    if (header.alive == 0) return PostResult::NotServed;
    const std::uint32_t capacity = Capacity(header);
    waiting = header.tail - header.head;
    if (waiting >= capacity) return PostResult::Full;
    QueueSlot& slot = layout_->slots[header.tail % capacity];
    slot.size = size;
    std::memcpy(slot.data, data, size);
    std::atomic_ref<std::uint32_t>(header.tail).store(header.tail + 1);
    return PostResult::Posted;
}

bool CQueueSection::IdleOwnerIsGone(std::uint64_t since) {
    return GetTickCount64() - since >= kIdleBeforeOwnerCheckMs && IsOwnerGone();
}

// A full ring whose owner has died stays full: the queue is then marked unserved.
bool CQueueSection::IsOwnerGone() {
    QueueHeader& header = layout_->header;
    const std::uint32_t owner = Load(header.ownerProcessId);
    const std::uint64_t ownerStart = header.ownerStartTime;
    if (owner == 0 || IsProcessRunning(owner, ownerStart)) return false;
    CInterprocessLock lock(header.lock, kComponent);
    if (!lock.Held() || header.ownerProcessId != owner) return false;
    header.alive = 0;
    header.ownerProcessId = 0;
    DebugTrace(kComponent, L"owner %lu of a full queue has exited; queue marked unserved",
               static_cast<unsigned long>(owner));
    return true;
}

}  // namespace vask::conduit
