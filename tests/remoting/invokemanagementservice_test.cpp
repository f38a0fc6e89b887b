// The subscription table and its references, the per-thread error storage, and the invoke
// management service over a loopback transport, with a fake peer answering raises.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "marshalling/marshallingtest.h"
#include "messages/cmarshalhelper.h"
#include "messages/cmarshaller.h"
#include "messages/cmethodcallmessage.h"
#include "messages/craiseeventmessage.h"
#include "messages/sharedmemory.h"
#include "remoting/ceventcollection.h"
#include "messages/ceventproxy.h"
#include "remoting/cinvokemanagementservicebase.h"
#include "remoting/cinvokewait.h"
#include "remoting/cthreadboundstorage.h"
#include "support/childmode.h"
#include "support/childprocess.h"
#include "support/mallocspy.h"

namespace tarnwick {
namespace {

using namespace blockformat;
using namespace test;

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
    // Keys order by every field: {0,0,0,0} repeats four times, every other key is new.
    for (std::uint64_t v = 0; v < 3; ++v) {
        const ReturnAddressRecord keys[] = {{v, 0, 0, 0}, {0, v, 0, 0}, {0, 0, v, 0}, {0, 0, 0, v}};
        for (const auto& key : keys) collection.AddSubscriber(&key, L"E", &second);
    }
    EXPECT_EQ(collection.KeyCount(), 10u);
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

constexpr ReturnAddressRecord kControl{0x100, 7, 0x2000, 0x1A2B};
constexpr ReturnAddressRecord kSubscriber{0x200, 1, 2, 3};
constexpr ReturnAddressRecord kNull{~0ull, ~0ull, ~0ull, 0x77};

// Transport slots of the test: call records go to a sink; replies are kept.
class CLoopbackService final : public CInvokeManagementServiceBase {
  public:
    using CInvokeManagementServiceBase::CInvokeManagementServiceBase;

    const wchar_t* GetAddress(std::wstring& text) override { return (text = L"L").c_str(); }
    void SetReturnAddress(IReturnAddress*) override {}
    int SendInvoke(InvokeRecord* record, IInvokeWait*, std::uint64_t target) override {
        lastTarget = target;
        if (failSends) return 1;
        if (sink) sink(*record);
        return 0;
    }
    int SendReply(InvokeRecord*) override { return 1; }
    int SendAndReceive(InvokeRecord*, InvokeRecord*, std::uint64_t) override { return 1; }

    std::function<void(const InvokeRecord&)> sink;
    std::uint64_t lastTarget = 0;
    bool failSends = false;
};

// A host whose answer to calls each test gives; it resolves a target O to O + 1.
class CCallHost final : public IInvokeNotification {
  public:
    explicit CCallHost(std::function<void(IMethodCallMessage&)> answer = {})
        : answer_(std::move(answer)) {}
    int OnMethodCall(IMethodCallMessage* message) override {
        ++calls;
        if (answer_) answer_(*message);
        return 0;
    }
    int OnEventSubscription(IEventSubscriptionMessage*) override { return 0; }
    int OnEventUnsubscription(IEventUnsubscriptionMessage*) override { return 0; }
    std::uint64_t ResolveTarget(std::uint64_t o) override { return o + 1; }
    int calls = 0;

  private:
    std::function<void(IMethodCallMessage&)> answer_;
};

// Restores and frees a raise's arguments and answers it from another thread, as a transport does.
class CFakePeer {
  public:
    explicit CFakePeer(CLoopbackService& raiser) : raiser_(raiser) {
        raiser.sink = [this](const InvokeRecord& record) {
            std::lock_guard lock(mutex_);
            answers_.push_back(std::async(std::launch::async, [this, record] { Answer(record); }));
        };
    }
    ~CFakePeer() {
        raiser_.sink = nullptr;
        std::lock_guard lock(mutex_);
        answers_.clear();  // waits for every answer
    }

    std::atomic<int> answered{0};

