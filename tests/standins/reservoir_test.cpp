// Vask.Reservoir.x64.dll: blocks by handle across real processes, reference counts, handles
// that are never reused, refused sizes and foreign handles, and a pool that fills and
// empties again.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/vaskreservoir.h"
#include "support/childmode.h"
#include "support/childprocess.h"
#include "standins/startbarrier.h"

namespace {

constexpr char kFile[] = "reservoir_test";

std::uint8_t Pattern(size_t index, std::uint32_t seed) {
    return static_cast<std::uint8_t>(index * 7 + seed);
}

void Fill(void* bytes, size_t size, std::uint32_t seed) {
    for (size_t i = 0; i < size; ++i) static_cast<std::uint8_t*>(bytes)[i] = Pattern(i, seed);
}

bool Holds(const void* bytes, size_t size, std::uint32_t seed) {
    for (size_t i = 0; i < size; ++i) {
        if (static_cast<const std::uint8_t*>(bytes)[i] != Pattern(i, seed)) return false;
    }
    return true;
}

void* Allocate(std::uint32_t& handle, std::uint32_t size) {
    return AllocateSharedMemory(&handle, size, GetCurrentProcessId(), __LINE__, kFile);
}

// Frees while references remain, as an owner does; the number of calls it took.
int Destroy(std::uint32_t handle) {
    int calls = 1;
    while (FreeSharedMemory(handle) > 0) ++calls;
    return calls;
}

}  // namespace

// args: handle, size, seed. Opens the parent's block, checks it, writes the next seed's
// pattern and drops its reference; 0 when all went as expected.
TARNWICK_CHILD_MODE(ReservoirReadWriteFree) {
    const auto handle = static_cast<std::uint32_t>(std::stoul(args.at(0)));
    const auto expected = static_cast<std::uint32_t>(std::stoul(args.at(1)));
    const auto seed = static_cast<std::uint32_t>(std::stoul(args.at(2)));
    std::uint32_t size = 0;
    void* bytes = OpenSharedMemory(handle, &size, __LINE__, kFile);
    if (bytes == nullptr) return 2;
    if (size != expected) return 3;
    if (!Holds(bytes, size, seed)) return 4;
    Fill(bytes, size, seed + 1);
    return FreeSharedMemory(handle) == 1 ? 0 : 5;
}

// args: size, seed. Leaves a filled block behind and answers its handle.
TARNWICK_CHILD_MODE(ReservoirAllocateAndExit) {
    const auto size = static_cast<std::uint32_t>(std::stoul(args.at(0)));
    std::uint32_t handle = 0;
    void* bytes = Allocate(handle, size);
    if (bytes == nullptr) return 0;
    Fill(bytes, size, static_cast<std::uint32_t>(std::stoul(args.at(1))));
    return static_cast<int>(handle);
}

// args: rounds, start barrier. Keeps up to 16 blocks of changing sizes, each filled with this
// process's tag, and checks every block before it frees it: another process's block never overlaps.
TARNWICK_CHILD_MODE(ReservoirChurn) {
    const int rounds = std::stoi(args.at(0));
    if (!tarnwick::test::CStartBarrier::Arrive(args.at(1))) return 6;
    const auto tag = static_cast<std::uint32_t>(GetCurrentProcessId());
    struct Held {
        std::uint32_t handle, size, seed;
    };
    std::vector<Held> held;
    for (int round = 0; round < rounds; ++round) {
        const std::uint32_t size = 1 + (static_cast<std::uint32_t>(round) * 389) % 3000;
        Held block{0, size, tag + static_cast<std::uint32_t>(round)};
        void* bytes = Allocate(block.handle, size);
        if (bytes == nullptr) return 2;
        Fill(bytes, size, block.seed);
        held.push_back(block);
        if (held.size() < 16) continue;
        const Held oldest = held.front();
        held.erase(held.begin());
        std::uint32_t openedSize = 0;
        const void* opened = OpenSharedMemory(oldest.handle, &openedSize, __LINE__, kFile);
        if (opened == nullptr || openedSize != oldest.size) return 3;
        if (!Holds(opened, openedSize, oldest.seed)) return 4;
        if (Destroy(oldest.handle) != 2) return 5;
    }
    for (const Held& block : held) Destroy(block.handle);
    return 0;
}

