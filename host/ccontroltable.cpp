#include "ccontroltable.h"

#include <cwchar>
#include <cwctype>
#include <map>

#include "platform/vaskhookhost.h"

namespace tarnwick::host {
namespace {

// The fields of one control in the answer of "ListControls", in order.
enum Field {
    kWindow,
    kParent,
    kId,
    kClass,
    kInterfaceType,
    kAdapterType,
    kText,
    kTranslator,
    kOwner
};

std::optional<std::int64_t> Integer(const VARIANT& value) {
    CVariantHolder wide;
    if (FAILED(VariantChangeType(&wide.Get(), const_cast<VARIANT*>(&value), 0, VT_I8)))
        return std::nullopt;
    return wide.Get().llVal;
}

std::wstring Text(const VARIANT& value) {
    return value.vt == VT_BSTR && value.bstrVal != nullptr ? value.bstrVal : L"";
}

// "Tarnwick.Virtual.Interfaces.IVirtualButton, Tarnwick.Virtual.Interfaces" -> "Button".
std::wstring KindOf(const std::wstring& interfaceTypeName) {
    std::wstring name = interfaceTypeName.substr(0, interfaceTypeName.find(L','));
    name.erase(0, name.find_last_of(L'.') + 1);
    if (name.rfind(L"IVirtual", 0) == 0) name.erase(0, 8);
    return name;
}

std::optional<Control> ReadControl(const VARIANT* fields) {
    const auto window = Integer(fields[kWindow]), parent = Integer(fields[kParent]),
               id = Integer(fields[kId]), translator = Integer(fields[kTranslator]),
               owner = Integer(fields[kOwner]);
    if (!window || !parent || !id || !translator || !owner) return std::nullopt;
    return Control{static_cast<std::uint64_t>(*window),
                   static_cast<std::uint64_t>(*parent),
                   static_cast<LONG>(*id),
                   Text(fields[kClass]),
                   KindOf(Text(fields[kInterfaceType])),
                   Text(fields[kText]),
                   static_cast<std::uint64_t>(*translator),
                   static_cast<std::uint64_t>(*owner),
                   {}};
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

std::wstring WithoutMnemonics(const std::wstring& text) {
    std::wstring plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size()) ++i;
        plain += text[i];
    }
    return plain;
}

// "Class[n]": the names this table gives.
bool IsClassIndex(const std::wstring& name) {
    const size_t open = name.find(L'[');
    return open != 0 && open != std::wstring::npos && name.back() == L']' &&
           name.size() - open >= 3 &&
           name.find_first_not_of(L"0123456789", open + 1) == name.size() - 1;
}

std::optional<std::uint64_t> Number(const std::wstring& text, size_t skip, int base) {
    if (text.size() <= skip) return std::nullopt;
    wchar_t* end = nullptr;
    const unsigned long long value = std::wcstoull(text.c_str() + skip, &end, base);
    if (*end != L'\0' || !std::iswxdigit(text[skip])) return std::nullopt;
    return value;
}

}  // namespace

std::optional<CControlTable> CControlTable::FromPages(std::span<const CVariantHolder> pages) {
    CControlTable table;
    std::map<std::wstring, size_t> perClass;
    for (const CVariantHolder& page : pages) {
        const VARIANT& list = page.Get();
        if (list.vt != (VT_ARRAY | VT_VARIANT) || list.parray == nullptr ||
            SafeArrayGetDim(list.parray) != 1) {
            return std::nullopt;
        }
        const ULONG count = list.parray->rgsabound[0].cElements;
        if (count % vask::kControlFields != 0) return std::nullopt;
        VARIANT* values = nullptr;
        if (FAILED(SafeArrayAccessData(list.parray, reinterpret_cast<void**>(&values)))) {
            return std::nullopt;
        }
        for (ULONG i = 0; i < count; i += vask::kControlFields) {
            std::optional<Control> control = ReadControl(values + i);
            if (!control) {
                SafeArrayUnaccessData(list.parray);
                return std::nullopt;
            }
            std::wstring key = control->className;
            for (wchar_t& c : key) c = static_cast<wchar_t>(std::towlower(c));
            control->name = control->className + L"[" + std::to_wstring(perClass[key]++) + L"]";
            table.controls_.push_back(std::move(*control));
        }
        SafeArrayUnaccessData(list.parray);
    }
    return table;
}

std::optional<CControlTable> CControlTable::FromList(const VARIANT& list) {
    CVariantHolder copy;
    if (FAILED(VariantCopy(&copy.Get(), const_cast<VARIANT*>(&list)))) return std::nullopt;
    return FromPages({&copy, 1});
}

const Control* CControlTable::Find(const Token& name) const {
    const std::wstring& text = name.text;
    if (!name.quoted) {
        const auto window = text.rfind(L"0x", 0) == 0 ? Number(text, 2, 16) : std::nullopt;
        const auto id = text.rfind(L"#", 0) == 0 ? Number(text, 1, 10) : std::nullopt;
        const bool classIndex = IsClassIndex(text);
        for (const Control& control : controls_) {
            if ((window && control.window == *window) ||
                (id && static_cast<std::uint64_t>(static_cast<ULONG>(control.id)) == *id) ||
                (classIndex && SameText(control.name, text))) {
                return &control;
            }
        }
        if (window || id || classIndex) return nullptr;
    }
    for (const Control& control : controls_) {
        if (control.text == text || WithoutMnemonics(control.text) == text) return &control;
    }
    return nullptr;
}

const Control* CControlTable::FindWindow(std::uint64_t window) const {
    for (const Control& control : controls_) {
        if (control.window == window) return &control;
    }
    return nullptr;
}

}  // namespace tarnwick::host
