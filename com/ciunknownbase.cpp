#include "com/ciunknownbase.h"

namespace tarnwick {

ULONG CIUnknownBase::InternalAddRef() { return ++refCount_; }

ULONG CIUnknownBase::InternalRelease() {
    const ULONG count = --refCount_;
    if (static_cast<LONG>(count) < 0) {
        refCount_.store(0);
        return 0;
    }
    return count;
}

HRESULT CIUnknownBase::QueryInterface(CIUnknownBase* object, REFIID riid, void** ppv) {
    if (object == nullptr) return E_INVALIDARG;
    if (ppv == nullptr) return E_POINTER;
    const InterfaceEntry* answer = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) {
        if (object->table_[0].kind == kOffsetEntry) answer = &object->table_[0];
    } else {
        for (const InterfaceEntry& entry : object->table_) {
            if (entry.kind == 0) break;
            if (entry.kind == kOffsetEntry && IsEqualIID(*entry.iid, riid)) {
                answer = &entry;
                break;
            }
        }
    }
    if (answer == nullptr) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    auto* unknown = reinterpret_cast<IUnknown*>(reinterpret_cast<char*>(object) + answer->offset);
    unknown->AddRef();
    *ppv = unknown;
    return S_OK;
}

void CIUnknownBase::AddInterfaceEntry(const IID* iid, std::ptrdiff_t offset) {
    if (entryCount_ >= kMaxEntries) return;
    table_[entryCount_++] = {iid, offset, kOffsetEntry};
}

}  // namespace tarnwick
