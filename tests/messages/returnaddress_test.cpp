// The return address's text form, its null rule, and the return-address message.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <string>

#include "messages/creturnaddress.h"
#include "messagetypes.h"

namespace tarnwick {
namespace {

constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};

std::wstring TextOf(const ReturnAddressRecord& record) {
    std::wstring text = L"left over from before, and longer than some addresses";
    const wchar_t* characters = FormatReturnAddress(record, text);
    EXPECT_EQ(characters, text.c_str());
    return text;
}

TEST(ReturnAddress, TextListsOTBPInUpperCaseHexWithoutLeadingZeros) {
    EXPECT_EQ(TextOf({0, 0, 0, 0}), L"O=0|T=0|B=0|P=0");
    EXPECT_EQ(TextOf({0x10, 0x2A, 0, 0xFFFF}), L"O=FFFF|T=0|B=2A|P=10");
    EXPECT_EQ(TextOf({kAllOnes, kAllOnes, kAllOnes, kAllOnes}),
              L"O=FFFFFFFFFFFFFFFF|T=FFFFFFFFFFFFFFFF|B=FFFFFFFFFFFFFFFF|P=FFFFFFFFFFFFFFFF");
    std::wstring text;
    EXPECT_EQ(FormatReturnAddressValues(text, 0xABC, 1, 0x123456789ABCDEF0, 2), 32);
    EXPECT_EQ(text, L"O=ABC|T=1|B=123456789ABCDEF0|P=2");
}

TEST(ReturnAddress, NullWhenBAndTAreAllOnesWhateverPAndOHold) {
    EXPECT_TRUE(IsNullReturnAddress({kAllOnes, kAllOnes, kAllOnes, kAllOnes}));
    EXPECT_TRUE(IsNullReturnAddress({1, kAllOnes, kAllOnes, 5}));
    EXPECT_FALSE(IsNullReturnAddress({kAllOnes, kAllOnes, 0, kAllOnes}));
    EXPECT_FALSE(IsNullReturnAddress({kAllOnes, 0, kAllOnes, kAllOnes}));
}

TEST(ReturnAddress, MessageHoldsItsTextAsABstr) {
    CReturnAddress address(L"Tarnwick.Queue.17");
    EXPECT_STREQ(static_cast<IReturnAddress&>(address).GetAddressText(), L"Tarnwick.Queue.17");
    CReturnAddress empty(L"");
    ASSERT_NE(empty.GetAddressText(), nullptr);
    EXPECT_EQ(SysStringLen(empty.GetAddressText()), 0u);
}

}  // namespace
}  // namespace tarnwick
