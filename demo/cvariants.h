#pragma once
// A fixed number of VARIANTs, in one array as calls and raises take them, cleared when their
// owner goes; and the values the demo sends.

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace tarnwick::demo {

template <int Count>
struct CVariants {
    VARIANT values[Count];

    CVariants() noexcept {
        for (VARIANT& value : values) VariantInit(&value);
    }
    CVariants(const CVariants&) = delete;
    CVariants& operator=(const CVariants&) = delete;
    ~CVariants() {
        for (VARIANT& value : values) VariantClear(&value);
    }
};

inline VARIANT MakeI4(LONG number) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = number;
    return value;
}

inline VARIANT MakeBool(bool flag) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BOOL;
    value.boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
    return value;
}

// VT_EMPTY when the text cannot be allocated.
inline VARIANT MakeString(const std::wstring& text) {
    VARIANT value;
    VariantInit(&value);
    value.bstrVal = SysAllocString(text.c_str());
    if (value.bstrVal != nullptr) value.vt = VT_BSTR;
    return value;
}

}  // namespace tarnwick::demo
