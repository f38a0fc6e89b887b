#include "bench/benchpeers.h"

#include <ole2.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "bench/cbenchhost.h"
#include "bench/cpeerprocess.h"
#include "bench/csharedview.h"
#include "iwindowsmessageinvoke.h"
#include "peer/clpcpeer.h"
#include "peer/cwindowsmessagepeer.h"
#include "platform/vaskconduit.h"
#include "standins/common/cscopedhandle.h"

namespace tarnwick::bench {

namespace {

constexpr DWORD kPeerLifetimeMs = 10 * 60 * 1000;
constexpr DWORD kStartTimeoutMs = 20000;
constexpr const wchar_t* kBareWindowClass = L"TarnwickBenchBarePeer";

HWND WindowOf(const std::wstring& text) {
    return reinterpret_cast<HWND>(
        static_cast<std::uintptr_t>(std::wcstoull(text.c_str(), nullptr, 16)));
}

// The library peer's handler: notes when it ran and cancels the event.
CPeer::EventHandler StampingHandler(void* stamp) {
    return [stamp](const PeerEvent&) {
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        std::memcpy(stamp, &now.QuadPart, sizeof now.QuadPart);
        VARIANT cancel;
        VariantInit(&cancel);
        cancel.vt = VT_BOOL;
        cancel.boolVal = VARIANT_TRUE;
        return CVariantHolder(cancel);
    };
}

// The hook peer's handler: counts the events it answers and cancels each.
CPeer::EventHandler CountingHandler(void* counter) {
    return [counter](const PeerEvent&) {
        InterlockedIncrement64(static_cast<volatile LONG64*>(counter));
        VARIANT cancel;
        VariantInit(&cancel);
        cancel.vt = VT_BOOL;
        cancel.boolVal = VARIANT_TRUE;
        return CVariantHolder(cancel);
    };
}

PeerTarget BenchTarget() {
    PeerTarget target;
    target.Address = {1, 2, 3, kPeerAddressO};
    return target;
}

// Ready once subscribed; then serves until told to stop.
int Serve(CPeer& peer, HANDLE ready, HANDLE stop, const PeerTarget& target = BenchTarget(),
          const wchar_t* eventName = CBenchHost::kEventName) {
    const PeerReply reply = peer.Subscribe(target, eventName, L"bench");
    if (!reply.Arrived || reply.State != StateCompleted) return 3;
    SetEvent(ready);
    return WaitForSingleObject(stop, kPeerLifetimeMs) == WAIT_OBJECT_0 ? 0 : 4;
}

int RunQueuePeer(HANDLE ready, HANDLE stop, const std::wstring& targetQueue,
                 const std::wstring& stamps) {
    const CSharedView stamp = CSharedView::Open(stamps);
    if (stamp.Get() == nullptr) return 2;
    CLpcPeer peer(L"TwP" + std::to_wstring(GetCurrentProcessId()), targetQueue);
    if (!peer.Created() || !peer.Announce()) return 2;
    peer.SetEventHandler(StampingHandler(stamp.Get()));
    return Serve(peer, ready, stop);
}

// Greets the host, which makes its service for the peer's window before the send returns.
bool Greet(HWND host, const CWindowsMessagePeer& peer) {
    DWORD_PTR answer = 0;
    return peer.Window() != nullptr &&
           SendMessageTimeoutW(host, kHelloMessage, reinterpret_cast<WPARAM>(peer.Window()),
                               kHelloLibrary, SMTO_NORMAL, kStartTimeoutMs, &answer) != 0;
}

int RunWindowPeer(HANDLE ready, HANDLE stop, HWND host, const std::wstring& stamps) {
    const CSharedView stamp = CSharedView::Open(stamps);
    if (stamp.Get() == nullptr) return 2;
    CWindowsMessagePeer peer(host);
    peer.SetEventHandler(StampingHandler(stamp.Get()));
    if (!Greet(host, peer)) return 2;
    return Serve(peer, ready, stop);
}

// args: HOSTWINDOW COUNTER P B T O EVENT after the mode and the two event names.
int RunHookPeer(HANDLE ready, HANDLE stop, const std::vector<std::wstring>& args) {
    if (args.size() < 10) return 1;
    const HWND host = WindowOf(args[3]);
    const CSharedView counter = CSharedView::Open(args[4]);
    if (counter.Get() == nullptr) return 2;
    PeerTarget target;
    std::uint64_t* values[] = {&target.Address.P, &target.Address.B, &target.Address.T,
                               &target.Address.O};
    for (size_t i = 0; i < 4; ++i) *values[i] = std::wcstoull(args[5 + i].c_str(), nullptr, 16);
    CWindowsMessagePeer peer(host);
    peer.SetEventHandler(CountingHandler(counter.Get()));
    if (!Greet(host, peer)) return 2;
    return Serve(peer, ready, stop, target, args[9].c_str());
}

struct BareQueue {
    std::wstring hostQueue;
};

void EchoRecord(void* /*reserved*/, void* context, const void* data, std::uint32_t size) {
    const auto* queue = static_cast<const BareQueue*>(context);
    InvokeRecord record{};
    if (data == nullptr || size != sizeof record) return;
    std::memcpy(&record, data, sizeof record);
    if (record.Magic != kInvokeRecordMagic) return;
    record.Tag = kInvokeRecordReplyTag;
    SendIpcMessage(queue->hostQueue.c_str(), &record, sizeof record, 0, 0, 0xFFFFFFFF, nullptr);
}

int RunBareQueuePeer(HANDLE ready, HANDLE stop, const std::wstring& hostQueue,
                     const std::wstring& ownQueue) {
    BareQueue queue{hostQueue};
    if (CreateIpcQueue(ownQueue.c_str(), &EchoRecord, &queue, 0, sizeof(InvokeRecord), 4096) == 0) {
        return 2;
    }
    SetEvent(ready);
    const DWORD waited = WaitForSingleObject(stop, kPeerLifetimeMs);
    DestroyIpcQueue(ownQueue.c_str());
    return waited == WAIT_OBJECT_0 ? 0 : 4;
}

LRESULT CALLBACK BareProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kInvokeWindowMessage) return DefWindowProcW(window, message, wParam, lParam);
    auto* shared = reinterpret_cast<void*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    InvokeRecord record{};
    if (shared == nullptr) return 1;
    std::memcpy(&record, shared, sizeof record);
    if (record.Magic != kInvokeRecordMagic) return 1;
    record.Tag = kInvokeRecordReplyTag;
    std::memcpy(shared, &record, sizeof record);
    return kInvokeWindowMessageReplied;
}

