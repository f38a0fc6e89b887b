// The text of an HRESULT, and the return address's text form and null rule.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ccomerror.h"
#include "messagetypes.h"

namespace tarnwick {
namespace {

std::wstring SystemText(HRESULT code) {
    wchar_t* text = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const std::wstring result = text != nullptr ? text : L"";
    LocalFree(text);
    return result;
}

TEST(ErrorText, SystemTextWithoutItsLineBreakElseTheDispatchOrUnknownForm) {
    const std::wstring raw = SystemText(E_OUTOFMEMORY);
    ASSERT_EQ(raw.back(), L'\n');
    EXPECT_EQ(CComError(E_OUTOFMEMORY).ErrorMessage(),
              raw.substr(0, raw.find_last_not_of(L"\r\n") + 1));
    const struct {
        HRESULT code;
        const wchar_t* text;
    } cases[] = {{static_cast<HRESULT>(0x80040201), L"IDispatch error #1"},
                 {static_cast<HRESULT>(0x8004FFFF), L"IDispatch error #65023"},
                 {static_cast<HRESULT>(0x80040200), L"Unknown error 0x80040200"},
                 {static_cast<HRESULT>(0xA0001234), L"Unknown error 0xA0001234"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.code);
        ASSERT_EQ(SystemText(c.code), L"") << "has a system text here";
        EXPECT_STREQ(CComError(c.code).ErrorMessage(), c.text);
    }
}

TEST(ErrorText, IsMadeOncePerErrorObjectAndACopyOwnsItsOwn) {
    const CComError error(0x80040201);
    const wchar_t* first = error.ErrorMessage();
    EXPECT_EQ(error.ErrorMessage(), first);
    const CComError copy(error);
    EXPECT_NE(copy.ErrorMessage(), first);
    EXPECT_STREQ(copy.ErrorMessage(), first);
}

constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};

TEST(ReturnAddress, TextListsOTBPInUpperCaseHexAndReplacesWhatTheStringHeld) {
    const struct {
        ReturnAddressRecord record;
        const wchar_t* text;
    } cases[] = {
        {{0, 0, 0, 0}, L"O=0|T=0|B=0|P=0"},
        {{0x10, 0x2A, 0, 0xFFFF}, L"O=FFFF|T=0|B=2A|P=10"},
        {{kAllOnes, kAllOnes, kAllOnes, kAllOnes},
         L"O=FFFFFFFFFFFFFFFF|T=FFFFFFFFFFFFFFFF|B=FFFFFFFFFFFFFFFF|P=FFFFFFFFFFFFFFFF"},
    };
    for (const auto& c : cases) {
        std::wstring text = L"left over from before, and longer than some addresses";
        const wchar_t* characters = FormatReturnAddress(c.record, text);
        EXPECT_EQ(characters, text.c_str());
        EXPECT_EQ(text, c.text);
    }
    std::wstring text;
    EXPECT_EQ(FormatReturnAddressValues(text, 0xABC, 1, 0x123456789ABCDEF0, 2), 32);
    EXPECT_EQ(text, L"O=ABC|T=1|B=123456789ABCDEF0|P=2");
}

TEST(ReturnAddress, NullWhenBAndTAreAllOnesWhateverPAndOHold) {
    EXPECT_TRUE(IsNullReturnAddress({1, kAllOnes, kAllOnes, 5}));
    EXPECT_FALSE(IsNullReturnAddress({kAllOnes, kAllOnes, 0, kAllOnes}));
    EXPECT_FALSE(IsNullReturnAddress({kAllOnes, 0, kAllOnes, kAllOnes}));
}

}  // namespace
}  // namespace tarnwick
