#include "agent/ccontrolcall.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "common/variantrecords.h"
#include "itypelibresolutionservice.h"

namespace vask {
namespace {

using Microsoft::WRL::ComPtr;
using tarnwick::CVariantHolder;

constexpr const wchar_t* kTypeLibrary = L"Tarnwick.Virtual.Interfaces.tlb";
constexpr const wchar_t* kControlInterface = L"IVirtualControl";

// A function description, released with its type information.
class CFunction {
  public:
    CFunction() = default;
    CFunction(const CFunction&) = delete;
    CFunction& operator=(const CFunction&) = delete;
    ~CFunction() {
        if (desc_ != nullptr) type_->ReleaseFuncDesc(desc_);
    }
    // Finds the method `id` of `type`; false when it has none.
    bool Find(ITypeInfo* type, MEMBERID id) {
        type_ = type;
        TYPEATTR* attributes = nullptr;
        if (FAILED(type->GetTypeAttr(&attributes))) return false;
        const WORD count = attributes->cFuncs;
        type->ReleaseTypeAttr(attributes);
        for (UINT i = 0; i < count; ++i) {
            FUNCDESC* desc = nullptr;
            if (FAILED(type->GetFuncDesc(i, &desc))) continue;
            if (desc->memid == id && desc->invkind == INVOKE_FUNC) {
                desc_ = desc;
                return true;
            }
            type->ReleaseFuncDesc(desc);
        }
        return false;
    }
    const FUNCDESC* operator->() const { return desc_; }
    ITypeInfo* Type() const { return type_.Get(); }

  private:
    ComPtr<ITypeInfo> type_;
    FUNCDESC* desc_ = nullptr;
};

// The operation found on one of the translator's interfaces.
struct Operation {
    ComPtr<IDispatch> dispatch;
    MEMBERID id = DISPID_UNKNOWN;
    CFunction function;
};

std::wstring NameOf(ITypeInfo* type) {
    BSTR name = nullptr;
    std::wstring text;
    if (SUCCEEDED(type->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr)) &&
        name != nullptr) {
        text = name;
    }
    SysFreeString(name);
    return text;
}

// Looks the name up on one interface the translator answers; an interface named before the
// dot of a qualified name ("IVirtualControl.PerformClick") must match.
bool FindOn(IUnknown* translator, ITypeInfo* type, const std::wstring& qualifier,
            const std::wstring& name, Operation& operation) {
    TYPEATTR* attributes = nullptr;
    if (FAILED(type->GetTypeAttr(&attributes))) return false;
    const IID iid = attributes->guid;
    const TYPEKIND kind = attributes->typekind;
    type->ReleaseTypeAttr(attributes);
    if (kind != TKIND_DISPATCH || (!qualifier.empty() && NameOf(type) != qualifier)) return false;
    ComPtr<IDispatch> dispatch;
    if (FAILED(translator->QueryInterface(iid, reinterpret_cast<void**>(dispatch.GetAddressOf())))) {
        return false;
    }
    LPOLESTR names[] = {const_cast<wchar_t*>(name.c_str())};
    MEMBERID id = DISPID_UNKNOWN;
    ComPtr<ITypeInfo> own;
    if (FAILED(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) ||
        FAILED(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &own)) ||
        !operation.function.Find(own.Get(), id)) {
        return false;
    }
    operation.dispatch = dispatch;
    operation.id = id;
    return true;
}

// The kind's own interfaces come before IVirtualControl, whose operations every translator
// has: a tree view's PerformClick is the node click, "IVirtualControl.PerformClick" the
// control's.
bool FindOperation(IUnknown* translator, const std::wstring& operation, Operation& found) {
    ITypeLibResolutionService* service = GetTypeLibResolutionService();
    ComPtr<ITypeLib> library;
    if (service == nullptr || !service->GetTypeLib(kTypeLibrary, &library) || library == nullptr) {
        return false;
    }
    const size_t dot = operation.find(L'.');
    const std::wstring qualifier = dot == std::wstring::npos ? L"" : operation.substr(0, dot);
    const std::wstring name = dot == std::wstring::npos ? operation : operation.substr(dot + 1);
    for (const bool control : {false, true}) {
        for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
            ComPtr<ITypeInfo> type;
            if (FAILED(library->GetTypeInfo(i, &type)) ||
                (NameOf(type.Get()) == kControlInterface) != control) {
                continue;
            }
            if (FindOn(translator, type.Get(), qualifier, name, found)) return true;
        }
    }
    return false;
}

