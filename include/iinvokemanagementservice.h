#pragma once
// The invoke management service that a host obtains from a factory, the host's notification
// that receives what arrives from the peer, and the 16-byte record that the transports carry.
//
// The order of the virtual operations is the order of the slots that hosts call: never
// reorder them. Neither class is destroyed through these interfaces: the module owns its
// services, and the host owns its notification.

#include <windows.h>

#include <cstdint>

#include "imessagebase.h"
#include "iinvokewait.h"
#include "tarnwickapi.h"

namespace tarnwick {

class IEventCollection;
class IIpcErrorInfo;

// What a transport carries: the magic, the handle of the message's shared-memory block and
// a tag (30 on a raised-event call, 0 on a reply).
struct InvokeRecord {
    std::uint64_t Magic;
    std::uint32_t Block;
    std::uint32_t Tag;
};
static_assert(sizeof(InvokeRecord) == 16);

inline constexpr std::uint64_t kInvokeRecordMagic = 0xABCD;
inline constexpr std::uint32_t kInvokeRecordCallTag = 30;
inline constexpr std::uint32_t kInvokeRecordReplyTag = 0;

class TARNWICK_API IInvokeManagementService {
  public:
    // Defined in the library, so that hosts import them.
    IInvokeManagementService() noexcept;
    IInvokeManagementService(const IInvokeManagementService&) noexcept;
    IInvokeManagementService(IInvokeManagementService&&) noexcept;
    IInvokeManagementService& operator=(const IInvokeManagementService&) noexcept;
    IInvokeManagementService& operator=(IInvokeManagementService&&) noexcept;

    // Sends the event and answers the wait on which the caller blocks until the return has
    // been written into the message. The caller keeps the message alive and hands the wait
    // back with ReleaseWait. A target of 0 is derived from the message's return address.
    virtual IInvokeWait* SendRaiseEvent(IRaiseEventMessage* message, std::uint64_t target) = 0;
    virtual void ReleaseWait(IInvokeWait* wait) = 0;
    virtual IEventCollection* GetEventCollection() = 0;
    virtual IIpcErrorInfo* GetIpcErrorInfo() = 0;

  protected:
    ~IInvokeManagementService() = default;
};

// Implemented by the host. In the first three slots the host performs the call or records
// the subscription and sets the message's outcome; the message is valid only during the call.
class TARNWICK_API IInvokeNotification {
  public:
    // Defined in the library, so that hosts import them.
    IInvokeNotification() noexcept;
    IInvokeNotification(const IInvokeNotification&) noexcept;
    IInvokeNotification(IInvokeNotification&&) noexcept;
    IInvokeNotification& operator=(const IInvokeNotification&) noexcept;
    IInvokeNotification& operator=(IInvokeNotification&&) noexcept;

    // The results of the first three slots are ignored.
    virtual int OnMethodCall(IMethodCallMessage* message) = 0;
    virtual int OnEventSubscription(IEventSubscriptionMessage* message) = 0;
    virtual int OnEventUnsubscription(IEventUnsubscriptionMessage* message) = 0;
    // The target of a call from the O value of its return address.
    virtual std::uint64_t ResolveTarget(std::uint64_t o) = 0;

  protected:
    ~IInvokeNotification() = default;
};

}  // namespace tarnwick
