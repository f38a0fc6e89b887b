#include "messages/creturnaddress.h"

#include <cwchar>

namespace tarnwick {
namespace {

constexpr const wchar_t* kAddressFormat = L"O=%llX|T=%llX|B=%llX|P=%llX";
constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};

}  // namespace

CReturnAddress::CReturnAddress(const wchar_t* text) : text_(text) {}

BSTR& CReturnAddress::GetAddressText() { return text_.GetBSTR(); }

const wchar_t* FormatReturnAddress(const ReturnAddressRecord& record, std::wstring& text) {
    FormatReturnAddressValues(text, record.O, record.T, record.B, record.P);
    return text.c_str();
}

int FormatReturnAddressValues(std::wstring& text, std::uint64_t o, std::uint64_t t, std::uint64_t b,
                              std::uint64_t p) {
    const int measured = _scwprintf(kAddressFormat, o, t, b, p);
    if (measured < 1) return measured;
    const size_t room = static_cast<size_t>(measured) + 1;
    text.resize(room);
    const int written = _snwprintf_s(text.data(), room, _TRUNCATE, kAddressFormat, o, t, b, p);
    text.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return written;
}

bool IsNullReturnAddress(const ReturnAddressRecord& record) noexcept {
    return record.B == kAllOnes && record.T == kAllOnes;
}

}  // namespace tarnwick
