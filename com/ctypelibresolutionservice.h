#pragma once
// Finds *.tlb files in search directories and a cache directory, loads them unregistered,
// and keeps every library by file name and every type of interest by GUID.

#include <windows.h>
#include <oaidl.h>

#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "itypelibresolutionservice.h"

namespace tarnwick {

// The file name of the library that describes the translators' interfaces.
extern const wchar_t STANDARD_VIRTUAL_INTERFACES_LIBRARY[];

class CTypeLibResolutionService final : public ITypeLibResolutionService {
  public:
    static constexpr int kMaxDirectories = 50;
    static constexpr size_t kPathChars = 260;

    CTypeLibResolutionService() = default;
    CTypeLibResolutionService(const CTypeLibResolutionService&) = delete;
    CTypeLibResolutionService& operator=(const CTypeLibResolutionService&) = delete;
    // Releases the references the maps hold, unless AbandonReferences ran first.
    ~CTypeLibResolutionService();

    HRESULT AddSearchDirectory(const wchar_t* path) override;
    HRESULT LoadCachedTypeLibraries(const wchar_t* directory) override;
    BOOL GetTypeLib(const wchar_t* fileName, ITypeLib** out) override;
    BOOL GetTypeInfoByGuid(const GUID* guid, ITypeInfo** out) override;

    // Empties both maps without releasing: at module unload the libraries' own code may
    // already be gone.
    void AbandonReferences();

    int DirectoryCount() const { return directoryCount_; }
    const wchar_t* Directory(int index) const { return directories_[index].get(); }

    // The folder a search path names: an existing directory as it stands; otherwise a path
    // whose last component holds a '.' is a file's and loses that component.
    static std::wstring TrimToDirectory(std::wstring path);

  private:
    struct NoCaseLess {
        bool operator()(const std::wstring& a, const std::wstring& b) const {
            return _wcsicmp(a.c_str(), b.c_str()) < 0;
        }
    };
    struct GuidLess {
        bool operator()(const GUID& a, const GUID& b) const {
            return std::memcmp(&a, &b, sizeof(GUID)) < 0;
        }
    };

    bool LoadTypeLibraryFile(const std::wstring& directory, const std::wstring& fileName,
                             bool fallBackToDirectory);
    void RegisterLibraryTypes(ITypeLib* library);
    void RegisterTypeInfo(ITypeInfo* info, UINT functionCount, const TYPEATTR& attributes);
    bool RegisterParameterTypes(ITypeInfo* info, const FUNCDESC& function);
    void LoadStandardLibrary(const std::wstring& directory);
    void ScanCacheSubdirectory(const std::wstring& subdirectory, const wchar_t* argument);

    int directoryCount_ = 0;
    std::array<std::unique_ptr<wchar_t[]>, kMaxDirectories> directories_;
    std::map<std::wstring, ITypeLib*, NoCaseLess> libraries_;
    // Keyed by the whole GUID: two types that share only a prefix of it stay apart.
    std::map<GUID, ITypeInfo*, GuidLess> types_;
    bool standardLibraryAttempted_ = false;
    wchar_t baseDirectory_[kPathChars] = {};
    wchar_t cacheDirectory_[kPathChars] = {};
};

// Destroys the process's service, if one was made (module unload).
void DestroyTypeLibResolutionService();

}  // namespace tarnwick
