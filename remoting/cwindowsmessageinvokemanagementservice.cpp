#include "remoting/cwindowsmessageinvokemanagementservice.h"

#include <cstring>
#include <cwchar>

#include "messages/craiseeventmessage.h"
#include "messages/errorinfomessage.h"
#include "messages/sharedmemory.h"
#include "remoting/cinvokewait.h"
#include "trace/ctraceprovider.h"

namespace tarnwick {

namespace {

// {4F82D4DD-7BED-421D-8F37-E8084FBEBC5F}
constexpr GUID kTraceGuid = {
    0x4f82d4dd, 0x7bed, 0x421d, {0x8f, 0x37, 0xe8, 0x08, 0x4f, 0xbe, 0xbc, 0x5f}};

enum TracePoint : USHORT {
    kNotDelivered = 1,
    kNotAnswered,
    kReplyBlockNotOpened,
    kReplyRecordNotReadable,
    kCallBlockNotOpened,
    kCallRecordMalformed,
    kWaitWithoutMessage,
};

enum SendStatus : int { kReplied = 0, kNotSent = 1, kNoReply = 2 };

constexpr const char* kSourceFile = "cwindowsmessageinvokemanagementservice";

template <typename... Values>
void TraceError(TracePoint point, const Values&... values) {
    Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, point, values...);
}

// The record in a 16-byte block, when the block holds one.
bool ReadRecord(std::span<const std::uint8_t> block, InvokeRecord& record) {
    return ReadAt(block, 0, record) && record.Magic == kInvokeRecordMagic;
}

}  // namespace

CWindowsMessageInvokeManagementService::CWindowsMessageInvokeManagementService(
    HWND peerWindow, IInvokeNotification* notification)
    : CInvokeManagementServiceBase(notification), peerWindow_(peerWindow) {}

const wchar_t* CWindowsMessageInvokeManagementService::GetAddress(std::wstring& buffer) {
    wchar_t text[16] = {};
    const auto low = static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(peerWindow_));
    std::swprintf(text, std::size(text), L"HWND:%08X", low);
    buffer.assign(text);
    return buffer.c_str();
}

void CWindowsMessageInvokeManagementService::SetReturnAddress(IReturnAddress* /*address*/) {}

int CWindowsMessageInvokeManagementService::SendReply(InvokeRecord* /*record*/) { return 0; }

int CWindowsMessageInvokeManagementService::SendAndReceive(InvokeRecord* record,
                                                           InvokeRecord* reply,
                                                           std::uint64_t target) {
    if (record == nullptr || reply == nullptr) return kNotSent;
    CBlockHolder block;
    const auto bytes = block.Allocate(sizeof(InvokeRecord), {__LINE__, kSourceFile});
    if (bytes.empty()) return kNotSent;
    std::memcpy(bytes.data(), record, sizeof(InvokeRecord));
    // Calls that arrive while this one is out may not name the block the reply comes back in.
    const CHeldBlock held(block.Get());
    const LRESULT answer = SendMessageW(peerWindow_, message_, static_cast<WPARAM>(target),
                                        static_cast<LPARAM>(block.Get()));
    reply->Block = 0;
    if (answer != kInvokeWindowMessageReplied) return answer == 0 ? kNotSent : kNoReply;
    // The peer rewrote the record in the block; a block that no longer holds one counts as no
    // reply, so that nothing is read from or freed on the peer's word alone.
    COpenedBlock again(block.Get(), {__LINE__, kSourceFile});
    InvokeRecord written{};
    if (!again.IsOpen() || !ReadRecord(again.Bytes(), written)) {
        TraceError(kReplyRecordNotReadable, static_cast<std::uint64_t>(block.Get()));
        return kNoReply;
    }
    *reply = written;
    return kReplied;
}

int CWindowsMessageInvokeManagementService::SendInvoke(InvokeRecord* record, IInvokeWait* wait,
                                                       std::uint64_t target) {
    InvokeRecord reply{kInvokeRecordMagic, 0, kInvokeRecordReplyTag};
    HRESULT result = E_FAIL;
    auto* ours = dynamic_cast<CInvokeWait*>(wait);
    const int status = SendAndReceive(record, &reply, target);
    if (status == kNotSent) {
        TraceError(kNotDelivered, static_cast<std::uint64_t>(target));
    } else if (status == kNoReply) {
        TraceError(kNotAnswered, static_cast<std::uint64_t>(target));
    } else {
        COpenedBlock opened(reply.Block, {__LINE__, kSourceFile});
        CRaiseEventMessage* message = ours != nullptr ? ours->Message() : nullptr;
        if (!opened.IsOpen()) {
            TraceError(kReplyBlockNotOpened, static_cast<std::uint64_t>(reply.Block));
        } else if (message == nullptr) {
            TraceError(kWaitWithoutMessage, static_cast<std::uint64_t>(reply.Block));
            DiscardReply(opened.Bytes(), {reply.Block});
        } else {
            ApplyReplyAndFree(opened.Bytes(), *message, {reply.Block});
            result = S_OK;
        }
        // The reply block came to this side to free.
        opened.Destroy();
    }
    // The caller's Wait returns at once, whatever became of the call.
    if (ours != nullptr) ours->Signal();
    return result;
}

std::uint64_t CWindowsMessageInvokeManagementService::ProcessWindowMessage(std::uint32_t block) {
    // The sender owns and frees the 16-byte block; this side only reads and rewrites it.
    COpenedBlock opened(block, {__LINE__, kSourceFile});
    if (!opened.IsOpen()) {
        TraceError(kCallBlockNotOpened, static_cast<std::uint64_t>(block));
        return 0;
    }
    InvokeRecord record{};
    if (!ReadRecord(opened.Bytes(), record)) {
        TraceError(kCallRecordMalformed, static_cast<std::uint64_t>(block));
        return 0;
    }
    // The record's block stays open here meanwhile: no payload of the call may name it.
    if (ProcessMessage(&record, block) != 1) return 0;
    return WriteAt(opened.Bytes(), 0, record) ? 1 : 0;
}

}  // namespace tarnwick
