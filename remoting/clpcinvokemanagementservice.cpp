#include "remoting/clpcinvokemanagementservice.h"

#include <algorithm>
#include <cstring>

#include "messages/cmethodcallmessage.h"
#include "messages/errorinfomessage.h"
#include "messages/sharedmemory.h"
#include "platform/vaskconduit.h"
#include "remoting/cinvokewait.h"
#include "trace/ctraceprovider.h"

namespace tarnwick {

namespace {

// {221C9993-32F8-4ED2-B692-AD16B3F5157C}
constexpr GUID kTraceGuid = {
    0x221c9993, 0x32f8, 0x4ed2, {0xb6, 0x92, 0xad, 0x16, 0xb3, 0xf5, 0x15, 0x7c}};

enum TracePoint : USHORT {
    kNoContext = 1,
    kMalformedRecord,
    kReplyNotSent,
    kCallNotSent,
    kPeerEnded,
};

constexpr std::uint32_t kQueueFlags = 0;
constexpr std::uint32_t kQueueCapacity = 4096;
constexpr std::uint32_t kSendTimeoutMs = 0xFFFFFFFF;

int Post(const CBstrHolder& peerName, const InvokeRecord& record) {
    const BSTR name = peerName.Get();
    return SendIpcMessage(name != nullptr ? name : L"", &record, sizeof record, 0, 0,
                          kSendTimeoutMs, nullptr);
}

// A reply that never left this side: its block and the payloads it names would otherwise
// stay alive for good, since no peer will ever take them over.
void DiscardUnsentReply(const InvokeRecord& reply) {
    COpenedBlock opened(reply.Block, {__LINE__, "clpcinvokemanagementservice"});
    if (!opened.IsOpen()) return;
    DiscardReply(opened.Bytes(), {reply.Block});
    opened.Destroy();
}

}  // namespace

CLpcInvokeManagementService::CLpcInvokeManagementService(BSTR queueName,
                                                         IInvokeNotification* notification)
    : CInvokeManagementServiceBase(notification) {
    ownName_.GetBSTR() = queueName;
    // A queue that cannot be made shows only as records that never arrive.
    CreateIpcQueue(ownName_.Get(), &CLpcInvokeManagementService::Receive, this, kQueueFlags,
                   sizeof(InvokeRecord), kQueueCapacity);
}

CLpcInvokeManagementService::~CLpcInvokeManagementService() { DestroyIpcQueue(ownName_.Get()); }

const wchar_t* CLpcInvokeManagementService::GetAddress(std::wstring& buffer) {
    const BSTR name = ownName_.Get();
    buffer.assign(name != nullptr ? name : L"");
    return buffer.c_str();
}

void CLpcInvokeManagementService::SetReturnAddress(IReturnAddress* address) {
    if (address == nullptr) return;
    BSTR& text = address->GetAddressText();
    CBstrHolder copy(text != nullptr ? static_cast<const wchar_t*>(text) : L"");
    CCriticalSectionLock lock(ServiceGuard());
    peerName_.Swap(copy);
}

std::wstring CLpcInvokeManagementService::PeerQueueName() const {
    CCriticalSectionLock lock(ServiceGuard());
    const BSTR name = peerName_.Get();
    return name != nullptr ? name : L"";
}

int CLpcInvokeManagementService::SendInvoke(InvokeRecord* record, IInvokeWait* wait,
                                            std::uint64_t /*target*/) {
    // SendRaiseEvent holds the service guard here: the peer's name cannot change mid-post.
    if (record != nullptr && Post(peerName_, *record) != 0) return 0;
    Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kCallNotSent,
          static_cast<std::uint32_t>(GetLastError()));
    if (auto* ours = dynamic_cast<CInvokeWait*>(wait)) ours->Signal();
    return 1;
}

bool CLpcInvokeManagementService::PeerEnded() {
    const std::wstring peer = PeerQueueName();
    if (peer.empty()) return false;
    const auto dropRecord = [](void*, void*, const void*, std::uint32_t) {};
    if (CreateIpcQueue(peer.c_str(), dropRecord, nullptr, kQueueFlags, sizeof(InvokeRecord), 1) ==
        0) {
        return false;
    }
    DestroyIpcQueue(peer.c_str());
    Trace(kTraceGuid, TraceLevel::Warning, kTraceFlagComponent, kPeerEnded, peer.c_str());
    return true;
}

int CLpcInvokeManagementService::SendReply(InvokeRecord* record) {
    if (record == nullptr) return 0;
    // A copy of the name, so that a redirect on the delivery thread cannot free it mid-post.
    CBstrHolder peer;
    {
        CCriticalSectionLock lock(ServiceGuard());
        peer = peerName_;
    }
    return Post(peer, *record);
}

int CLpcInvokeManagementService::SendAndReceive(InvokeRecord* /*record*/, InvokeRecord* /*reply*/,
                                                std::uint64_t /*target*/) {
    return 1;
}

void CLpcInvokeManagementService::Receive(void* /*reserved*/, void* context, const void* data,
                                          std::uint32_t size) {
    auto* service = static_cast<CLpcInvokeManagementService*>(context);
    if (service == nullptr) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kNoContext);
        return;
    }
    std::uint64_t magic = 0;
    if (data != nullptr) std::memcpy(&magic, data, std::min<size_t>(size, sizeof magic));
    if (data == nullptr || size != sizeof(InvokeRecord) || magic != kInvokeRecordMagic) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kMalformedRecord, magic,
              kInvokeRecordMagic);
        return;
    }
    InvokeRecord record;
    std::memcpy(&record, data, sizeof record);
    if (service->ProcessMessage(&record) == 1 && service->SendReply(&record) == 0) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kReplyNotSent,
              static_cast<std::uint32_t>(GetLastError()));
        DiscardUnsentReply(record);
    }
}

}  // namespace tarnwick
