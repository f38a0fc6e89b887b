#include "com/ctypelibresolutionservice.h"

#include <cwchar>
#include <vector>

#include "ccomerror.h"
#include "platform/vasklantern.h"
#include "platform/vaskrelay.h"
#include "trace/ctraceprovider.h"

namespace tarnwick {

extern const wchar_t STANDARD_VIRTUAL_INTERFACES_LIBRARY[] = L"Tarnwick.Virtual.Interfaces.tlb";

namespace {

// {0B7C6E2A-5D41-4C8E-9A3F-2E6D8B1C4F70}
constexpr GUID kTraceGuid = {
    0x0b7c6e2a, 0x5d41, 0x4c8e, {0x9a, 0x3f, 0x2e, 0x6d, 0x8b, 0x1c, 0x4f, 0x70}};

enum TracePoint : USHORT {
    kSearchFailed = 1,
    kDirectoryScanned,
    kStandardLibraryFirst,
    kSearchEndedInError,
    kAlreadyLoaded,
    kFileLocated,
    kLoadingFromDirectory,
    kNotLocatedNoFallBack,
    kLoadFailed,
    kBadFileName,
    kLibraryLoaded,
    kDualResolutionFailed,
    kTypeInfoOfIndexFailed,
    kRegisteringType,
    kTypeNameUnavailable,
    kReferencedTypeUnresolvable,
    kParameterWalkFailed,
    kPathTooLong,
    kCurrentDirectoryUnreadable,
};

template <typename... Values>
void TraceAt(TraceLevel level, TracePoint point, const Values&... values) {
    Trace(kTraceGuid, level, kTraceFlagComponent, point, values...);
}

CTypeLibResolutionService* g_service = nullptr;

// The error text is worked out only when the trace will be written.
void TraceLoadFailure(const std::wstring& path, HRESULT hr) {
    if (!CTraceProvider::Module().IsEnabled(kTraceFlagComponent, TraceLevel::Warning)) return;
    wchar_t* text = AllocateErrorText(hr);
    TraceAt(TraceLevel::Warning, kLoadFailed, path.c_str(), static_cast<const wchar_t*>(text),
            static_cast<std::uint32_t>(hr));
    LocalFree(text);
}

// "%s\%s", or "%s%s" when the folder is empty or already ends in '\'.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || folder.back() == L'\\') return folder + name;
    return folder + L'\\' + name;
}

bool IsDirectory(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

class FindHandle {
  public:
    explicit FindHandle(HANDLE h) : handle_(h) {}
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    ~FindHandle() {
        if (Valid()) FindClose(handle_);
    }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }

  private:
    HANDLE handle_;
};

struct TypeAttrLease {
    ITypeInfo* info;
    TYPEATTR* attr = nullptr;
    explicit TypeAttrLease(ITypeInfo* i) : info(i) {
        if (FAILED(info->GetTypeAttr(&attr))) attr = nullptr;
    }
    TypeAttrLease(const TypeAttrLease&) = delete;
    TypeAttrLease& operator=(const TypeAttrLease&) = delete;
    ~TypeAttrLease() {
        if (attr != nullptr) info->ReleaseTypeAttr(attr);
    }
};

template <typename T>
struct ComLease {
    T* p = nullptr;
    ComLease() = default;
    ComLease(const ComLease&) = delete;
    ComLease& operator=(const ComLease&) = delete;
    ~ComLease() {
        if (p != nullptr) p->Release();
    }
};

}  // namespace

CTypeLibResolutionService::~CTypeLibResolutionService() {
    for (auto& [name, library] : libraries_) library->Release();
    for (auto& [guid, info] : types_) info->Release();
}

void CTypeLibResolutionService::AbandonReferences() {
    libraries_.clear();
    types_.clear();
}

