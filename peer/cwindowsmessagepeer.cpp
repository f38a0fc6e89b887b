#include "peer/cwindowsmessagepeer.h"

#include <future>

#include "iwindowsmessageinvoke.h"
#include "messages/sharedmemory.h"

namespace tarnwick {

namespace {

constexpr const wchar_t* kWindowClass = L"TarnwickPeerWindow";
constexpr const char* kSourceFile = "cwindowsmessagepeer";
// Answer of the peer's window to a call it could not read or answer.
constexpr LRESULT kNotHandled = 1;

bool ReadRecord(std::span<const std::uint8_t> block, InvokeRecord& record) {
    return ReadAt(block, 0, record) && record.Magic == kInvokeRecordMagic;
}

}  // namespace

void CWindowsMessagePeer::RegisterWindowClass() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &CWindowsMessagePeer::Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);  // fails harmlessly once registered
}

CWindowsMessagePeer::CWindowsMessagePeer(HWND targetWindow) : targetWindow_(targetWindow) {
    std::promise<void> ready;
    std::future<void> made = ready.get_future();
    thread_ = std::thread([this, &ready] { Run(ready); });
    made.wait();
}

CWindowsMessagePeer::~CWindowsMessagePeer() {
    if (window_ != nullptr) PostMessageW(window_, WM_CLOSE, 0, 0);
    if (thread_.joinable()) thread_.join();
    Sweep(true);
}

void CWindowsMessagePeer::Sweep(bool all) {
    const std::lock_guard lock(lateMutex_);
    std::erase_if(late_, [all](const std::pair<std::uint32_t, std::uint32_t>& request) {
        InvokeRecord record{};
        bool replied = false;
        {
            COpenedBlock opened(request.first, {__LINE__, kSourceFile});
            replied = opened.IsOpen() && ReadRecord(opened.Bytes(), record) &&
                      record.Block != request.second;
        }
        if (!replied && !all) return false;
        if (replied) DiscardReply(record.Block);
        CBlockHolder owned(request.first);  // frees it
        return true;
    });
}

void CWindowsMessagePeer::Run(std::promise<void>& ready) {
    RegisterWindowClass();
    window_ = CreateWindowExW(0, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    // Until the peer is attached, the window refuses calls.
    if (window_ != nullptr) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ready.set_value();
    if (window_ == nullptr) return;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
}

LRESULT CALLBACK CWindowsMessagePeer::Procedure(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
    auto* peer = reinterpret_cast<CWindowsMessagePeer*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
        case kInvokeWindowMessage:
            return peer != nullptr ? peer->OnInvoke(static_cast<std::uint32_t>(lParam))
                                   : kNotHandled;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT CWindowsMessagePeer::OnInvoke(std::uint32_t recordBlock) {
    // The sender owns the 16-byte block; the reply record is written back into it.
    COpenedBlock opened(recordBlock, {__LINE__, kSourceFile});
    InvokeRecord record{};
    if (!opened.IsOpen() || !ReadRecord(opened.Bytes(), record)) {
        NoteRefused();
        return kNotHandled;
    }
    const std::optional<InvokeRecord> reply = AnswerCall(record);
    if (!reply) return kNotHandled;
    if (!WriteAt(opened.Bytes(), 0, *reply)) {
        DiscardReply(reply->Block);
        return kNotHandled;
    }
    return kInvokeWindowMessageReplied;
}

CPeer::Delivery CWindowsMessagePeer::Exchange(const InvokeRecord& call, Cookie /*cookie*/,
                                              std::uint32_t& replyBlock) {
    Sweep(false);
    CBlockHolder block;
    const auto bytes = block.Allocate(sizeof(InvokeRecord), {__LINE__, kSourceFile});
    if (bytes.empty() || !WriteAt(bytes, 0, call)) return Delivery::NotDelivered;
    DWORD_PTR answer = 0;
    // A target that hangs must not hang the host: the request gives up after the timeout.
    const LRESULT sent =
        SendMessageTimeoutW(targetWindow_.load(), kInvokeWindowMessage, 0,
                            static_cast<LPARAM>(block.Get()), SMTO_NORMAL, ReplyTimeout(), &answer);
    if (sent == 0 && GetLastError() == ERROR_TIMEOUT) {
        // The target may still be working in both blocks: freeing either could pull them from
        // under it. The record block is kept, and the reply it names freed once written.
        try {
            const std::lock_guard lock(lateMutex_);
            late_.emplace_back(block.Get(), call.Block);
            block.Release();
        } catch (...) {
            block.Release();  // lost rather than freed under the target
        }
        return Delivery::NoReply;
    }
    if (sent == 0 || answer == 0) return Delivery::NotDelivered;
    if (answer != static_cast<DWORD_PTR>(kInvokeWindowMessageReplied)) return Delivery::NoReply;
    COpenedBlock again(block.Get(), {__LINE__, kSourceFile});
    InvokeRecord reply{};
    if (!again.IsOpen() || !ReadRecord(again.Bytes(), reply)) return Delivery::NoReply;
    replyBlock = reply.Block;
    return Delivery::Replied;
}

}  // namespace tarnwick
