#pragma once
// The module's event-tracing provider and the gate that every trace point goes through.

#include <windows.h>
#include <evntrace.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <type_traits>

namespace tarnwick {

enum class TraceLevel : UCHAR { Error = 2, Warning = 3, Information = 4, Verbose = 5 };

inline constexpr ULONG kTraceFlagComponent = 0x400;
inline constexpr ULONG kTraceFlagEntryPoint = 0x80000;

// Control GUID of the module's provider: 239247bf-8821-44ed-8387-ae9a6bc96e23.
inline constexpr GUID kTraceControlGuid = {
    0x239247bf, 0x8821, 0x44ed, {0x83, 0x87, 0xae, 0x9a, 0x6b, 0xc9, 0x6e, 0x23}};

// The platform calls the provider makes. The module uses the system's; tests substitute
// their own to drive the control callback and observe what is written.
struct TraceApi {
    ULONG(WINAPI* registerGuids)
    (WMIDPREQUEST, PVOID, LPCGUID, ULONG, PTRACE_GUID_REGISTRATION, LPCWSTR, LPCWSTR, PTRACEHANDLE);
    ULONG(WINAPI* unregisterGuids)(TRACEHANDLE);
    TRACEHANDLE(WINAPI* loggerHandle)(PVOID);
    UCHAR(WINAPI* enableLevel)(TRACEHANDLE);
    ULONG(WINAPI* enableFlags)(TRACEHANDLE);
    ULONG(__cdecl* message)(TRACEHANDLE, ULONG, LPCGUID, USHORT, ...);

    static TraceApi Platform() noexcept;
};

// One value of a trace message: a pointer to its bytes and their count.
struct TraceValue {
    const void* data;
    size_t size;
};

inline TraceValue MakeTraceValue(const std::uint32_t& v) noexcept { return {&v, sizeof v}; }
inline TraceValue MakeTraceValue(const std::int32_t& v) noexcept { return {&v, sizeof v}; }
inline TraceValue MakeTraceValue(const std::uint64_t& v) noexcept { return {&v, sizeof v}; }
inline TraceValue MakeTraceValue(const std::int64_t& v) noexcept { return {&v, sizeof v}; }
inline TraceValue MakeTraceValue(const unsigned long& v) noexcept { return {&v, sizeof v}; }
inline TraceValue MakeTraceValue(const long& v) noexcept { return {&v, sizeof v}; }
// Pointers and handles travel as their 64-bit value; the reference keeps the caller's object.
template <typename T>
inline TraceValue MakeTraceValue(T* const& v) noexcept {
    return {&v, sizeof v};
}
// A wide string travels with its terminator; a null string shows as "NULL".
inline TraceValue MakeTraceValue(const wchar_t* v) noexcept {
    if (v == nullptr) v = L"NULL";
    return {v, (std::wcslen(v) + 1) * sizeof(wchar_t)};
}
inline TraceValue MakeTraceValue(wchar_t* v) noexcept {
    return MakeTraceValue(static_cast<const wchar_t*>(v));
}

class CTraceProvider {
  public:
    static constexpr size_t kMaxValues = 4;

    explicit CTraceProvider(const TraceApi& api = TraceApi::Platform()) noexcept;
    CTraceProvider(const CTraceProvider&) = delete;
    CTraceProvider& operator=(const CTraceProvider&) = delete;

    // The provider of this module, registered by the entry point.
    static CTraceProvider& Module() noexcept;

    // Registers with the control callback and this provider as its context; answers the
    // platform's status.
    ULONG Register() noexcept;
    // Unregisters and clears the control block.
    void Unregister() noexcept;

    bool IsRegistered() const noexcept {
        return registration_.load(std::memory_order_relaxed) != 0;
    }
    UCHAR Level() const noexcept { return level_.load(std::memory_order_relaxed); }
    ULONG Flags() const noexcept { return flags_.load(std::memory_order_relaxed); }
    TRACEHANDLE Logger() const noexcept { return logger_.load(std::memory_order_relaxed); }

    // The trace gate: registered, the flag enabled, and the enabled level at least the trace's.
    bool IsEnabled(ULONG flag, TraceLevel level) const noexcept {
        return IsRegistered() && (Flags() & flag) != 0 && Level() >= static_cast<UCHAR>(level);
    }

    // Control callback: code 4 enables (logger, level, flags from the buffer), code 5
    // disables, any other code answers ERROR_INVALID_PARAMETER and changes nothing.
    static ULONG WINAPI ControlCallback(WMIDPREQUESTCODE code, PVOID context, ULONG* bufferSize,
                                        PVOID buffer);

    // Writes one message when the gate is open; extra values beyond kMaxValues are dropped.
    template <typename... Values>
    void Write(const GUID& unit, TraceLevel level, ULONG flag, USHORT number,
               const Values&... values) const noexcept {
        static_assert(sizeof...(Values) <= kMaxValues, "a trace carries at most four values");
        if (!IsEnabled(flag, level)) return;
        const std::array<TraceValue, sizeof...(Values)> packed{MakeTraceValue(values)...};
        WriteValues(unit, number, packed.data(), packed.size());
    }

  private:
    void WriteValues(const GUID& unit, USHORT number, const TraceValue* values,
                     size_t count) const noexcept;

    TraceApi api_;
    std::atomic<TRACEHANDLE> registration_{0};
    std::atomic<TRACEHANDLE> logger_{0};
    std::atomic<ULONG> flags_{0};
    std::atomic<UCHAR> level_{0};
};

// A trace point of a source unit through the module's provider.
template <typename... Values>
inline void Trace(const GUID& unit, TraceLevel level, ULONG flag, USHORT number,
                  const Values&... values) noexcept {
    CTraceProvider::Module().Write(unit, level, flag, number, values...);
}

}  // namespace tarnwick
