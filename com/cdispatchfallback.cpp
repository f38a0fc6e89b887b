#include "com/cdispatchfallback.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "ccomerror.h"
#include "common/variantrecords.h"

namespace tarnwick {
namespace {

using Microsoft::WRL::ComPtr;

std::atomic<std::uint64_t> g_callCount{0};

// A VARIANT cleared when it goes, records in it with their memory; starts VT_EMPTY with its
// whole value zeroed.
struct ScopedVariant {
    VARIANT value;

    ScopedVariant() noexcept { std::memset(&value, 0, sizeof value); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
    ~ScopedVariant() { ClearVariant(value); }

    // Hands the value over and is left VT_EMPTY.
    VARIANT Detach() noexcept {
        const VARIANT taken = value;
        std::memset(&value, 0, sizeof value);
        return taken;
    }
};

class ScopedTypeAttr {
  public:
    explicit ScopedTypeAttr(ComPtr<ITypeInfo> info) : info_(std::move(info)) {
        result_ = info_->GetTypeAttr(&attr_);
    }
    ScopedTypeAttr(const ScopedTypeAttr&) = delete;
    ScopedTypeAttr& operator=(const ScopedTypeAttr&) = delete;
    ~ScopedTypeAttr() {
        if (attr_ != nullptr) info_->ReleaseTypeAttr(attr_);
    }
    HRESULT Result() const { return result_; }
    const TYPEATTR* operator->() const { return attr_; }

  private:
    ComPtr<ITypeInfo> info_;
    TYPEATTR* attr_ = nullptr;
    HRESULT result_;
};

// A function's description with the type information that owns it (and resolves the types
// of its parameters).
struct ScopedFuncDesc {
    ComPtr<ITypeInfo> owner;
    FUNCDESC* desc = nullptr;

