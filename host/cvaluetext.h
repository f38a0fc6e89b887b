#pragma once
// Values between the command line and VARIANTs: arguments as typed become VARIANTs, and
// results and event arguments become readable text or JSON.

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "ccommandline.h"
#include "common/cvariantholder.h"
#include "coutput.h"

namespace tarnwick::host {

// Names a tree node by its handle for readable output ("node:PATH"); none leaves the number.
using NodeNamer = std::function<std::optional<std::wstring>(std::uint64_t node)>;

class CValueText {
  public:
    // A value as the parameter declares it (VT_VARIANT: not known). A quoted word, any word
    // for a VT_BSTR parameter and any word that is no value of the declared type is a BSTR
    // (which the agent refuses where it cannot convert it). Else an integer (decimal, or hex
    // after "0x") is VT_I4, or VT_I8 when it does not fit in 32 bits, and true and false are
    // VT_BOOL where the parameter is a boolean or a VARIANT.
    static CVariantHolder Parse(const Token& word, VARTYPE declared = VT_VARIANT);
    // Readable: strings quoted, arrays as [a, b], booleans true/false, records as their
    // ItemHandle or WindowHandle field, VT_EMPTY as "empty". With a namer, 64-bit integers and
    // node records that it names print as "node:PATH".
    static std::wstring Format(const VARIANT& value, const NodeNamer& nodes = {});
    // The same value as JSON: VT_EMPTY is null, records their handle field, numbers numbers.
    static Json ToJson(const VARIANT& value);
    // The text in double quotes with JSON's escapes.
    static std::wstring Quote(const std::wstring& text);
    // "0x1A2B": window handles in JSON and in "list --handles".
    static std::wstring Hex(std::uint64_t value);
    static std::wstring Hex(HWND window) { return Hex(reinterpret_cast<std::uint64_t>(window)); }
};

}  // namespace tarnwick::host