  private:
    void Answer(const InvokeRecord& call) {
        const auto bytes = TakeSharedBlock(call.Block, {__LINE__, "test"});
        ASSERT_TRUE(bytes.has_value());
        ASSERT_EQ(bytes->size(), kRaisedEventSize);
        for (int i = 0; i < At<std::int16_t>(*bytes, kArgumentCount); ++i) {
            CTestVariant value(
                CMarshaller::WidenWireValue(At<WireValue>(*bytes, kRaisedEventArguments + 16 * i)));
            CMarshalHelper::UnmarshalValue(*value);
        }
        InvokeRecord returned = test::StoreReply(*bytes, VARIANT_TRUE);
        // Counted before the return wakes the raiser, which reads the count at once.
        ++answered;
        EXPECT_EQ(raiser_.ProcessMessage(&returned), 0);
    }

    CLoopbackService& raiser_;
    std::mutex mutex_;
    std::vector<std::future<void>> answers_;
};

// A block as the peer writes it: marker, kind, return address, member name, argument count.
std::vector<std::uint8_t> PeerBytes(Kind kind, size_t size, const wchar_t* member = L"Member",
                                    std::int16_t count = 0) {
    std::vector<std::uint8_t> bytes(size);
    Put<std::uint16_t>(bytes, kMarker, 1);
    Put<std::uint16_t>(bytes, kKind, kind);
    Put(bytes, kReturnAddress, kSubscriber);
    PutText(bytes, kMemberName, member);
    Put(bytes, kArgumentCount, count);
    return bytes;
}

InvokeRecord CallRecord(std::uint32_t block) {
    return {kInvokeRecordMagic, block, kInvokeRecordCallTag};
}

// Such a block stored in shared memory, and its call record.
InvokeRecord StorePeerBlock(Kind kind, size_t size, const wchar_t* eventName = nullptr) {
    std::vector<std::uint8_t> bytes = PeerBytes(kind, size);
    if (eventName != nullptr) PutText(bytes, kEventName, eventName);
    return CallRecord(test::MakeBlock(bytes));
}

// Reads a reply block that this side now owns, and frees it with its string blocks.
InvokeState TakeReplyState(const InvokeRecord& reply) {
    EXPECT_EQ(reply.Magic, kInvokeRecordMagic);
    EXPECT_EQ(reply.Tag, kInvokeRecordReplyTag);
    auto bytes = TakeSharedBlock(reply.Block, {__LINE__, "test"});
    if (!bytes) return static_cast<InvokeState>(99);
    EXPECT_EQ(bytes->size(), kReplySize);
    for (size_t offset : {kReplyExceptionText1, kReplyExceptionText2, kReplyExceptionText3,
                          kReplyStateText, kReplyFailureDetail}) {
        DestroySharedBlock(At<std::uint32_t>(*bytes, offset));
    }
    return static_cast<InvokeState>(At<std::uint32_t>(*bytes, kReplyState));
}

using InvokeManagementServiceTest = test::MarshallingTest;

TEST_F(InvokeManagementServiceTest, ConcurrentRaisersWhileSubscribersComeAndGo) {
    CLoopbackService service(nullptr);
    CFakePeer peer(service);
    auto stable = CEventProxy::Create(kNull, TargetKey{}, CBstrHolder(L"stable"), &service);
    IEventCollection* events = service.GetEventCollection();
    events->AddSubscriber(&kControl, L"Click", stable.Get());
    constexpr ReturnAddressRecord kToggled{1, 1, 1, 1};

    std::atomic<bool> stop{false};
    std::atomic<int> cancelled{0};
    std::atomic<int> missing{0};
    std::vector<std::thread> raisers;
    for (int t = 0; t < 4; ++t) {
        raisers.emplace_back([&] {
            for (int i = 0; i < 40; ++i) {
                const ReturnAddressRecord& key = (i % 2 == 0) ? kControl : kToggled;
                IIpcInvoke* subscriber = events->GetSubscriber(&key, L"Click");
                if (subscriber == nullptr) {
                    ++missing;
                    continue;
                }
                VARIANT argument = MakeString(L"payload");
                const VARIANT answer = subscriber->Invoke(L"Click", &argument, 1, 0);
                if (answer.vt == VT_BOOL && answer.boolVal == VARIANT_TRUE) ++cancelled;
                subscriber->Release();
            }
        });
    }
    std::thread churn([&] {
        while (!stop) {
            auto toggled = CEventProxy::Create(kNull, TargetKey{}, CBstrHolder(L"t"), &service);
            events->AddSubscriber(&kToggled, L"Click", toggled.Get());
            events->RemoveSubscriber(&kToggled, L"Click");
        }
    });
    for (auto& raiser : raisers) raiser.join();
    stop = true;
    churn.join();
    EXPECT_EQ(cancelled + missing, 160);
    EXPECT_GE(cancelled.load(), 80) << "every raise on the stable key is answered";
    EXPECT_EQ(peer.answered.load(), cancelled.load());
    EXPECT_EQ(service.PendingCallCount(), 0u);
    events->RemoveSubscriber(&kControl, L"Click");
}

int WINAPI Cancel(HWND, LPCWSTR, LPCWSTR, UINT) { return IDCANCEL; }

TEST_F(InvokeManagementServiceTest, AFailedSendFreesExactlyThePayloadsItMade) {
    CLoopbackService service(nullptr);
    service.failSends = true;
    // A block of the test's own whose handle a genuine decimal argument happens to carry.
    CBlockHolder bystander;
    ASSERT_FALSE(bystander.Allocate(16, {__LINE__, "test"}).empty());
    const VARIANT decimal =
        test::MakeVariant(VT_DECIMAL, [&](VARIANT& v) { v.decVal.Lo64 = bystander.Get(); });

    auto proxy = CEventProxy::Create(kSubscriber, TargetKey{}, CBstrHolder(L"tag"), &service);
    proxy->SetTimeoutPromptForTesting(1, &Cancel);
    VARIANT arguments[4] = {MakeString(L"text"),
                            test::MakeArray({MakeString(L"a"), MakeString(L"b")}), decimal,
                            MakeI4(9)};
    const VARIANT answer = proxy->Invoke(L"Click", arguments, 4, 99);
    EXPECT_EQ(answer.vt, VT_UNKNOWN) << "no return: the initial result";
    EXPECT_EQ(answer.punkVal, nullptr);
    EXPECT_EQ(service.PendingCallCount(), 0u);
    std::uint32_t size = 0;
    void* still = OpenSharedMemory(bystander.Get(), &size, __LINE__, "test");
    EXPECT_NE(still, nullptr) << "the decimal's bits were taken for a block handle";
    if (still != nullptr) FreeSharedMemory(bystander.Get());
}

// The raiser's prompt, its wait timed out: the first time, the peer's return comes meanwhile.
struct {
    CLoopbackService* service = nullptr;
    InvokeRecord call{};
    int prompts = 0;
} g_slow;

int WINAPI ReturnWhileAsking(HWND, LPCWSTR, LPCWSTR, UINT) {
    if (g_slow.prompts++ == 0) {
        InvokeRecord returned = test::StoreReply(test::BytesOf(g_slow.call.Block), VARIANT_TRUE);
        test::Destroy(g_slow.call.Block);
        g_slow.service->ProcessMessage(&returned);
    }
    return IDCANCEL;
}

// That return is applied but wakes nothing: the thread's next wait waits for its own return.
TEST_F(InvokeManagementServiceTest, AReturnAfterTheWaitTimedOutWakesNoLaterWait) {
    CLoopbackService service(nullptr);
    g_slow = {&service};
    service.sink = [](const InvokeRecord& call) { g_slow.call = call; };
    auto proxy = CEventProxy::Create(kNull, TargetKey{}, CBstrHolder(L"t"), &service);
    proxy->SetTimeoutPromptForTesting(20, &ReturnWhileAsking);
    EXPECT_EQ(proxy->Invoke(L"Click", nullptr, 0, 0).vt, VT_BOOL);
    EXPECT_EQ(proxy->Invoke(L"Click", nullptr, 0, 0).vt, VT_UNKNOWN);
    EXPECT_EQ(g_slow.prompts, 2) << "the late return woke the next wait";
    test::Destroy(g_slow.call.Block);
    EXPECT_EQ(service.PendingCallCount(), 0u);
}

// Call ids grow across services; the target is O of a null address, else the host's O, else 0.
TEST_F(InvokeManagementServiceTest, CallIdsGrowByOneAndTargetsComeFromTheAddress) {
    CCallHost host;
    CLoopbackService hosted(&host);
    CLoopbackService alone(nullptr);
    hosted.failSends = alone.failSends = true;
    const struct {
        CLoopbackService* service;
        ReturnAddressRecord address;
        std::uint64_t target;
    } cases[] = {{&hosted, kNull, kNull.O},
                 {&alone, kNull, kNull.O},
                 {&hosted, kSubscriber, kSubscriber.O + 1},
                 {&alone, kSubscriber, 0}};
    Cookie previous = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        CRaiseEventMessage message;
        message.GetReturnAddress() = c.address;
        IInvokeWait* wait = c.service->SendRaiseEvent(&message, 0);
        EXPECT_EQ(c.service->lastTarget, c.target);
        EXPECT_TRUE(previous == 0 || message.GetCookie() == previous + 1);
        previous = message.GetCookie();
        CInvokeWait foreign(nullptr);
        c.service->ReleaseWait(&foreign);
        EXPECT_EQ(c.service->PendingCallCount(), 1u) << "a wait of another service's table is left";
        c.service->ReleaseWait(wait);
        EXPECT_EQ(c.service->PendingCallCount(), 0u);
    }
}

// Records without a reply are freed; subscriptions are answered without a host.
TEST_F(InvokeManagementServiceTest, EveryOtherRecordIsRoutedOrDropped) {
    CCallHost host;
    CLoopbackService service(&host);
    for (InvokeRecord record :
         {StorePeerBlock(static_cast<Kind>(3), kRaisedEventSize),
          StorePeerBlock(static_cast<Kind>(8), kRaisedEventSize),
          StorePeerBlock(kKindRaisedEvent, kRaisedEventSize),
          StorePeerBlock(static_cast<Kind>(0x80), kRaisedEventSize),
          StorePeerBlock(kKindMethod, kMethodCallSize), CallRecord(0x7FFFFFF0)}) {
        EXPECT_EQ(service.ProcessMessage(&record), 0) << record.Block;
    }
    EXPECT_EQ(host.calls, 1) << "only the method call reached the host";
    CLoopbackService alone(nullptr);
    for (const auto& [kind, size] :
         {std::pair{kKindSubscription, 800}, std::pair{kKindUnsubscription, 600}}) {
        InvokeRecord record = StorePeerBlock(kind, size, L"Click");
        ASSERT_EQ(alone.ProcessMessage(&record), 1) << "replied without a host";
        EXPECT_EQ(TakeReplyState(record), StateCompleted);
    }
}

WireValue Moved(VARTYPE type, std::uint32_t handle) { return WireValue{type, {}, handle}; }

std::uint32_t StringBlock(const wchar_t* text) {
    return CMarshalHelper::StoreString(text, static_cast<UINT>(wcslen(text)));
}

// Payloads naming the call's block or one it took are refused; a block the host makes survives.
TEST_F(InvokeManagementServiceTest, PayloadsNamingHeldBlocksAreRefused) {
    std::vector<VARTYPE> types;
    std::vector<std::uint8_t> pattern(kMethodCallSize, 0xAB);
    CBlockHolder bystander;
    CCallHost host([&](IMethodCallMessage& call) {
        for (int i = call.GetArgumentCount() - 1; i >= 0; --i) {
            const VARIANT* argument = call.GetArgument(i);
            types.push_back(argument->vt);
            if ((argument->vt & VT_ARRAY) != 0) {
                test::CTestVariant element(test::ElementOf(*argument, 0));
                types.push_back(element->vt);
            }
        }
        const auto bytes = bystander.Allocate(kMethodCallSize, {__LINE__, "test"});
        std::memcpy(bytes.data(), pattern.data(), pattern.size());
        VARIANT result = MakeI4(7);
        call.SetResult(&result);
    });
    CLoopbackService service(&host);
    CBlockHolder call;
    const auto block = call.Allocate(kMethodCallSize, {__LINE__, "test"});
    ASSERT_FALSE(block.empty());
    std::vector<std::uint8_t> array;
    Put<std::uint16_t>(array, 0, 1);
    Put(array, 2, Moved(VT_BSTR, call.Get()));
    Put<std::uint16_t>(array, 18, 0);
    const std::uint32_t text = StringBlock(L"ok");
    std::vector<std::uint8_t> bytes = PeerBytes(kKindMethod, kMethodCallSize, L"Self", 4);
    Put(bytes, kCallArguments, Moved(VT_BSTR, call.Get()));
    Put(bytes, kCallArguments + 16, Moved(VT_ARRAY | VT_VARIANT, test::MakeBlock(array)));
    Put(bytes, kCallArguments + 32, Moved(VT_BSTR, text));
    Put(bytes, kCallArguments + 48, Moved(VT_BSTR, text));
    std::memcpy(block.data(), bytes.data(), bytes.size());

    InvokeRecord record = CallRecord(call.Release());
    ASSERT_EQ(service.ProcessMessage(&record), 1);
    EXPECT_EQ(TakeReplyState(record), StateCompleted);
    EXPECT_EQ(types,
              (std::vector<VARTYPE>{VT_EMPTY, VT_ARRAY | VT_VARIANT, VT_EMPTY, VT_BSTR, VT_EMPTY}));
    EXPECT_EQ(test::BytesOf(bystander.Get()), pattern) << "the reply went into another block";
}

// A reply no raise waits for is freed; a put without its one value is answered without the host.
TEST_F(InvokeManagementServiceTest, LateRepliesAreFreedAndMalformedPutsAnswered) {
    CCallHost host([](IMethodCallMessage& call) { call.SetCompleted(); });
    CLoopbackService service(&host);
    std::vector<std::uint8_t> late = PeerBytes(kKindMethodReturn, kReplySize);
    Put<std::uint32_t>(late, kCookie, 0xFFFF0000u);
    Put<std::uint32_t>(late, kReplyState, StateCompleted);
    for (size_t offset : {kReplyExceptionText1, kReplyStateText, kReplyFailureDetail}) {
        Put(late, offset, StringBlock(L"text"));
    }
    Put(late, kReplyResult, Moved(VT_BSTR, StringBlock(L"result")));
    InvokeRecord record{kInvokeRecordMagic, test::MakeBlock(late), kInvokeRecordReplyTag};
    EXPECT_EQ(service.ProcessMessage(&record), 0);

    for (std::int16_t count : {0, 2}) {
        std::vector<std::uint8_t> put =
            PeerBytes(kKindPropertyPut, kAccessorSize, L"Caption", count);
        if (count > 0) Put(put, kCallArguments, Moved(VT_BSTR, StringBlock(L"value")));
        record = CallRecord(test::MakeBlock(put));
        ASSERT_EQ(service.ProcessMessage(&record), 1) << count;
        const auto reply = test::BytesOf(record.Block);
        EXPECT_EQ(At<HRESULT>(reply, kReplyFailureCode), DISP_E_BADPARAMCOUNT);
        EXPECT_EQ(TakeReplyState(record), StateFailedCode);
    }
    EXPECT_EQ(host.calls, 0);
}

// Counts pointers freed twice through the task allocator (the string cache off).
class CDoubleFreeSpy final : public test::CMallocSpy {
  public:
    void* STDMETHODCALLTYPE PostAlloc(void* actual) override { return Forget(actual); }
    void* STDMETHODCALLTYPE PreFree(void* request, BOOL) override {
        std::lock_guard lock(mutex_);
        if (request != nullptr && !freed_.insert(request).second) ++doubleFrees;
        return request;
    }
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T size, void** actual, BOOL) override {
        *actual = Forget(request);
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override { return Forget(actual); }
    int doubleFrees = 0;

  private:
    void* Forget(void* pointer) {
        std::lock_guard lock(mutex_);
        freed_.erase(pointer);
        return pointer;
    }
    std::mutex mutex_;
    std::set<void*> freed_;
};

// Run with OANOCACHE=1: a host answers with its string and array arguments themselves.
TARNWICK_CHILD_MODE(ResultFromArgument) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    static CDoubleFreeSpy spy;
    if (FAILED(CoRegisterMallocSpy(&spy))) return 100;
    // The first call's host sets its result from the argument; the second writes it in.
    int calls = 0;
    CCallHost host([&](IMethodCallMessage& call) {
        if (calls++ == 0) {
            call.SetResult(call.GetArgument(0));
        } else {
            *call.GetResult() = *call.GetArgument(0);
            call.SetCompleted();
        }
    });
    CLoopbackService service(&host);
    int failures = 0;
    for (VARIANT argument : {MakeString(L"echo me"), test::MakeArray({MakeString(L"in")})}) {
        CMethodCallMessage call;
        call.GetMemberName() = L"Echo";
        call.InitArguments(1);
        CMarshalHelper::MarshalValue(argument);
        call.AddArgument(&argument);
        InvokeRecord record = CallRecord(CMarshaller::MarshalCall(call));
        if (service.ProcessMessage(&record) != 1) return 101;
        auto reply = TakeSharedBlock(record.Block, {__LINE__, "test"});
        if (!reply) return 102;
        VARIANT result = CMarshaller::WidenWireValue(At<WireValue>(*reply, kReplyResult));
        CMarshalHelper::UnmarshalValue(result);
        if (result.vt == VT_BSTR && std::wstring(result.bstrVal) != L"echo me") ++failures;
        if (result.vt != argument.vt) ++failures;
        VariantClear(&result);
    }
    CoRevokeMallocSpy();
    return failures + 10 * spy.doubleFrees;
}

