// The return address's text form and its null rule.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace tarnwick
