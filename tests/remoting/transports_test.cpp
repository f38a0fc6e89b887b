// The two transports over real IPC queues and windows, and the factories' caches.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "invokemanagementservices.h"
#include "marshalling/marshallingtest.h"
#include "messages/cmarshalhelper.h"
#include "messages/cmarshaller.h"
#include "messages/cmethodcallmessage.h"
#include "messages/sharedmemory.h"
#include "platform/vaskconduit.h"
#include "messages/ceventproxy.h"
#include "remoting/clpcinvokemanagementservice.h"
#include "remoting/cremotingservices.h"
#include "remoting/cwindowsmessageinvokemanagementservice.h"

namespace tarnwick {
namespace {

using namespace blockformat;
using namespace test;

// Answers every method call with 42 and counts the calls (before the reply is sent).
class CCallHost final : public IInvokeNotification {
  public:
    int OnMethodCall(IMethodCallMessage* message) override {
        VARIANT result = MakeI4(42);
        message->SetResult(&result);
        ++calls;
        return 0;
    }
    int OnEventSubscription(IEventSubscriptionMessage*) override { return 0; }
    int OnEventUnsubscription(IEventUnsubscriptionMessage*) override { return 0; }
    std::uint64_t ResolveTarget(std::uint64_t o) override { return o; }
    std::atomic<int> calls{0};
};

// A queue of the test's own, standing for the peer: keeps every record posted to it.
class CPeerQueue {
  public:
    explicit CPeerQueue(std::wstring name) : name_(std::move(name)) {
        created_ = CreateIpcQueue(name_.c_str(), &Receive, this, 0, 64, 64) != 0;
    }
    CPeerQueue(const CPeerQueue&) = delete;
    CPeerQueue& operator=(const CPeerQueue&) = delete;
    ~CPeerQueue() { DestroyIpcQueue(name_.c_str()); }

    bool Created() const { return created_; }
    // The records that arrived once count of them did, or within a short grace period.
    std::vector<std::vector<std::uint8_t>> WaitFor(size_t count, DWORD timeoutMs = 5000) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return records_.size() >= count; });
        return records_;
    }

  private:
    static void Receive(void*, void* context, const void* data, std::uint32_t size) {
        auto* self = static_cast<CPeerQueue*>(context);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        std::lock_guard lock(self->mutex_);
        self->records_.emplace_back(bytes, bytes + size);
        self->changed_.notify_all();
    }

    std::wstring name_;
    bool created_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::vector<std::uint8_t>> records_;
};

// Short enough for the 16 units of a return address's text.
std::wstring UniqueName(const wchar_t* stem) {
    return std::wstring(L"Tt") + stem + std::to_wstring(GetCurrentProcessId() % 100000);
}

// A method-call block as the peer sends it: Add().
std::uint32_t StoreCall() {
    CMethodCallMessage call;
    call.GetInvokeKind() = DISPATCH_METHOD;
    call.GetMemberName() = L"Add";
    return CMarshaller::MarshalCall(call);
}

// The completed state and result of a reply record that arrived, freeing its block.
LONG TakeReplyResult(const std::vector<std::uint8_t>& arrived) {
    InvokeRecord reply{};
    EXPECT_EQ(arrived.size(), sizeof reply);
    std::memcpy(&reply, arrived.data(), std::min(arrived.size(), sizeof reply));
    EXPECT_EQ(reply.Magic, kInvokeRecordMagic);
    EXPECT_EQ(reply.Tag, kInvokeRecordReplyTag);
    const auto bytes = TakeSharedBlock(reply.Block, {__LINE__, "test"});
    if (!bytes) return -1;
    EXPECT_EQ(At<std::uint32_t>(*bytes, kReplyState), StateCompleted);
    return static_cast<LONG>(At<WireValue>(*bytes, kReplyResult).Data);
}

bool Post(const std::wstring& queue, const void* data, std::uint32_t size) {
    return SendIpcMessage(queue.c_str(), data, size, 0, 0, 0xFFFFFFFF, nullptr) != 0;
}

bool PostCall(const std::wstring& queue) {
    const InvokeRecord call{kInvokeRecordMagic, StoreCall(), kInvokeRecordCallTag};
    return Post(queue, &call, sizeof call);
}

