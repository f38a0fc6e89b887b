#pragma once
// One dual interface of an automation object, answering IDispatch from the type
// information of the interface in its type library.

#include <windows.h>
#include <oaidl.h>

#include <memory>

#include "cbstrholder.h"
#include "com/cdispatchfallback.h"
#include "com/typeinfoholder.h"

namespace tarnwick {

template <typename Interface, const wchar_t* Library>
class CIDispatchBase : public Interface {
  public:
    // A library name that cannot be allocated raises CComError(E_OUTOFMEMORY).
    CIDispatchBase()
        : libraryName_(Library),
          holder_(std::make_unique<TypeInfoHolder>(__uuidof(Interface), Library)),
          iid_(__uuidof(Interface)) {}
    CIDispatchBase(const CIDispatchBase&) = delete;
    CIDispatchBase& operator=(const CIDispatchBase&) = delete;

    // Placeholders only: a complete object answers IUnknown through its wrapper.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 0; }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 1;
        return S_OK;
    }

    // Every index and locale yields the one type information.
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info == nullptr) return E_POINTER;
        HRESULT hr = S_OK;
        if (holder_->TypeInfo() == nullptr) hr = holder_->LoadTypeInfo();
        *info = holder_->TypeInfo();
        if (*info == nullptr) return hr;
        (*info)->AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        const HRESULT hr = EnsureLoaded();
        if (holder_->TypeInfo() == nullptr) return hr;
        if (count == 1 && names != nullptr && ids != nullptr && holder_->FindName(names[0], ids)) {
            return S_OK;
        }
        return holder_->TypeInfo()->GetIDsOfNames(names, count, ids);
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override {
        const HRESULT hr = EnsureLoaded();
        if (holder_->TypeInfo() == nullptr) return hr;
        ITypeInfo* info = holder_->TypeInfo();
        Interface* self = static_cast<Interface*>(this);
        const HRESULT answered =
            info->Invoke(self, id, flags, params, result, exception, argumentError);
        // The platform refuses some functions it cannot call (one with a record parameter):
        // those are called from their description instead.
        if (answered != E_NOTIMPL) return answered;
        return CDispatchFallback::Invoke(info, self, id, flags, params, result, exception,
                                         argumentError);
    }

    virtual ~CIDispatchBase() = default;

    const IID& InterfaceId() const { return iid_; }
    const CBstrHolder& LibraryName() const { return libraryName_; }
    TypeInfoHolder& Holder() const { return *holder_; }

  private:
    HRESULT EnsureLoaded() {
        if (holder_->TypeInfo() != nullptr && holder_->HasNameCache()) return S_OK;
        return holder_->LoadTypeInfo();
    }

    CBstrHolder libraryName_;
    std::unique_ptr<TypeInfoHolder> holder_;
    IID iid_;
};

}  // namespace tarnwick
