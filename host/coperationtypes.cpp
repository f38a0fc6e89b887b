#include "coperationtypes.h"

#include <oleauto.h>

#include <algorithm>
#include <array>
#include <iterator>

#include "itypelibresolutionservice.h"

namespace tarnwick::host {
namespace {

using Microsoft::WRL::ComPtr;

constexpr wchar_t kTypeLibrary[] = L"Tarnwick.Virtual.Interfaces.tlb";
constexpr wchar_t kControlInterface[] = L"IVirtualControl";

// The interfaces each kind's translator answers besides IVirtualControl, in library order.
struct KindInterfaces {
    const wchar_t* kind;
    std::array<const wchar_t*, 2> own;
};
constexpr KindInterfaces kKinds[] = {
    {L"CheckBox", {L"IVirtualCheckControl", nullptr}},
    {L"RadioButton", {L"IVirtualCheckControl", nullptr}},
    {L"TextBox", {L"IVirtualTextBoxBase", L"IVirtualTextBox"}},
    {L"ComboBox", {L"IVirtualListControl", L"IVirtualComboBox"}},
    {L"TabStrip", {L"IVirtualTabStrip", nullptr}},
    {L"TreeView", {L"IVirtualTreeView", nullptr}},
    {L"ListView", {L"IVirtualListView", nullptr}},
};

// One function description, released with its type.
class CFuncDesc {
  public:
    CFuncDesc(ITypeInfo* type, UINT index) : type_(type) {
        if (FAILED(type->GetFuncDesc(index, &desc_))) desc_ = nullptr;
    }
    CFuncDesc(const CFuncDesc&) = delete;
    CFuncDesc& operator=(const CFuncDesc&) = delete;
    ~CFuncDesc() {
        if (desc_ != nullptr) type_->ReleaseFuncDesc(desc_);
    }
    const FUNCDESC* Get() const noexcept { return desc_; }

  private:
    ITypeInfo* type_;
    FUNCDESC* desc_ = nullptr;
};

// Whether the agent can call `function` on a control: its first parameter names the control
// (a record), which leaves out what every interface inherits (QueryInterface, Invoke...).
bool IsControlOperation(const FUNCDESC& function) {
    if (function.invkind != INVOKE_FUNC || function.cParams < 1 ||
        (function.wFuncFlags & FUNCFLAG_FRESTRICTED) != 0) {
        return false;
    }
    const TYPEDESC& first = function.lprgelemdescParam[0].tdesc;
    return first.vt == VT_PTR && first.lptdesc->vt == VT_USERDEFINED;
}

std::vector<VARTYPE> InTypes(const FUNCDESC& function) {
    std::vector<VARTYPE> types;
    for (SHORT p = 1; p < function.cParams; ++p) {
        const ELEMDESC& parameter = function.lprgelemdescParam[p];
        if ((parameter.paramdesc.wParamFlags & PARAMFLAG_FOUT) != 0) continue;
        const TYPEDESC& type = parameter.tdesc;
        const bool record = type.vt == VT_PTR && type.lptdesc->vt == VT_USERDEFINED;
        types.push_back(record ? VARTYPE{VT_RECORD} : type.vt);
    }
    return types;
}

}  // namespace

ITypeLib* COperationTypes::Library() const {
    if (!loaded_) {
        loaded_ = true;
        ITypeLibResolutionService* service = GetTypeLibResolutionService();
        if (service == nullptr || !service->GetTypeLib(kTypeLibrary, &library_)) library_.Reset();
    }
    return library_.Get();
}

std::optional<std::vector<VARTYPE>> COperationTypes::InArguments(
    const std::wstring& kind, const std::wstring& operation) const {
    const size_t dot = operation.find(L'.');
    if (dot != std::wstring::npos) {
        return OnInterface(operation.substr(0, dot), operation.substr(dot + 1));
    }
    for (const KindInterfaces& entry : kKinds) {
        if (kind != entry.kind) continue;
        for (const wchar_t* own : entry.own) {
            if (own == nullptr) continue;
            if (auto types = OnInterface(own, operation)) return types;
        }
    }
    return OnInterface(kControlInterface, operation);
}

ComPtr<ITypeInfo> COperationTypes::Interface(const std::wstring& interfaceName) const {
    if (const auto known = interfaces_.find(interfaceName); known != interfaces_.end()) {
        return known->second;
    }
    ITypeLib* library = Library();
    if (library == nullptr) return nullptr;
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        BSTR name = nullptr;
        ComPtr<ITypeInfo> type;
        const bool named = SUCCEEDED(library->GetDocumentation(static_cast<INT>(i), &name, nullptr,
                                                               nullptr, nullptr)) &&
                           name != nullptr && interfaceName == name;
        SysFreeString(name);
        if (named && SUCCEEDED(library->GetTypeInfo(i, &type))) {
            interfaces_.emplace(interfaceName, type);
            return type;
        }
    }
    return nullptr;
}

std::optional<std::vector<VARTYPE>> COperationTypes::OnInterface(
    const std::wstring& interfaceName, const std::wstring& operation) const {
    const ComPtr<ITypeInfo> type = Interface(interfaceName);
    if (type == nullptr) return std::nullopt;
    LPOLESTR names[] = {const_cast<wchar_t*>(operation.c_str())};
    MEMBERID id = DISPID_UNKNOWN;
    TYPEATTR* attributes = nullptr;
    if (FAILED(type->GetIDsOfNames(names, 1, &id)) || FAILED(type->GetTypeAttr(&attributes))) {
        return std::nullopt;
    }
    const WORD count = attributes->cFuncs;
    type->ReleaseTypeAttr(attributes);
    for (UINT f = 0; f < count; ++f) {
        const CFuncDesc function(type.Get(), f);
        if (function.Get() != nullptr && function.Get()->memid == id &&
            function.Get()->invkind == INVOKE_FUNC) {
            return InTypes(*function.Get());
        }
    }
    return std::nullopt;
}

std::vector<std::pair<std::wstring, size_t>> COperationTypes::Operations(
    const std::wstring& kind) const {
    std::vector<const wchar_t*> interfaces{kControlInterface};
    for (const KindInterfaces& entry : kKinds) {
        if (kind != entry.kind) continue;
        for (const wchar_t* own : entry.own) {
            if (own != nullptr) interfaces.push_back(own);
        }
    }
    std::vector<std::pair<std::wstring, size_t>> operations;
    for (const wchar_t* interfaceName : interfaces) {
        const ComPtr<ITypeInfo> type = Interface(interfaceName);
        TYPEATTR* attributes = nullptr;
        if (type == nullptr || FAILED(type->GetTypeAttr(&attributes))) continue;
        const WORD count = attributes->cFuncs;
        type->ReleaseTypeAttr(attributes);
        for (UINT f = 0; f < count; ++f) {
            const CFuncDesc function(type.Get(), f);
            BSTR name = nullptr;
            if (function.Get() == nullptr || !IsControlOperation(*function.Get()) ||
                FAILED(type->GetDocumentation(function.Get()->memid, &name, nullptr, nullptr,
                                              nullptr)) ||
                name == nullptr) {
                continue;
            }
            std::wstring text = name;
            SysFreeString(name);
            const bool known = std::any_of(operations.begin(), operations.end(),
                                           [&](const auto& known) { return known.first == text; });
            if (!known) operations.emplace_back(text, InTypes(*function.Get()).size());
        }
    }
    return operations;
}

}  // namespace tarnwick::host