std::wstring CTypeLibResolutionService::TrimToDirectory(std::wstring path) {
    // Folders hold dots too ("first.last", "App 1.2"): only a dot in the last component of a
    // path that is not a directory marks a file name.
    if (IsDirectory(path)) return path;
    const size_t dot = path.rfind(L'.');
    const size_t separator = path.find_last_of(L"\\/");
    if (dot == std::wstring::npos || (separator != std::wstring::npos && dot < separator)) {
        return path;
    }
    path.erase(dot);
    if (separator != std::wstring::npos) path.erase(separator);
    return path;
}

HRESULT CTypeLibResolutionService::AddSearchDirectory(const wchar_t* path) {
    if (path == nullptr || directoryCount_ >= kMaxDirectories) return E_FAIL;
    if (std::wcslen(path) >= kPathChars) {
        TraceAt(TraceLevel::Error, kPathTooLong, path);
        return E_FAIL;
    }
    const std::wstring directory = TrimToDirectory(path);
    WIN32_FIND_DATAW found{};
    FindHandle search(FindFirstFileW(JoinPath(directory, L"*.tlb").c_str(), &found));
    if (!search.Valid()) {
        TraceAt(TraceLevel::Warning, kSearchFailed, directory.c_str());
    } else {
        TraceAt(TraceLevel::Verbose, kDirectoryScanned, directory.c_str());
        if (!standardLibraryAttempted_) LoadStandardLibrary(directory);
        do {
            LoadTypeLibraryFile(directory, found.cFileName, true);
        } while (FindNextFileW(search.Get(), &found));
        const DWORD error = GetLastError();
        if (error != ERROR_NO_MORE_FILES) {
            TraceAt(TraceLevel::Error, kSearchEndedInError, error, directory.c_str());
        }
    }
    auto copy = std::make_unique<wchar_t[]>(directory.size() + 1);
    std::wmemcpy(copy.get(), directory.c_str(), directory.size() + 1);
    directories_[directoryCount_++] = std::move(copy);
    return E_FAIL;
}

void CTypeLibResolutionService::LoadStandardLibrary(const std::wstring& directory) {
    TraceAt(TraceLevel::Information, kStandardLibraryFirst, directory.c_str());
    if (!LoadTypeLibraryFile(directory, STANDARD_VIRTUAL_INTERFACES_LIBRARY, true)) {
        wchar_t nativePath[kPathChars] = {};
        if (GetNativePath(nativePath, kPathChars) == 1) {
            nativePath[kPathChars - 1] = L'\0';
            LoadTypeLibraryFile(nativePath, STANDARD_VIRTUAL_INTERFACES_LIBRARY, true);
        }
    }
    standardLibraryAttempted_ = true;
}

HRESULT CTypeLibResolutionService::LoadCachedTypeLibraries(const wchar_t* directory) {
    if (directory == nullptr) return E_FAIL;
    if (std::wcslen(directory) >= kPathChars) {
        TraceAt(TraceLevel::Error, kPathTooLong, directory);
        return E_FAIL;
    }
    // An existing directory is its own base: the file-name trimming never applies here.
    if (!IsDirectory(directory)) return E_FAIL;
    wcsncpy_s(baseDirectory_, directory, _TRUNCATE);
    const std::wstring cache = JoinPath(baseDirectory_, L"cache").substr(0, kPathChars - 1);
    wcsncpy_s(cacheDirectory_, cache.c_str(), _TRUNCATE);
    if (!IsDirectory(cache)) return E_FAIL;

    WIN32_FIND_DATAW entry{};
    FindHandle subdirectories(FindFirstFileW(JoinPath(cache, L"*").c_str(), &entry));
    if (!subdirectories.Valid()) return S_OK;
    do {
        const std::wstring name = entry.cFileName;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name == L"." || name == L"..") {
            continue;
        }
        ScanCacheSubdirectory(JoinPath(cache, name), directory);
    } while (FindNextFileW(subdirectories.Get(), &entry));
    return S_OK;
}

