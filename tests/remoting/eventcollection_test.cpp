// The subscription table and its references; and the per-thread error storage.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "remoting/ceventcollection.h"
#include "remoting/ceventproxy.h"
#include "remoting/cthreadboundstorage.h"

namespace tarnwick {
namespace {

// A subscriber that counts its references and is never deleted by them.
class CountedProxy : public IIpcInvoke {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (refuse || !(IsEqualIID(iid, IID_IIpcInvoke) || IsEqualIID(iid, IID_IUnknown))) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        *object = static_cast<IIpcInvoke*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    VARIANT STDMETHODCALLTYPE Invoke(const wchar_t*, VARIANT*, int, std::uint64_t) override {
        return VARIANT{};
    }
    std::atomic<LONG> references{0};
    bool refuse = false;
};

constexpr ReturnAddressRecord kKey{1, 2, 3, 0x1A2B};
constexpr ReturnAddressRecord kOtherKey{1, 2, 3, 0x1A2C};

// One proxy per key and (case-sensitive) name; a replaced or removed one loses its reference.
TEST(EventCollection, FilesOneProxyPerKeyAndNameAndReplacesIt) {
    CEventCollection collection;
    CountedProxy first;
    CountedProxy second;
    collection.AddSubscriber(&kKey, L"Click", &first);
    EXPECT_EQ(first.references, 1);
    EXPECT_TRUE(collection.HasSubscriber(&kKey, L"Click"));
    for (const wchar_t* other : {L"click", L"Clic", L"Click2"}) {
        EXPECT_FALSE(collection.HasSubscriber(&kKey, other)) << other;
    }
    EXPECT_FALSE(collection.HasSubscriber(&kOtherKey, L"Click"));

    collection.AddSubscriber(&kKey, L"Click", &second);
    EXPECT_EQ(first.references, 0) << "the replaced proxy loses the collection's reference";
    IIpcInvoke* found = collection.GetSubscriber(&kKey, L"Click");
    EXPECT_EQ(found, &second);
    EXPECT_EQ(second.references, 2) << "the caller gets a reference";
    found->Release();
    EXPECT_EQ(collection.GetSubscriber(&kKey, L"Missing"), nullptr);
    // A proxy that refuses the interface yields null and keeps only the collection's reference.
    second.refuse = true;
    EXPECT_EQ(collection.GetSubscriber(&kKey, L"Click"), nullptr);
    EXPECT_EQ(second.references, 1);

    collection.AddSubscriber(&kKey, L"TextChanged", &first);
    collection.AddSubscriber(&kOtherKey, L"Click", &first);
    collection.RemoveSubscriber(&kKey, L"Unknown");
    collection.RemoveSubscriber(&kKey, L"Click");
    EXPECT_EQ(second.references, 0);
    EXPECT_EQ(collection.KeyCount(), 2u);
    collection.RemoveSubscriber(&kKey, L"TextChanged");
    collection.RemoveSubscriber(&kKey, L"TextChanged");
    EXPECT_EQ(collection.KeyCount(), 1u);
    EXPECT_FALSE(collection.HasSubscriber(&kKey, L"TextChanged"));
    EXPECT_TRUE(collection.HasSubscriber(&kOtherKey, L"Click"));
    EXPECT_EQ(first.references, 1);
}

TEST(EventCollection, KeysOrderByEveryField) {
    CEventCollection collection;
    CountedProxy proxy;
    for (std::uint64_t v = 0; v < 3; ++v) {
        const ReturnAddressRecord keys[] = {{v, 0, 0, 0}, {0, v, 0, 0}, {0, 0, v, 0}, {0, 0, 0, v}};
        for (const auto& key : keys) collection.AddSubscriber(&key, L"E", &proxy);
    }
    // {0,0,0,0} repeats four times per value 0; every other key is distinct.
    EXPECT_EQ(collection.KeyCount(), 9u);
}

TEST(EventCollection, TargetKeyComesFromOurOwnProxyOnly) {
    CEventCollection collection;
    const TargetKey key{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
    auto proxy =
        CEventProxy::Create(ReturnAddressRecord{5, 6, 7, 8}, key, CBstrHolder(L"t"), nullptr);
    ASSERT_TRUE(proxy);
    EXPECT_EQ(0, memcmp(collection.GetProxyTargetKey(proxy.Get()).Bytes, key.Bytes, 16));
    CountedProxy foreign;
    EXPECT_EQ(0, memcmp(collection.GetProxyTargetKey(&foreign).Bytes, TargetKey{}.Bytes, 16));
}

TEST(EventCollection, ConcurrentLookupsAndRemovalsKeepReferencesBalanced) {
    CEventCollection collection;
    CountedProxy proxy;
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            while (!stop) {
                if (IIpcInvoke* found = collection.GetSubscriber(&kKey, L"Click")) found->Release();
                // A miss takes no lock: let the writer run on a machine with few cores.
                std::this_thread::yield();
            }
        });
    }
    for (int i = 0; i < 2000; ++i) {
        collection.AddSubscriber(&kKey, L"Click", &proxy);
        collection.RemoveSubscriber(&kKey, L"Click");
    }
    stop = true;
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(proxy.references, 0);
    EXPECT_EQ(collection.KeyCount(), 0u);
}

TEST(ThreadBoundStorage, EachThreadGetsItsOwnZeroRecord) {
    CThreadBoundStorage storage;
    EXPECT_EQ(storage.GetLastIpcError(), 0u);
    std::uint32_t other = 99;
    std::thread([&] { other = storage.GetLastIpcError(); }).join();
    EXPECT_EQ(other, 0u);
    EXPECT_EQ(storage.RecordCount(), 2u);
}

}  // namespace
}  // namespace tarnwick
