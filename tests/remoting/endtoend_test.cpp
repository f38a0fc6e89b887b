// Remoting between two processes over each transport: this process is the target (the
// library's service, a host notification, and for window messages a window whose procedure
// hands message 0x8007 to the service); a child process is the peer (the peer library).
// The peer subscribes, the target raises events that the peer answers, the peer unsubscribes
// and then calls methods and properties whose outcomes it checks itself; its exit code counts
// what went wrong on its side.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "iipcinvoke.h"
#include "marshalling/marshallingtest.h"
#include "messages/cmarshalhelper.h"
#include "messages/cmarshaller.h"
#include "messages/sharedmemory.h"
#include "peer/clpcpeer.h"
#include "peer/cwindowsmessagepeer.h"
#include "remoting/clpcinvokemanagementservice.h"
#include "remoting/cwindowsmessageinvokemanagementservice.h"
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
// The peer's window announces itself to the target's in lParam.
constexpr UINT kHelloMessage = WM_APP + 0x20;

// Waits for the handle while dispatching what is sent to this thread's windows.
bool PumpUntil(HANDLE handle, DWORD timeoutMs = kWaitMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return false;
        const DWORD woken =
            MsgWaitForMultipleObjects(1, &handle, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0) return true;
        if (woken != WAIT_OBJECT_0 + 1) return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
}

class CEvent {
  public:
    explicit CEvent(const wchar_t* name = nullptr)
        : handle_(CreateEventW(nullptr, TRUE, FALSE, name)) {}
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;
    ~CEvent() { CloseHandle(handle_); }
    HANDLE Get() const { return handle_; }
    void Set() const { SetEvent(handle_); }

  private:
    HANDLE handle_;
};

// ---- the target ----

// Files subscriptions in the service's event collection and answers the peer's calls.
class CTargetHost final : public IInvokeNotification {
  public:
    CInvokeManagementServiceBase* service = nullptr;
    std::unique_ptr<CWindowsMessageInvokeManagementService> windowService;
    CEvent subscribed;
    CEvent unsubscribed;
    CEvent greeted;
    std::wstring caption = L"hello";

