#pragma once
// The subscription table of a service: ReturnAddressRecord -> event name -> event proxy,
// each filed proxy holding one reference, all access under the collection mutex.

#include <windows.h>

#include <map>

#include "ieventcollection.h"
#include "remoting/cmutex.h"

namespace tarnwick {

class CEventCollection final : public IEventCollection {
public:
    CEventCollection();
    CEventCollection(const CEventCollection&) = delete;
    CEventCollection& operator=(const CEventCollection&) = delete;
    // Proxies still filed are not released: they may belong to a host that is gone.
    ~CEventCollection() = default;

    bool HasSubscriber(const ReturnAddressRecord* key, const wchar_t* eventName) override;
    IIpcInvoke* GetSubscriber(const ReturnAddressRecord* key, const wchar_t* eventName) override;
    TargetKey GetProxyTargetKey(IIpcInvoke* proxy) override;
    void AddSubscriber(const ReturnAddressRecord* key, CBstrHolder eventName,
                       IIpcInvoke* proxy) override;
    void RemoveSubscriber(const ReturnAddressRecord* key, CBstrHolder eventName) override;

    size_t KeyCount() const;

private:
    // P, then B, T and O, each unsigned.
    struct KeyLess {
        bool operator()(const ReturnAddressRecord& a, const ReturnAddressRecord& b) const;
    };
    // Code unit by code unit over the shorter length, then the shorter first; case counts.
    struct NameLess {
        bool operator()(const CBstrHolder& a, const CBstrHolder& b) const;
    };
    using Names = std::map<CBstrHolder, IIpcInvoke*, NameLess>;

    IIpcInvoke* LookUp(const ReturnAddressRecord* key, const wchar_t* eventName) const;

    std::map<ReturnAddressRecord, Names, KeyLess> subscriptions_;
    CMutex mutex_;
};

}  // namespace tarnwick
