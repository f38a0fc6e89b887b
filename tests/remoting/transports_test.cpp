// The two transports over real IPC queues and real windows, and the caches of the factories.
// Every test ends with as many live shared-memory blocks as it found.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
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
#include "platform/vaskreservoir.h"
#include "remoting/ceventproxy.h"
#include "remoting/clpcinvokemanagementservice.h"
#include "remoting/cremotingservices.h"
#include "remoting/cwindowsmessageinvokemanagementservice.h"

namespace tarnwick {
namespace {

using namespace blockformat;
using namespace test;

// Answers every method call with 42 and counts the calls, from any thread.
class CCallHost final : public IInvokeNotification {
  public:
    int OnMethodCall(IMethodCallMessage* message) override {
        VARIANT result = MakeI4(42);
        message->SetResult(&result);
        message->SetCompleted();
        std::lock_guard lock(mutex_);
        ++calls_;
        changed_.notify_all();
        return 0;
    }
    int OnEventSubscription(IEventSubscriptionMessage*) override { return 0; }
    int OnEventUnsubscription(IEventUnsubscriptionMessage*) override { return 0; }
    std::uint64_t ResolveTarget(std::uint64_t o) override { return o; }

    bool WaitForCalls(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return calls_ >= count; });
    }
    int Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int calls_ = 0;
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

// A method-call block as the peer sends it: Add(2).
std::uint32_t StoreCall() {
    CMethodCallMessage call;
    call.GetInvokeKind() = DISPATCH_METHOD;
    call.GetMemberName() = L"Add";
    call.InitArguments(1);
    VARIANT first = MakeI4(2);
    call.AddArgument(&first);
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

constexpr ReturnAddressRecord kNullQueueAddress{~0ull, ~0ull, ~0ull, 0x56};

TEST_F(TransportsTest, QueueServiceRepliesToTheLatestAnnouncedPeerQueue) {
    const std::wstring own = UniqueName(L"O");
    const std::wstring first = UniqueName(L"F");
    const std::wstring second = UniqueName(L"S");
    CPeerQueue firstPeer(first);
    CPeerQueue secondPeer(second);
    ASSERT_TRUE(firstPeer.Created() && secondPeer.Created());
    CCallHost host;
    CLpcInvokeManagementService service(SysAllocString(own.c_str()), &host);
    EXPECT_EQ(service.PeerQueueName(), L"");

    // Before any return address the reply has nowhere to go and is discarded whole.
    ASSERT_TRUE(PostCall(own));
    ASSERT_TRUE(host.WaitForCalls(1));
    for (const auto& [name, peer] :
         {std::pair{&first, &firstPeer}, std::pair{&second, &secondPeer}}) {
        ASSERT_TRUE(Announce(own, *name) && PostCall(own));
        EXPECT_EQ(TakeOnlyReply(*peer), 42);
        EXPECT_EQ(service.PeerQueueName(), *name);
    }
    EXPECT_EQ(firstPeer.WaitFor(2, 0).size(), 1u) << "redirected";

    // A raised event goes to the same queue; its wait is left to time out.
    InvokeRecord raised{kInvokeRecordMagic, 0x1234, kInvokeRecordCallTag};
    EXPECT_EQ(service.SendInvoke(&raised, nullptr, 0), 0);
    const auto arrived = secondPeer.WaitFor(2);
    ASSERT_EQ(arrived.size(), 2u);
    EXPECT_EQ(std::memcmp(arrived[1].data(), &raised, sizeof raised), 0);
    EXPECT_EQ(host.Calls(), 3);
}

TEST_F(TransportsTest, QueueServiceDropsRecordsOfWrongSizeOrMagicUntouched) {
    const std::wstring own = UniqueName(L"D");
    const std::wstring peer = UniqueName(L"E");
    CPeerQueue peerQueue(peer);
    CCallHost host;
    CLpcInvokeManagementService service(SysAllocString(own.c_str()), &host);
    ASSERT_TRUE(Announce(own, peer));
    const std::uint32_t block = StoreCall();
    std::uint8_t bytes[17] = {};
    InvokeRecord call{kInvokeRecordMagic, block, kInvokeRecordCallTag};
    std::memcpy(bytes, &call, sizeof call);
    ASSERT_TRUE(Post(own, bytes, 15));
    ASSERT_TRUE(Post(own, bytes, 17));
    InvokeRecord wrongMagic{0xABCE, block, kInvokeRecordCallTag};
    ASSERT_TRUE(Post(own, &wrongMagic, sizeof wrongMagic));
    // Records arrive in order: once this one is answered, the others have been dropped.
    InvokeRecord good{kInvokeRecordMagic, StoreCall(), kInvokeRecordCallTag};
    ASSERT_TRUE(Post(own, &good, sizeof good));
    EXPECT_EQ(TakeOnlyReply(peerQueue), 42);
    EXPECT_EQ(host.Calls(), 1);
    EXPECT_TRUE(test::IsLive(block)) << "a dropped record's block is not touched";
    DestroySharedBlock(block);

    // A callback without its service is refused.
    CLpcInvokeManagementService::Receive(nullptr, nullptr, &good, sizeof good);
}

// A raise that cannot be posted (no peer queue announced, or the peer gone) fails at once and
// leaves no block behind, instead of holding the raiser in its time-out waits.
TEST_F(TransportsTest, QueueServiceFailsARaiseThatCannotBePostedAtOnce) {
    const std::wstring own = UniqueName(L"R");
    const std::wstring peer = UniqueName(L"G");
    CCallHost host;
    CLpcInvokeManagementService service(SysAllocString(own.c_str()), &host);
    auto proxy = CEventProxy::Create(kNullQueueAddress, TargetKey{}, CBstrHolder(L"t"), &service);
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

// The peer's window: answers message 0x8007 as the test tells it to.
class CPeerWindow {
  public:
    enum class Answer { NotDelivered, NotHandled, Reply, Forward };

    CPeerWindow() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TarnwickTransportsTestPeer";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10,
                                  nullptr, nullptr, windowClass.hInstance, this);
    }
    CPeerWindow(const CPeerWindow&) = delete;
    CPeerWindow& operator=(const CPeerWindow&) = delete;
    ~CPeerWindow() { DestroyWindow(window_); }

    HWND Handle() const { return window_; }

    Answer answer = Answer::NotDelivered;
    IWindowsMessageInvoke* receiver = nullptr;  // for Answer::Forward
    WPARAM lastTarget = 0;

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<CPeerWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message != kInvokeWindowMessage || self == nullptr) {
            return DefWindowProcW(window, message, wParam, lParam);
        }
        self->lastTarget = wParam;
        const auto block = static_cast<std::uint32_t>(lParam);
        switch (self->answer) {
            case Answer::NotDelivered:
                return 0;
            case Answer::NotHandled:
                return 1;
            case Answer::Forward:
                return self->receiver->ProcessWindowMessage(block) != 0
                           ? kInvokeWindowMessageReplied
                           : 0;
            case Answer::Reply:
                return self->ReplyTrue(block);
        }
        return 0;
    }

    // Answers a raised event the way the peer does: takes the call block and writes the
    // record of a completed reply, with result true, into the 16-byte block.
    static LRESULT ReplyTrue(std::uint32_t recordBlock) {
        std::uint32_t size = 0;
        auto* bytes =
            static_cast<std::uint8_t*>(OpenSharedMemory(recordBlock, &size, __LINE__, "test"));
        if (bytes == nullptr || size < sizeof(InvokeRecord)) return 0;
        const auto call =
            TakeSharedBlock(At<InvokeRecord>({bytes, bytes + size}, 0).Block, {__LINE__, "test"});
        if (call && call->size() >= kReplySize) {
            const InvokeRecord reply = test::StoreReply(*call, VARIANT_TRUE);
            std::memcpy(bytes, &reply, sizeof reply);
        }
        FreeSharedMemory(recordBlock);
        return call ? kInvokeWindowMessageReplied : 0;
    }

    HWND window_ = nullptr;
};