    ScopedFuncDesc() = default;
    ScopedFuncDesc(const ScopedFuncDesc&) = delete;
    ScopedFuncDesc& operator=(const ScopedFuncDesc&) = delete;
    ~ScopedFuncDesc() {
        if (desc != nullptr) owner->ReleaseFuncDesc(desc);
    }
};

// What a declared parameter type asks of its argument.
struct ParamType {
    VARTYPE vt = VT_EMPTY;  // of the value, or of what the pointer points to
    bool pointer = false;
    GUID record = GUID_NULL;  // the type of a record (vt VT_RECORD)
};

// The type information with the function table: a dual interface's dispatch view leads to
// its interface view; a pure dispatch interface has none.
HRESULT InterfaceView(ITypeInfo* info, ComPtr<ITypeInfo>* view) {
    const ScopedTypeAttr attr(info);
    if (FAILED(attr.Result())) return attr.Result();
    if (attr->typekind == TKIND_INTERFACE) {
        *view = info;
        return S_OK;
    }
    HREFTYPE interfaceRef = 0;
    if (attr->typekind != TKIND_DISPATCH || FAILED(info->GetRefTypeOfImplType(-1, &interfaceRef))) {
        return E_NOTIMPL;
    }
    return info->GetRefTypeInfo(interfaceRef, view->ReleaseAndGetAddressOf());
}

// Searches the interface, then its bases, for the function `id` of a kind `flags` allows.
HRESULT FindFunction(ComPtr<ITypeInfo> info, DISPID id, WORD flags, ScopedFuncDesc* found) {
    while (info) {
        const ScopedTypeAttr attr(info);
        if (FAILED(attr.Result())) return attr.Result();
        for (UINT i = 0; i < attr->cFuncs; ++i) {
            FUNCDESC* desc = nullptr;
            if (FAILED(info->GetFuncDesc(i, &desc))) continue;
            if (desc->memid == id && (desc->invkind & flags) != 0) {
                found->owner = info;
                found->desc = desc;
                return S_OK;
            }
            info->ReleaseFuncDesc(desc);
        }
        HREFTYPE baseRef = 0;
        ComPtr<ITypeInfo> base;
        if (attr->cImplTypes == 0 || FAILED(info->GetRefTypeOfImplType(0, &baseRef)) ||
            FAILED(info->GetRefTypeInfo(baseRef, &base))) {
            break;
        }
        info = std::move(base);
    }
    return DISP_E_MEMBERNOTFOUND;
}

// The VARIANT type of a value declared as `desc`: enumerations are VT_I4, interface
// pointers VT_UNKNOWN or VT_DISPATCH, records VT_RECORD with their type in *record.
HRESULT ValueType(ITypeInfo* owner, const TYPEDESC& desc, VARTYPE* vt, GUID* record) {
    switch (desc.vt) {
        case VT_USERDEFINED: {
            ComPtr<ITypeInfo> referenced;
            const HRESULT hr = owner->GetRefTypeInfo(desc.hreftype, &referenced);
            if (FAILED(hr)) return hr;
            const ScopedTypeAttr attr(referenced);
            if (FAILED(attr.Result())) return attr.Result();
            switch (attr->typekind) {
                case TKIND_ENUM:
                    *vt = VT_I4;
                    return S_OK;
                case TKIND_ALIAS:
                    return ValueType(referenced.Get(), attr->tdescAlias, vt, record);
                case TKIND_RECORD:
                    *vt = VT_RECORD;
                    *record = attr->guid;
                    return S_OK;
                case TKIND_DISPATCH:
                    *vt = VT_DISPATCH;
                    return S_OK;
                case TKIND_INTERFACE:
                case TKIND_COCLASS:
                    *vt = VT_UNKNOWN;
                    return S_OK;
                default:
                    return DISP_E_BADVARTYPE;
            }
        }
        case VT_PTR: {
            // Of the pointers only an interface pointer is a value.
            const HRESULT hr = ValueType(owner, *desc.lptdesc, vt, record);
            if (FAILED(hr)) return hr;
            const bool isInterface =
                desc.lptdesc->vt == VT_USERDEFINED && (*vt == VT_UNKNOWN || *vt == VT_DISPATCH);
            return isInterface ? S_OK : DISP_E_BADVARTYPE;
        }
        case VT_SAFEARRAY: {
            const HRESULT hr = ValueType(owner, *desc.lptdesc, vt, record);
            if (SUCCEEDED(hr)) *vt |= VT_ARRAY;
            return hr;
        }
        case VT_CARRAY:
        case VT_VOID:
        case VT_HRESULT:
            return DISP_E_BADVARTYPE;
        default:
            *vt = desc.vt;
            return S_OK;
    }
}

HRESULT DescribeParameter(ITypeInfo* owner, const TYPEDESC& desc, ParamType* type) {
    if (desc.vt == VT_PTR && FAILED(ValueType(owner, desc, &type->vt, &type->record))) {
        type->pointer = true;
        return ValueType(owner, *desc.lptdesc, &type->vt, &type->record);
    }
    const HRESULT hr = ValueType(owner, desc, &type->vt, &type->record);
    // A record travels only behind a pointer.
    return SUCCEEDED(hr) && type->vt == VT_RECORD ? DISP_E_BADVARTYPE : hr;
}

// The argument for input parameter `index` of `inputs`: a named one (the value of a
// property put names itself DISPID_PROPERTYPUT and is the last), else a positional one
// (they arrive last first). Null when there is none; *position is its index in rgvarg.
VARIANT* ArgumentFor(const DISPPARAMS& params, UINT index, UINT inputs, bool put, UINT* position) {
    for (UINT n = 0; n < params.cNamedArgs; ++n) {
        const DISPID named = params.rgdispidNamedArgs[n];
        if (named == static_cast<DISPID>(index) ||
            (put && named == DISPID_PROPERTYPUT && index + 1 == inputs)) {
            *position = n;
            return &params.rgvarg[n];
        }
    }
    if (index >= params.cArgs - params.cNamedArgs) return nullptr;
    *position = params.cArgs - 1 - index;
    return &params.rgvarg[*position];
}

// The record that a VT_RECORD argument (also by reference, or inside a VARIANT by
// reference) carries, when it is of the declared type.
HRESULT RecordOf(const VARIANT& argument, const GUID& declared, void** record) {
    const VARIANT& given = argument.vt == (VT_BYREF | VT_VARIANT) && argument.pvarVal != nullptr
                               ? *argument.pvarVal
                               : argument;
    if ((given.vt & ~VT_BYREF) != VT_RECORD || given.pRecInfo == nullptr) {
        return DISP_E_TYPEMISMATCH;
    }
    GUID actual = GUID_NULL;
    if (FAILED(given.pRecInfo->GetGuid(&actual)) || actual != declared) return DISP_E_TYPEMISMATCH;
    *record = given.pvRecord;
    return S_OK;
}

// Where a callee writes a value of type vt that `storage` holds.
void* ValueAddress(VARIANT& storage, VARTYPE vt) {
    if (vt == VT_VARIANT) return &storage;
    if (vt == VT_DECIMAL) return &storage.decVal;
    return &storage.llVal;
}

// Fills `storage` with the argument as a value of type vt, or as an empty one when the
// argument's value is not passed in.
HRESULT StoreValue(VARIANT& storage, VARIANT* argument, VARTYPE vt) {
    if (argument == nullptr) {
        if (vt != VT_VARIANT) storage.vt = vt;
        return S_OK;
    }
    // An argument of the type already is copied: Wine's VariantChangeType copies an array
    // of records through copies that it clears without freeing the records.
    if (vt == VT_VARIANT || (argument->vt & ~VT_BYREF) == vt) {
        return VariantCopyInd(&storage, argument);
    }
    return VariantChangeType(&storage, argument, 0, vt);
}

// One parameter of a call: what DispCallFunc passes, and the storage behind it.
struct Parameter {
    ParamType type;
    ScopedVariant storage;         // a converted value, or the target of a pointer
    VARIANT passed{};              // a pointer passed as it is
    VARIANT* writeBack = nullptr;  // the caller's VARIANT that receives an [out] value
    VARTYPE passedType = VT_EMPTY;
    VARIANTARG* passedValue = nullptr;
};

// Prepares parameter p from its argument (null for the [out, retval] one).
HRESULT Prepare(Parameter& p, VARIANT* argument, USHORT flags) {
    const VARTYPE vt = p.type.vt;
    if (!p.type.pointer) {
        if (argument == nullptr) return DISP_E_BADVARTYPE;
        p.passedType = vt;
        p.passedValue = &p.storage.value;
        return StoreValue(p.storage.value, argument, vt);
    }
    p.passedType = VT_BYREF | vt;
    p.passedValue = &p.passed;
    p.passed.vt = p.passedType;
    if (vt == VT_RECORD) {
        p.passed.vt = p.passedType = VT_PTR;
        return argument == nullptr ? DISP_E_BADVARTYPE
                                   : RecordOf(*argument, p.type.record, &p.passed.byref);
    }
    // An argument of exactly the pointer's type is passed on, so the callee writes into it.
    if (argument != nullptr && argument->vt == p.passedType) {
        p.passed.byref = argument->byref;
        return S_OK;
    }
    const bool in = (flags & PARAMFLAG_FIN) != 0 || (flags & PARAMFLAG_FOUT) == 0;
    VARIANT* value = argument;
    if (argument != nullptr && argument->vt == (VT_BYREF | VT_VARIANT)) {
        value = argument->pvarVal;
        if ((flags & PARAMFLAG_FOUT) != 0) p.writeBack = argument->pvarVal;
    } else if (argument != nullptr && (argument->vt & VT_BYREF) != 0) {
        return DISP_E_TYPEMISMATCH;
    }
    p.passed.byref = ValueAddress(p.storage.value, vt);
    return StoreValue(p.storage.value, in ? value : nullptr, vt);
}

// Fills the exception of a method that failed with `code`: the source and description of
// the error information the method set, else the code's system text.
void FillException(HRESULT code, EXCEPINFO* exception) {
    if (exception == nullptr) return;
    *exception = EXCEPINFO{};
    exception->scode = code;
    ComPtr<IErrorInfo> error;
    if (GetErrorInfo(0, error.GetAddressOf()) == S_OK && error) {
        error->GetSource(&exception->bstrSource);
        error->GetDescription(&exception->bstrDescription);
        error->GetHelpFile(&exception->bstrHelpFile);
        error->GetHelpContext(&exception->dwHelpContext);
    }
    if (exception->bstrDescription == nullptr) {
        if (wchar_t* text = AllocateErrorText(code)) {
            exception->bstrDescription = SysAllocString(text);
            LocalFree(text);
        }
    }
}

HRESULT Refuse(HRESULT hr, UINT position, UINT* argumentError) {
    if (argumentError != nullptr) *argumentError = position;
    return hr;
}

HRESULT CallFromDescription(ITypeInfo* info, IUnknown* object, DISPID id, WORD flags,
                            DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                            UINT* argumentError) {
    if (info == nullptr || object == nullptr) return E_INVALIDARG;
    const DISPPARAMS none{};
    const DISPPARAMS& args = params != nullptr ? *params : none;
    if ((args.cArgs > 0 && args.rgvarg == nullptr) || args.cNamedArgs > args.cArgs ||
        (args.cNamedArgs > 0 && args.rgdispidNamedArgs == nullptr)) {
        return E_INVALIDARG;
    }
    ComPtr<ITypeInfo> view;
    HRESULT hr = InterfaceView(info, &view);
    if (FAILED(hr)) return hr;
    ScopedFuncDesc function;
    hr = FindFunction(view, id, flags, &function);
    if (FAILED(hr)) return hr;
    const FUNCDESC& desc = *function.desc;
    if (desc.elemdescFunc.tdesc.vt != VT_HRESULT) return E_NOTIMPL;

    const UINT count = static_cast<UINT>(desc.cParams);
    UINT inputs = 0;
    for (UINT i = 0; i < count; ++i) {
        if ((desc.lprgelemdescParam[i].paramdesc.wParamFlags & PARAMFLAG_FRETVAL) == 0) ++inputs;
    }
    if (args.cArgs != inputs) return DISP_E_BADPARAMCOUNT;
    const bool put = (desc.invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) != 0;
    for (UINT n = 0; n < args.cNamedArgs; ++n) {
        const DISPID named = args.rgdispidNamedArgs[n];
        const bool known = (named >= 0 && static_cast<UINT>(named) < inputs) ||
                           (put && named == DISPID_PROPERTYPUT);
        if (!known) return Refuse(DISP_E_PARAMNOTFOUND, n, argumentError);
    }

    const auto parameters = std::make_unique<Parameter[]>(count);
    std::vector<VARTYPE> types(count);
    std::vector<VARIANTARG*> values(count);
    UINT retval = count;
    for (UINT i = 0; i < count; ++i) {
        Parameter& p = parameters[i];
        const ELEMDESC& element = desc.lprgelemdescParam[i];
        const USHORT paramFlags = element.paramdesc.wParamFlags;
        VARIANT* argument = nullptr;
        UINT position = 0;
        if ((paramFlags & PARAMFLAG_FRETVAL) != 0) {
            retval = i;
        } else if ((argument = ArgumentFor(args, i, inputs, put, &position)) == nullptr) {
            return DISP_E_PARAMNOTOPTIONAL;
        }
        hr = DescribeParameter(function.owner.Get(), element.tdesc, &p.type);
        if (SUCCEEDED(hr)) hr = Prepare(p, argument, paramFlags);
        if (FAILED(hr)) return Refuse(hr, position, argumentError);
        types[i] = p.passedType;
        values[i] = p.passedValue;
    }

    // Error information left from an earlier call must not be taken for this method's.
    SetErrorInfo(0, nullptr);
    ScopedVariant returned;
    hr = DispCallFunc(object, desc.oVft, CC_STDCALL, VT_ERROR, count, types.data(), values.data(),
                      &returned.value);
    if (FAILED(hr)) return hr;
    if (FAILED(returned.value.scode)) {
        FillException(returned.value.scode, exception);
        return DISP_E_EXCEPTION;
    }

    for (UINT i = 0; i < count; ++i) {
        Parameter& p = parameters[i];
        // A DECIMAL written in place covers the type field.
        if (p.type.vt == VT_DECIMAL && p.passed.byref == &p.storage.value.decVal) {
            p.storage.value.vt = VT_DECIMAL;
        }
        if (p.writeBack != nullptr) {
            ClearVariant(*p.writeBack);
            *p.writeBack = p.storage.Detach();
        }
    }
    if (result != nullptr) {
        VariantInit(result);
        if (retval < count) *result = parameters[retval].storage.Detach();
    }
    return S_OK;
}

}  // namespace

HRESULT CDispatchFallback::Invoke(ITypeInfo* info, IUnknown* object, DISPID id, WORD flags,
                                  DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                  UINT* argumentError) {
    g_callCount.fetch_add(1, std::memory_order_relaxed);
    // Nothing may escape a COM call: the only throw is of the allocations.
    try {
        return CallFromDescription(info, object, id, flags, params, result, exception,
                                   argumentError);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

std::uint64_t CDispatchFallback::CallCount() noexcept {
    return g_callCount.load(std::memory_order_relaxed);
}

}  // namespace tarnwick
