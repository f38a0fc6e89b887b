#pragma once
// The automation target's side of the benchmark: an invoke notification that files the
// proxy of each subscription in its service's event collection, and raises the subscribed
// event through that proxy as a hooked control would.

#include <windows.h>

#include "iinvokemanagementservice.h"
#include "messagetypes.h"

namespace tarnwick::bench {

class CBenchHost final : public IInvokeNotification {
  public:
    // The event that every peer subscribes to and the host raises.
    static constexpr const wchar_t* kEventName = L"Click";

    CBenchHost() = default;
    CBenchHost(const CBenchHost&) = delete;
    CBenchHost& operator=(const CBenchHost&) = delete;
    ~CBenchHost() = default;

    // The service whose collection the subscriptions go to; set before any peer starts.
    void SetService(IInvokeManagementService* service) noexcept { service_ = service; }
    IInvokeManagementService* Service() const noexcept { return service_; }
    // The return address of the last subscription.
    const ReturnAddressRecord& Address() const noexcept { return address_; }

    // One raise of the event with one integer argument: looks the subscriber up, invokes
    // it, and answers whether the peer's answer (VARIANT_TRUE) came back.
    bool Raise(int value);

    int OnMethodCall(IMethodCallMessage* message) override;
    int OnEventSubscription(IEventSubscriptionMessage* message) override;
    int OnEventUnsubscription(IEventUnsubscriptionMessage* message) override;
    std::uint64_t ResolveTarget(std::uint64_t o) override { return o; }

  private:
    IInvokeManagementService* service_ = nullptr;
    ReturnAddressRecord address_{};
};

}  // namespace tarnwick::bench