int RunBareWindowPeer(HANDLE ready, HANDLE stop, HWND host, const std::wstring& recordMapping) {
    const CSharedView record = CSharedView::Open(recordMapping);
    if (record.Get() == nullptr) return 2;
    const CUniqueWindow window = CreateHiddenWindow(kBareWindowClass, &BareProcedure);
    if (window == nullptr) return 2;
    SetWindowLongPtrW(window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(record.Get()));
    DWORD_PTR answer = 0;
    const bool greeted =
        SendMessageTimeoutW(host, kHelloMessage, reinterpret_cast<WPARAM>(window.get()), kHelloBare,
                            SMTO_NORMAL, kStartTimeoutMs, &answer) != 0;
    if (greeted) SetEvent(ready);
    return greeted && CPeerProcess::PumpUntil(stop, kPeerLifetimeMs) ? 0 : 4;
}

}  // namespace

std::wstring Hex(std::uint64_t value) {
    wchar_t text[24] = {};
    std::swprintf(text, std::size(text), L"%llX", static_cast<unsigned long long>(value));
    return text;
}

std::wstring Numbered(const wchar_t* prefix) {
    return prefix + std::to_wstring(GetCurrentProcessId());
}

CUniqueWindow CreateHiddenWindow(const wchar_t* className, WNDPROC procedure) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
    return CUniqueWindow(CreateWindowExW(0, className, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                         windowClass.hInstance, nullptr));
}

int RunPeer(const std::vector<std::wstring>& args) {
    if (args.size() < 5) return 1;
    const vask::CScopedHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, args[1].c_str()));
    const vask::CScopedHandle stop(OpenEventW(SYNCHRONIZE, FALSE, args[2].c_str()));
    if (!ready.IsValid() || !stop.IsValid()) return 1;
    const std::wstring& mode = args[0];
    if (mode == L"queue") return RunQueuePeer(ready.Get(), stop.Get(), args[3], args[4]);
    if (mode == L"window")
        return RunWindowPeer(ready.Get(), stop.Get(), WindowOf(args[3]), args[4]);
    if (mode == L"barequeue") return RunBareQueuePeer(ready.Get(), stop.Get(), args[3], args[4]);
    if (mode == L"hook") return RunHookPeer(ready.Get(), stop.Get(), args);
    if (mode == L"barewindow") {
        return RunBareWindowPeer(ready.Get(), stop.Get(), WindowOf(args[3]), args[4]);
    }
    return 1;
}

int RunBenchmarkProgram(const wchar_t* countOption,
                        const std::function<int(std::optional<int> count)>& run) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args;
    for (int i = 1; arguments != nullptr && i < count; ++i) args.emplace_back(arguments[i]);
    if (arguments != nullptr) LocalFree(arguments);
    if (FAILED(OleInitialize(nullptr))) return 1;
    int result = 0;
    if (!args.empty() && args[0] == L"--peer") {
        result = RunPeer(std::vector<std::wstring>(args.begin() + 1, args.end()));
    } else {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
        std::optional<int> quick;
        if (args.size() == 2 && args[0] == countOption) {
            quick = std::max(1, _wtoi(args[1].c_str()));
        }
        result = run(quick);
    }
    OleUninitialize();
    return result;
}

}  // namespace tarnwick::bench
