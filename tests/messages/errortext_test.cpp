// The text of an HRESULT: the system's message first, then the dispatch and unknown forms.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ccomerror.h"

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

std::wstring ErrorText(HRESULT code) {
    EXPECT_EQ(SystemText(code), L"") << std::hex << code << " has a system text here";
    return CComError(code).ErrorMessage();
}

TEST(ErrorText, SystemTextComesFirstWithoutItsLineBreak) {
    const std::wstring raw = SystemText(E_OUTOFMEMORY);
    ASSERT_EQ(raw.back(), L'\n');
    EXPECT_EQ(CComError(E_OUTOFMEMORY).ErrorMessage(),
              raw.substr(0, raw.find_last_not_of(L"\r\n") + 1));
}

TEST(ErrorText, WithoutSystemTextDispatchCodesAreNumberedFrom0x200) {
    EXPECT_EQ(ErrorText(0x80040201), L"IDispatch error #1");
    EXPECT_EQ(ErrorText(0x8004FFFF), L"IDispatch error #65023");
    EXPECT_EQ(ErrorText(0x80040200), L"Unknown error 0x80040200");
    EXPECT_EQ(ErrorText(0xA0001234), L"Unknown error 0xA0001234");
}

TEST(ErrorText, IsMadeOncePerErrorObject) {
    const CComError error(0x80040201);
    const wchar_t* first = error.ErrorMessage();
    EXPECT_EQ(error.ErrorMessage(), first);
    const CComError copy(error);
    EXPECT_NE(copy.ErrorMessage(), first) << "a copy owns a text of its own";
    EXPECT_STREQ(copy.ErrorMessage(), first);
}

}  // namespace
}  // namespace tarnwick
