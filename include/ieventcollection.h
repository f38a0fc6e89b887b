#pragma once
// The subscriptions of a service: for each object (its ReturnAddressRecord) and event name,
// the event proxy of the subscriber.

#include <windows.h>

#include "cbstrholder.h"
#include "iipcinvoke.h"
#include "messagetypes.h"
#include "tarnwickapi.h"

namespace tarnwick {

class TARNWICK_API IEventCollection {
  public:
    IEventCollection() = default;
    IEventCollection(const IEventCollection&) = default;
    IEventCollection(IEventCollection&&) = default;
    IEventCollection& operator=(const IEventCollection&) = default;
    IEventCollection& operator=(IEventCollection&&) = default;

    virtual bool HasSubscriber(const ReturnAddressRecord* key, const wchar_t* eventName) = 0;
    // The subscriber's proxy with a reference for the caller, or null.
    virtual IIpcInvoke* GetSubscriber(const ReturnAddressRecord* key, const wchar_t* eventName) = 0;
    // The target key of a proxy made by this library (all zero for any other).
    virtual TargetKey GetProxyTargetKey(IIpcInvoke* proxy) = 0;
    // Files the proxy (with a reference of its own), replacing and releasing an earlier one.
    virtual void AddSubscriber(const ReturnAddressRecord* key, CBstrHolder eventName,
                               IIpcInvoke* proxy) = 0;
    virtual void RemoveSubscriber(const ReturnAddressRecord* key, CBstrHolder eventName) = 0;

  protected:
    ~IEventCollection() = default;
};

}  // namespace tarnwick
