#include "cvaluetext.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <limits>
#include <optional>

namespace tarnwick::host {
namespace {

constexpr VARTYPE kNumberTypes[] = {VT_I1,  VT_I2,  VT_I4,   VT_I8, VT_INT, VT_UI1, VT_UI2,
                                    VT_UI4, VT_UI8, VT_UINT, VT_R4, VT_R8,  VT_CY,  VT_DECIMAL};

bool IsNumber(VARTYPE type) {
    return std::find(std::begin(kNumberTypes), std::end(kNumberTypes), type) !=
           std::end(kNumberTypes);
}

// Element types whose values sit at the start of a VARIANT's data, as SafeArrayGetElement
// copies them.
bool IsPlainElement(VARTYPE type) {
    return type == VT_VARIANT || type == VT_BSTR || type == VT_BOOL ||
           (IsNumber(type) && type != VT_DECIMAL);
}

std::wstring AsText(const VARIANT& value) {
    CVariantHolder text;
    if (FAILED(VariantChangeTypeEx(&text.Get(), const_cast<VARIANT*>(&value), LOCALE_INVARIANT, 0,
                                   VT_BSTR)) ||
        text.Get().bstrVal == nullptr) {
        return L"(a value of type " + std::to_wstring(value.vt) + L")";
    }
    return text.Get().bstrVal;
}

// The handle a node or control record stands for, as a VT_I8 (VT_EMPTY for another record).
CVariantHolder RecordHandle(const VARIANT& value, bool& node) {
    CVariantHolder handle;
    IRecordInfo* info = V_RECORDINFO(&value);
    if (info == nullptr || V_RECORD(&value) == nullptr) return handle;
    for (const wchar_t* field : {L"ItemHandle", L"WindowHandle"}) {
        if (SUCCEEDED(info->GetField(V_RECORD(&value), field, &handle.Get()))) {
            node = std::wstring(field) == L"ItemHandle";
            return handle;
        }
        VariantClear(&handle.Get());
    }
    return handle;
}

// Calls each(element) for the elements of a one-dimensional array of plain values; false for
// any other array.
template <typename Each>
bool ForEachElement(const VARIANT& value, Each each) {
    SAFEARRAY* array = value.parray;
    const VARTYPE type = value.vt & VT_TYPEMASK;
    if (array == nullptr || SafeArrayGetDim(array) != 1 || !IsPlainElement(type)) return false;
    LONG low = 0, high = -1;
    SafeArrayGetLBound(array, 1, &low);
    SafeArrayGetUBound(array, 1, &high);
    for (LONG i = low; i <= high; ++i) {
        CVariantHolder element;
        if (type != VT_VARIANT) element.Get().vt = type;
        void* slot = type == VT_VARIANT ? static_cast<void*>(&element.Get())
                                        : static_cast<void*>(&element.Get().llVal);
        if (FAILED(SafeArrayGetElement(array, &i, slot))) VariantInit(&element.Get());
        each(element.Get());
    }
    return true;
}

std::optional<std::uint64_t> Unsigned(const std::wstring& digits, int base) {
    if (digits.empty() || !std::iswxdigit(digits.front())) return std::nullopt;
    wchar_t* end = nullptr;
    errno = 0;
    const unsigned long long number = std::wcstoull(digits.c_str(), &end, base);
    if (*end != L'\0' || errno == ERANGE) return std::nullopt;
    return number;
}

// A decimal or "0x" hex integer, with an optional leading minus.
std::optional<std::int64_t> Integer(const std::wstring& text) {
    const bool negative = text.rfind(L"-", 0) == 0;
    const std::wstring body = text.substr(negative ? 1 : 0);
    const bool hex = body.size() > 2 && (body.rfind(L"0x", 0) == 0 || body.rfind(L"0X", 0) == 0);
    const auto magnitude = Unsigned(hex ? body.substr(2) : body, hex ? 16 : 10);
    const std::uint64_t decimalLimit = negative ? 1ull << 63 : (1ull << 63) - 1;
    if (!magnitude || (!hex && *magnitude > decimalLimit)) return std::nullopt;
    return static_cast<std::int64_t>(negative ? 0 - *magnitude : *magnitude);
}

}  // namespace

CVariantHolder CValueText::Parse(const Token& word, VARTYPE declared) {
    CVariantHolder holder;
    VARIANT& value = holder.Get();
    const bool text = word.quoted || declared == VT_BSTR;
    const bool boolean = !text && (declared == VT_BOOL || declared == VT_VARIANT);
    const std::optional<std::int64_t> number = text ? std::nullopt : Integer(word.text);
    if (number && *number >= std::numeric_limits<LONG>::min() &&
        *number <= std::numeric_limits<LONG>::max()) {
        value.vt = VT_I4;
        value.lVal = static_cast<LONG>(*number);
    } else if (number) {
        value.vt = VT_I8;
        value.llVal = *number;
    } else if (boolean && (word.text == L"true" || word.text == L"false")) {
        value.vt = VT_BOOL;
        value.boolVal = word.text == L"true" ? VARIANT_TRUE : VARIANT_FALSE;
    } else {
        value.bstrVal = SysAllocStringLen(word.text.data(), static_cast<UINT>(word.text.size()));
        if (value.bstrVal != nullptr) value.vt = VT_BSTR;
    }
    return holder;
}

std::wstring CValueText::Format(const VARIANT& value, const NodeNamer& nodes) {
    if ((value.vt & VT_ARRAY) != 0) {
        std::wstring text;
        const bool plain = ForEachElement(value, [&](const VARIANT& element) {
            text += (text.empty() ? L"" : L", ") + Format(element, nodes);
        });
        return plain ? L"[" + text + L"]" : L"(array)";
    }
    if (value.vt == VT_I8 && nodes) {
        if (const auto path = nodes(static_cast<std::uint64_t>(value.llVal))) return L"node:" + *path;
    }
    switch (value.vt) {
        case VT_EMPTY:
            return L"empty";
        case VT_NULL:
            return L"null";
        case VT_UNKNOWN:
        case VT_DISPATCH:
            return value.punkVal == nullptr ? L"nothing" : L"\"(object)\"";
        case VT_BOOL:
            return value.boolVal != VARIANT_FALSE ? L"true" : L"false";
        case VT_BSTR:
            return Quote(value.bstrVal != nullptr ? value.bstrVal : L"");
        case VT_RECORD: {
            bool node = false;
            const CVariantHolder handle = RecordHandle(value, node);
            return handle.Get().vt == VT_EMPTY ? L"record"
                                               : Format(handle.Get(), node ? nodes : NodeNamer{});
        }
        case VT_ERROR:
            return L"error " + std::to_wstring(value.scode);
        default:
            return IsNumber(value.vt) ? AsText(value) : Quote(AsText(value));
    }
}

Json CValueText::ToJson(const VARIANT& value) {
    if ((value.vt & VT_ARRAY) != 0) {
        Json array = Json::array();
        const bool plain =
            ForEachElement(value, [&](const VARIANT& element) { array.push_back(ToJson(element)); });
        return plain ? array : Json(nullptr);
    }
    switch (value.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return nullptr;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            return value.punkVal == nullptr ? Json(nullptr) : Json("(object)");
        case VT_BOOL:
            return value.boolVal != VARIANT_FALSE;
        case VT_BSTR:
            return Utf8(value.bstrVal != nullptr ? value.bstrVal : L"");
        case VT_RECORD: {
            bool node = false;
            const CVariantHolder handle = RecordHandle(value, node);
            return ToJson(handle.Get());
        }
        case VT_ERROR:
            return static_cast<std::int64_t>(value.scode);
        case VT_I1: case VT_I2: case VT_I4: case VT_INT: case VT_I8: {
            CVariantHolder wide;
            if (FAILED(VariantChangeType(&wide.Get(), const_cast<VARIANT*>(&value), 0, VT_I8)))
                return nullptr;
            return static_cast<std::int64_t>(wide.Get().llVal);
        }
        case VT_UI1: case VT_UI2: case VT_UI4: case VT_UINT: case VT_UI8: {
            CVariantHolder wide;
            if (FAILED(VariantChangeType(&wide.Get(), const_cast<VARIANT*>(&value), 0, VT_UI8)))
                return nullptr;
            return static_cast<std::uint64_t>(wide.Get().ullVal);
        }
        default: {
            CVariantHolder real;
            if (IsNumber(value.vt) &&
                SUCCEEDED(VariantChangeType(&real.Get(), const_cast<VARIANT*>(&value), 0, VT_R8)))
                return real.Get().dblVal;
            return Utf8(AsText(value));
        }
    }
}

std::wstring CValueText::Quote(const std::wstring& text) {
    return Wide(Json(Utf8(text)).dump(-1, ' ', false, Json::error_handler_t::replace));
}

std::wstring CValueText::Hex(std::uint64_t value) {
    wchar_t text[24] = {};
    std::swprintf(text, std::size(text), L"0x%llX", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace tarnwick::host
