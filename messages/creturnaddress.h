#pragma once
// The return-address message: the peer's text naming where replies go.

#include "cbstrholder.h"
#include "ireturnaddress.h"

namespace tarnwick {

class CReturnAddress final : public IReturnAddress {
public:
    explicit CReturnAddress(const wchar_t* text);
    CReturnAddress(const CReturnAddress&) = delete;
    CReturnAddress& operator=(const CReturnAddress&) = delete;
    ~CReturnAddress() = default;

    void Reserved() override {}
    BSTR& GetAddressText() override;

private:
    CBstrHolder text_;
};

}  // namespace tarnwick