constexpr ReturnAddressRecord kNullAddress{~0ull, ~0ull, ~0ull, 0x55};

TEST_F(TransportsTest, WindowServiceDeliversTheReplyOrFailsAtOnce) {
    CPeerWindow peer;
    ASSERT_NE(peer.Handle(), nullptr);
    CWindowsMessageInvokeManagementService service(peer.Handle(), nullptr);
    auto proxy = CEventProxy::Create(kNullAddress, TargetKey{}, CBstrHolder(L"t"), &service);

    peer.answer = CPeerWindow::Answer::Reply;
    const VARIANT answer = proxy->Invoke(L"Click", nullptr, 0, 0);
    EXPECT_EQ(answer.vt, VT_BOOL);
    EXPECT_EQ(answer.boolVal, VARIANT_TRUE);
    EXPECT_EQ(peer.lastTarget, 0x55u);

    for (auto failing : {CPeerWindow::Answer::NotDelivered, CPeerWindow::Answer::NotHandled}) {
        peer.answer = failing;
        test::ExpectRaiseFailsAtOnce(*proxy.Get());
    }
    EXPECT_EQ(service.PendingCallCount(), 0u);

    InvokeRecord record{kInvokeRecordMagic, 0, kInvokeRecordCallTag};
    InvokeRecord reply{kInvokeRecordMagic, 7, 0};
    peer.answer = CPeerWindow::Answer::NotDelivered;
    EXPECT_EQ(service.SendAndReceive(&record, &reply, 9), 1);
    EXPECT_EQ(reply.Block, 0u);
    peer.answer = CPeerWindow::Answer::NotHandled;
    EXPECT_EQ(service.SendAndReceive(&record, &reply, 9), 2);
    EXPECT_EQ(peer.lastTarget, 9u);
}

