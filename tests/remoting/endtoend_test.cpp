// Over IPC queues: this process is the target, a child the peer whose exit code counts faults.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "iipcinvoke.h"
#include "iwindowsmessageinvoke.h"
#include "marshalling/marshallingtest.h"
#include "messages/cmarshaller.h"
#include "messages/sharedmemory.h"
#include "peer/clpcpeer.h"
#include "peer/cwindowsmessagepeer.h"
#include "messages/ceventproxy.h"
#include "remoting/clpcinvokemanagementservice.h"
#include "support/childmode.h"
#include "support/childprocess.h"

namespace tarnwick {
namespace {

using namespace test;

constexpr ReturnAddressRecord kSubscriber{0x11, 0x22, 0x33, 0x44};
constexpr TargetKey kKey{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
constexpr const wchar_t* kEvent = L"Click";
constexpr const wchar_t* kTag = L"tag1";
// Long enough to travel in a named mapping rather than a block.
constexpr size_t kLongUnits = 40000;
constexpr LONGLONG kWindowField = 0x1A2B;
constexpr DWORD kWaitMs = 20000;

// Waits for the handle while dispatching what is sent to this thread's windows.
bool PumpUntil(HANDLE handle) {
    for (;;) {
        const DWORD woken = MsgWaitForMultipleObjects(1, &handle, FALSE, kWaitMs, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + 1) return woken == WAIT_OBJECT_0;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
}

class CEvent {
  public:
    CEvent() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;
    ~CEvent() { CloseHandle(handle_); }
    HANDLE Get() const { return handle_; }
    void Set() const { SetEvent(handle_); }
    bool Wait() const { return WaitForSingleObject(handle_, kWaitMs) == WAIT_OBJECT_0; }

  private:
    HANDLE handle_;
};

// ---- the target ----

// Files subscriptions in the service's event collection and answers the peer's calls.
class CTargetHost final : public IInvokeNotification {
  public:
    CInvokeManagementServiceBase* service = nullptr;
    CEvent subscribed;
    CEvent unsubscribed;

    int OnMethodCall(IMethodCallMessage* message) override {
        const std::wstring name = static_cast<const wchar_t*>(message->GetMemberName());
        if (name == L"Echo" && message->GetArgumentCount() == 1) {
            message->SetResult(message->GetArgument(0));
        } else if (name == L"Throw") {
            message->SetException(L"Target", L"It threw", L"help.chm", L"thrown %d", 3);
        } else if (name == L"FailCode") {
            message->SetFailedCode(L"code detail", E_ACCESSDENIED, L"denied %ls", L"now");
        }
        return 0;
    }
    int OnEventSubscription(IEventSubscriptionMessage* message) override {
        service->GetEventCollection()->AddSubscriber(
            &message->GetReturnAddress(), message->GetEventName(),
            static_cast<IIpcInvoke*>(message->GetEventProxy()));
        subscribed.Set();
        return 0;
    }
    int OnEventUnsubscription(IEventUnsubscriptionMessage* message) override {
        service->GetEventCollection()->RemoveSubscriber(&message->GetReturnAddress(),
                                                        message->GetEventName());
        unsubscribed.Set();
        return 0;
    }
    std::uint64_t ResolveTarget(std::uint64_t o) override { return o; }

    // Raises the event at its subscriber; VT_EMPTY when there is none.
    VARIANT Raise(std::vector<VARIANT> arguments) {
        VARIANT answer{};
        IIpcInvoke* subscriber = service->GetEventCollection()->GetSubscriber(&kSubscriber, kEvent);
        if (subscriber != nullptr) {
            answer =
                subscriber->Invoke(kEvent, arguments.data(), static_cast<int>(arguments.size()), 0);
            subscriber->Release();
        }
        for (VARIANT& argument : arguments) VariantClear(&argument);
        return answer;
    }
};

class EndToEndTest : public test::MarshallingTest {};

TEST_F(EndToEndTest, OverIpcQueues) {
    const std::wstring suffix = std::to_wstring(GetCurrentProcessId() % 100000);
    const std::wstring targetQueue = L"TwT" + suffix;
    CTargetHost host;
    CLpcInvokeManagementService service(SysAllocString(targetQueue.c_str()), &host);
    host.service = &service;
    CChildProcess peer;
    ASSERT_TRUE(peer.Start(L"EndToEndPeer", {targetQueue, L"TwP" + suffix}));

    ASSERT_TRUE(host.subscribed.Wait()) << "the peer's subscription arrived";
    VARIANT answer = host.Raise(
        {MakeI4(42), MakeI8(-5), MakeString(L"text"), MakeString(nullptr),
         MakeLongString(kLongUnits, L'x'), MakeArray({MakeI4(7), MakeString(L"in array")}),
         MakeRecord(kVirtualControlReferenceGuid, {{L"WindowHandle", MakeI8(kWindowField)}})});
    EXPECT_EQ(answer.vt, VT_BOOL) << (answer.vt == VT_BSTR ? answer.bstrVal : L"");
    EXPECT_EQ(answer.boolVal, VARIANT_TRUE) << "the peer cancels";
    VariantClear(&answer);
    answer = host.Raise({});
    EXPECT_EQ(answer.vt, VT_BOOL);
    EXPECT_EQ(answer.boolVal, VARIANT_FALSE) << "the peer lets this one through";

    ASSERT_TRUE(host.unsubscribed.Wait()) << "the peer's unsubscription arrived";
    EXPECT_EQ(host.Raise({MakeString(L"late")}).vt, VT_EMPTY) << "nobody to deliver to";
    EXPECT_EQ(peer.Wait(kWaitMs), std::optional<DWORD>(0)) << "the peer's checks";
}

// The first raise's peer lives but answers only once asked again; the second's process ends
// while it has the event: that raise returns its initial result at once, unasked.
struct {
    HANDLE release = nullptr;
    int prompts = 0;
} g_asked;

TEST_F(EndToEndTest, ARaiseEndsUnaskedWhenThePeerProcessEnds) {
    const std::wstring suffix = std::to_wstring(GetCurrentProcessId() % 100000);
    const std::wstring release = L"Local\\TarnwickTestRelease" + suffix;
    g_asked.release = CreateEventW(nullptr, TRUE, FALSE, release.c_str());
    CTargetHost host;
    CLpcInvokeManagementService service(SysAllocString((L"TwE" + suffix).c_str()), &host);
    host.service = &service;
    CChildProcess peer;
    ASSERT_TRUE(peer.Start(L"PeerEndsMidRaise", {L"TwE" + suffix, L"TwD" + suffix, release}));
    ASSERT_TRUE(host.subscribed.Wait());
    auto* proxy = static_cast<CEventProxy*>(
        service.GetEventCollection()->GetSubscriber(&kSubscriber, kEvent));
    ASSERT_NE(proxy, nullptr);
    const auto ask = [](HWND, LPCWSTR, LPCWSTR, UINT) {
        SetEvent(g_asked.release);
        return ++g_asked.prompts == 1 ? IDRETRY : IDCANCEL;
    };
    proxy->SetTimeoutPromptForTesting(300, ask);
    EXPECT_EQ(proxy->Invoke(kEvent, nullptr, 0, 0).vt, VT_BOOL) << "answered after Retry";
    proxy->SetTimeoutPromptForTesting(kWaitMs, ask);
    EXPECT_EQ(proxy->Invoke(kEvent, nullptr, 0, 0).vt, VT_UNKNOWN);
    EXPECT_EQ(g_asked.prompts, 1) << "the user was asked about a peer that had ended";
    EXPECT_EQ(peer.Wait(kWaitMs), std::optional<DWORD>(7)) << "it ended in its handler";
    proxy->Release();
    service.GetEventCollection()->RemoveSubscriber(&kSubscriber, kEvent);
    CloseHandle(g_asked.release);
}

// Malformed blocks are refused and freed; a throwing handler fails; unsendable calls move nothing.
TEST_F(EndToEndTest, PeerRefusesMalformedCallsAndFreesThem) {
    using namespace blockformat;
    CWindowsMessagePeer peer;
    ASSERT_NE(peer.Window(), nullptr);
    std::atomic<bool> throws{false};
    peer.SetEventHandler([&](const PeerEvent&) {
        if (throws) throw std::runtime_error("x");
        VARIANT one = MakeI4(1);
        return CVariantHolder(one);
    });
    const auto raised = [](std::int16_t count, size_t size) {
        std::vector<std::uint8_t> bytes(size);
        Put<std::uint16_t>(bytes, kMarker, 1);
        Put<std::uint16_t>(bytes, kKind, kKindRaisedEvent);
        Put<std::int16_t>(bytes, kArgumentCount, count);
        for (int i = 0; i < count && kRaisedEventArguments + 16 * (i + 1) <= size; ++i) {
            Put(bytes, kRaisedEventArguments + 16 * i, CMarshaller::MakeWireValue(MakeI4(i)));
        }
        return bytes;
    };
    // Sends a record naming the block of these bytes; the peer's answer and the record after.
    InvokeRecord record{};
    const auto send = [&](const std::vector<std::uint8_t>& bytes, std::uint64_t magic) {
        record = {magic, test::MakeBlock(bytes), kInvokeRecordCallTag};
        CBlockHolder holder;
        const auto recordBytes = holder.Allocate(sizeof record, {__LINE__, "test"});
        WriteAt(recordBytes, 0, record);
        const LRESULT answer =
            SendMessageW(peer.Window(), kInvokeWindowMessage, 0, static_cast<LPARAM>(holder.Get()));
        ReadAt(std::span<const std::uint8_t>(recordBytes), 0, record);
        return answer;
    };
    const auto answeredState = [&] {
        EXPECT_EQ(send(raised(2, kRaisedEventSize), kInvokeRecordMagic),
                  kInvokeWindowMessageReplied);
        const auto state = At<std::uint32_t>(test::BytesOf(record.Block), kReplyState);
        test::Destroy(record.Block);
        return state;
    };
    EXPECT_EQ(answeredState(), static_cast<std::uint32_t>(StateCompleted));

    auto unterminated = raised(0, kRaisedEventSize);
    std::fill(unterminated.begin() + kRaisedEventTag, unterminated.begin() + kRaisedEventArguments,
              std::uint8_t{0x41});
    auto subscription = raised(0, kRaisedEventSize);
    Put<std::uint16_t>(subscription, kKind, kKindSubscription);
    const std::vector<std::vector<std::uint8_t>> malformed = {
        raised(9, kRaisedEventSize),  // more arguments than a block holds
        raised(3, 600),               // arguments past the block's end
        raised(-1, kRaisedEventSize),
        raised(0, 100),  // shorter than a header
        unterminated,
        subscription,  // not a call this side answers
    };
    for (const auto& bytes : malformed) {
        EXPECT_EQ(send(bytes, kInvokeRecordMagic), 1);
        EXPECT_FALSE(test::IsLive(record.Block)) << "the refused block was freed";
    }
    EXPECT_EQ(send(raised(0, kRaisedEventSize), 0xABCE), 1) << "wrong magic";
    test::Destroy(record.Block);
    EXPECT_EQ(peer.RecordsRefused(), static_cast<int>(malformed.size()) + 1);
    EXPECT_EQ(peer.EventsAnswered(), 1);
    throws = true;
    EXPECT_EQ(answeredState(), static_cast<std::uint32_t>(StateFailed));

    VARIANT text = MakeString(L"kept");
    EXPECT_FALSE(peer.Call({}, L"Caption", DISPATCH_PROPERTYGET, {&text, 1}).Arrived);
    EXPECT_FALSE(peer.Call({}, L"Caption", DISPATCH_PROPERTYPUT).Arrived);
    EXPECT_FALSE(peer.Call({}, L"Caption", 3, {&text, 1}).Arrived);
    EXPECT_EQ(text.vt, VT_BSTR) << "the argument stays the caller's";
    VariantClear(&text);
}

// A target that answers after the peer gave up still finds the record and call blocks.
struct LateTarget {
    CEvent made;
    CEvent release;
    CEvent done;
    std::atomic<bool> recordReadable{false};
    std::atomic<HWND> window{nullptr};
} g_late;

LRESULT CALLBACK LateProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kInvokeWindowMessage) return DefWindowProcW(window, message, wParam, lParam);
    g_late.release.Wait();
    const auto record = test::BytesOf(static_cast<std::uint32_t>(lParam));
    g_late.recordReadable = record.size() == sizeof(InvokeRecord);
    if (g_late.recordReadable) {
        test::Destroy(At<InvokeRecord>(record, 0).Block);   // as the target would
        test::Destroy(static_cast<std::uint32_t>(lParam));  // left to the target
    }
    g_late.done.Set();
    return 0;
}

TEST_F(EndToEndTest, PeerLeavesItsBlocksToATargetThatAnswersLate) {
    std::thread target([] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &LateProcedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TarnwickEndToEndLate";
        RegisterClassW(&windowClass);
        g_late.window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0,
                                        nullptr, nullptr, windowClass.hInstance, nullptr);
        g_late.made.Set();
        PumpUntil(g_late.done.Get());
        DestroyWindow(g_late.window);
    });
    ASSERT_TRUE(g_late.made.Wait());
    CWindowsMessagePeer peer(g_late.window.load());
    peer.SetReplyTimeout(100);
    EXPECT_FALSE(peer.Call({}, L"Slow", DISPATCH_METHOD).Arrived);
    g_late.release.Set();
    target.join();
    EXPECT_TRUE(g_late.recordReadable.load()) << "the record block outlived the peer's wait";
}

