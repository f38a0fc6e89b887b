#include "remoting/cthreadboundstorage.h"

namespace tarnwick {

namespace {
// {4E9D2B17-6A35-4C81-B0F2-7D3E5A1C9B46}
constexpr GUID kTraceGuid = {
    0x4e9d2b17, 0x6a35, 0x4c81, {0xb0, 0xf2, 0x7d, 0x3e, 0x5a, 0x1c, 0x9b, 0x46}};
}  // namespace

IIpcErrorInfo::IIpcErrorInfo() noexcept = default;
IIpcErrorInfo::IIpcErrorInfo(const IIpcErrorInfo&) noexcept = default;
IIpcErrorInfo::IIpcErrorInfo(IIpcErrorInfo&&) noexcept = default;
IIpcErrorInfo& IIpcErrorInfo::operator=(const IIpcErrorInfo&) noexcept = default;
IIpcErrorInfo& IIpcErrorInfo::operator=(IIpcErrorInfo&&) noexcept = default;

CThreadBoundStorage::CThreadBoundStorage() : mutex_(kTraceGuid) {}

std::uint32_t CThreadBoundStorage::GetLastIpcError() {
    CMutexLock lock(mutex_);
    return records_[GetCurrentThreadId()].code;
}

size_t CThreadBoundStorage::RecordCount() const {
    CMutexLock lock(mutex_);
    return records_.size();
}

}  // namespace tarnwick