TEST_F(TransportsTest, WindowServicesCallEachOtherThroughTheBlock) {
    CPeerWindow peer;
    CCallHost host;
    CWindowsMessageInvokeManagementService receiver(nullptr, &host);
    CWindowsMessageInvokeManagementService sender(peer.Handle(), nullptr);
    peer.answer = CPeerWindow::Answer::Forward;
    peer.receiver = &receiver;

    InvokeRecord call{kInvokeRecordMagic, StoreCall(), kInvokeRecordCallTag};
    InvokeRecord reply{};
    ASSERT_EQ(sender.SendAndReceive(&call, &reply, 3), 0);
    EXPECT_EQ(host.Calls(), 1);
    std::vector<std::uint8_t> arrived(sizeof reply);
    std::memcpy(arrived.data(), &reply, sizeof reply);
    EXPECT_EQ(TakeReplyResult(arrived), 42);

    // A record without the magic, or a handle that names no block, is refused untouched.
    const std::uint32_t block = StoreCall();
    InvokeRecord forged{0x1111, block, kInvokeRecordCallTag};
    EXPECT_EQ(sender.SendAndReceive(&forged, &reply, 3), 1);
    EXPECT_TRUE(test::IsLive(block));
    DestroySharedBlock(block);
    EXPECT_EQ(receiver.ProcessWindowMessage(0x7FFFFFF0), 0u);
    EXPECT_EQ(host.Calls(), 1);

    std::wstring address;
    CWindowsMessageInvokeManagementService named(reinterpret_cast<HWND>(0x1A2B), nullptr);
    EXPECT_EQ(std::wstring(named.GetAddress(address)), L"HWND:00001A2B");
}

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
    const HWND windowB = reinterpret_cast<HWND>(0xB0);
    auto* made = services.GetWindowsMessageService(windowA, &first);
    EXPECT_EQ(services.GetWindowsMessageService(windowB, &first), made);
    EXPECT_EQ(made->PeerWindow(), windowA);
    auto* another = services.GetWindowsMessageService(windowA, &second);
    EXPECT_NE(another, made);

    // Clean-up destroys the queue: its name can be served again.
    services.DestroyAll();
    EXPECT_NE(services.GetWindowsMessageService(windowA, &first), nullptr);
    CPeerQueue again(queue);
    EXPECT_TRUE(again.Created());
}