// The peer announces its queue to the service's in a return-address block.
bool Announce(const std::wstring& queue, const std::wstring& peer) {
    std::vector<std::uint8_t> address(64);
    Put<std::uint16_t>(address, kMarker, 1);
    Put<std::uint16_t>(address, kKind, kKindReturnAddress);
    PutText(address, kReturnAddress, peer);
    const InvokeRecord record{kInvokeRecordMagic, CMarshalHelper::StoreBlock(address.data(), 64),
                              kInvokeRecordCallTag};
    return Post(queue, &record, sizeof record);
}

// The result of the one reply that arrived at the queue; -1 when none did.
LONG TakeOnlyReply(CPeerQueue& queue) {
    const auto arrived = queue.WaitFor(1);
    EXPECT_EQ(arrived.size(), 1u);
    return arrived.empty() ? -1 : TakeReplyResult(arrived[0]);
}

using TransportsTest = test::MarshallingTest;

// Replies go to the latest announced queue, none before; bad records are dropped untouched.
TEST_F(TransportsTest, QueueServiceRepliesToTheLatestAnnouncedPeerQueue) {
    const std::wstring own = UniqueName(L"O");
    const std::wstring first = UniqueName(L"F");
    const std::wstring second = UniqueName(L"S");
    CPeerQueue firstPeer(first);
    CPeerQueue secondPeer(second);
    ASSERT_TRUE(firstPeer.Created() && secondPeer.Created());
    CCallHost host;
    CLpcInvokeManagementService service(SysAllocString(own.c_str()), &host);
    ASSERT_TRUE(PostCall(own));  // records arrive in order: its reply goes nowhere
    for (const auto& [name, peer] :
         {std::pair{&first, &firstPeer}, std::pair{&second, &secondPeer}}) {
        ASSERT_TRUE(Announce(own, *name) && PostCall(own));
        EXPECT_EQ(TakeOnlyReply(*peer), 42);
        EXPECT_EQ(service.PeerQueueName(), *name);
    }
    EXPECT_EQ(firstPeer.WaitFor(2, 0).size(), 1u) << "redirected";

    const std::uint32_t block = StoreCall();
    const InvokeRecord call{kInvokeRecordMagic, block, kInvokeRecordCallTag};
    const InvokeRecord wrongMagic{0xABCE, block, kInvokeRecordCallTag};
    std::uint8_t bytes[17] = {};
    std::memcpy(bytes, &call, sizeof call);
    ASSERT_TRUE(Post(own, bytes, 15) && Post(own, bytes, 17) &&
                Post(own, &wrongMagic, sizeof wrongMagic));
    // Records arrive in order: once this one is answered, the others have been dropped.
    ASSERT_TRUE(PostCall(own));
    auto arrived = secondPeer.WaitFor(2);
    ASSERT_EQ(arrived.size(), 2u);
    EXPECT_EQ(TakeReplyResult(arrived[1]), 42);
    EXPECT_EQ(host.calls, 4);
    EXPECT_TRUE(test::IsLive(block)) << "a dropped record's block is not touched";
    DestroySharedBlock(block);
    CLpcInvokeManagementService::Receive(nullptr, nullptr, &call, sizeof call);  // no service
}

// A raise with no peer queue, or after the peer went, fails at once and leaves no block.
TEST_F(TransportsTest, QueueServiceFailsARaiseThatCannotBePostedAtOnce) {
    const std::wstring own = UniqueName(L"R");
    const std::wstring peer = UniqueName(L"G");
    CCallHost host;
    CLpcInvokeManagementService service(SysAllocString(own.c_str()), &host);
    auto proxy = CEventProxy::Create(ReturnAddressRecord{~0ull, ~0ull, ~0ull, 0x56}, TargetKey{},
                                     CBstrHolder(L"t"), &service);
    proxy->SetTimeoutPromptForTesting(30000, [](HWND, LPCWSTR, LPCWSTR, UINT) { return IDCANCEL; });
    ExpectRaiseFailsAtOnce(*proxy.Get());  // before any return address

    {
        CPeerQueue gone(peer);
        ASSERT_TRUE(Announce(own, peer) && PostCall(own));
        EXPECT_EQ(TakeOnlyReply(gone), 42) << "the reply shows the announcement was taken";
    }
    ExpectRaiseFailsAtOnce(*proxy.Get());  // after the peer's queue went away
    EXPECT_EQ(service.PendingCallCount(), 0u);
}

