#pragma once
// What both transports share: raising events towards the peer with a wait per call, and
// routing every record that arrives from the peer by the kind of its block.

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>

#include "iinvokemanagementservice.h"
#include "ireturnaddress.h"
#include "messages/ipeerpresence.h"
#include "messages/sharedmemory.h"
#include "remoting/ceventcollection.h"
#include "remoting/ccriticalsection.h"
#include "remoting/cthreadboundstorage.h"

namespace tarnwick {

class CMethodCallMessage;
class CInvokeMessageBase;

class CInvokeManagementServiceBase : public IInvokeManagementService, public IPeerPresence {
  public:
    // The notification may be null; it is never owned.
    explicit CInvokeManagementServiceBase(IInvokeNotification* notification);
    CInvokeManagementServiceBase(const CInvokeManagementServiceBase&) = delete;
    CInvokeManagementServiceBase& operator=(const CInvokeManagementServiceBase&) = delete;

    IInvokeWait* SendRaiseEvent(IRaiseEventMessage* message, std::uint64_t target) override;
    void ReleaseWait(IInvokeWait* wait) override;
    IEventCollection* GetEventCollection() override { return &events_; }
    IIpcErrorInfo* GetIpcErrorInfo() override { return &errors_; }

    // The transport's slots.
    virtual const wchar_t* GetAddress(std::wstring& buffer) = 0;
    virtual void SetReturnAddress(IReturnAddress* address) = 0;
    // 0 when the call record was sent.
    virtual int SendInvoke(InvokeRecord* record, IInvokeWait* wait, std::uint64_t target) = 0;
    // Non-zero when the reply record was sent.
    virtual int SendReply(InvokeRecord* record) = 0;
    // 0 when a reply came into *reply.
    virtual int SendAndReceive(InvokeRecord* record, InvokeRecord* reply, std::uint64_t target) = 0;

    // Services are destroyed by the module only. Waits still pending are not destroyed.
    virtual ~CInvokeManagementServiceBase() = default;

    // Asked only by a raise that has waited a while; false unless the transport can tell.
    bool PeerEnded() override { return false; }

    // Handles one record from the peer. 1 when a reply was written and the record rewritten in
    // place into the reply record; 0 otherwise. The record's block is freed in every case.
    int ProcessMessage(InvokeRecord* record) { return ProcessMessage(record, 0); }
    // The same for a record that arrived in a block of its own, `envelope`, which the
    // transport keeps open meanwhile.
    int ProcessMessage(InvokeRecord* record, std::uint32_t envelope);

    // Receives and, when ProcessMessage made a reply, sends it back with SendReply.
    void ReceiveAndReply(InvokeRecord* record);

    size_t PendingCallCount() const;

    // The process-wide call-id counter: starts at 1, shared by every service.
    static Cookie NextCallId() noexcept;

  protected:
    IInvokeNotification* Notification() const { return notification_; }
    const CCriticalSection& ServiceGuard() const { return guard_; }

  private:
    std::uint64_t DeriveTarget(IRaiseEventMessage& message) const;
    // Hands the opened block on by its kind; 1 when a reply was written.
    int Route(InvokeRecord* record, std::span<std::uint8_t> block);
    void DeliverReturn(std::span<std::uint8_t> block, const CReceivedBlocks& held);
    int HandleMethodCall(CMethodCallMessage& message, InvokeRecord* record,
                         std::span<std::uint8_t> block);
    int Reply(CInvokeMessageBase& message, InvokeRecord* record, std::span<std::uint8_t> block);

    std::unordered_map<Cookie, IInvokeWait*> pending_;
    // Held by raises across the transport's send, and by releases.
    CCriticalSection guard_;
    // The pending-call table's own: taken inside guard_ by raises and releases, and alone by
    // a return's delivery, which so never waits for a send that is still under way (a quick
    // peer answers before the raiser's post has returned).
    CCriticalSection tableGuard_;
    IInvokeNotification* notification_;
    CEventCollection events_;
    CThreadBoundStorage errors_;
};

}  // namespace tarnwick
