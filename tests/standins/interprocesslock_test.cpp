// The stand-ins' shared lock word: a dead holder's lock is taken over, a live one times out.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "standins/common/cinterprocesslock.h"
#include "standins/common/cscopedhandle.h"
#include "support/childmode.h"
#include "support/childprocess.h"

namespace {

// A lock word in a named mapping, created or opened by name.
struct CSharedWord {
    explicit CSharedWord(const std::wstring& name)
        : mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                     sizeof(std::uint32_t), name.c_str())),
          view(MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(std::uint32_t))) {}
    std::uint32_t* Word() const { return static_cast<std::uint32_t*>(view.Get()); }

    vask::CScopedHandle mapping;
    vask::CMappedView view;
};

}  // namespace

// args: mapping name. Dies holding the lock.
TARNWICK_CHILD_MODE(LockAndDie) {
    CSharedWord shared(args.at(0));
    if (shared.Word() == nullptr) return 2;
    vask::CInterprocessLock lock(*shared.Word(), L"test");
    if (!lock.Held()) return 3;
    TerminateProcess(GetCurrentProcess(), 7);
    return 4;
}

namespace {

TEST(InterprocessLock, TakesOverFromAHolderThatDied) {
    const std::wstring name =
        L"Local\\TarnwickTest.LockDead." + std::to_wstring(GetCurrentProcessId());
    CSharedWord shared(name);
    ASSERT_NE(shared.Word(), nullptr);
    tarnwick::test::CChildProcess child;
    ASSERT_TRUE(child.Start(L"LockAndDie", {name}));
    ASSERT_EQ(child.Wait(), std::optional<DWORD>(7));
    ASSERT_EQ(*shared.Word(), child.ProcessId()) << "the dead child still holds the word";
    {
        vask::CInterprocessLock lock(*shared.Word(), L"test", 3000);
        EXPECT_TRUE(lock.Held());
        EXPECT_EQ(*shared.Word(), GetCurrentProcessId());
    }
    EXPECT_EQ(*shared.Word(), 0u);
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