void CTypeLibResolutionService::ScanCacheSubdirectory(const std::wstring& subdirectory,
                                                      const wchar_t* argument) {
    WIN32_FIND_DATAW found{};
    FindHandle search(FindFirstFileW(JoinPath(subdirectory, L"*.tlb").c_str(), &found));
    if (!search.Valid()) return;
    do {
        // A library the argument directory holds itself is not taken from the cache.
        const std::wstring own = JoinPath(argument, found.cFileName).substr(0, kPathChars - 1);
        if (GetFileAttributesW(own.c_str()) == INVALID_FILE_ATTRIBUTES) {
            LoadTypeLibraryFile(subdirectory, found.cFileName, false);
        }
    } while (FindNextFileW(search.Get(), &found));
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) {
        TraceAt(TraceLevel::Error, kSearchEndedInError, error, subdirectory.c_str());
    }
}

bool CTypeLibResolutionService::LoadTypeLibraryFile(const std::wstring& directory,
                                                    const std::wstring& fileName,
                                                    bool fallBackToDirectory) {
    if (libraries_.count(fileName) != 0) {
        TraceAt(TraceLevel::Warning, kAlreadyLoaded, fileName.c_str());
        return true;
    }
    if (fileName.size() >= kPathChars) {
        TraceAt(TraceLevel::Error, kBadFileName, fileName.c_str());
        return false;
    }
    wchar_t located[kPathChars] = {};
    std::wstring fullPath;
    if (GetFileLocationW(fileName.c_str(), located, kPathChars)) {
        located[kPathChars - 1] = L'\0';
        fullPath = located;
        TraceAt(TraceLevel::Verbose, kFileLocated, fullPath.c_str());
    } else {
        fullPath = directory + L'\\' + fileName;
        if (!fallBackToDirectory) {
            TraceAt(TraceLevel::Warning, kNotLocatedNoFallBack, fullPath.c_str());
            return true;
        }
        TraceAt(TraceLevel::Warning, kLoadingFromDirectory, fullPath.c_str());
    }
    ITypeLib* library = nullptr;
    const HRESULT hr = LoadTypeLibEx(fullPath.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) {
        TraceLoadFailure(fullPath, hr);
        return false;
    }
    libraries_.emplace(fileName, library);
    TraceAt(TraceLevel::Information, kLibraryLoaded, fullPath.c_str());
    RegisterLibraryTypes(library);
    return true;
}

void CTypeLibResolutionService::RegisterLibraryTypes(ITypeLib* library) {
    const UINT count = library->GetTypeInfoCount();
    for (UINT index = 0; index < count; ++index) {
        ComLease<ITypeInfo> info;
        if (FAILED(library->GetTypeInfo(index, &info.p))) {
            TraceAt(TraceLevel::Error, kTypeInfoOfIndexFailed, static_cast<std::uint32_t>(index));
            continue;
        }
        TypeAttrLease attr(info.p);
        if (attr.attr == nullptr) continue;
        const TYPEKIND kind = attr.attr->typekind;
        if (kind == TKIND_RECORD || kind == TKIND_INTERFACE) {
            RegisterTypeInfo(info.p, attr.attr->cFuncs, *attr.attr);
        } else if (kind == TKIND_DISPATCH && (attr.attr->wTypeFlags & TYPEFLAG_FDUAL)) {
            HREFTYPE ref = 0;
            ComLease<ITypeInfo> vtable;
            if (FAILED(info.p->GetRefTypeOfImplType(-1, &ref)) ||
                FAILED(info.p->GetRefTypeInfo(ref, &vtable.p))) {
                TraceAt(TraceLevel::Error, kDualResolutionFailed,
                        static_cast<std::uint32_t>(index));
                continue;
            }
            TypeAttrLease vtableAttr(vtable.p);
            if (vtableAttr.attr != nullptr) {
                RegisterTypeInfo(vtable.p, vtableAttr.attr->cFuncs, *vtableAttr.attr);
            }
        }
    }
}

