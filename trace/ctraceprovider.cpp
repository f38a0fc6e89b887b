#include "trace/ctraceprovider.h"

namespace tarnwick {

TraceApi TraceApi::Platform() noexcept {
    return {&RegisterTraceGuidsW, &UnregisterTraceGuids, &GetTraceLoggerHandle,
            &GetTraceEnableLevel, &GetTraceEnableFlags,  &TraceMessage};
}

CTraceProvider::CTraceProvider(const TraceApi& api) noexcept : api_(api) {}

CTraceProvider& CTraceProvider::Module() noexcept {
    static CTraceProvider provider;
    return provider;
}

ULONG CTraceProvider::Register() noexcept {
    logger_ = 0;
    level_ = 0;
    flags_ = 0;
    TRACE_GUID_REGISTRATION guidRegistration{&kTraceControlGuid, nullptr};
    TRACEHANDLE handle = 0;
    const ULONG status =
        api_.registerGuids(&CTraceProvider::ControlCallback, this, &kTraceControlGuid, 1,
                           &guidRegistration, nullptr, nullptr, &handle);
    if (status == ERROR_SUCCESS) registration_ = handle;
    return status;
}

void CTraceProvider::Unregister() noexcept {
    const TRACEHANDLE handle = registration_.exchange(0);
    if (handle != 0) api_.unregisterGuids(handle);
    logger_ = 0;
    level_ = 0;
    flags_ = 0;
}

ULONG WINAPI CTraceProvider::ControlCallback(WMIDPREQUESTCODE code, PVOID context,
                                             ULONG* bufferSize, PVOID buffer) {
    auto* self = static_cast<CTraceProvider*>(context);
    if (self == nullptr) return ERROR_INVALID_PARAMETER;
    switch (code) {
        case WMI_ENABLE_EVENTS: {
            const TRACEHANDLE logger = self->api_.loggerHandle(buffer);
            self->logger_ = logger;
            self->level_ = self->api_.enableLevel(logger);
            self->flags_ = self->api_.enableFlags(logger);
            break;
        }
        case WMI_DISABLE_EVENTS:
            self->logger_ = 0;
            self->level_ = 0;
            self->flags_ = 0;
            break;
        default:
            return ERROR_INVALID_PARAMETER;
    }
    if (bufferSize != nullptr) *bufferSize = 0;
    return ERROR_SUCCESS;
}

void CTraceProvider::WriteValues(const GUID& unit, USHORT number, const TraceValue* v,
                                 size_t count) const noexcept {
    // TraceMessage takes (pointer, size) pairs closed by a null pointer.
    constexpr ULONG kFlags = TRACE_MESSAGE_SEQUENCE | TRACE_MESSAGE_GUID |
                             TRACE_MESSAGE_SYSTEMINFO | TRACE_MESSAGE_TIMESTAMP;
    const TRACEHANDLE logger = Logger();
    switch (count) {
        case 0:
            api_.message(logger, kFlags, &unit, number, nullptr);
            break;
        case 1:
            api_.message(logger, kFlags, &unit, number, v[0].data, v[0].size, nullptr);
            break;
        case 2:
            api_.message(logger, kFlags, &unit, number, v[0].data, v[0].size, v[1].data, v[1].size,
                         nullptr);
            break;
        case 3:
            api_.message(logger, kFlags, &unit, number, v[0].data, v[0].size, v[1].data, v[1].size,
                         v[2].data, v[2].size, nullptr);
            break;
        default:
            api_.message(logger, kFlags, &unit, number, v[0].data, v[0].size, v[1].data, v[1].size,
                         v[2].data, v[2].size, v[3].data, v[3].size, nullptr);
            break;
    }
}

}  // namespace tarnwick
