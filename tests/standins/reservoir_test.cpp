// Vask.Reservoir.x64.dll: blocks across processes, handles never reused, a pool that refills.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/vaskreservoir.h"
#include "standins/startbarrier.h"
#include "support/childmode.h"
#include "support/childprocess.h"

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

// Whether the block holds `size` bytes of the seed's pattern.
bool OpensHolding(std::uint32_t handle, std::uint32_t size, std::uint32_t seed) {
    std::uint32_t opened = 0;
    const void* bytes = OpenSharedMemory(handle, &opened, __LINE__, kFile);
    return bytes != nullptr && opened == size && Holds(bytes, size, seed);
}

// Frees while references remain, as an owner does; the number of calls it took.
int Destroy(std::uint32_t handle) {
    int calls = 1;
    while (FreeSharedMemory(handle) > 0) ++calls;
    return calls;
}

}  // namespace

// args: handle, seed. Checks and rewrites the parent's block; answers a block it leaves behind.
TARNWICK_CHILD_MODE(ReservoirReadWriteLeave) {
    const auto handle = static_cast<std::uint32_t>(std::stoul(args.at(0)));
    const auto seed = static_cast<std::uint32_t>(std::stoul(args.at(1)));
    if (!OpensHolding(handle, 720, seed)) return 0;
    Fill(OpenSharedMemory(handle, nullptr, __LINE__, kFile), 720, seed + 1);
    if (FreeSharedMemory(handle) != 2 || FreeSharedMemory(handle) != 1) return 0;
    std::uint32_t left = 0;
    void* bytes = Allocate(left, 4000);
    if (bytes != nullptr) Fill(bytes, 4000, seed + 2);
    return static_cast<int>(left);
}

// args: rounds, start barrier. Churns 16 blocks of this process's pattern, checking each at free.
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
        if (!OpensHolding(oldest.handle, oldest.size, oldest.seed)) return 4;
        if (Destroy(oldest.handle) != 2) return 5;
    }
    for (const Held& block : held) Destroy(block.handle);
    return 0;
}

namespace {

TEST(Reservoir, BlocksAreSharedReferencedAndOutliveTheProcessThatMadeThem) {
    std::uint32_t handle = 0;
    void* bytes = Allocate(handle, 720);
    ASSERT_NE(bytes, nullptr);
    Fill(bytes, 720, 11);

    tarnwick::test::CChildProcess child;
    ASSERT_TRUE(child.Start(L"ReservoirReadWriteLeave", {std::to_wstring(handle), L"11"}));
    const std::optional<DWORD> left = child.Wait();
    ASSERT_TRUE(left.has_value());
    EXPECT_TRUE(Holds(bytes, 720, 12)) << "the child's writes are visible here";
    EXPECT_EQ(FreeSharedMemory(handle), 0) << "the child dropped only its own references";
    EXPECT_LE(FreeSharedMemory(handle), 0);
    EXPECT_EQ(OpenSharedMemory(handle, nullptr, __LINE__, kFile), nullptr);

    ASSERT_NE(*left, 0u);
    EXPECT_TRUE(OpensHolding(*left, 4000, 13)) << "the exited child's block";
    EXPECT_EQ(Destroy(*left), 2);
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
        ASSERT_TRUE(seen.insert(handle).second) << "handle " << handle << " came back";
        Fill(bytes, 720, 5);
        // The block before this one, most likely in the same bytes, is freed once more.
        if (previous != 0) {
            ASSERT_LE(FreeSharedMemory(previous), 0);
        }
        ASSERT_TRUE(OpensHolding(handle, 720, 5));
        ASSERT_EQ(Destroy(handle), 2);
        previous = handle;
    }
}

// Sizes up to the page size: the marshal helper's page-size strings.
TEST(Reservoir, RefusesForeignHandles) {
    std::uint32_t handle = 0;
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

TEST(Reservoir, FullPoolRefusesAndFreedPagesServeAnySize) {
    // Fills the pool with blocks of `size` until it refuses, then frees them; the count.
    const auto fillAndFree = [](std::uint32_t size) {
        std::vector<std::uint32_t> handles;
        for (std::uint32_t handle = 0; Allocate(handle, size) != nullptr;)
            handles.push_back(handle);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
        for (std::uint32_t handle : handles) EXPECT_EQ(FreeSharedMemory(handle), 0);
        return handles.size();
    };
    const size_t large = fillAndFree(65536);
    ASSERT_GT(large, 100u);
    EXPECT_EQ(fillAndFree(1000), large * 64) << "1 KiB chunks fill the same pages";
    EXPECT_EQ(fillAndFree(65536), large);
}

}  // namespace