// ---- the peer ----

bool IsString(const VARIANT& value, const wchar_t* text) {
    return value.vt == VT_BSTR &&
           std::wstring(value.bstrVal != nullptr ? value.bstrVal : L"") == text;
}

// What is wrong with the event raised with every payload kind; empty when nothing.
std::wstring FaultsOfFullEvent(const PeerEvent& event) {
    const auto& a = event.Arguments;
    if (event.MemberName != kEvent || event.SubscriptionTag != kTag) return L"name or tag";
    if (std::memcmp(&event.Address, &kSubscriber, sizeof kSubscriber) != 0) return L"address";
    if (std::memcmp(&event.Key, &kKey, sizeof kKey) != 0) return L"target key";
    if (a.size() != 7) return L"argument count";
    if (a[0].Get().vt != VT_I4 || a[0].Get().lVal != 42) return L"I4";
    if (a[1].Get().vt != VT_I8 || a[1].Get().llVal != -5) return L"I8";
    if (!IsString(a[2].Get(), L"text")) return L"string";
    if (!IsString(a[3].Get(), L"")) return L"null string";
    test::CTestVariant longText(MakeLongString(kLongUnits, L'x'));
    if (!IsString(a[4].Get(), longText->bstrVal)) return L"long string";
    const VARIANT& array = a[5].Get();
    test::CTestVariant first(test::ElementOf(array, 0));
    test::CTestVariant second(test::ElementOf(array, 1));
    if (array.vt != (VT_ARRAY | VT_VARIANT) || SafeArrayGetDim(array.parray) != 1 ||
        array.parray->rgsabound[0].cElements != 2 || first->vt != VT_I4 || first->lVal != 7 ||
        !IsString(*second, L"in array")) {
        return L"array";
    }
    test::CTestVariant field(test::FieldOf(a[6].Get(), L"WindowHandle"));
    if (field->vt != VT_I8 || field->llVal != kWindowField) return L"record";
    return L"";
}

