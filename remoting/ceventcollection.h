#pragma once
// The subscription table of a service: ReturnAddressRecord -> event name -> event proxy,
// each filed proxy holding one reference, all access under the collection mutex.

#include <windows.h>

#include <map>
#include <string_view>

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
    // Transparent, so a lookup compares the caller's text without allocating a BSTR.
    struct NameLess {
        using is_transparent = void;
        static std::wstring_view View(const CBstrHolder& name) {
            return {name.Get() != nullptr ? name.Get() : L"", name.Length()};
        }
        bool operator()(std::wstring_view a, std::wstring_view b) const { return a < b; }
        bool operator()(const CBstrHolder& a, const CBstrHolder& b) const {
            return View(a) < View(b);
        }
        bool operator()(const CBstrHolder& a, std::wstring_view b) const { return View(a) < b; }
        bool operator()(std::wstring_view a, const CBstrHolder& b) const { return a < View(b); }
    };
    using Names = std::map<CBstrHolder, IIpcInvoke*, NameLess>;

    IIpcInvoke* LookUp(const ReturnAddressRecord* key, const wchar_t* eventName) const;

    std::map<ReturnAddressRecord, Names, KeyLess> subscriptions_;
    CMutex mutex_;
};

}  // namespace tarnwick
