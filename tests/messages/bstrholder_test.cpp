// The BSTR holder: when it allocates, what copies share, and when the buffer is freed. Frees
// are seen on the COM task allocator by a malloc spy, with the BSTR cache off so that every
// freed string reaches the allocator.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "cbstrholder.h"

namespace tarnwick {
namespace {

class CFreeSpy final : public IMallocSpy {
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

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
    void* STDMETHODCALLTYPE PostAlloc(void* block) override { return block; }
    void* STDMETHODCALLTYPE PreFree(void* block, BOOL) override {
        freed_.push_back(reinterpret_cast<std::uintptr_t>(block));
        return block;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** out, BOOL) override {
        *out = block;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override { return block; }
    void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}

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
