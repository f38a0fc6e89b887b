#pragma once
// An owning, reference-counted BSTR holder. Copies share one buffer, which is freed with
// SysFreeString when its last holder goes. Assigning a wide string allocates a new BSTR,
// except when it is the very string the holder already holds. A failed allocation raises
// CComError with E_OUTOFMEMORY.
//
// The holder lives in hosts and in the library alike and a buffer may be released by a
// module other than the one that made it, so the shared count lives on the process heap
// rather than on either module's C++ heap.

#include <windows.h>
#include <ole2.h>

#include <new>
#include <utility>

#include "ccomerror.h"

namespace tarnwick {

class CBstrHolder {
public:
    // No buffer at all: Get() answers null.
    CBstrHolder() noexcept = default;
    // A buffer holding a copy of text; a null text gives a buffer with a null BSTR.
    CBstrHolder(const wchar_t* text) : shared_(Shared::Create(text)) {}
    CBstrHolder(const CBstrHolder& other) noexcept : shared_(other.shared_) { AddRef(); }
    CBstrHolder(CBstrHolder&& other) noexcept : shared_(std::exchange(other.shared_, nullptr)) {}
    ~CBstrHolder() { Release(); }

    CBstrHolder& operator=(const CBstrHolder& other) noexcept {
        CBstrHolder copy(other);
        Swap(copy);
        return *this;
    }
    CBstrHolder& operator=(CBstrHolder&& other) noexcept {
        CBstrHolder taken(std::move(other));
        Swap(taken);
        return *this;
    }
    CBstrHolder& operator=(const wchar_t* text) {
        if (text == nullptr || shared_ == nullptr || shared_->text != text) {
            CBstrHolder fresh(text);
            Swap(fresh);
        }
        return *this;
    }

    // The held BSTR, or null.
    BSTR Get() const noexcept { return shared_ != nullptr ? shared_->text : nullptr; }
    operator const wchar_t*() const noexcept { return Get(); }
    UINT Length() const noexcept { return SysStringLen(Get()); }

    // The held BSTR itself, for callers that read or replace it in place. A holder without
    // a buffer gets one holding a null BSTR first.
    BSTR& GetBSTR() {
        if (shared_ == nullptr) shared_ = Shared::Create(nullptr);
        return shared_->text;
    }

    void Swap(CBstrHolder& other) noexcept { std::swap(shared_, other.shared_); }

private:
    struct Shared {
        LONG references;
        BSTR text;

        static Shared* Create(const wchar_t* text) {
            void* memory = HeapAlloc(GetProcessHeap(), 0, sizeof(Shared));
            if (memory == nullptr) throw CComError(E_OUTOFMEMORY);
            const BSTR copy = SysAllocString(text);
            if (copy == nullptr && text != nullptr) {
                HeapFree(GetProcessHeap(), 0, memory);
                throw CComError(E_OUTOFMEMORY);
            }
            return new (memory) Shared{1, copy};
        }
    };

    void AddRef() noexcept {
        if (shared_ != nullptr) InterlockedIncrement(&shared_->references);
    }
    void Release() noexcept {
        Shared* shared = std::exchange(shared_, nullptr);
        if (shared == nullptr || InterlockedDecrement(&shared->references) != 0) return;
        SysFreeString(shared->text);
        HeapFree(GetProcessHeap(), 0, shared);
    }

    Shared* shared_ = nullptr;
};

}  // namespace tarnwick
