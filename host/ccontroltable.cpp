#include "ccontroltable.h"

#include <algorithm>
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

bool SameText(const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

HWND AsWindow(std::uint64_t handle) { return reinterpret_cast<HWND>(handle); }

std::optional<Control> ReadControl(const VARIANT* fields) {
    const auto window = Integer(fields[kWindow]), parent = Integer(fields[kParent]),
               id = Integer(fields[kId]), translator = Integer(fields[kTranslator]),
               owner = Integer(fields[kOwner]);
    if (!window || !parent || !id || !translator || !owner) return std::nullopt;
    Control control{static_cast<std::uint64_t>(*window),
                    static_cast<std::uint64_t>(*parent),
                    static_cast<LONG>(*id),
                    Text(fields[kClass]),
                    KindOf(Text(fields[kInterfaceType])),
                    Text(fields[kText]),
                    static_cast<std::uint64_t>(*translator),
                    static_cast<std::uint64_t>(*owner),
                    {}};
    // Window handles are system-wide: the host reads the rest itself.
    const HWND handle = AsWindow(control.window);
    control.top = reinterpret_cast<std::uint64_t>(GetAncestor(handle, GA_ROOT));
    control.hidden = !IsWindowVisible(handle);
    if (SameText(control.className, L"Button") &&
        (GetWindowLongW(handle, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX) {
        control.typeName = L"GroupBox";
    }
    return control;
}

// Groups the controls by top-level window, in the order the windows came, those without an
// owner first: a dialog that opens does not change the names in the main window.
void GroupByWindow(std::vector<Control>& controls) {
    std::vector<std::uint64_t> tops;
    for (const Control& control : controls) {
        if (std::find(tops.begin(), tops.end(), control.top) == tops.end()) {
            tops.push_back(control.top);
        }
    }
    std::stable_partition(tops.begin(), tops.end(), [](std::uint64_t top) {
        return GetWindow(AsWindow(top), GW_OWNER) == nullptr;
    });
    std::stable_sort(controls.begin(), controls.end(), [&](const Control& a, const Control& b) {
        return std::find(tops.begin(), tops.end(), a.top) <
               std::find(tops.begin(), tops.end(), b.top);
    });
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

std::optional<CControlTable> CControlTable::FromPages(std::span<const CVariantHolder> pages,
                                                      HWND scope) {
    CControlTable table;
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
            if (scope == nullptr || AsWindow(control->top) == scope) {
                table.controls_.push_back(std::move(*control));
            }
        }
        SafeArrayUnaccessData(list.parray);
    }
    GroupByWindow(table.controls_);
    std::map<std::wstring, size_t> perClass;
    for (Control& control : table.controls_) {
        std::wstring key = control.className;
        for (wchar_t& c : key) c = static_cast<wchar_t>(std::towlower(c));
        control.name = control.className + L"[" + std::to_wstring(perClass[key]++) + L"]";
    }
    return table;
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
        if (SameText(control.text, text) || SameText(WithoutMnemonics(control.text), text)) {
            return &control;
        }
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
