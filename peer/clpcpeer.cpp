#include "peer/clpcpeer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "messages/cmarshaller.h"
#include "messages/cmarshalhelper.h"
#include "messages/sharedmemory.h"
#include "platform/vaskconduit.h"

namespace tarnwick {

namespace {

constexpr std::uint32_t kQueueCapacity = 4096;
constexpr std::uint32_t kPostTimeoutMs = 0xFFFFFFFF;
constexpr const char* kSourceFile = "clpcpeer";

}  // namespace

CLpcPeer::CLpcPeer(std::wstring ownQueue, std::wstring targetQueue)
    : ownQueue_(std::move(ownQueue)), targetQueue_(std::move(targetQueue)) {
    created_ = CreateIpcQueue(ownQueue_.c_str(), &CLpcPeer::Receive, this, 0, sizeof(InvokeRecord),
                              kQueueCapacity) != 0;
}

CLpcPeer::~CLpcPeer() { DestroyIpcQueue(ownQueue_.c_str()); }

bool CLpcPeer::Announce() {
    using namespace blockformat;
    const size_t textBytes = (ownQueue_.size() + 1) * sizeof(wchar_t);
    std::vector<std::uint8_t> bytes(std::max(kHeaderSize, kReturnAddress + textBytes));
    WriteAt(std::span<std::uint8_t>(bytes), kMarker, std::uint16_t{1});
    WriteAt(std::span<std::uint8_t>(bytes), kKind, std::uint16_t{kKindReturnAddress});
    std::memcpy(bytes.data() + kReturnAddress, ownQueue_.c_str(), textBytes);
    CBlockHolder block(
        CMarshalHelper::StoreBlock(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    if (block.Get() == 0) return false;
    if (!Post({kInvokeRecordMagic, block.Get(), kInvokeRecordCallTag})) return false;
    block.Release();  // the target frees it once read
    return true;
}

bool CLpcPeer::Post(const InvokeRecord& record) const {
    return SendIpcMessage(targetQueue_.c_str(), &record, sizeof record, 0, 0, kPostTimeoutMs,
                          nullptr) != 0;
}

CPeer::Delivery CLpcPeer::Exchange(const InvokeRecord& call, Cookie cookie,
                                   std::uint32_t& replyBlock) {
    auto pending = std::make_shared<PendingReply>();
    std::unique_lock lock(mutex_);
    pending_[cookie] = pending;
    lock.unlock();
    if (!Post(call)) {
        lock.lock();
        pending_.erase(cookie);
        return Delivery::NotDelivered;
    }
    lock.lock();
    replied_.wait_for(lock, std::chrono::milliseconds(ReplyTimeout()),
                      [&] { return pending->arrived; });
    pending_.erase(cookie);
    if (!pending->arrived) return Delivery::NoReply;
    replyBlock = pending->block;
    return Delivery::Replied;
}

void CLpcPeer::Receive(void* /*reserved*/, void* context, const void* data, std::uint32_t size) {
    auto* peer = static_cast<CLpcPeer*>(context);
    InvokeRecord record{};
    if (peer == nullptr) return;
    if (data != nullptr && size == sizeof record) std::memcpy(&record, data, sizeof record);
    if (record.Magic != kInvokeRecordMagic) {
        peer->NoteRefused();
        return;
    }
    peer->OnRecord(record);
}

void CLpcPeer::OnRecord(const InvokeRecord& record) {
    std::uint16_t kind = 0;
    Cookie cookie = 0;
    {
        COpenedBlock opened(record.Block, {__LINE__, kSourceFile});
        if (!opened.IsOpen()) {
            NoteRefused();
            return;
        }
        kind = CMarshaller::GetBlockKind(opened.Bytes());
        cookie = CMarshaller::GetBlockCookie(opened.Bytes());
    }
    if (kind != blockformat::kKindRaisedEvent) {
        OnReply(record, cookie);
        return;
    }
    const std::optional<InvokeRecord> reply = AnswerCall(record);
    if (reply && !Post(*reply)) DiscardReply(reply->Block);
}

void CLpcPeer::OnReply(const InvokeRecord& record, Cookie cookie) {
    std::lock_guard lock(mutex_);
    const auto found = pending_.find(cookie);
    if (found == pending_.end() || found->second->arrived) {
        DiscardReply(record.Block);  // late, or not ours
        return;
    }
    found->second->block = record.Block;
    found->second->arrived = true;
    replied_.notify_all();
}

}  // namespace tarnwick