namespace {

TEST(Reservoir, BlockWrittenInOneProcessIsReadReferencedAndFreedInAnother) {
    std::uint32_t handle = 0;
    void* bytes = Allocate(handle, 720);
    ASSERT_NE(bytes, nullptr);
    ASSERT_NE(handle, 0u);
    Fill(bytes, 720, 11);

    tarnwick::test::CChildProcess child;
    ASSERT_TRUE(child.Start(L"ReservoirReadWriteFree", {std::to_wstring(handle), L"720", L"11"}));
    EXPECT_EQ(child.Wait(), std::optional<DWORD>(0));

    EXPECT_TRUE(Holds(bytes, 720, 12)) << "the child's writes are visible here";
    EXPECT_EQ(FreeSharedMemory(handle), 0) << "the child dropped only its own reference";
    EXPECT_LE(FreeSharedMemory(handle), 0);
    EXPECT_EQ(OpenSharedMemory(handle, nullptr, __LINE__, kFile), nullptr);
}

TEST(Reservoir, BlockOutlivesTheProcessThatMadeIt) {
    tarnwick::test::CChildProcess child;
    ASSERT_TRUE(child.Start(L"ReservoirAllocateAndExit", {L"4000", L"3"}));
    const std::optional<DWORD> handle = child.Wait();
    ASSERT_TRUE(handle.has_value());
    ASSERT_NE(*handle, 0u);

    std::uint32_t size = 0;
    const void* bytes = OpenSharedMemory(*handle, &size, __LINE__, kFile);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(size, 4000u);
    EXPECT_TRUE(Holds(bytes, size, 3));
    EXPECT_EQ(Destroy(*handle), 2);
}

TEST(Reservoir, ProcessesAllocatingAtOnceNeverShareBytes) {
    tarnwick::test::CStartBarrier barrier(L"Churn");
    tarnwick::test::CChildProcess first, second;
    ASSERT_TRUE(first.Start(L"ReservoirChurn", {L"20000", barrier.Name()}));
    ASSERT_TRUE(second.Start(L"ReservoirChurn", {L"20000", barrier.Name()}));
    ASSERT_TRUE(barrier.Release(2));
    EXPECT_EQ(first.Wait(), std::optional<DWORD>(0));
    EXPECT_EQ(second.Wait(), std::optional<DWORD>(0));
}

TEST(Reservoir, LateSecondFreeCannotReachANewerBlock) {
    std::set<std::uint32_t> seen;
    std::uint32_t previous = 0;
    for (int i = 0; i < 2000; ++i) {
        std::uint32_t handle = 0;
        void* bytes = Allocate(handle, 720);
        ASSERT_NE(bytes, nullptr);
        ASSERT_NE(handle, 0u);
        ASSERT_TRUE(seen.insert(handle).second) << "handle " << handle << " came back";
        Fill(bytes, 720, 5);
        // The block before this one, most likely in the same bytes, is freed once more.
        if (previous != 0) {
            ASSERT_LE(FreeSharedMemory(previous), 0);
        }
        std::uint32_t size = 0;
        ASSERT_EQ(OpenSharedMemory(handle, &size, __LINE__, kFile), bytes);
        ASSERT_TRUE(Holds(bytes, 720, 5));
        ASSERT_EQ(Destroy(handle), 2);
        previous = handle;
    }
}

TEST(Reservoir, SizesUpToTheMaximumHoldExactlyWhatWasAsked) {
    const std::uint32_t max = GetMaxPageSize(0);
    EXPECT_EQ(max, 65536u);
    const std::vector<std::uint32_t> sizes = {1,    2,    63,   64,    65,      720, 1024,
                                              1025, 4095, 4096, 30000, max - 1, max};
    std::vector<std::uint32_t> handles;
    for (size_t i = 0; i < sizes.size(); ++i) {
        std::uint32_t handle = 0;
        void* bytes = Allocate(handle, sizes[i]);
        ASSERT_NE(bytes, nullptr) << sizes[i];
        for (std::uint32_t b = 0; b < sizes[i]; ++b) {
            ASSERT_EQ(static_cast<std::uint8_t*>(bytes)[b], 0) << "fresh blocks are zeroed";
        }
        Fill(bytes, sizes[i], static_cast<std::uint32_t>(i));
        handles.push_back(handle);
    }
    for (size_t i = 0; i < sizes.size(); ++i) {
        std::uint32_t size = 0;
        const void* bytes = OpenSharedMemory(handles[i], &size, __LINE__, kFile);
        ASSERT_NE(bytes, nullptr);
        EXPECT_EQ(size, sizes[i]);
        EXPECT_TRUE(Holds(bytes, size, static_cast<std::uint32_t>(i))) << sizes[i];
        EXPECT_EQ(Destroy(handles[i]), 2);
    }
}

TEST(Reservoir, RefusesBadSizesAndForeignHandles) {
    std::uint32_t handle = 0;
    SetLastError(0);
    EXPECT_EQ(Allocate(handle, GetMaxPageSize(0) + 1), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Allocate(handle, 0), nullptr);
    EXPECT_EQ(AllocateSharedMemory(nullptr, 16, 0, __LINE__, nullptr), nullptr);
    EXPECT_EQ(handle, 0u);

    ASSERT_NE(Allocate(handle, 32), nullptr);
    // Handles that share the live block's slot, and others that name nothing.
    for (const std::uint32_t foreign :
         {0u, 0xFFFFFFFFu, handle + 65536u, handle - 65536u, handle + 1u}) {
        std::uint32_t size = 77;
        EXPECT_EQ(OpenSharedMemory(foreign, &size, __LINE__, kFile), nullptr) << foreign;
        EXPECT_EQ(size, 77u);
        EXPECT_LT(FreeSharedMemory(foreign), 0) << foreign;
    }
    EXPECT_EQ(FreeSharedMemory(handle), 0) << "the live block kept its single reference";
}

// Fills the pool with blocks of `size` until it refuses; the handles made.
std::vector<std::uint32_t> FillPool(std::uint32_t size) {
    std::vector<std::uint32_t> handles;
    for (;;) {
        std::uint32_t handle = 0;
        if (Allocate(handle, size) == nullptr) break;
        handles.push_back(handle);
    }
    return handles;
}

TEST(Reservoir, FullPoolRefusesAndFreedPagesServeAnySize) {
    std::vector<std::uint32_t> large = FillPool(65536);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    ASSERT_GT(large.size(), 100u);
    for (std::uint32_t handle : large) ASSERT_EQ(FreeSharedMemory(handle), 0);

    std::vector<std::uint32_t> small = FillPool(1000);
    EXPECT_EQ(small.size(), large.size() * 64) << "1 KiB chunks fill the same pages";
    for (std::uint32_t handle : small) ASSERT_EQ(FreeSharedMemory(handle), 0);

    std::vector<std::uint32_t> again = FillPool(65536);
    EXPECT_EQ(again.size(), large.size());
    for (std::uint32_t handle : again) ASSERT_EQ(FreeSharedMemory(handle), 0);
}

}  // namespace
