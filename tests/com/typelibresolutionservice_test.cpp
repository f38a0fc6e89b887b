// The type library resolution service over real libraries laid out in temporary folders.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>

#include "Tarnwick.Virtual.Interfaces.h"
#include "TarnwickTestDispatch.h"
#include "com/ctypelibresolutionservice.h"
#include "marshalling/marshallingtest.h"
#include "support/tempdirectory.h"

namespace tarnwick {
namespace {

using namespace test;

constexpr wchar_t kStandard[] = L"Tarnwick.Virtual.Interfaces.tlb";
constexpr wchar_t kTest[] = L"TarnwickTestDispatch.tlb";

constexpr GUID kFirstShared = {0x5A4F3C21, 0x7B6E, 0x4D2A, {0x80, 0x01, 0, 0, 0, 0, 0, 0x01}};
constexpr GUID kColour = {
    0x1F2E3D4C, 0x5B6A, 0x4978, {0x86, 0x95, 0xA4, 0xB3, 0xC2, 0xD1, 0xE0, 0xF1}};
constexpr GUID kShade = {
    0x6B7A8C9D, 0x0E1F, 0x4A2B, {0x9C, 0x3D, 0x4E, 0x5F, 0x6A, 0x7B, 0x8C, 0x9D}};
constexpr GUID kUnreferenced = {
    0x7C8B9DAE, 0x1F20, 0x4B3C, {0x8D, 0x4E, 0x5F, 0x60, 0x71, 0x82, 0x93, 0xA4}};

std::wstring TestData(const std::wstring& name) {
    return ExecutableDirectory() + L"\\testdata\\" + name;
}

// Whether the service answers the type information of exactly this GUID.
bool AnswersType(CTypeLibResolutionService& service, const GUID& guid) {
    Microsoft::WRL::ComPtr<ITypeInfo> info;
    TYPEATTR* attr = nullptr;
    if (!service.GetTypeInfoByGuid(&guid, &info) || FAILED(info->GetTypeAttr(&attr))) return false;
    const bool same = IsEqualGUID(attr->guid, guid);
    info->ReleaseTypeAttr(attr);
    return same;
}

class TypeLibResolutionServiceTest : public testing::Test {
  protected:
    CTypeLibResolutionService service_;
    CTempDirectory folder_;
};

TEST_F(TypeLibResolutionServiceTest, LoadsEveryLibraryOfADirectoryTheStandardOneAndTheirTypes) {
    ASSERT_TRUE(folder_.CopyIn(TestData(kTest), kTest));
    EXPECT_EQ(service_.AddSearchDirectory(folder_.Path().c_str()), E_FAIL);

    ITypeLib* library = nullptr;
    ASSERT_TRUE(service_.GetTypeLib(L"tarnwicktestdispatch.TLB", &library));
    const ULONG held = ReferencesOf(library);
    EXPECT_TRUE(service_.GetTypeLib(kTest, nullptr));
    EXPECT_EQ(ReferencesOf(library), held) << "a null out pointer takes no reference";
    library->Release();
    EXPECT_FALSE(service_.GetTypeLib(L"TarnwickTestDispatch", nullptr));

    // The standard library is located by name; parameter-only types and shared-prefix GUIDs.
    EXPECT_TRUE(service_.GetTypeLib(L"TARNWICK.VIRTUAL.INTERFACES.TLB", nullptr));
    for (const GUID& guid :
         {__uuidof(IVirtualControl), __uuidof(IVirtualListView), kVirtualControlReferenceGuid,
          __uuidof(ITestCalculator), kShade, kColour, kFirstShared, kTwoFieldRecord}) {
        EXPECT_TRUE(AnswersType(service_, guid));
    }
    EXPECT_FALSE(service_.GetTypeInfoByGuid(&kUnreferenced, nullptr));
    GUID unknown = kFirstShared;
    unknown.Data4[7] = 0x77;
    EXPECT_FALSE(service_.GetTypeInfoByGuid(&unknown, nullptr));
}

// Users' folders hold dots and spaces: only a file name in the last component is cut away.
TEST_F(TypeLibResolutionServiceTest, DotsInFolderNamesAreKeptAndAFilePathNamesItsFolder) {
    const struct {
        const wchar_t* folder;  // made under the temporary folder, holding the test library
        const wchar_t* given;   // what the service is handed, relative to the same
    } cases[] = {
        {L"first.last\\my checkout\\bin", L"first.last\\my checkout\\bin"},
        {L"first.last\\App 1.2", L"first.last\\App 1.2"},
        {L"first.last\\App 1.2", L"first.last\\App 1.2\\Views.tlb"},
        {L"first.last\\plain", L"first.last\\plain\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.given, c.given + wcslen(c.given)));
        CTempDirectory root;
        const std::wstring folder = root.MakeDirectory(c.folder);
        ASSERT_TRUE(root.CopyIn(TestData(kTest), std::wstring(c.folder) + L"\\" + kTest));
        CTypeLibResolutionService service;
        service.AddSearchDirectory((root / c.given).c_str());
        EXPECT_TRUE(service.GetTypeLib(kTest, nullptr));

        // The cache beside such a folder is found too.
        root.MakeDirectory(std::wstring(c.folder) + L"\\cache\\v1");
        ASSERT_TRUE(root.CopyIn(ExecutableDirectory() + L"\\" + kStandard,
                                std::wstring(c.folder) + L"\\cache\\v1\\" + kStandard));
        CTypeLibResolutionService cached;
        EXPECT_EQ(cached.LoadCachedTypeLibraries(folder.c_str()), S_OK);
        EXPECT_TRUE(cached.GetTypeLib(kStandard, nullptr));
    }
}

// A folder without libraries leaves the standard one for later; a failed load is retried.
TEST_F(TypeLibResolutionServiceTest, WhatCannotBeLoadedYetIsTriedAgainLater) {
    const std::wstring empty = folder_.MakeDirectory(L"empty");
    service_.AddSearchDirectory(empty.c_str());
    EXPECT_FALSE(service_.GetTypeLib(kStandard, nullptr));
    ASSERT_TRUE(folder_.WriteFile(L"TarnwickLate.tlb", "not a type library"));
    ASSERT_TRUE(folder_.CopyIn(TestData(kTest), kTest));
    service_.AddSearchDirectory(folder_.Path().c_str());
    EXPECT_TRUE(service_.GetTypeLib(kStandard, nullptr));
    EXPECT_FALSE(service_.GetTypeLib(L"TarnwickLate.tlb", nullptr));
    ASSERT_TRUE(folder_.CopyIn(TestData(kTest), L"TarnwickLate.tlb"));
    service_.AddSearchDirectory(folder_.Path().c_str());
    EXPECT_TRUE(service_.GetTypeLib(L"TarnwickLate.tlb", nullptr));
}

TEST_F(TypeLibResolutionServiceTest, RefusesAFiftyFirstDirectoryAndOverlongPaths) {
    const std::wstring empty = folder_.MakeDirectory(L"empty");
    for (int i = 0; i < CTypeLibResolutionService::kMaxDirectories; ++i) {
        EXPECT_EQ(service_.AddSearchDirectory(empty.c_str()), E_FAIL);
    }
    ASSERT_TRUE(folder_.CopyIn(TestData(kTest), kTest));
    EXPECT_EQ(service_.AddSearchDirectory(folder_.Path().c_str()), E_FAIL);
    EXPECT_EQ(service_.DirectoryCount(), 50);
    EXPECT_FALSE(service_.GetTypeLib(kTest, nullptr)) << "the 51st directory is not scanned";

    CTypeLibResolutionService fresh;
    const std::wstring overlong = folder_.Path() + L"\\" + std::wstring(300, L'x');
    EXPECT_EQ(fresh.AddSearchDirectory(overlong.c_str()), E_FAIL);
    EXPECT_EQ(fresh.DirectoryCount(), 0);
    EXPECT_EQ(fresh.AddSearchDirectory(nullptr), E_FAIL);
    EXPECT_EQ(fresh.LoadCachedTypeLibraries(overlong.c_str()), E_FAIL);
}

TEST_F(TypeLibResolutionServiceTest, CachedLibrariesLoadOnlyWhereLocatedAndNotShadowed) {
    EXPECT_EQ(service_.LoadCachedTypeLibraries(nullptr), E_FAIL);
    EXPECT_EQ(service_.LoadCachedTypeLibraries((folder_ / L"missing").c_str()), E_FAIL);
    EXPECT_EQ(service_.LoadCachedTypeLibraries(folder_.Path().c_str()), E_FAIL) << "no cache";

    folder_.MakeDirectory(L"cache\\v1");
    ASSERT_TRUE(folder_.CopyIn(TestData(kTest), L"cache\\v1\\" + std::wstring(kTest)));
    ASSERT_TRUE(folder_.CopyIn(ExecutableDirectory() + L"\\" + kStandard,
                               L"cache\\v1\\" + std::wstring(kStandard)));
    ASSERT_TRUE(folder_.WriteFile(L"cache\\stray.tlb", "a file, not a subdirectory"));

    // With the standard library beside the cache, the cached copy is skipped.
    ASSERT_TRUE(folder_.CopyIn(ExecutableDirectory() + L"\\" + kStandard, kStandard));
    EXPECT_EQ(service_.LoadCachedTypeLibraries(folder_.Path().c_str()), S_OK);
    EXPECT_FALSE(service_.GetTypeLib(kStandard, nullptr));
    // The test library is only in the cache and cannot be located: it is not loaded.
    EXPECT_FALSE(service_.GetTypeLib(kTest, nullptr));

    ASSERT_TRUE(DeleteFileW((folder_ / kStandard).c_str()));
    CTypeLibResolutionService fresh;
    EXPECT_EQ(fresh.LoadCachedTypeLibraries(folder_.Path().c_str()), S_OK);
    EXPECT_TRUE(fresh.GetTypeLib(kStandard, nullptr)) << "located by name";
    EXPECT_FALSE(fresh.GetTypeLib(kTest, nullptr));
}

TEST(TypeLibResolutionServiceFactory, ScansTheCurrentDirectoryOnceAndKeepsOneService) {
    ITypeLibResolutionService* first = GetTypeLibResolutionService();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->GetTypeLib(kStandard, nullptr));
    CTempDirectory elsewhere;
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(elsewhere.Path().c_str()));
    ITypeLibResolutionService* second = GetTypeLibResolutionService();
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(first, second);
    const auto* service = static_cast<CTypeLibResolutionService*>(second);
    for (int i = 0; i < service->DirectoryCount(); ++i) {
        EXPECT_NE(std::wstring(service->Directory(i)), elsewhere.Path());
    }
}

}  // namespace
}  // namespace tarnwick
