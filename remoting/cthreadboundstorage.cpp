#include "remoting/cthreadboundstorage.h"

namespace tarnwick {

IIpcErrorInfo::IIpcErrorInfo() noexcept = default;
IIpcErrorInfo::IIpcErrorInfo(const IIpcErrorInfo&) noexcept = default;
IIpcErrorInfo::IIpcErrorInfo(IIpcErrorInfo&&) noexcept = default;
IIpcErrorInfo& IIpcErrorInfo::operator=(const IIpcErrorInfo&) noexcept = default;
IIpcErrorInfo& IIpcErrorInfo::operator=(IIpcErrorInfo&&) noexcept = default;

CThreadBoundStorage::CThreadBoundStorage() = default;

std::uint32_t CThreadBoundStorage::GetLastIpcError() {
    CCriticalSectionLock lock(guard_);
    return records_[GetCurrentThreadId()].code;
}

size_t CThreadBoundStorage::RecordCount() const {
    CCriticalSectionLock lock(guard_);
    return records_.size();
}

}  // namespace tarnwick
