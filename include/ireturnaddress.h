#pragma once
// The peer's announcement of where replies go: a text that the library keeps but never reads.

#include <windows.h>
#include <ole2.h>

#include "imessagebase.h"
#include "tarnwickapi.h"

namespace tarnwick {

class TARNWICK_API IReturnAddress : public IMessageBase {
    TARNWICK_INTERFACE_SPECIAL_MEMBERS(IReturnAddress)
    // The held BSTR itself; a holder without a buffer gets one with a null BSTR first.
    virtual BSTR& GetAddressText() = 0;
};

}  // namespace tarnwick
