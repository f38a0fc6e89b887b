#include "messages/errorinfomessage.h"

#include <optional>
#include <string>
#include <vector>

#include "common/variantrecords.h"
#include "messages/cmarshaller.h"
#include "messages/cmarshalhelper.h"
#include "messages/sharedmemory.h"
#include "trace/ctraceprovider.h"

namespace tarnwick {
namespace {

// {06E4A98D-4E0E-432E-BBCE-322CF83D6342}
constexpr GUID kTraceGuid = {
    0x06e4a98d, 0x4e0e, 0x432e, {0xbb, 0xce, 0x32, 0x2c, 0xf8, 0x3d, 0x63, 0x42}};

constexpr char kSourceFile[] = "errorinfomessage";

enum TracePoint : USHORT {
    kTraceRequestTooShort = 1,
    kTraceNothingToReply,
    kTraceCompletedOfOtherClass,
    kTraceTextNotStored,
    kTraceReplyNotStored,
    kTraceReplyTooShort,
    kTraceReplyWithoutOutcome,
    kTraceTextUnreadable,
    kTraceTextRefused,
};

using namespace blockformat;

template <typename... Values>
void TraceError(TracePoint point, const Values&... values) {
    Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, point, values...);
}

// The blocks that a reply under construction names: they go with the reply, or are
// destroyed when it cannot be sent.
class CReplyPayloads {
  public:
    CReplyPayloads() = default;
    CReplyPayloads(const CReplyPayloads&) = delete;
    CReplyPayloads& operator=(const CReplyPayloads&) = delete;
    ~CReplyPayloads() {
        if (movedResult_ != nullptr) CMarshalHelper::DiscardValue(*movedResult_);
    }

    // A string block of the text at offset; handle 0 (traced) when none could be made.
    void WriteText(std::span<std::uint8_t> request, size_t offset, const CBstrHolder& text) {
        CBlockHolder block(CMarshalHelper::StoreString(text.Get(), text.Length()));
        if (block.Get() == 0) TraceError(kTraceTextNotStored, static_cast<std::uint64_t>(offset));
        WriteAt(request, offset, block.Get());
        texts_.push_back(std::move(block));
    }
    // The result whose payload has moved into shared memory.
    void HoldResult(VARIANT& result) noexcept { movedResult_ = &result; }

    // The reply has gone: its blocks belong to its receiver.
    void HandOver() noexcept {
        for (CBlockHolder& block : texts_) block.Release();
        movedResult_ = nullptr;
    }

  private:
    std::vector<CBlockHolder> texts_;
    VARIANT* movedResult_ = nullptr;
};

void WriteState(std::span<std::uint8_t> request, InvokeState state) {
    WriteAt(request, kReplyState, static_cast<std::uint32_t>(state));
}

void WriteResultType(std::span<std::uint8_t> request, VARTYPE type) {
    WriteAt(request, kReplyResult, WireValue{type, {}, 0});
}

// Answers whether the reply area was written.
bool WriteCompleted(std::span<std::uint8_t> request, CInvokeMessageBase& message,
                    CReplyPayloads& payloads) {
    if (auto* call = dynamic_cast<IMethodCallMessage*>(&message)) {
        if (call->GetSuppressResult() != 0) return false;
        VARIANT& result = *call->GetResult();
        const bool moves = CMarshalHelper::HasPayload(result.vt);
        CMarshalHelper::MarshalValue(result);
        if (moves) payloads.HoldResult(result);
        WriteAt(request, kReplyResult, CMarshaller::MakeWireValue(result));
        WriteState(request, StateCompleted);
        return true;
    }
    if (dynamic_cast<IEventSubscriptionMessage*>(&message) != nullptr ||
        dynamic_cast<IEventUnsubscriptionMessage*>(&message) != nullptr) {
        WriteState(request, StateCompleted);
        WriteResultType(request, VT_VOID);
        return true;
    }
    TraceError(kTraceCompletedOfOtherClass, static_cast<const wchar_t*>(message.GetMemberName()));
    return false;
}

void WriteException(std::span<std::uint8_t> request, CInvokeMessageBase& message,
                    CReplyPayloads& payloads) {
    WriteState(request, StateException);
    WriteAt(request, kReplyFailureDetail, std::uint64_t{0});
    payloads.WriteText(request, kReplyExceptionText1, message.ExceptionText1());
    payloads.WriteText(request, kReplyExceptionText2, message.ExceptionText2());
    payloads.WriteText(request, kReplyExceptionText3, message.ExceptionText3());
    payloads.WriteText(request, kReplyStateText, message.StateText());
    WriteResultType(request, VT_NULL);
}

void WriteFailure(std::span<std::uint8_t> request, CInvokeMessageBase& message,
                  CReplyPayloads& payloads) {
    const InvokeState state = message.GetState();
    WriteState(request, state);
    for (size_t offset : {kReplyExceptionText1, kReplyExceptionText2, kReplyExceptionText3}) {
        WriteAt(request, offset, std::uint32_t{0});
    }
    const HRESULT code = state == StateFailedCode ? message.FailureCode() : S_OK;
    WriteAt(request, kReplyFailureCode, code);
    payloads.WriteText(request, kReplyFailureDetail, message.FailureDetail());
    payloads.WriteText(request, kReplyStateText, message.StateText());
    WriteResultType(request, VT_NULL);
}

// A zero handle, or a block that cannot be read, leaves the member as it is.
void ReadText(std::span<const std::uint8_t> reply, size_t offset, CBstrHolder& member) {
    std::uint32_t handle = 0;
    ReadAt(reply, offset, handle);
    if (handle == 0) return;
    const COpenedBlock block(handle, {__LINE__, kSourceFile});
    const std::optional<std::wstring> text =
        block.IsOpen() ? ReadBlockText(block.Bytes(), 0) : std::nullopt;
    if (!text) {
        TraceError(kTraceTextUnreadable, handle, static_cast<std::uint64_t>(offset));
        return;
    }
    member = text->c_str();
}

}  // namespace

