// The lock word that the stand-ins keep in shared memory: exclusion between processes, a
// bounded wait on a live holder, and recovery from a holder that died holding it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "standins/common/cinterprocesslock.h"
#include "standins/common/cscopedhandle.h"
#include "support/childmode.h"
#include "support/childprocess.h"
#include "standins/startbarrier.h"

namespace {

struct Shared {
    std::uint32_t lock;
    std::uint32_t counter;
};

// A named mapping holding a Shared, created or opened by name.
class CSharedWord {
  public:
    explicit CSharedWord(const std::wstring& name)
        : mapping_(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(Shared), name.c_str())),
          view_(mapping_.IsValid()
                    ? MapViewOfFile(mapping_.Get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Shared))
                    : nullptr) {}
    Shared* operator->() const { return static_cast<Shared*>(view_.Get()); }
    bool IsValid() const { return view_.Get() != nullptr; }

  private:
    vask::CScopedHandle mapping_;
    vask::CMappedView view_;
};

std::wstring UniqueName(const wchar_t* what) {
    return std::wstring(L"Local\\TarnwickTest.") + what + L"." +
           std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(GetTickCount64());
}

}  // namespace

// args: mapping name, rounds, start barrier. Increments the shared counter in two separate
// steps under the lock, so that unguarded increments would lose counts.
TARNWICK_CHILD_MODE(LockIncrement) {
    CSharedWord shared(args.at(0));
    if (!shared.IsValid()) return 2;
    const int rounds = std::stoi(args.at(1));
    if (!tarnwick::test::CStartBarrier::Arrive(args.at(2))) return 4;
    for (int i = 0; i < rounds; ++i) {
        vask::CInterprocessLock lock(shared->lock, L"test");
        if (!lock.Held()) return 3;
        const std::uint32_t value = shared->counter;
        for (int pause = 0; pause < 20; ++pause) YieldProcessor();
        shared->counter = value + 1;
    }
    return 0;
}

// args: mapping name. Dies holding the lock.
TARNWICK_CHILD_MODE(LockAndDie) {
    CSharedWord shared(args.at(0));
    if (!shared.IsValid()) return 2;
    vask::CInterprocessLock lock(shared->lock, L"test");
    if (!lock.Held()) return 3;
    TerminateProcess(GetCurrentProcess(), 7);
    return 4;
}

namespace {

TEST(InterprocessLock, ExcludesOtherProcesses) {
    const std::wstring name = UniqueName(L"LockCounter");
    CSharedWord shared(name);
    ASSERT_TRUE(shared.IsValid());
    tarnwick::test::CStartBarrier barrier(L"Lock");
    tarnwick::test::CChildProcess first, second;
    ASSERT_TRUE(first.Start(L"LockIncrement", {name, L"100000", barrier.Name()}));
    ASSERT_TRUE(second.Start(L"LockIncrement", {name, L"100000", barrier.Name()}));
    ASSERT_TRUE(barrier.Release(2));
    EXPECT_EQ(first.Wait(), std::optional<DWORD>(0));
    EXPECT_EQ(second.Wait(), std::optional<DWORD>(0));
    EXPECT_EQ(shared->counter, 200000u);
    EXPECT_EQ(shared->lock, 0u);
}

TEST(InterprocessLock, TakesOverFromAHolderThatDied) {
    const std::wstring name = UniqueName(L"LockDead");
    CSharedWord shared(name);
    ASSERT_TRUE(shared.IsValid());
    tarnwick::test::CChildProcess child;
    ASSERT_TRUE(child.Start(L"LockAndDie", {name}));
    ASSERT_EQ(child.Wait(), std::optional<DWORD>(7));
    ASSERT_EQ(shared->lock, child.ProcessId()) << "the dead child still holds the word";
    {
        vask::CInterprocessLock lock(shared->lock, L"test", 3000);
        EXPECT_TRUE(lock.Held());
        EXPECT_EQ(shared->lock, GetCurrentProcessId());
    }
    EXPECT_EQ(shared->lock, 0u);
}

TEST(InterprocessLock, GivesUpOnALiveHolderAfterItsTimeout) {
    std::uint32_t word = 0;
    vask::CInterprocessLock holder(word, L"test");
    ASSERT_TRUE(holder.Held());
    vask::CInterprocessLock waiter(word, L"test", 100);
    EXPECT_FALSE(waiter.Held());
    EXPECT_EQ(word, GetCurrentProcessId()) << "the waiter left the holder's lock alone";
}

}  // namespace
