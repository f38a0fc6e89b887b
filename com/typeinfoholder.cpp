#include "com/typeinfoholder.h"

#include <cwchar>
#include <new>

namespace tarnwick {
namespace {

bool EndsWithNoCase(const std::wstring& text, const wchar_t* suffix) {
    const size_t n = std::wcslen(suffix);
    return text.size() >= n && _wcsicmp(text.c_str() + text.size() - n, suffix) == 0;
}

class ExclusiveLock {
  public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }

  private:
    SRWLOCK& lock_;
};

}  // namespace

TypeInfoHolder::TypeInfoHolder(const IID& iid, const wchar_t* library)
    : iid_(iid),
      libraryFile_(NormaliseLibraryName(library)),
      service_(GetTypeLibResolutionService()) {}

TypeInfoHolder::~TypeInfoHolder() {
    for (int i = 0; i < cacheCount_; ++i) SysFreeString(cache_[i].name);
    if (ITypeInfo* info = typeInfo_.load()) info->Release();
}

std::wstring TypeInfoHolder::NormaliseLibraryName(const wchar_t* library) {
    std::wstring name = library != nullptr ? library : L"";
    if (EndsWithNoCase(name, L".tlb")) return name;
    if (EndsWithNoCase(name, L".dll")) {
        name.replace(name.size() - 3, 3, L"tlb");
        return name;
    }
    return name + L".tlb";
}

HRESULT TypeInfoHolder::LoadTypeInfo() {
    if (TypeInfo() != nullptr && HasNameCache()) return S_OK;
    // One thread loads; the others wait and see its result instead of loading again.
    ExclusiveLock lock(lock_);
    return LoadTypeInfoLocked();
}

HRESULT TypeInfoHolder::LoadTypeInfoLocked() {
    ITypeInfo* info = typeInfo_.load(std::memory_order_relaxed);
    if (info != nullptr && HasNameCache()) return S_OK;
    if (info == nullptr) {
        ITypeLib* library = nullptr;
        if (service_ == nullptr || !service_->GetTypeLib(libraryFile_.c_str(), &library)) {
            return kUnknownTypeLibrary;
        }
        ITypeInfo* found = nullptr;
        const HRESULT hr = library->GetTypeInfoOfGuid(iid_, &found);
        library->Release();
        if (FAILED(hr)) return hr;
        // Keep the ITypeInfo face of the object the library answers.
        ITypeInfo2* info2 = nullptr;
        if (SUCCEEDED(found->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(&info2)))) {
            ITypeInfo* plain = nullptr;
            info2->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(&plain));
            info2->Release();
            if (plain != nullptr) {
                found->Release();
                found = plain;
            }
        }
        info = found;
        typeInfo_.store(info, std::memory_order_release);
    }
    return BuildNameCache(info);
}

HRESULT TypeInfoHolder::BuildNameCache(ITypeInfo* info) {
    TYPEATTR* attributes = nullptr;
    // Without attributes there is no cache; the next call tries again.
    if (FAILED(info->GetTypeAttr(&attributes))) return S_OK;
    const int count = attributes->cFuncs;
    info->ReleaseTypeAttr(attributes);
    std::unique_ptr<NameCacheEntry[]> entries;
    if (count != 0) {
        entries.reset(new (std::nothrow) NameCacheEntry[count]);
        if (!entries) return E_OUTOFMEMORY;
    }
    for (int i = 0; i < count; ++i) {
        FUNCDESC* function = nullptr;
        if (FAILED(info->GetFuncDesc(i, &function))) continue;
        BSTR name = nullptr;
        if (SUCCEEDED(info->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr))) {
            entries[i] = {name, static_cast<int>(SysStringLen(name)), function->memid};
        }
        info->ReleaseFuncDesc(function);
    }
    cache_ = std::move(entries);
    cacheCount_ = count;
    cacheBuilt_.store(true, std::memory_order_release);
    return S_OK;
}

bool TypeInfoHolder::FindName(const wchar_t* name, DISPID* id) const {
    if (!HasNameCache()) return false;
    const size_t length = name != nullptr ? std::wcslen(name) : 0;
    for (int i = cacheCount_ - 1; i >= 0; --i) {
        const NameCacheEntry& entry = cache_[i];
        // An entry whose function could not be read holds no name and never matches.
        if (entry.name == nullptr || static_cast<size_t>(entry.length) != length) continue;
        if (length == 0 || std::wmemcmp(entry.name, name, length) == 0) {
            *id = entry.id;
            return true;
        }
    }
    return false;
}

}  // namespace tarnwick