    int OnMethodCall(IMethodCallMessage* message) override {
        const std::wstring name = static_cast<const wchar_t*>(message->GetMemberName());
        const int count = message->GetArgumentCount();
        if (name == L"Subtract" && count == 2) {
            // Arguments arrive last-first.
            VARIANT result = MakeI4(message->GetArgument(1)->lVal - message->GetArgument(0)->lVal);
            message->SetResult(&result);
        } else if (name == L"Caption" && message->GetInvokeKind() == DISPATCH_PROPERTYGET) {
            VARIANT result = MakeString(caption.c_str());
            message->SetResult(&result);
        } else if (name == L"Caption" && count == 1 && message->GetArgument(0)->vt == VT_BSTR) {
            caption = message->GetArgument(0)->bstrVal;
            VariantClear(message->GetArgument(0));
            message->SetCompleted();
        } else if (name == L"Echo" && count == 1) {
            message->SetResult(message->GetArgument(0));
        } else if (name == L"Throw") {
            message->SetException(L"Target", L"It threw", L"help.chm", L"thrown %d", 3);
        } else if (name == L"Fail") {
            message->SetFailed(L"the detail", L"failed with %d", 7);
        } else if (name == L"FailCode") {
            message->SetFailedCode(L"code detail", E_ACCESSDENIED, L"denied %ls", L"now");
        }
        return 0;
    }
    int OnEventSubscription(IEventSubscriptionMessage* message) override {
        IIpcInvoke* proxy = nullptr;
        IUnknown* held = message->GetEventProxy();
        if (held != nullptr &&
            SUCCEEDED(held->QueryInterface(IID_IIpcInvoke, reinterpret_cast<void**>(&proxy)))) {
            service->GetEventCollection()->AddSubscriber(&message->GetReturnAddress(),
                                                         message->GetEventName(), proxy);
            proxy->Release();
        }
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
        VARIANT answer;
        VariantInit(&answer);
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

// The target's window: hands message 0x8007 to the window service, and makes that service when
// the peer's window says hello.
class CTargetWindow {
  public:
    explicit CTargetWindow(CTargetHost& host) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TarnwickEndToEndTarget";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&host));
    }
    CTargetWindow(const CTargetWindow&) = delete;
    CTargetWindow& operator=(const CTargetWindow&) = delete;
    ~CTargetWindow() { DestroyWindow(window_); }
    HWND Handle() const { return window_; }

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* host = reinterpret_cast<CTargetHost*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (host != nullptr && message == kInvokeWindowMessage && host->windowService) {
            return host->windowService->ProcessWindowMessage(static_cast<std::uint32_t>(lParam))
                       ? kInvokeWindowMessageReplied
                       : 0;
        }
        if (host != nullptr && message == kHelloMessage && !host->windowService) {
            host->windowService = std::make_unique<CWindowsMessageInvokeManagementService>(
                reinterpret_cast<HWND>(lParam), host);
            host->service = host->windowService.get();
            host->greeted.Set();
            return 1;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    HWND window_ = nullptr;
};

std::vector<VARIANT> EveryPayloadKind() {
    return {MakeI4(42),
            MakeI8(-5),
            MakeString(L"text"),
            MakeString(nullptr),
            MakeLongString(kLongUnits, L'x'),
            MakeArray({MakeI4(7), MakeString(L"in array")}),
            MakeRecord(test::kControlReference, {{L"WindowHandle", MakeI8(kWindowField)}})};
}

// The subscribe, raise, unsubscribe part, seen from the target.
void RaiseWhileSubscribed(CTargetHost& host) {
    ASSERT_TRUE(PumpUntil(host.subscribed.Get())) << "the peer's subscription arrived";
    VARIANT answer = host.Raise(EveryPayloadKind());
    EXPECT_EQ(answer.vt, VT_BOOL) << (answer.vt == VT_BSTR ? answer.bstrVal : L"");
    EXPECT_EQ(answer.boolVal, VARIANT_TRUE) << "the peer cancels";
    VariantClear(&answer);
    answer = host.Raise({});
    EXPECT_EQ(answer.vt, VT_BOOL);
    EXPECT_EQ(answer.boolVal, VARIANT_FALSE) << "the peer lets this one through";

    ASSERT_TRUE(PumpUntil(host.unsubscribed.Get())) << "the peer's unsubscription arrived";
    EXPECT_FALSE(host.service->GetEventCollection()->HasSubscriber(&kSubscriber, kEvent));
    answer = host.Raise({MakeString(L"late")});
    EXPECT_EQ(answer.vt, VT_EMPTY) << "nobody to deliver to";
}

class EndToEndTest : public test::MarshallingTest {};

TEST_F(EndToEndTest, OverIpcQueues) {
    const std::wstring suffix = std::to_wstring(GetCurrentProcessId() % 100000);
    const std::wstring targetQueue = L"TwT" + suffix;
    const std::wstring peerQueue = L"TwP" + suffix;
    CTargetHost host;
    {
        CLpcInvokeManagementService service(SysAllocString(targetQueue.c_str()), &host);
        host.service = &service;
        CChildProcess peer;
        ASSERT_TRUE(peer.Start(L"EndToEndPeer", {L"lpc", targetQueue, peerQueue}));
        RaiseWhileSubscribed(host);
        EXPECT_EQ(peer.Wait(kWaitMs), std::optional<DWORD>(0)) << "the peer's checks";
    }
}

TEST_F(EndToEndTest, OverWindowMessages) {
    CTargetHost host;
    CTargetWindow window(host);
    ASSERT_NE(window.Handle(), nullptr);
    const std::wstring finishName = L"TwE2EFinish" + std::to_wstring(GetCurrentProcessId());
    CEvent finish(finishName.c_str());
    CChildProcess peer;
    wchar_t target[32];
    std::swprintf(
        target, 32, L"%llx",
        static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(window.Handle())));
    ASSERT_TRUE(peer.Start(L"EndToEndPeer", {L"wm", target, finishName}));
    ASSERT_TRUE(PumpUntil(host.greeted.Get())) << "the peer's window said hello";
    RaiseWhileSubscribed(host);
    finish.Set();
    ASSERT_TRUE(PumpUntil(peer.Handle())) << "the peer exited";
    EXPECT_EQ(peer.Wait(0), std::optional<DWORD>(0)) << "the peer's checks";
}

// The peer takes nothing on the word of a malformed block: each is refused (answer 1) and
// freed, and a well-formed raised event is answered in its own block.
TEST_F(EndToEndTest, PeerRefusesMalformedCallsAndFreesThem) {
    using namespace blockformat;
    CWindowsMessagePeer peer;
    ASSERT_NE(peer.Window(), nullptr);
    peer.SetEventHandler([](const PeerEvent& event) {
        VARIANT answer = MakeI4(static_cast<LONG>(event.Arguments.size()));
        return CVariantHolder(answer);
    });
    const auto raised = [](std::int16_t count, size_t size) {
        std::vector<std::uint8_t> bytes(size);
        Put<std::uint16_t>(bytes, kMarker, 1);
        Put<std::uint16_t>(bytes, kKind, kKindRaisedEvent);
        Put<Cookie>(bytes, kCookie, 77);
        Put<std::int16_t>(bytes, kArgumentCount, count);
        for (int i = 0; i < count && kRaisedEventArguments + 16 * (i + 1) <= size; ++i) {
            Put(bytes, kRaisedEventArguments + 16 * i, CMarshaller::MakeWireValue(MakeI4(i)));
        }
        return bytes;
    };
    // Sends a record naming the block of these bytes; the peer's answer and the record after.
    const auto send = [&](const std::vector<std::uint8_t>& bytes, std::uint64_t magic,
                          InvokeRecord& record) {
        record = {magic, test::MakeBlock(bytes), kInvokeRecordCallTag};
        CBlockHolder holder;
        const auto recordBytes = holder.Allocate(sizeof record, {__LINE__, "test"});
        WriteAt(recordBytes, 0, record);
        const LRESULT answer =
            SendMessageW(peer.Window(), kInvokeWindowMessage, 0, static_cast<LPARAM>(holder.Get()));
        ReadAt(std::span<const std::uint8_t>(recordBytes), 0, record);
        return answer;
    };

    InvokeRecord record{};
    EXPECT_EQ(send(raised(2, kRaisedEventSize), kInvokeRecordMagic, record),
              kInvokeWindowMessageReplied);
    const auto reply = test::BytesOf(record.Block);
    ASSERT_EQ(reply.size(), kReplySize);
    EXPECT_EQ(At<std::uint16_t>(reply, kKind), kKindMethodReturn);
    EXPECT_EQ(At<Cookie>(reply, kCookie), 77u);
    EXPECT_EQ(At<std::uint32_t>(reply, kReplyState), static_cast<std::uint32_t>(StateCompleted));
    EXPECT_EQ(At<WireValue>(reply, kReplyResult).Type, VT_I4);
    test::Destroy(record.Block);

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
        EXPECT_EQ(send(bytes, kInvokeRecordMagic, record), 1);
        EXPECT_FALSE(test::IsLive(record.Block)) << "the refused block was freed";
    }
    EXPECT_EQ(send(raised(0, kRaisedEventSize), 0xABCE, record), 1) << "wrong magic";
    test::Destroy(record.Block);
    EXPECT_EQ(peer.RecordsRefused(), static_cast<int>(malformed.size()) + 1);
    EXPECT_EQ(peer.EventsAnswered(), 1);

