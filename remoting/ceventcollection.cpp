#include "remoting/ceventcollection.h"

#include <cwchar>
#include <string>
#include <tuple>

#include "platform/vasklantern.h"
#include "messages/ceventproxy.h"
#include "trace/ctraceprovider.h"

namespace tarnwick {

namespace {

// {8A3C5E71-2D49-4B06-9E18-C7F4A2B65D03}
constexpr GUID kTraceGuid = {
    0x8a3c5e71, 0x2d49, 0x4b06, {0x9e, 0x18, 0xc7, 0xf4, 0xa2, 0xb6, 0x5d, 0x03}};

enum TracePoint : USHORT {
    kFirstSubscriberOfKey = 1,
    kProxyRefusedInterface,
    kNoSubscriber,
    kNotOurProxy,
};

// The support library's switches for the verbose "no subscriber" trace.
constexpr int kSupportTraceLevel = 40;
constexpr int kSupportTraceSource = 1024;

template <typename... Values>
void TraceAt(TraceLevel level, TracePoint point, const Values&... values) {
    Trace(kTraceGuid, level, kTraceFlagComponent, point, values...);
}

// The provider's own gate first: a miss is the common case on every hooked message, and the
// support library's checks cost a call each.
void TraceMiss(const ReturnAddressRecord* key, const wchar_t* eventName) {
    if (key != nullptr &&
        CTraceProvider::Module().IsEnabled(kTraceFlagComponent, TraceLevel::Verbose) &&
        IsTraceLevel(kSupportTraceLevel) && IsTraceSource(kSupportTraceSource)) {
        std::wstring text;
        TraceAt(TraceLevel::Verbose, kNoSubscriber, FormatReturnAddress(*key, text), eventName);
    }
}

}  // namespace

CEventCollection::CEventCollection() = default;

bool CEventCollection::KeyLess::operator()(const ReturnAddressRecord& a,
                                           const ReturnAddressRecord& b) const {
    return std::tie(a.P, a.B, a.T, a.O) < std::tie(b.P, b.B, b.T, b.O);
}

std::uint64_t CEventCollection::Hash(const ReturnAddressRecord& key, std::wstring_view name) {
    // FNV-1a over the four values and the name's code units, then a final mix so that both
    // bit indices depend on every input bit.
    std::uint64_t hash = 0xcbf29ce484222325ull;
    const auto add = [&hash](std::uint64_t value) {
        hash ^= value;
        hash *= 0x100000001b3ull;
    };
    for (const std::uint64_t value : {key.P, key.B, key.T, key.O}) add(value);
    for (const wchar_t unit : name) add(static_cast<std::uint16_t>(unit));
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdull;
    hash ^= hash >> 33;
    return hash;
}

std::array<std::uint32_t, 2> CEventCollection::Bits(const ReturnAddressRecord& key,
                                                    std::wstring_view name) {
    const std::uint64_t hash = Hash(key, name);
    return {static_cast<std::uint32_t>(hash % kFilterBits),
            static_cast<std::uint32_t>((hash >> 32) % kFilterBits)};
}

bool CEventCollection::MayHold(const ReturnAddressRecord& key, std::wstring_view name) const {
    for (const std::uint32_t bit : Bits(key, name)) {
        if ((filter_[bit / 64].load(std::memory_order_acquire) & Mask(bit)) == 0) return false;
    }
    return true;
}

void CEventCollection::FilterAdd(const ReturnAddressRecord& key, std::wstring_view name) {
    for (const std::uint32_t bit : Bits(key, name)) {
        filter_[bit / 64].fetch_or(Mask(bit), std::memory_order_release);
    }
}

void CEventCollection::FilterRebuild() {
    std::array<std::uint64_t, kFilterWords> rebuilt{};
    for (const auto& [key, names] : subscriptions_) {
        for (const auto& entry : names) {
            for (const std::uint32_t bit : Bits(key, NameLess::View(entry.first))) {
                rebuilt[bit / 64] |= Mask(bit);
            }
        }
    }
    for (size_t i = 0; i < kFilterWords; ++i) {
        filter_[i].store(rebuilt[i], std::memory_order_release);
    }
}

IIpcInvoke* CEventCollection::LookUp(const ReturnAddressRecord* key,
                                     const wchar_t* eventName) const {
    if (key == nullptr) return nullptr;
    const auto names = subscriptions_.find(*key);
    if (names == subscriptions_.end()) return nullptr;
    const auto entry =
        names->second.find(std::wstring_view(eventName != nullptr ? eventName : L""));
    return entry == names->second.end() ? nullptr : entry->second;
}

bool CEventCollection::HasSubscriber(const ReturnAddressRecord* key, const wchar_t* eventName) {
    if (key == nullptr || !MayHold(*key, eventName != nullptr ? eventName : L"")) return false;
    CCriticalSectionLock lock(guard_);
    return LookUp(key, eventName) != nullptr;
}

IIpcInvoke* CEventCollection::GetSubscriber(const ReturnAddressRecord* key,
                                            const wchar_t* eventName) {
    // A pair that the filter rules out is a miss without the guard.
    if (key == nullptr || !MayHold(*key, eventName != nullptr ? eventName : L"")) {
        TraceMiss(key, eventName);
        return nullptr;
    }
    CCriticalSectionLock lock(guard_);
    IIpcInvoke* found = LookUp(key, eventName);
    if (found == nullptr) {
        TraceMiss(key, eventName);
        return nullptr;
    }
    // The reference is taken under the guard, so a concurrent removal cannot free the proxy.
    IIpcInvoke* subscriber = nullptr;
    if (FAILED(found->QueryInterface(IID_IIpcInvoke, reinterpret_cast<void**>(&subscriber)))) {
        std::wstring text;
        TraceAt(TraceLevel::Error, kProxyRefusedInterface, eventName,
                FormatReturnAddress(*key, text));
        return nullptr;
    }
    return subscriber;
}

TargetKey CEventCollection::GetProxyTargetKey(IIpcInvoke* proxy) {
    // Only a proxy of this library has a target key; anything else answers zeros.
    if (const auto* ours = dynamic_cast<CEventProxy*>(proxy)) return ours->GetTargetKey();
    TraceAt(TraceLevel::Error, kNotOurProxy, static_cast<const void*>(proxy));
    return TargetKey{};
}

void CEventCollection::AddSubscriber(const ReturnAddressRecord* key, CBstrHolder eventName,
                                     IIpcInvoke* proxy) {
    if (key == nullptr || proxy == nullptr) return;
    CCriticalSectionLock lock(guard_);
    auto [names, created] = subscriptions_.try_emplace(*key);
    if (created) TraceAt(TraceLevel::Verbose, kFirstSubscriberOfKey, eventName.Get());
    proxy->AddRef();
    FilterAdd(*key, NameLess::View(eventName));
    auto [entry, inserted] = names->second.try_emplace(eventName, proxy);
    if (!inserted) {
        IIpcInvoke* replaced = entry->second;
        entry->second = proxy;
        replaced->Release();
    }
}

void CEventCollection::RemoveSubscriber(const ReturnAddressRecord* key, CBstrHolder eventName) {
    if (key == nullptr) return;
    CCriticalSectionLock lock(guard_);
    const auto names = subscriptions_.find(*key);
    if (names == subscriptions_.end()) return;
    const auto entry = names->second.find(eventName);
    if (entry == names->second.end()) return;
    entry->second->Release();
    names->second.erase(entry);
    if (names->second.empty()) subscriptions_.erase(names);
    FilterRebuild();
}

size_t CEventCollection::KeyCount() const {
    CCriticalSectionLock lock(guard_);
    return subscriptions_.size();
}

}  // namespace tarnwick
