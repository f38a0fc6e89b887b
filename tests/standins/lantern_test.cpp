// Vask.Lantern.x64.dll and Vask.Relay.x64.dll: bounded conversion, trace switches, lookups.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/vasklantern.h"
#include "platform/vaskrelay.h"

namespace {

TEST(Lantern, WideCharToCharConvertsCountedTextAndAlwaysTerminatesWithinItsDestination) {
    const std::wstring longText(60, L'x'), accents(30, L'\u00e9');
    const std::wstring euros = L"a" + std::wstring(20, L'\u20ac');
    const struct {
        const wchar_t* text;
        int count;
        int written;
        size_t length;  // of the text converted into a 43-byte destination
    } cases[] = {
        {L"{ENTER}", 8, 8, 7},
        {L"abcdef", 3, 4, 3},  // only the counted characters
        {nullptr, 5, 1, 0},
        {longText.c_str(), 61, 43, 42},
        {accents.c_str(), 31, 43, 42},  // two bytes each: 21 of them and the terminator
        {euros.c_str(), 22, 41, 40},    // the 14th euro sign does not fit whole
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        char field[44];
        std::memset(field, '#', sizeof field);
        EXPECT_EQ(WideCharToChar(c.text, c.count, field, 43), c.written);
        EXPECT_EQ(field[43], '#') << "the byte past the destination";
        EXPECT_EQ(strnlen(field, sizeof field), c.length) << "terminated within the 43 bytes";
    }
    char untouched = '#';
    EXPECT_EQ(WideCharToChar(L"a", 2, &untouched, 0), 0);
    EXPECT_EQ(untouched, '#');
    EXPECT_EQ(WideCharToChar(L"a", 2, nullptr, 43), 0);
}

TEST(Lantern, TraceSwitchesFollowTheEnvironment) {
    SetEnvironmentVariableW(L"VASK_TRACE_LEVEL", L"40");
    SetEnvironmentVariableW(L"VASK_TRACE_SOURCES", L"0x400");
    EXPECT_NE(IsTraceLevel(40), 0);
    EXPECT_EQ(IsTraceLevel(50), 0);
    EXPECT_NE(IsTraceSource(1024), 0);
    EXPECT_EQ(IsTraceSource(2048), 0);
    SetEnvironmentVariableW(L"VASK_TRACE_LEVEL", nullptr);
    SetEnvironmentVariableW(L"VASK_TRACE_SOURCES", nullptr);
    EXPECT_EQ(IsTraceLevel(40), 0);
    EXPECT_EQ(IsTraceSource(1024), 0);
}

TEST(Lantern, NativePathIsTheFolderOfTheSupportLibrary) {
    wchar_t path[MAX_PATH] = {}, native[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"Vask.Lantern.x64.dll"), path, MAX_PATH);
    ASSERT_EQ(GetNativePath(native, MAX_PATH), 1);
    EXPECT_EQ(native + std::wstring(L"\\Vask.Lantern.x64.dll"), path);
}

// Bare names are located in the type library tests; here what is not bare, or does not fit.
TEST(Relay, LocatesBareFileNamesOnly) {
    wchar_t buffer[260] = {};
    for (const wchar_t* name : {L"", L"..\\bin\\Vask.Relay.x64.dll", L"C:Vask.Relay.x64.dll",
                                L"bin/Vask.Relay.x64.dll"}) {
        buffer[0] = L'x';
        EXPECT_EQ(GetFileLocationW(name, buffer, 260), 0) << name;
        EXPECT_EQ(buffer[0], L'\0') << name;
    }
    EXPECT_EQ(GetFileLocationW(nullptr, buffer, 260), 0);
    EXPECT_EQ(GetFileLocationW(L"Vask.Relay.x64.dll", buffer, 10), 0) << "does not fit";
}

}  // namespace