// The peer's window procedure: records the target of message 0x8007 and answers as told.
LRESULT g_peerAnswer = 0;
WPARAM g_peerTarget = 0;

LRESULT CALLBACK PeerProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kInvokeWindowMessage) return DefWindowProcW(window, message, wParam, lParam);
    g_peerTarget = wParam;
    return g_peerAnswer;
}

// A window that does not take the record (0) or does not reply (1) fails a raise at once.
TEST_F(TransportsTest, WindowServiceFailsARaiseThatGetsNoReplyAtOnce) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &PeerProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TarnwickTransportsTestPeer";
    RegisterClassW(&windowClass);
    const HWND peer = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0,
                                      nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(peer, nullptr);
    CWindowsMessageInvokeManagementService service(peer, nullptr);
    auto proxy = CEventProxy::Create(ReturnAddressRecord{~0ull, ~0ull, ~0ull, 0x55}, TargetKey{},
                                     CBstrHolder(L"t"), &service);
    for (const LRESULT answer : {0, 1}) {
        SCOPED_TRACE(answer);
        g_peerAnswer = answer;
        test::ExpectRaiseFailsAtOnce(*proxy.Get());
        EXPECT_EQ(g_peerTarget, 0x55u);
        InvokeRecord record{kInvokeRecordMagic, 0, kInvokeRecordCallTag};
        InvokeRecord reply{kInvokeRecordMagic, 7, 0};
        EXPECT_EQ(service.SendAndReceive(&record, &reply, 9), answer + 1);
        EXPECT_EQ(reply.Block, 0u);
        EXPECT_EQ(g_peerTarget, 9u);
    }
    EXPECT_EQ(service.PendingCallCount(), 0u);
    DestroyWindow(peer);
}

// A record without the magic, or a handle that names no block, is refused untouched. The block a
// record came in is the sender's: an argument naming it is refused, the reply record goes there.
TEST_F(TransportsTest, WindowServiceRefusesForgedRecordsAndArgumentsNamingTheRecordsBlock) {
    CCallHost host;
    CWindowsMessageInvokeManagementService receiver(nullptr, &host);
    const std::uint32_t call = StoreCall();
    const InvokeRecord forged{0x1111, call, kInvokeRecordCallTag};
    std::vector<std::uint8_t> bytes(sizeof forged);
    std::memcpy(bytes.data(), &forged, sizeof forged);
    const std::uint32_t record = test::MakeBlock(bytes);
    EXPECT_EQ(receiver.ProcessWindowMessage(record), 0u);
    EXPECT_EQ(receiver.ProcessWindowMessage(0x7FFFFFF0), 0u);
    EXPECT_EQ(test::BytesOf(record), bytes);
    EXPECT_TRUE(test::IsLive(call));
    EXPECT_EQ(host.calls, 0);
    test::Destroy(record);
    DestroySharedBlock(call);

    CBlockHolder envelope;
    const auto view = envelope.Allocate(sizeof(InvokeRecord), {__LINE__, "test"});
    ASSERT_FALSE(view.empty());
    CMethodCallMessage message;
    message.GetMemberName() = L"Add";
    message.InitArguments(1);
    VARIANT named = CMarshaller::WidenWireValue(WireValue{VT_BSTR, {}, envelope.Get()});
    message.AddArgument(&named);
    const InvokeRecord inside{kInvokeRecordMagic, CMarshaller::MarshalCall(message),
                              kInvokeRecordCallTag};
    std::memcpy(view.data(), &inside, sizeof inside);
    ASSERT_EQ(receiver.ProcessWindowMessage(envelope.Get()), 1u);
    const std::vector<std::uint8_t> written = test::BytesOf(envelope.Get());
    ASSERT_EQ(written.size(), sizeof(InvokeRecord)) << "the sender's block was taken";
    EXPECT_EQ(TakeReplyResult(written), 42);
}