TEST_F(InvokeManagementServiceTest, AResultTakenFromAnArgumentIsFreedOnce) {
    SetEnvironmentVariableW(L"OANOCACHE", L"1");
    test::CChildProcess child;
    const bool started = child.Start(L"ResultFromArgument");
    SetEnvironmentVariableW(L"OANOCACHE", nullptr);
    ASSERT_TRUE(started);
    EXPECT_EQ(child.Wait(), std::optional<DWORD>(0)) << "10 for each string freed twice";
}

// A call that arrives while the host answers another, as over window messages when the peer's
// event handler calls back, may not take the outer call's block.
TEST_F(InvokeManagementServiceTest, ANestedCallMayNotNameTheOuterCallsBlock) {
    std::vector<VARTYPE> types;
    CLoopbackService* service = nullptr;
    InvokeRecord outer = CallRecord(0);
    auto callBlock = [](const wchar_t* name, const WireValue& argument) {
        std::vector<std::uint8_t> bytes = PeerBytes(kKindMethod, kMethodCallSize, name, 1);
        Put(bytes, kCallArguments, argument);
        return test::MakeBlock(bytes);
    };
    CCallHost host([&](IMethodCallMessage& call) {
        types.push_back(call.GetArgument(0)->vt);
        if (std::wstring(call.GetMemberName()) == L"Outer") {
            InvokeRecord inner = CallRecord(callBlock(L"Inner", Moved(VT_BSTR, outer.Block)));
            if (service->ProcessMessage(&inner) == 1) TakeReplyState(inner);
        }
        call.SetCompleted();
    });
    CLoopbackService loopback(&host);
    service = &loopback;
    outer.Block = callBlock(L"Outer", WireValue{VT_I4, {}, 5});
    ASSERT_EQ(loopback.ProcessMessage(&outer), 1);
    EXPECT_EQ(TakeReplyState(outer), StateCompleted);
    EXPECT_EQ(types, (std::vector<VARTYPE>{VT_I4, VT_EMPTY}));
}

}  // namespace
}  // namespace tarnwick
