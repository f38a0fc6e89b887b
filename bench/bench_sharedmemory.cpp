// A 720-byte message block through the shared-memory library (allocate, write, open,
// free until gone) against the same bytes through a named file mapping of their own
// (create, map, write, unmap, close), timed side by side in rounds of the same run.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/benchclock.h"
#include "platform/vaskreservoir.h"
#include "standins/common/cscopedhandle.h"

namespace {

using tarnwick::bench::Median;
using tarnwick::bench::Now;

constexpr std::uint32_t kSize = 720;
constexpr int kRounds = 7;
constexpr int kBlocksPerRound = 20000;
constexpr int kMappingsPerRound = 400;

// Microseconds per block; negative when the library refused one.
double TimeBlocks(const std::uint8_t* message, int count) {
    const double start = Now();
    for (int i = 0; i < count; ++i) {
        std::uint32_t handle = 0;
        void* bytes = AllocateSharedMemory(&handle, kSize, GetCurrentProcessId(), __LINE__,
                                           "bench_sharedmemory");
        if (bytes == nullptr) return -1;
        std::memcpy(bytes, message, kSize);
        std::uint32_t size = 0;
        if (OpenSharedMemory(handle, &size, __LINE__, "bench_sharedmemory") == nullptr) return -1;
        while (FreeSharedMemory(handle) > 0) {
        }
    }
    return (Now() - start) / count;
}

// Microseconds per mapping; negative when one could not be made.
double TimeMappings(const std::uint8_t* message, int count) {
    const std::wstring name =
        L"Local\\TarnwickBench.Mapping." + std::to_wstring(GetCurrentProcessId());
    const double start = Now();
    for (int i = 0; i < count; ++i) {
        vask::CScopedHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr,
                                                       PAGE_READWRITE, 0, kSize, name.c_str()));
        if (!mapping.IsValid()) return -1;
        vask::CMappedView view(MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, kSize));
        if (view.Get() == nullptr) return -1;
        std::memcpy(view.Get(), message, kSize);
    }
    return (Now() - start) / count;
}

}  // namespace

int main() {
    std::uint8_t message[kSize];
    for (std::uint32_t i = 0; i < kSize; ++i) message[i] = static_cast<std::uint8_t>(i);
    // Warm-up: the first calls map the pool and page it in.
    if (TimeBlocks(message, 1000) < 0 || TimeMappings(message, 20) < 0) {
        std::printf("sharedmemory: failed to make a block or a mapping\n");
        return 1;
    }
    std::vector<double> blocks, mappings;
    for (int round = 0; round < kRounds; ++round) {
        blocks.push_back(TimeBlocks(message, kBlocksPerRound));
        mappings.push_back(TimeMappings(message, kMappingsPerRound));
        if (blocks.back() < 0 || mappings.back() < 0) {
            std::printf("sharedmemory: failed to make a block or a mapping\n");
            return 1;
        }
        std::printf("round %d: block %.3f us, named mapping %.1f us\n", round + 1, blocks.back(),
                    mappings.back());
    }
    const double block = Median(blocks);
    const double mapping = Median(mappings);
    std::printf(
        "median: block allocate+open+free %.3f us, named mapping create+map+close %.1f us\n", block,
        mapping);
    std::printf(
        "sharedmemory: ratio %.1f (named mapping create+map+close / block allocate+open+free, "
        "720 bytes)\n",
        mapping / block);
    return 0;
}