    // A handler that throws does not take the peer's window down: the raise is answered as
    // failed.
    peer.SetEventHandler([](const PeerEvent&) -> CVariantHolder { throw std::runtime_error("x"); });
    EXPECT_EQ(send(raised(0, kRaisedEventSize), kInvokeRecordMagic, record),
              kInvokeWindowMessageReplied);
    EXPECT_EQ(At<std::uint32_t>(test::BytesOf(record.Block), kReplyState),
              static_cast<std::uint32_t>(StateFailed));
    test::Destroy(record.Block);

    // Calls that no block can carry are refused before anything is moved or sent.
    VARIANT text = MakeString(L"kept");
    EXPECT_FALSE(peer.Call({}, L"Caption", DISPATCH_PROPERTYGET, {&text, 1}).Arrived);
    EXPECT_FALSE(peer.Call({}, L"Caption", DISPATCH_PROPERTYPUT).Arrived);
    EXPECT_FALSE(peer.Call({}, L"Caption", 3, {&text, 1}).Arrived);
    EXPECT_EQ(text.vt, VT_BSTR) << "the argument stays the caller's";
    VariantClear(&text);
}

// A target that answers after the peer gave up still finds its blocks: the peer frees
// neither the record block nor the call block under it.
TEST_F(EndToEndTest, PeerLeavesItsBlocksToATargetThatAnswersLate) {
    CEvent made;
    CEvent release;
    CEvent done;
    std::atomic<bool> recordReadable{false};
    std::atomic<HWND> slow{nullptr};
    std::thread target([&] {
        struct Late {
            CEvent* release;
            CEvent* done;
            std::atomic<bool>* readable;
        } late{&release, &done, &recordReadable};
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam,
                                     LPARAM lParam) -> LRESULT {
            if (message != kInvokeWindowMessage) {
                return DefWindowProcW(window, message, wParam, lParam);
            }
            auto* late = reinterpret_cast<Late*>(GetWindowLongPtrW(window, GWLP_USERDATA));
            WaitForSingleObject(late->release->Get(), kWaitMs);
            const auto record = test::BytesOf(static_cast<std::uint32_t>(lParam));
            late->readable->store(record.size() == sizeof(InvokeRecord));
            if (late->readable->load()) {
                test::Destroy(At<InvokeRecord>(record, 0).Block);   // as the target would
                test::Destroy(static_cast<std::uint32_t>(lParam));  // left to the target
            }
            late->done->Set();
            return 0;
        };
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TarnwickEndToEndLate";
        RegisterClassW(&windowClass);
        HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0,
                                      nullptr, nullptr, windowClass.hInstance, nullptr);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&late));
        slow = window;
        made.Set();
        PumpUntil(done.Get());
        DestroyWindow(window);
    });
    ASSERT_EQ(WaitForSingleObject(made.Get(), kWaitMs), WAIT_OBJECT_0);

    CWindowsMessagePeer peer(slow.load());
    peer.SetReplyTimeout(100);
    EXPECT_FALSE(peer.Call({}, L"Slow", DISPATCH_METHOD).Arrived);
    release.Set();
    target.join();
    EXPECT_TRUE(recordReadable.load()) << "the record block outlived the peer's wait";
}

