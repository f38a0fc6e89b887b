#pragma once
// The type information of one dispatch interface, loaded from its library on first use,
// with a cache of member names for the common one-name GetIDsOfNames.

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <memory>
#include <string>

#include "itypelibresolutionservice.h"

namespace tarnwick {

// What LoadTypeInfo answers while the library is unknown to the resolution service.
inline constexpr HRESULT kUnknownTypeLibrary = HRESULT_FROM_WIN32(ERROR_INVALID_LIBRARY);

struct NameCacheEntry {
    BSTR name = nullptr;
    int length = 0;
    DISPID id = -1;
};

class TypeInfoHolder {
  public:
    TypeInfoHolder(const IID& iid, const wchar_t* library);
    TypeInfoHolder(const TypeInfoHolder&) = delete;
    TypeInfoHolder& operator=(const TypeInfoHolder&) = delete;
    ~TypeInfoHolder();

    // Loads the type information and builds the name cache, once; safe from several threads.
    // S_OK when both exist; kUnknownTypeLibrary while the library is unknown; the failure of
    // the type lookup or of the cache otherwise.
    HRESULT LoadTypeInfo();

    // Null until loaded. The holder keeps its reference.
    ITypeInfo* TypeInfo() const { return typeInfo_.load(std::memory_order_acquire); }
    bool HasNameCache() const { return cacheBuilt_.load(std::memory_order_acquire); }
    // Searches the cache from the last entry to the first, letter case counting.
    bool FindName(const wchar_t* name, DISPID* id) const;

    const std::wstring& LibraryFileName() const { return libraryFile_; }

    // "X.tlb" stays, "X.dll" becomes "X.tlb", anything else gets ".tlb" appended.
    static std::wstring NormaliseLibraryName(const wchar_t* library);

  private:
    HRESULT LoadTypeInfoLocked();
    HRESULT BuildNameCache(ITypeInfo* info);

    IID iid_;
    std::wstring libraryFile_;
    std::atomic<ITypeInfo*> typeInfo_{nullptr};
    ITypeLibResolutionService* service_;
    std::unique_ptr<NameCacheEntry[]> cache_;
    int cacheCount_ = 0;
    std::atomic<bool> cacheBuilt_{false};
    SRWLOCK lock_ = SRWLOCK_INIT;
};

}  // namespace tarnwick
