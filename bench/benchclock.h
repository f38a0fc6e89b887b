#pragma once
// The clock and the statistic that the benchmarks share: microseconds from the performance
// counter, and the median of a round's figures.

#include <windows.h>

#include <algorithm>
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

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace tarnwick::bench
