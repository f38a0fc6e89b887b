#pragma once
// The invoke management service over window messages to one known window of the peer. A call
// is one SendMessageW: the peer writes its reply record into the call's 16-byte block before
// the send returns, so the return is delivered synchronously.

#include <windows.h>

#include <cstdint>
#include <string>

#include "iwindowsmessageinvoke.h"
#include "remoting/cinvokemanagementservicebase.h"

namespace tarnwick {

class CWindowsMessageInvokeManagementService final : public CInvokeManagementServiceBase,
                                                     public IWindowsMessageInvoke {
  public:
    CWindowsMessageInvokeManagementService(HWND peerWindow, IInvokeNotification* notification);
    CWindowsMessageInvokeManagementService(const CWindowsMessageInvokeManagementService&) = delete;
    CWindowsMessageInvokeManagementService& operator=(
        const CWindowsMessageInvokeManagementService&) = delete;
    ~CWindowsMessageInvokeManagementService() override = default;

    // "HWND:%08X" with the low 32 bits of the peer window.
    const wchar_t* GetAddress(std::wstring& buffer) override;
    // Replies come back in the call's own block: nothing to remember.
    void SetReturnAddress(IReturnAddress* address) override;
    // S_OK when the return was delivered into the wait's message, else E_FAIL. The wait is
    // signalled in every case.
    int SendInvoke(InvokeRecord* record, IInvokeWait* wait, std::uint64_t target) override;
    int SendReply(InvokeRecord* record) override;
    // 0: a reply came into *reply; 1: no block, or the peer did not take the message;
    // 2: the peer did not answer with a reply.
    int SendAndReceive(InvokeRecord* record, InvokeRecord* reply, std::uint64_t target) override;

    std::uint64_t ProcessWindowMessage(std::uint32_t block) override;

    HWND PeerWindow() const { return peerWindow_; }

  private:
    UINT message_ = kInvokeWindowMessage;
    HWND peerWindow_;
};

}  // namespace tarnwick
