#pragma once
// The subscription table of a service: ReturnAddressRecord -> event name -> event proxy,
// each filed proxy holding one reference, all access under the collection guard.
//
// A lookup first asks a filter that it reads without the guard: a bit set with two bits for
// each filed (key, name). A pair whose bits are not all set has no subscriber, so the common
// miss of a hooked message takes no lock. Bits are set under the guard before an add
// returns, and after a removal the filter is rebuilt from what is left, word by word: a
// reader may see old and new words mixed, but every filed pair has its bits in both.

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <string_view>

#include "ieventcollection.h"
#include "remoting/ccriticalsection.h"

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

    static constexpr size_t kFilterWords = 16;
    static constexpr std::uint32_t kFilterBits = kFilterWords * 64;
    static std::uint64_t Hash(const ReturnAddressRecord& key, std::wstring_view name);
    // The pair's two bits of the filter.
    static std::array<std::uint32_t, 2> Bits(const ReturnAddressRecord& key,
                                             std::wstring_view name);
    static std::uint64_t Mask(std::uint32_t bit) { return std::uint64_t{1} << (bit % 64); }
    // False only when the pair is surely not filed; takes no lock.
    bool MayHold(const ReturnAddressRecord& key, std::wstring_view name) const;
    // Under the guard: sets the pair's bits, or recomputes every word from the table.
    void FilterAdd(const ReturnAddressRecord& key, std::wstring_view name);
    void FilterRebuild();

    std::map<ReturnAddressRecord, Names, KeyLess> subscriptions_;
    std::array<std::atomic<std::uint64_t>, kFilterWords> filter_{};
    CCriticalSection guard_;
};

}  // namespace tarnwick
