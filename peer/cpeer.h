#pragma once
// The automation-host side of the remoting protocol: it sends subscriptions, unsubscriptions,
// method calls and property gets and puts to a target process and reads their replies, and it
// answers the events that the target raises with what the host's handler returns. The two
// transports (IPC queue, window messages) derive from it and only move 16-byte records.
//
// Ownership of blocks: a request's block and its payloads belong to the target once the
// record was delivered, and stay the peer's (which frees them) when it was not; a reply block
// that reaches the peer is freed by the peer; an answer's reply block belongs to the target.

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "iinvokemanagementservice.h"
#include "messages/sharedmemory.h"
#include "messagetypes.h"
#include "common/cvariantholder.h"

namespace tarnwick {

// Where a request is aimed: the return address the target files it under, and its key.
struct PeerTarget {
    ReturnAddressRecord Address{};
    TargetKey Key{};
};

// What came back for a request. Arrived is false when no reply came (the record could not be
// delivered, the target wrote none, or none came in time); the rest is then empty.
struct PeerReply {
    bool Arrived = false;
    InvokeState State = StatePending;
    CVariantHolder Result;
    std::wstring StateText;
    std::wstring ExceptionText1;
    std::wstring ExceptionText2;
    std::wstring ExceptionText3;
    std::wstring FailureDetail;
    HRESULT FailureCode = S_OK;
};

// A raised event as it arrived, its payloads restored; arguments in call order.
struct PeerEvent {
    Cookie CallId = 0;
    ReturnAddressRecord Address{};
    TargetKey Key{};
    std::wstring MemberName;
    std::wstring SubscriptionTag;
    std::vector<CVariantHolder> Arguments;
};

class CPeer {
  public:
    // Answers a raised event: the result that the raiser reads (VARIANT_TRUE cancels).
    using EventHandler = std::function<CVariantHolder(const PeerEvent&)>;

    // What became of a request record.
    enum class Delivery { NotDelivered, NoReply, Replied };

    CPeer() = default;
    CPeer(const CPeer&) = delete;
    CPeer& operator=(const CPeer&) = delete;
    virtual ~CPeer() = default;

    // The handler runs on the transport's receiving thread. Without one, events are answered
    // with VT_EMPTY; a handler that throws answers the raise as failed.
    void SetEventHandler(EventHandler handler);

    PeerReply Subscribe(const PeerTarget& target, const wchar_t* eventName, const wchar_t* tag);
    PeerReply Unsubscribe(const PeerTarget& target, const wchar_t* eventName);
    // A method call (DISPATCH_METHOD), property get or property put. The arguments are in call
    // order; their payloads move to the target, so each argument is left VT_EMPTY. At most 8
    // arguments; a put takes exactly one, a get none. Other counts or kinds are refused (no
    // reply) and leave the arguments untouched.
    PeerReply Call(const PeerTarget& target, const wchar_t* memberName, WORD invokeKind,
                   std::span<VARIANT> arguments = {});

    // Events answered, and records from the target that were refused as malformed.
    int EventsAnswered() const noexcept { return answered_; }
    int RecordsRefused() const noexcept { return refused_; }

    // How long a request waits for its reply.
    void SetReplyTimeout(DWORD timeoutMs) noexcept { replyTimeoutMs_ = timeoutMs; }

    // Frees the replies that came after their request gave up waiting, with what they name.
    // A transport that cannot free them as they arrive finds them here (and at each request).
    virtual void FreeLateReplies() {}

  protected:
    // Sends the call record of a request and, when the target replied, the handle of the
    // reply block in *replyBlock.
    virtual Delivery Exchange(const InvokeRecord& call, Cookie cookie,
                              std::uint32_t& replyBlock) = 0;

    // Handles the record of a call from the target. A raised event is read, answered through
    // the handler, and its reply record returned; anything else is refused (nothing). The
    // call's block is freed in every case.
    std::optional<InvokeRecord> AnswerCall(const InvokeRecord& call);

    DWORD ReplyTimeout() const noexcept { return replyTimeoutMs_; }
    // Counts a record from the target that the transport could not even read.
    void NoteRefused() noexcept { ++refused_; }

    // Frees a reply block that no request will read, with the string blocks it names.
    static void DiscardReply(std::uint32_t replyBlock);

  private:
    // Sends a request whose block is stored and answers its reply; frees what the target did
    // not take.
    PeerReply Request(CBlockHolder block, Cookie cookie, std::span<VARIANT> movedArguments);
    static PeerReply ReadReply(std::uint32_t replyBlock);
    std::vector<std::uint8_t> RequestBlock(std::uint16_t kind, const PeerTarget& target,
                                           Cookie cookie, size_t size) const;
    // The handler's answer; nothing when it threw.
    std::optional<CVariantHolder> Answer(const PeerEvent& event);

    std::mutex handlerMutex_;
    EventHandler handler_;
    std::atomic<Cookie> nextCookie_{1};
    std::atomic<int> answered_{0};
    std::atomic<int> refused_{0};
    DWORD replyTimeoutMs_ = 10000;
};

}  // namespace tarnwick
