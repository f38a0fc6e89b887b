#include "remoting/cmutex.h"

#include <cstdint>

#include "trace/ctraceprovider.h"

namespace tarnwick {

namespace {
constexpr USHORT kMutexNotCreated = 0x7F01;
}  // namespace

CMutex::CMutex(const GUID& traceUnit) : handle_(CreateMutexW(nullptr, FALSE, nullptr)) {
    if (handle_ == nullptr) {
        Trace(traceUnit, TraceLevel::Error, kTraceFlagComponent, kMutexNotCreated,
              static_cast<std::uint32_t>(GetLastError()));
    }
}

CMutex::~CMutex() {
    if (handle_ != nullptr) CloseHandle(handle_);
}

void CMutex::Lock() const {
    if (handle_ != nullptr) WaitForSingleObject(handle_, INFINITE);
}

void CMutex::Unlock() const {
    if (handle_ != nullptr) ReleaseMutex(handle_);
}

}  // namespace tarnwick