// ---- the peer ----

class CPeerChecks {
  public:
    void Expect(bool ok, const wchar_t* what) {
        if (ok) return;
        ++failures_;
        std::fwprintf(stderr, L"peer: %ls\n", what);
    }
    int Failures() const { return failures_; }

  private:
    int failures_ = 0;
};

bool IsString(const VARIANT& value, const wchar_t* text) {
    return value.vt == VT_BSTR &&
           std::wstring(value.bstrVal != nullptr ? value.bstrVal : L"") == text;
}

// What is wrong with the raised event, or nothing when it is the one the target raises with
// every payload kind.
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

// Cancels the full event when it arrived intact (else answers what was wrong), lets the
// empty one through, and signals once both came.
CVariantHolder AnswerEvent(const PeerEvent& event, int& seen, const CEvent& bothSeen) {
    VARIANT answer = test::MakeBool(VARIANT_FALSE);
    if (!event.Arguments.empty()) {
        const std::wstring faults = FaultsOfFullEvent(event);
        answer = faults.empty() ? test::MakeBool(VARIANT_TRUE) : MakeString(faults.c_str());
    }
    if (++seen == 2) bothSeen.Set();
    return CVariantHolder(answer);
}

void CheckCalls(CPeer& peer, const PeerTarget& target, CPeerChecks& checks) {
    VARIANT operands[] = {MakeI4(10), MakeI4(3)};
    PeerReply reply = peer.Call(target, L"Subtract", DISPATCH_METHOD, operands);
    checks.Expect(reply.Arrived && reply.State == StateCompleted &&
                      reply.Result.Get().vt == VT_I4 && reply.Result.Get().lVal == 7,
                  L"Subtract(10, 3) answers 7");

    VARIANT caption = MakeString(L"world");
    reply = peer.Call(target, L"Caption", DISPATCH_PROPERTYPUT, {&caption, 1});
    checks.Expect(reply.Arrived && reply.State == StateCompleted, L"Caption put completes");
    reply = peer.Call(target, L"Caption", DISPATCH_PROPERTYGET);
    checks.Expect(reply.State == StateCompleted && IsString(reply.Result.Get(), L"world"),
                  L"Caption get answers what was put");

    // A string too long for one block arrives whole, and an interface pointer of the peer's
    // own process arrives empty; the host answers with each as it got it.
    VARIANT echoed[] = {MakeLongString(kLongUnits, L'e')};
    const std::wstring sent(echoed[0].bstrVal, kLongUnits);
    reply = peer.Call(target, L"Echo", DISPATCH_METHOD, echoed);
    checks.Expect(reply.State == StateCompleted && reply.Result.Get().vt == VT_BSTR &&
                      std::wstring(reply.Result.Get().bstrVal) == sent,
                  L"a long string comes back whole");
    VARIANT foreign;
    VariantInit(&foreign);
    foreign.vt = VT_DISPATCH;
    foreign.pdispVal = reinterpret_cast<IDispatch*>(0x12345678);
    reply = peer.Call(target, L"Echo", DISPATCH_METHOD, {&foreign, 1});
    checks.Expect(reply.State == StateCompleted && reply.Result.Get().vt == VT_EMPTY,
                  L"an interface pointer of another process arrives empty");

    reply = peer.Call(target, L"Throw", DISPATCH_METHOD);
    checks.Expect(reply.State == StateException && reply.ExceptionText1 == L"Target" &&
                      reply.ExceptionText2 == L"It threw" && reply.ExceptionText3 == L"help.chm" &&
                      reply.StateText == L"thrown 3",
                  L"Throw comes back as an exception with its texts");
    reply = peer.Call(target, L"Fail", DISPATCH_METHOD);
    checks.Expect(reply.State == StateFailed && reply.StateText == L"failed with 7" &&
                      reply.FailureDetail == L"the detail",
                  L"Fail comes back failed with its text");
    reply = peer.Call(target, L"FailCode", DISPATCH_METHOD);
    checks.Expect(reply.State == StateFailedCode && reply.FailureCode == E_ACCESSDENIED &&
                      reply.FailureDetail == L"code detail" && reply.StateText == L"denied now",
                  L"FailCode comes back with its code and detail");
}