// A record of the type `pointee` names (a VT_USERDEFINED record of one 64-bit handle)
// holding `handle`, as a VT_RECORD argument it owns.
HRESULT MakeRecord(ITypeInfo* type, const TYPEDESC& pointee, std::int64_t handle, VARIANT& value) {
    ComPtr<ITypeInfo> recordType;
    ComPtr<IRecordInfo> info;
    ULONG size = 0;
    HRESULT hr = type->GetRefTypeInfo(pointee.hreftype, &recordType);
    if (SUCCEEDED(hr)) hr = GetRecordInfoFromTypeInfo(recordType.Get(), &info);
    if (SUCCEEDED(hr)) hr = info->GetSize(&size);
    if (FAILED(hr) || size != sizeof handle) return FAILED(hr) ? hr : DISP_E_TYPEMISMATCH;
    void* record = info->RecordCreate();
    if (record == nullptr) return E_OUTOFMEMORY;
    std::memcpy(record, &handle, sizeof handle);
    V_VT(&value) = VT_RECORD;
    value.pvRecord = record;
    value.pRecInfo = info.Detach();
    return S_OK;
}

// What Convert answers for a handle that the node check refused.
constexpr HRESULT kNodeRefused = TYPE_E_ELEMENTNOTFOUND;

// An in-argument converted to the declared type; records are made from integers, and only
// from those that `nodes` (when given) lets through (kNodeRefused for the others).
HRESULT Convert(ITypeInfo* type, const TYPEDESC& declared, VARIANT& given, VARIANT& out,
                const NodeCheck& nodes) {
    if (declared.vt == VT_PTR && declared.lptdesc->vt == VT_USERDEFINED) {
        VARIANT handle;
        VariantInit(&handle);
        ULONG size = 0;
        if (V_VT(&given) == VT_RECORD) {
            if (given.pvRecord == nullptr || given.pRecInfo == nullptr ||
                FAILED(given.pRecInfo->GetSize(&size)) || size < sizeof(std::int64_t)) {
                return DISP_E_TYPEMISMATCH;
            }
            V_VT(&handle) = VT_I8;
            std::memcpy(&V_I8(&handle), given.pvRecord, sizeof(std::int64_t));
        } else if (FAILED(VariantChangeType(&handle, &given, 0, VT_I8))) {
            return DISP_E_TYPEMISMATCH;
        }
        if (nodes && !nodes(V_I8(&handle))) return kNodeRefused;
        return MakeRecord(type, *declared.lptdesc, V_I8(&handle), out);
    }
    if (declared.vt == VT_SAFEARRAY) {
        return (V_VT(&given) & VT_ARRAY) != 0 ? VariantCopy(&out, &given) : DISP_E_TYPEMISMATCH;
    }
    if (declared.vt == VT_VARIANT) return VariantCopy(&out, &given);
    return FAILED(VariantChangeType(&out, &given, 0, declared.vt)) ? DISP_E_TYPEMISMATCH : S_OK;
}

// The type an out-argument's storage holds.
VARTYPE StorageType(const TYPEDESC& pointee) {
    if (pointee.vt == VT_SAFEARRAY) return VT_ARRAY | pointee.lptdesc->vt;
    return pointee.vt;
}

// A record in a result becomes its handle; so do the records of an array of VARIANTs.
void HandlesForRecords(VARIANT& value) {
    if (V_VT(&value) == VT_RECORD && value.pvRecord != nullptr) {
        std::int64_t handle = 0;
        std::memcpy(&handle, value.pvRecord, sizeof handle);
        tarnwick::ClearVariant(value);
        V_VT(&value) = VT_I8;
        V_I8(&value) = handle;
    } else if (V_VT(&value) == (VT_ARRAY | VT_VARIANT) && V_ARRAY(&value) != nullptr) {
        VARIANT* elements = nullptr;
        if (FAILED(SafeArrayAccessData(V_ARRAY(&value), reinterpret_cast<void**>(&elements)))) {
            return;
        }
        const ULONG count = V_ARRAY(&value)->rgsabound[0].cElements;
        for (ULONG i = 0; i < count; ++i) HandlesForRecords(elements[i]);
        SafeArrayUnaccessData(V_ARRAY(&value));
    }
}

// Converted arguments or the storage of out-arguments: the records they hold, also inside
// arrays, are destroyed with their memory.
class CCallValues {
  public:
    explicit CCallValues(size_t count) : values_(count) {
        for (VARIANT& value : values_) VariantInit(&value);
    }
    CCallValues(const CCallValues&) = delete;
    CCallValues& operator=(const CCallValues&) = delete;
    ~CCallValues() {
        for (VARIANT& value : values_) tarnwick::ClearVariant(value);
    }
    VARIANT& operator[](size_t index) { return values_[index]; }

  private:
    std::vector<VARIANT> values_;
};

ControlCallOutcome Refused(HRESULT code, std::wstring text) {
    ControlCallOutcome outcome;
    outcome.code = code;
    outcome.refusal = std::move(text);
    return outcome;
}

}  // namespace

