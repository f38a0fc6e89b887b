#pragma once
// Identity and reference count of an automation object, with a fixed table of the
// interfaces it answers to.

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tarnwick {

// One interface of an object: the interface pointer is the object address plus the offset.
struct InterfaceEntry {
    const IID* iid;
    std::ptrdiff_t offset;
    std::intptr_t kind;  // 0 ends the table, 1 is an offset entry
};

class CIUnknownBase {
  public:
    static constexpr unsigned kTableSize = 20;
    static constexpr unsigned kMaxEntries = kTableSize - 1;  // the last one always ends the table
    static constexpr std::intptr_t kOffsetEntry = 1;

    CIUnknownBase() = default;
    CIUnknownBase(const CIUnknownBase&) = delete;
    CIUnknownBase& operator=(const CIUnknownBase&) = delete;

    virtual ULONG InternalAddRef();
    // Never destroys the object; a count that would go below zero stays 0.
    virtual ULONG InternalRelease();
    virtual ~CIUnknownBase() = default;

    // The table lookup behind every IUnknown::QueryInterface of the object's sub-objects.
    static HRESULT QueryInterface(CIUnknownBase* object, REFIID riid, void** ppv);

    // Appends an entry of kind 1; ignored once kMaxEntries entries are used.
    void AddInterfaceEntry(const IID* iid, std::ptrdiff_t offset);
    // The same, with the offset of a sub-object of this object.
    template <typename Interface>
    void AddInterfaceEntry(const IID* iid, Interface* subobject) {
        AddInterfaceEntry(iid, reinterpret_cast<const char*>(static_cast<IUnknown*>(subobject)) -
                                   reinterpret_cast<const char*>(this));
    }

    ULONG ReferenceCount() const { return refCount_.load(); }
    unsigned EntryCount() const { return entryCount_; }
    const InterfaceEntry& Entry(unsigned index) const { return table_[index]; }

  private:
    std::atomic<ULONG> refCount_{0};
    unsigned entryCount_ = 0;
    InterfaceEntry table_[kTableSize] = {};
};

}  // namespace tarnwick