// A service per notification keeps its first queue or window; clean-up frees the queue's name.
TEST(RemotingServicesTest, FactoriesCacheByNotificationAndKeepTheFirstQueue) {
    CCallHost first;
    CCallHost second;
    CRemotingServices services;
    const std::wstring queue = UniqueName(L"C");
    CLpcInvokeManagementService* lpc =
        services.GetLpcService(SysAllocString(queue.c_str()), &first);
    ASSERT_NE(lpc, nullptr);
    BSTR other = SysAllocString(L"Other");
    EXPECT_EQ(services.GetLpcService(other, &second), lpc);
    SysFreeString(other);
    std::wstring address;
    EXPECT_EQ(std::wstring(lpc->GetAddress(address)), queue);

    const HWND windowA = reinterpret_cast<HWND>(0xA0);
    auto* made = services.GetWindowsMessageService(windowA, &first);
    EXPECT_EQ(services.GetWindowsMessageService(reinterpret_cast<HWND>(0xB0), &first), made);
    EXPECT_EQ(made->PeerWindow(), windowA);
    EXPECT_NE(services.GetWindowsMessageService(windowA, &second), made);
    services.DestroyAll();
    EXPECT_NE(services.GetWindowsMessageService(windowA, &first), nullptr);
    CPeerQueue again(queue);
    EXPECT_TRUE(again.Created());

    IInvokeManagementService* window = GetWindowsMessageInvokeManagementService(windowA, &first);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetWindowsMessageInvokeManagementService(nullptr, &first), window);
    IInvokeManagementService* module =
        GetLpcInvokeManagementService(SysAllocString(UniqueName(L"M").c_str()), &first);
    EXPECT_EQ(GetLpcInvokeManagementService(nullptr, nullptr), module);
    CRemotingServices::Module().DestroyAll();
}

// Calls a factory from the delivery thread while the unload waits for that very callback.
class CUnloadingHost final : public IInvokeNotification {
  public:
    int OnMethodCall(IMethodCallMessage* message) override {
        SetEvent(inCall);
        // The unload has begun once the queue takes no more records; no event tells when.
        const InvokeRecord probe{};
        while (Post(queue, &probe, sizeof probe)) Sleep(1);
        madeDuringUnload = services->GetLpcService(lateName, this);
        asked = true;
        message->SetCompleted();
        return 0;
    }
    int OnEventSubscription(IEventSubscriptionMessage*) override { return 0; }
    int OnEventUnsubscription(IEventUnsubscriptionMessage*) override { return 0; }
    std::uint64_t ResolveTarget(std::uint64_t o) override { return o; }

    CRemotingServices* services = nullptr;
    std::wstring queue = UniqueName(L"U");
    HANDLE inCall = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    BSTR lateName = SysAllocString(L"TtLate");
    bool asked = false;
    CLpcInvokeManagementService* madeDuringUnload = nullptr;
};

TEST(RemotingServicesTest, AFactoryCalledFromACallbackDuringUnloadReturns) {
    CUnloadingHost host;
    host.services = new CRemotingServices();  // left behind if the unload hangs
    host.services->GetLpcService(SysAllocString(host.queue.c_str()), &host);
    ASSERT_TRUE(PostCall(host.queue));
    ASSERT_EQ(WaitForSingleObject(host.inCall, 10000), WAIT_OBJECT_0);
    HANDLE unloaded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread unload([&] {
        host.services->DestroyAll();
        SetEvent(unloaded);
    });
    const bool returned = WaitForSingleObject(unloaded, 10000) == WAIT_OBJECT_0;
    if (!returned) {
        unload.detach();
        FAIL() << "the unload and the callback wait for each other";
    }
    unload.join();
    EXPECT_TRUE(host.asked);
    EXPECT_EQ(host.madeDuringUnload, nullptr) << "a service made now would outlive the unload";
    SysFreeString(host.lateName);
    host.services->DestroyAll();
    delete host.services;
    CloseHandle(unloaded);
    CloseHandle(host.inCall);
}

}  // namespace
}  // namespace tarnwick
