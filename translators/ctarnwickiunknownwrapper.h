#pragma once
// Completes an automation object: IUnknown for every interface sub-object of T, with one
// reference count for the whole object and the interface table of its CIUnknownBase.

#include <windows.h>
#include <unknwn.h>

#include <utility>

#include "com/ciunknownbase.h"

namespace tarnwick {

template <typename T>
class CTarnwickIUnknownWrapper final : public T {
  public:
    template <typename... Args>
    explicit CTarnwickIUnknownWrapper(Args&&... args) : T(std::forward<Args>(args)...) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return CIUnknownBase::QueryInterface(static_cast<CIUnknownBase*>(this), riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return this->InternalAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG count = this->InternalRelease();
        if (count == 0) delete this;
        return count;
    }
};

}  // namespace tarnwick
