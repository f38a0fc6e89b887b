#pragma once
// The invoke management service over named IPC record queues. This side owns one receive
// queue; records go to the peer's queue, whose name arrives in a return-address message.
// Calls are asynchronous: their returns come back as records of their own on this queue.

#include <windows.h>

#include <cstdint>
#include <string>

#include "cbstrholder.h"
#include "remoting/cinvokemanagementservicebase.h"

namespace tarnwick {

class CLpcInvokeManagementService final : public CInvokeManagementServiceBase {
  public:
    // Takes over queueName (a BSTR freed when the service goes) and creates the queue.
    CLpcInvokeManagementService(BSTR queueName, IInvokeNotification* notification);
    CLpcInvokeManagementService(const CLpcInvokeManagementService&) = delete;
    CLpcInvokeManagementService& operator=(const CLpcInvokeManagementService&) = delete;
    // Destroys the queue first, so that no record arrives during the rest of destruction.
    ~CLpcInvokeManagementService() override;

    const wchar_t* GetAddress(std::wstring& buffer) override;
    void SetReturnAddress(IReturnAddress* address) override;
    // Posts the record; the return comes back through the queue. A post that fails (no peer
    // queue announced yet, or the peer gone) is reported as a failure and wakes the caller's
    // wait at once, so that the call's blocks are freed and the raise does not hang. The
    // caller holds the service guard, as SendRaiseEvent does.
    int SendInvoke(InvokeRecord* record, IInvokeWait* wait, std::uint64_t target) override;
    int SendReply(InvokeRecord* record) override;
    // Synchronous exchanges do not exist on queues: always 1.
    int SendAndReceive(InvokeRecord* record, InvokeRecord* reply, std::uint64_t target) override;

    // Whether no running process serves the peer's queue any more. The queue library tells
    // that only by refusing to create a queue of that name while its owner runs: a name it
    // lets this process create is released again at once.
    bool PeerEnded() override;

    // The queue library's receive callback; the context is the service.
    static void Receive(void* reserved, void* context, const void* data, std::uint32_t size);

    std::wstring PeerQueueName() const;

  private:
    CBstrHolder ownName_;
    CBstrHolder peerName_;
};

}  // namespace tarnwick
