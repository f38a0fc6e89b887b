// The BSTR holder's allocations, sharing and frees, seen by a malloc spy with the cache off.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "cbstrholder.h"
#include "support/mallocspy.h"

namespace tarnwick {
namespace {

class CFreeSpy final : public test::CMallocSpy {
  public:
    // Blocks are reused, so only frees after this call count.
    void Forget() { freed_.clear(); }
    // Freed blocks that start at most 16 bytes before text, where the length prefix lives.
    long FreesOf(const wchar_t* text) const {
        const auto at = reinterpret_cast<std::uintptr_t>(text);
        return static_cast<long>(std::count_if(freed_.begin(), freed_.end(), [at](auto block) {
            return block < at && at - block <= 16;
        }));
    }
    void* STDMETHODCALLTYPE PreFree(void* block, BOOL) override {
        freed_.push_back(reinterpret_cast<std::uintptr_t>(block));
        return block;
    }

  private:
    std::vector<std::uintptr_t> freed_;
};

class BstrHolderTest : public testing::Test {
  protected:
    void SetUp() override {
        const auto noCache = reinterpret_cast<void(WINAPI*)()>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "SetOaNoCache")));
        ASSERT_NE(noCache, nullptr);
        noCache();
        ASSERT_EQ(CoRegisterMallocSpy(&spy_), S_OK);
    }
    void TearDown() override { CoRevokeMallocSpy(); }

    CFreeSpy spy_;
};

TEST_F(BstrHolderTest, AssigningAStringAllocatesUnlessItIsTheHeldOne) {
    ASSERT_NE(CBstrHolder(L"").Get(), nullptr) << "an allocated empty string";

    const wchar_t* text = L"Click";
    CBstrHolder holder;
    holder = text;
    EXPECT_NE(holder.Get(), text);
    EXPECT_EQ(holder.Length(), 5u);

    const BSTR held = holder.Get();
    spy_.Forget();
    holder = holder.Get();
    EXPECT_EQ(holder.Get(), held);
    EXPECT_EQ(spy_.FreesOf(held), 0);
    holder = holder.Get() + 1;  // another string, copied before the held one goes
    EXPECT_STREQ(holder.Get(), L"lick");
    EXPECT_EQ(spy_.FreesOf(held), 1);
}

TEST_F(BstrHolderTest, CopiesShareOneBufferFreedOnceWithTheLastHolder) {
    auto first = std::make_unique<CBstrHolder>(L"shared");
    const BSTR buffer = first->Get();
    spy_.Forget();
    CBstrHolder second(*first);
    CBstrHolder third;
    third = second;
    EXPECT_EQ(second.Get(), buffer);
    EXPECT_EQ(third.Get(), buffer);

    first.reset();
    second = L"other";
    EXPECT_EQ(spy_.FreesOf(buffer), 0) << "third still holds it";
    EXPECT_STREQ(third.Get(), L"shared");
    CBstrHolder moved(std::move(third));
    EXPECT_EQ(third.Get(), nullptr);
    moved = CBstrHolder();
    EXPECT_EQ(spy_.FreesOf(buffer), 1);
}

TEST_F(BstrHolderTest, ABstrReplacedInPlaceIsSeenByEveryCopy) {
    CBstrHolder holder;
    EXPECT_EQ(holder.GetBSTR(), nullptr) << "a buffer holding a null BSTR";
    const CBstrHolder copy(holder);
    ASSERT_TRUE(SysReAllocString(&holder.GetBSTR(), L"HWND:0001"));
    EXPECT_STREQ(copy.Get(), L"HWND:0001");
}

}  // namespace
}  // namespace tarnwick
