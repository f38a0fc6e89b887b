#include "bench/cbaretransports.h"

#include <cstring>

#include "iwindowsmessageinvoke.h"
#include "platform/vaskconduit.h"

namespace tarnwick::bench {

namespace {

constexpr DWORD kReplyTimeoutMs = 10000;

bool IsReplyTo(const InvokeRecord& reply, std::uint32_t value) {
    return reply.Magic == kInvokeRecordMagic && reply.Block == value &&
           reply.Tag == kInvokeRecordReplyTag;
}

}  // namespace

CBareQueue::CBareQueue(std::wstring ownQueue, std::wstring peerQueue)
    : ownQueue_(std::move(ownQueue)),
      peerQueue_(std::move(peerQueue)),
      arrived_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    created_ = arrived_.IsValid() && CreateIpcQueue(ownQueue_.c_str(), &CBareQueue::Receive, this,
                                                    0, sizeof(InvokeRecord), 4096) != 0;
}

CBareQueue::~CBareQueue() {
    if (created_) DestroyIpcQueue(ownQueue_.c_str());
}

void CBareQueue::Receive(void* /*reserved*/, void* context, const void* data, std::uint32_t size) {
    auto* self = static_cast<CBareQueue*>(context);
    if (data == nullptr || size != sizeof(InvokeRecord)) return;
    std::memcpy(&self->reply_, data, sizeof(InvokeRecord));
    SetEvent(self->arrived_.Get());
}

bool CBareQueue::RoundTrip(std::uint32_t value) {
    const InvokeRecord call{kInvokeRecordMagic, value, kInvokeRecordCallTag};
    if (SendIpcMessage(peerQueue_.c_str(), &call, sizeof call, 0, 0, 0xFFFFFFFF, nullptr) == 0) {
        return false;
    }
    return WaitForSingleObject(arrived_.Get(), kReplyTimeoutMs) == WAIT_OBJECT_0 &&
           IsReplyTo(reply_, value);
}

CBareWindow::CBareWindow(std::wstring name)
    : name_(std::move(name)), view_(CSharedView::Create(name_, sizeof(InvokeRecord))) {}

bool CBareWindow::RoundTrip(std::uint32_t value) {
    const InvokeRecord call{kInvokeRecordMagic, value, kInvokeRecordCallTag};
    std::memcpy(view_.Get(), &call, sizeof call);
    if (SendMessageW(peer_, kInvokeWindowMessage, 0, 0) != kInvokeWindowMessageReplied) {
        return false;
    }
    InvokeRecord reply{};
    std::memcpy(&reply, view_.Get(), sizeof reply);
    return IsReplyTo(reply, value);
}

}  // namespace tarnwick::bench