TEST(RemotingServicesTest, ExportedFactoriesReturnTheModuleServices) {
    CCallHost host;
    const HWND window = reinterpret_cast<HWND>(0xC0);
    IInvokeManagementService* service = GetWindowsMessageInvokeManagementService(window, &host);
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(GetWindowsMessageInvokeManagementService(nullptr, &host), service);
    IInvokeManagementService* lpc =
        GetLpcInvokeManagementService(SysAllocString(UniqueName(L"M").c_str()), &host);
    EXPECT_EQ(GetLpcInvokeManagementService(nullptr, nullptr), lpc);
    CRemotingServices::Module().DestroyAll();
}

// A host whose callback on the queue's delivery thread calls a factory while the module
// unloads. The unload waits for that callback, so the factory must not wait for the unload.
class CUnloadingHost final : public IInvokeNotification {
  public:
    int OnMethodCall(IMethodCallMessage* message) override {
        SetEvent(inCall);
        // The unload has begun once the queue takes no more records; no event tells when.
        const InvokeRecord probe{};
        while (Post(queue, &probe, sizeof probe)) Sleep(1);
        madeDuringUnload = services->GetLpcService(SysAllocString(L"TtLate"), this);
        message->SetCompleted();
        return 0;
    }
    int OnEventSubscription(IEventSubscriptionMessage*) override { return 0; }
    int OnEventUnsubscription(IEventUnsubscriptionMessage*) override { return 0; }
    std::uint64_t ResolveTarget(std::uint64_t o) override { return o; }

    CRemotingServices* services = nullptr;
    std::wstring queue = UniqueName(L"U");
    HANDLE inCall = CreateEventW(nullptr, TRUE, FALSE, nullptr);
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
    EXPECT_NE(host.madeDuringUnload, nullptr);
    host.services->DestroyAll();
    delete host.services;
    CloseHandle(unloaded);
    CloseHandle(host.inCall);
}

// A call whose argument names the 16-byte block its record came in: that block is the
// sender's, and the reply record is written back into it.
TEST(WindowServiceTest, AnArgumentNamingTheRecordsBlockIsRefused) {
    CCallHost host;
    CWindowsMessageInvokeManagementService receiver(nullptr, &host);
    CBlockHolder envelope;
    const auto bytes = envelope.Allocate(sizeof(InvokeRecord), {__LINE__, "test"});
    ASSERT_FALSE(bytes.empty());
    CMethodCallMessage call;
    call.GetMemberName() = L"Add";
    call.InitArguments(1);
    VARIANT named = CMarshaller::WidenWireValue(WireValue{VT_BSTR, {}, envelope.Get()});
    call.AddArgument(&named);
    const InvokeRecord record{kInvokeRecordMagic, CMarshaller::MarshalCall(call),
                              kInvokeRecordCallTag};
    std::memcpy(bytes.data(), &record, sizeof record);
    ASSERT_EQ(receiver.ProcessWindowMessage(envelope.Get()), 1u);
    const std::vector<std::uint8_t> written = test::BytesOf(envelope.Get());
    ASSERT_EQ(written.size(), sizeof(InvokeRecord)) << "the sender's block was taken";
    EXPECT_EQ(TakeReplyResult(written), 42);
}

}  // namespace
}  // namespace tarnwick
