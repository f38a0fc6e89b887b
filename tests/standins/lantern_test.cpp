// Vask.Lantern.x64.dll and Vask.Relay.x64.dll: text conversion that always stays within
// and terminates its destination, the trace switches, the native folder and file lookup.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/vasklantern.h"
#include "platform/vaskrelay.h"

namespace {

constexpr char kUntouched = '#';

// Converts into a 44-byte field with a destination size of 43, as click requests do;
// the 44th byte must stay untouched.
std::string ConvertIntoField(const wchar_t* text, int count, int* written = nullptr) {
    char field[44];
    std::memset(field, kUntouched, sizeof field);
    const int result = WideCharToChar(text, count, field, 43);
    if (written != nullptr) *written = result;
    EXPECT_EQ(field[43], kUntouched);
    EXPECT_NE(std::memchr(field, '\0', 43), nullptr) << "terminated within the 43 bytes";
    return std::string(field);
}

TEST(Lantern, WideCharToCharConvertsCountedTextAndAlwaysTerminates) {
    int written = 0;
    EXPECT_EQ(ConvertIntoField(L"{ENTER}", 8, &written), "{ENTER}");
    EXPECT_EQ(written, 8);
    EXPECT_EQ(ConvertIntoField(L"abcdef", 3), "abc") << "only the counted characters";
    EXPECT_EQ(ConvertIntoField(L"abc", -1), "abc");
    EXPECT_EQ(ConvertIntoField(L"", 1), "");
    EXPECT_EQ(ConvertIntoField(nullptr, 5), "");

    const std::wstring longText(60, L'x');
    EXPECT_EQ(ConvertIntoField(longText.c_str(), 61, &written), std::string(42, 'x'));
    EXPECT_EQ(written, 43);

    // U+00E9 takes two bytes: 21 of them and the terminator fill 43 bytes.
    const std::wstring accents(30, L'\u00e9');
    EXPECT_EQ(ConvertIntoField(accents.c_str(), 31).size(), 42u);
    // One byte, then three bytes each: the 14th euro sign does not fit whole and is left out.
    const std::wstring euros = L"a" + std::wstring(20, L'\u20ac');
    EXPECT_EQ(ConvertIntoField(euros.c_str(), 22).size(), 40u);
    char small[5];
    std::memset(small, kUntouched, sizeof small);
    EXPECT_EQ(WideCharToChar(L"\u20ac\u20ac", 3, small, 5), 4);
    EXPECT_STREQ(small, "\xE2\x82\xAC");

    char untouched = kUntouched;
    EXPECT_EQ(WideCharToChar(L"a", 2, &untouched, 0), 0);
    EXPECT_EQ(untouched, kUntouched);
    EXPECT_EQ(WideCharToChar(L"a", 2, nullptr, 43), 0);
}

TEST(Lantern, TraceSwitchesFollowTheEnvironment) {
    SetEnvironmentVariableW(L"VASK_TRACE_LEVEL", nullptr);
    SetEnvironmentVariableW(L"VASK_TRACE_SOURCES", nullptr);
    EXPECT_EQ(IsTraceLevel(40), 0);
    EXPECT_EQ(IsTraceSource(1024), 0);

    SetEnvironmentVariableW(L"VASK_TRACE_LEVEL", L"40");
    SetEnvironmentVariableW(L"VASK_TRACE_SOURCES", L"0x400");
    EXPECT_NE(IsTraceLevel(40), 0);
    EXPECT_NE(IsTraceLevel(10), 0);
    EXPECT_EQ(IsTraceLevel(50), 0);
    EXPECT_NE(IsTraceSource(1024), 0);
    EXPECT_EQ(IsTraceSource(2048), 0);

    SetEnvironmentVariableW(L"VASK_TRACE_LEVEL", nullptr);
    SetEnvironmentVariableW(L"VASK_TRACE_SOURCES", nullptr);
}

std::wstring FolderOfModule(const wchar_t* name) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(name), path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L'\\'));
}

TEST(Lantern, NativePathIsTheFolderOfTheSupportLibrary) {
    wchar_t buffer[260] = {};
    ASSERT_EQ(GetNativePath(buffer, 260), 1);
    EXPECT_EQ(std::wstring(buffer), FolderOfModule(L"Vask.Lantern.x64.dll"));
    wchar_t small[4] = {L'x', L'x', L'x', L'x'};
    EXPECT_EQ(GetNativePath(small, 4), 0);
    EXPECT_EQ(small[0], L'\0');
}

TEST(Relay, LocatesBareFileNamesInItsSearchPath) {
    const std::wstring folder = FolderOfModule(L"Vask.Relay.x64.dll");
    wchar_t buffer[260] = {};
    ASSERT_NE(GetFileLocationW(L"Tarnwick.Virtual.Interfaces.tlb", buffer, 260), 0);
    EXPECT_EQ(std::wstring(buffer), folder + L"\\Tarnwick.Virtual.Interfaces.tlb");
    EXPECT_NE(GetFileAttributesW(buffer), INVALID_FILE_ATTRIBUTES);

    for (const wchar_t* name : {L"NoSuchFile.tlb", L"", L"..\\bin\\Vask.Relay.x64.dll",
                                L"C:Vask.Relay.x64.dll", L"bin/Vask.Relay.x64.dll"}) {
        buffer[0] = L'x';
        EXPECT_EQ(GetFileLocationW(name, buffer, 260), 0) << name;
        EXPECT_EQ(buffer[0], L'\0') << name;
    }
    EXPECT_EQ(GetFileLocationW(nullptr, buffer, 260), 0);
    EXPECT_EQ(GetFileLocationW(L"Vask.Relay.x64.dll", buffer, 10), 0) << "does not fit";
}

}  // namespace