void CTypeLibResolutionService::RegisterTypeInfo(ITypeInfo* info, UINT functionCount,
                                                 const TYPEATTR& attributes) {
    if (!types_.emplace(attributes.guid, info).second) return;
    info->AddRef();
    BSTR name = nullptr;
    if (SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr))) {
        TraceAt(TraceLevel::Verbose, kRegisteringType, static_cast<const wchar_t*>(name));
        SysFreeString(name);
    } else {
        TraceAt(TraceLevel::Error, kTypeNameUnavailable);
    }
    for (UINT index = 0; index < functionCount; ++index) {
        FUNCDESC* function = nullptr;
        if (FAILED(info->GetFuncDesc(index, &function))) {
            TraceAt(TraceLevel::Error, kParameterWalkFailed, static_cast<std::uint32_t>(index));
            continue;
        }
        const bool complete = RegisterParameterTypes(info, *function);
        info->ReleaseFuncDesc(function);
        if (!complete) return;
    }
}

// Registers every type a parameter refers to, through pointers and safe arrays. False when a
// parameter's description chain is broken, which ends the registration of the function's type.
bool CTypeLibResolutionService::RegisterParameterTypes(ITypeInfo* info, const FUNCDESC& function) {
    for (SHORT p = 0; p < function.cParams; ++p) {
        const TYPEDESC* type = &function.lprgelemdescParam[p].tdesc;
        while (type != nullptr && (type->vt == VT_PTR || type->vt == VT_SAFEARRAY)) {
            type = type->lptdesc;
        }
        if (type == nullptr) {
            TraceAt(TraceLevel::Error, kParameterWalkFailed, static_cast<std::uint32_t>(p));
            return false;
        }
        if (type->vt != VT_USERDEFINED) continue;
        ComLease<ITypeInfo> referenced;
        if (FAILED(info->GetRefTypeInfo(type->hreftype, &referenced.p))) {
            TraceAt(TraceLevel::Warning, kReferencedTypeUnresolvable,
                    static_cast<std::uint32_t>(type->hreftype));
            continue;
        }
        TypeAttrLease attr(referenced.p);
        if (attr.attr != nullptr) RegisterTypeInfo(referenced.p, attr.attr->cFuncs, *attr.attr);
    }
    return true;
}

BOOL CTypeLibResolutionService::GetTypeLib(const wchar_t* fileName, ITypeLib** out) {
    if (fileName == nullptr) return FALSE;
    const auto it = libraries_.find(fileName);
    if (it == libraries_.end()) return FALSE;
    if (out != nullptr) {
        it->second->AddRef();
        *out = it->second;
    }
    return TRUE;
}

BOOL CTypeLibResolutionService::GetTypeInfoByGuid(const GUID* guid, ITypeInfo** out) {
    if (guid == nullptr) return FALSE;
    const auto it = types_.find(*guid);
    if (it == types_.end()) return FALSE;
    if (out != nullptr) {
        it->second->AddRef();
        *out = it->second;
    }
    return TRUE;
}

void DestroyTypeLibResolutionService() {
    if (g_service == nullptr) return;
    g_service->AbandonReferences();
    delete g_service;
    g_service = nullptr;
}

}  // namespace tarnwick

ITypeLibResolutionService* GetTypeLibResolutionService() {
    using tarnwick::g_service;
    if (g_service != nullptr) return g_service;
    g_service = new tarnwick::CTypeLibResolutionService();
    const DWORD length = GetCurrentDirectoryW(0, nullptr);
    std::vector<wchar_t> directory(length + 1);
    if (length == 0 || GetCurrentDirectoryW(length + 1, directory.data()) == 0) {
        tarnwick::TraceAt(tarnwick::TraceLevel::Error, tarnwick::kCurrentDirectoryUnreadable,
                          static_cast<std::uint32_t>(GetLastError()));
        return g_service;
    }
    g_service->AddSearchDirectory(directory.data());
    return g_service;
}