// args: TARGET_QUEUE PEER_QUEUE RELEASE. Answers its first event once RELEASE is set, and ends
// its process with code 7 in the handler of the second.
TARNWICK_CHILD_MODE(PeerEndsMidRaise) {
    if (args.size() != 3) return 100;
    CLpcPeer peer(args[1], args[0]);
    const HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, args[2].c_str());
    if (!peer.Created() || !peer.Announce() || release == nullptr) return 101;
    int events = 0;
    peer.SetEventHandler([&](const PeerEvent&) {
        if (events++ > 0) TerminateProcess(GetCurrentProcess(), 7);
        WaitForSingleObject(release, kWaitMs);
        VARIANT answer = test::MakeBool(VARIANT_TRUE);
        return CVariantHolder(answer);
    });
    if (!peer.Subscribe({kSubscriber, kKey}, kEvent, kTag).Arrived) return 102;
    // Ends in the handler, well before its own process could signal.
    return WaitForSingleObject(GetCurrentProcess(), kWaitMs) == WAIT_TIMEOUT ? 103 : 104;
}

// args: TARGET_QUEUE PEER_QUEUE. Cancels the full event when intact (else answers what was wrong).
TARNWICK_CHILD_MODE(EndToEndPeer) {
    if (args.size() != 2) return 100;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int failures = 0;
    const auto expect = [&](bool ok, const wchar_t* what) {
        if (ok) return;
        ++failures;
        std::fwprintf(stderr, L"peer: %ls\n", what);
    };
    CLpcPeer peer(args[1], args[0]);
    if (!peer.Created() || !peer.Announce()) return 101;
    std::atomic<int> seen{0};
    CEvent bothSeen;
    peer.SetEventHandler([&](const PeerEvent& event) {
        VARIANT answer = test::MakeBool(VARIANT_FALSE);
        if (!event.Arguments.empty()) {
            const std::wstring faults = FaultsOfFullEvent(event);
            answer = faults.empty() ? test::MakeBool(VARIANT_TRUE) : MakeString(faults.c_str());
        }
        if (++seen == 2) bothSeen.Set();
        return CVariantHolder(answer);
    });
    const PeerTarget target{kSubscriber, kKey};
    PeerReply reply = peer.Subscribe(target, kEvent, kTag);
    expect(reply.Arrived && reply.State == StateCompleted, L"subscription completes");
    expect(bothSeen.Wait(), L"both events arrived");
    reply = peer.Unsubscribe(target, kEvent);
    expect(reply.Arrived && reply.State == StateCompleted, L"unsubscription completes");

    // The host echoes a long string whole (pointers of another process: the marshal helper's test).
    VARIANT echoed[] = {MakeLongString(kLongUnits, L'e')};
    const std::wstring sent(echoed[0].bstrVal, kLongUnits);
    reply = peer.Call(target, L"Echo", DISPATCH_METHOD, echoed);
    expect(IsString(reply.Result.Get(), sent.c_str()), L"a long string comes back whole");

    // Outcomes come back with their texts (every outcome's texts: the error information test).
    reply = peer.Call(target, L"Throw", DISPATCH_METHOD);
    expect(reply.State == StateException && reply.ExceptionText3 == L"help.chm" &&
               reply.StateText == L"thrown 3",
           L"Throw");
    reply = peer.Call(target, L"FailCode", DISPATCH_METHOD);
    expect(reply.State == StateFailedCode && reply.FailureCode == E_ACCESSDENIED &&
               reply.StateText == L"denied now" && reply.FailureDetail == L"code detail",
           L"FailCode");
    expect(peer.EventsAnswered() == 2, L"no event after the unsubscription");
    expect(peer.RecordsRefused() == 0, L"no record refused");
    return failures;
}

}  // namespace
}  // namespace tarnwick
