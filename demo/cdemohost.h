#pragma once
// The demo target's side of remoting, as a host of the library implements it: a button with
// a caption and a Click event. It files the peer's subscriptions in the service's event
// collection, answers the peer's calls and raises Click towards the subscriber.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "ctranscript.h"
#include "iinvokemanagementservice.h"

namespace tarnwick::demo {

class CDemoHost final : public IInvokeNotification {
  public:
    enum class RaiseOutcome { NoSubscriber, Cancelled, Allowed, NoAnswer };

    explicit CDemoHost(CTranscript& out) : out_(out) {}

    // The service that this host is the notification of; set before the peer is let in.
    void SetService(IInvokeManagementService* service) noexcept { service_ = service; }

    int OnMethodCall(IMethodCallMessage* message) override;
    int OnEventSubscription(IEventSubscriptionMessage* message) override;
    int OnEventUnsubscription(IEventUnsubscriptionMessage* message) override;
    std::uint64_t ResolveTarget(std::uint64_t o) override { return o; }

    // Raises Click with the caption and the click's number, blocking until the subscriber
    // answered, and prints what became of it.
    RaiseOutcome RaiseClick(int number);

    int CallsAnswered() const noexcept { return calls_; }

  private:
    void Add(IMethodCallMessage& message);
    void Caption(IMethodCallMessage& message);
    void Divide(IMethodCallMessage& message);
    void Open(IMethodCallMessage& message);

    CTranscript& out_;
    std::atomic<IInvokeManagementService*> service_{nullptr};
    // Only the peer's requests touch it, and they arrive one at a time.
    std::wstring caption_ = L"OK";
    std::atomic<int> calls_{0};
};

}  // namespace tarnwick::demo