// args: "lpc" TARGET_QUEUE PEER_QUEUE, or "wm" TARGET_WINDOW FINISH_EVENT.
TARNWICK_CHILD_MODE(EndToEndPeer) {
    if (args.size() != 3) return 100;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CPeerChecks checks;
    std::unique_ptr<CPeer> peer;
    if (args[0] == L"lpc") {
        auto queuePeer = std::make_unique<CLpcPeer>(args[2], args[1]);
        if (!queuePeer->Created() || !queuePeer->Announce()) return 101;
        peer = std::move(queuePeer);
    } else {
        const auto target = reinterpret_cast<HWND>(std::wcstoull(args[1].c_str(), nullptr, 16));
        auto windowPeer = std::make_unique<CWindowsMessagePeer>(target);
        if (windowPeer->Window() == nullptr) return 102;
        SendMessageW(target, kHelloMessage, 0, reinterpret_cast<LPARAM>(windowPeer->Window()));
        peer = std::move(windowPeer);
    }
    int seen = 0;
    CEvent bothSeen;
    peer->SetEventHandler(
        [&](const PeerEvent& event) { return AnswerEvent(event, seen, bothSeen); });
    const PeerTarget target{kSubscriber, kKey};

    PeerReply reply = peer->Subscribe(target, kEvent, kTag);
    checks.Expect(reply.Arrived && reply.State == StateCompleted, L"subscription completes");
    checks.Expect(WaitForSingleObject(bothSeen.Get(), kWaitMs) == WAIT_OBJECT_0,
                  L"both events arrived");
    reply = peer->Unsubscribe(target, kEvent);
    checks.Expect(reply.Arrived && reply.State == StateCompleted, L"unsubscription completes");
    CheckCalls(*peer, target, checks);

    if (args[0] == L"wm") {
        CEvent finish(args[2].c_str());
        checks.Expect(WaitForSingleObject(finish.Get(), kWaitMs) == WAIT_OBJECT_0,
                      L"the target finished");
    }
    checks.Expect(peer->EventsAnswered() == 2, L"no event after the unsubscription");
    checks.Expect(peer->RecordsRefused() == 0, L"no record refused");
    peer.reset();
    CoUninitialize();
    return checks.Failures();
}

}  // namespace
}  // namespace tarnwick