ControlCallOutcome CallControl(IUnknown* translator, HWND window, const std::wstring& operation,
                               std::span<VARIANT> arguments, const NodeCheck& nodes) {
    Operation found;
    if (translator == nullptr || !FindOperation(translator, operation, found)) {
        return Refused(DISP_E_UNKNOWNNAME, L"no such operation: " + operation);
    }
    const FUNCDESC& function = *found.function.operator->();
    ITypeInfo* type = found.function.Type();
    const auto count = static_cast<size_t>(function.cParams);
    CCallValues values(count), storage(count);
    std::vector<VARIANT> passed;  // last first, as DISPPARAMS wants them
    std::vector<size_t> outs;     // parameters whose values make the result, in order
    size_t in = 0, inCount = 0;
    for (size_t p = 1; p < count; ++p) {
        inCount += (function.lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FOUT) == 0;
    }
    if (count == 0 || arguments.size() != inCount) {
        return Refused(DISP_E_BADPARAMCOUNT, L"wrong number of arguments: " + operation +
                                                 L" takes " + std::to_wstring(inCount));
    }
    size_t retval = count;
    for (size_t p = 0; p < count; ++p) {
        const ELEMDESC& parameter = function.lprgelemdescParam[p];
        const USHORT flags = parameter.paramdesc.wParamFlags;
        HRESULT hr = S_OK;
        if (p == 0) {
            hr = parameter.tdesc.vt == VT_PTR
                     ? MakeRecord(type, *parameter.tdesc.lptdesc,
                                  reinterpret_cast<std::intptr_t>(window), values[p])
                     : DISP_E_TYPEMISMATCH;
        } else if ((flags & PARAMFLAG_FOUT) == 0) {
            hr = Convert(type, parameter.tdesc, arguments[in++], values[p], nodes);
            if (hr == kNodeRefused) {
                wchar_t handle[24];
                CVariantHolder wide;
                VariantChangeType(&wide.Get(), &arguments[in - 1], 0, VT_I8);
                swprintf(handle, 24, L"0x%llX", static_cast<unsigned long long>(V_I8(&wide.Get())));
                return Refused(E_INVALIDARG, L"argument " + std::to_wstring(in) + L": " + handle +
                                                 L" is no node of this tree now (deleted, or "
                                                 L"never one)");
            }
            if (FAILED(hr)) {
                return Refused(DISP_E_TYPEMISMATCH,
                               L"argument " + std::to_wstring(in) + L": wrong kind");
            }
        } else {
            outs.push_back(p);
            if ((flags & PARAMFLAG_FRETVAL) != 0) {
                retval = p;
                continue;
            }
            VARIANT& slot = storage[p];
            V_VT(&slot) = StorageType(*parameter.tdesc.lptdesc);
            V_VT(&values[p]) = VT_BYREF | V_VT(&slot);
            values[p].byref = &slot.llVal;
        }
        if (FAILED(hr)) return Refused(hr, L"the control could not be named");
    }
    for (size_t p = count; p-- > 0;) {
        if (p != retval) passed.push_back(values[p]);
    }
    DISPPARAMS parameters{passed.data(), nullptr, static_cast<UINT>(passed.size()), 0};
    CCallValues result(1);
    EXCEPINFO exception{};
    UINT error = 0;
    HRESULT hr = found.dispatch->Invoke(found.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                        &parameters, &result[0], &exception, &error);
    // A translator that says why it failed sets a source with its description; without one the
    // description is only the code's system text.
    const std::wstring why = exception.bstrSource != nullptr && exception.bstrDescription != nullptr
                                 ? exception.bstrDescription
                                 : L"";
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    if (hr == DISP_E_EXCEPTION && FAILED(exception.scode)) hr = exception.scode;
    // The out-arguments' storage was passed by reference: the byref values own nothing.
    for (size_t p : outs) {
        if (p != retval) VariantInit(&values[p]);
    }
    if (FAILED(hr)) {
        wchar_t code[16];
        swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
        return Refused(hr, why.empty() ? operation + L" failed with " + code : why);
    }
    ControlCallOutcome outcome;
    // A dispatch view describes the [out, retval] parameter as the function's own result.
    std::vector<VARIANT*> results;
    for (size_t p : outs) {
        if (p != retval) results.push_back(&storage[p]);
    }
    if (retval < count || V_VT(&result[0]) != VT_EMPTY) results.push_back(&result[0]);
    for (VARIANT* value : results) HandlesForRecords(*value);
    if (results.size() == 1) {
        outcome.result = CVariantHolder(*results[0]);
    } else if (results.size() > 1) {
        SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(results.size()));
        if (array == nullptr) return Refused(E_OUTOFMEMORY, L"no memory for the result");
        for (LONG i = 0; i < static_cast<LONG>(results.size()); ++i) {
            SafeArrayPutElement(array, &i, results[static_cast<size_t>(i)]);
        }
        V_VT(&outcome.result.Get()) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(&outcome.result.Get()) = array;
    }
    return outcome;
}

}  // namespace vask