int MarshalReply(InvokeRecord& reply, std::span<std::uint8_t> request,
                 CInvokeMessageBase& message) {
    if (request.size() < kHeaderSize) {
        TraceError(kTraceRequestTooShort, static_cast<std::uint64_t>(request.size()));
        return 0;
    }
    CReplyPayloads payloads;
    bool written = true;
    switch (message.GetState()) {
        case StateCompleted:
            written = WriteCompleted(request, message, payloads);
            break;
        case StateException:
            WriteException(request, message, payloads);
            break;
        case StateFailed:
        case StateFailedCode:
            WriteFailure(request, message, payloads);
            break;
        default:
            TraceError(kTraceNothingToReply, static_cast<const wchar_t*>(message.GetMemberName()),
                       static_cast<std::uint32_t>(message.GetState()));
            return 0;
    }
    if (written) WriteAt(request, kReplyZero, std::uint16_t{0});
    const std::uint32_t block = CMarshalHelper::StoreBlock(request.data(), kReplySize);
    if (block == 0) {
        TraceError(kTraceReplyNotStored, static_cast<const wchar_t*>(message.GetMemberName()));
        return 0;
    }
    payloads.HandOver();
    reply = InvokeRecord{kInvokeRecordMagic, block, kInvokeRecordReplyTag};
    return 1;
}

int ApplyReply(std::span<const std::uint8_t> reply, CMethodCallMessage& message) {
    CReceivedBlocks received;
    return ApplyReply(reply, message, received);
}

int ApplyReply(std::span<const std::uint8_t> reply, CMethodCallMessage& message,
               CReceivedBlocks& received) {
    if (reply.size() < kHeaderSize) {
        TraceError(kTraceReplyTooShort, static_cast<std::uint64_t>(reply.size()));
        return 0;
    }
    Cookie cookie = 0;
    std::uint32_t state = 0;
    ReadAt(reply, kCookie, cookie);
    ReadAt(reply, kReplyState, state);
    message.GetCookie() = cookie;
    message.State() = static_cast<InvokeState>(state);
    switch (state) {
        case StateCompleted: {
            WireValue wire{};
            ReadAt(reply, kReplyResult, wire);
            VARIANT result = CMarshaller::WidenWireValue(wire);
            CMarshalHelper::UnmarshalValue(result, received);
            *message.GetResult() = result;
            break;
        }
        case StateException:
            ReadText(reply, kReplyExceptionText1, message.ExceptionText1());
            ReadText(reply, kReplyExceptionText3, message.ExceptionText3());
            ReadText(reply, kReplyExceptionText2, message.ExceptionText2());
            break;
        case StateFailed:
            ReadText(reply, kReplyStateText, message.StateText());
            ReadText(reply, kReplyFailureDetail, message.FailureDetail());
            break;
        case StateFailedCode:
            ReadAt(reply, kReplyFailureCode, message.FailureCode());
            break;
        default:
            TraceError(kTraceReplyWithoutOutcome, cookie, state);
            break;
    }
    return 1;
}

int ApplyReplyAndFree(std::span<std::uint8_t> reply, CMethodCallMessage& message,
                      CReceivedBlocks held) {
    // The reply's own block stays open meanwhile: no text or payload may name it.
    const int applied = ApplyReply(reply, message, held);
    if (applied == 0) return 0;
    for (size_t offset : {kReplyExceptionText1, kReplyExceptionText2, kReplyExceptionText3,
                          kReplyFailureDetail, kReplyStateText}) {
        std::uint32_t handle = 0;
        ReadAt(reply, offset, handle);
        if (held.Claim(handle)) {
            COpenedBlock(handle, {__LINE__, kSourceFile}).Destroy();
        } else {
            TraceError(kTraceTextRefused, handle, static_cast<std::uint64_t>(offset));
        }
        WriteAt(reply, offset, std::uint32_t{0});
    }
    return applied;
}

void DiscardReply(std::span<std::uint8_t> reply, CReceivedBlocks held) {
    CMethodCallMessage scratch;
    ApplyReplyAndFree(reply, scratch, std::move(held));
    ClearVariant(*scratch.GetResult());
}

}  // namespace tarnwick
