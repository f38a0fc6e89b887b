#pragma once
// The receiving side of the window-message transport. The host's window procedure hands each
// arriving message 0x8007 to the service that serves the window, and answers 0xABAB to the
// sender when this returns non-zero, any other value otherwise.

#include <windows.h>

#include <cstdint>

#include "imessagebase.h"
#include "tarnwickapi.h"

namespace tarnwick {

// The window message that carries records, in both directions.
inline constexpr UINT kInvokeWindowMessage = 0x8007;  // WM_APP + 7
// What the receiving window procedure answers once the reply record is in the block.
inline constexpr LRESULT kInvokeWindowMessageReplied = 0xABAB;

class TARNWICK_API IWindowsMessageInvoke {
    TARNWICK_INTERFACE_SPECIAL_MEMBERS(IWindowsMessageInvoke)
    // The message's lParam: the handle of a 16-byte block holding an InvokeRecord. Non-zero
    // when a reply record has been written into that block.
    virtual std::uint64_t ProcessWindowMessage(std::uint32_t block) = 0;
};

}  // namespace tarnwick
