#pragma once
// The clock and the statistic that the benchmarks share: microseconds from the performance
// counter, the time of one call of a step, and the median of a round's figures.

#include <windows.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace tarnwick::bench {

// Performance-counter ticks in microseconds.
inline double Microseconds(LONGLONG ticks) {
    static const double ticksPerMicrosecond = [] {
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1e6;
    }();
    return static_cast<double>(ticks) / ticksPerMicrosecond;
}

inline LONGLONG Ticks() {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

inline double Now() { return Microseconds(Ticks()); }

// Microseconds per call over count calls of once; negative when a call answered false.
inline double TimePerCall(const std::function<bool()>& once, int count) {
    const double start = Now();
    for (int i = 0; i < count; ++i) {
        if (!once()) return -1;
    }
    return (Now() - start) / count;
}

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace tarnwick::bench
