#include "bench/craisesteps.h"

#include <array>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "bench/benchclock.h"
#include "bench/ckernelcallcounter.h"
#include "ieventcollection.h"
#include "iinvokemanagementservice.h"
#include "messages/cmarshaller.h"
#include "messages/craiseeventmessage.h"
#include "messages/errorinfomessage.h"
#include "messages/sharedmemory.h"
#include "remoting/ccriticalsection.h"

namespace tarnwick::bench {

namespace {

constexpr SourcePlace kHere{__LINE__, "bench_remoting"};
// SendRaiseEvent, the reply's delivery and ReleaseWait.
constexpr int kServiceGuardPerQueueRaise = 3;

// A raised event as the event proxy builds it: one integer argument.
void FillMessage(CRaiseEventMessage& message, const ReturnAddressRecord& address,
                 const CBstrHolder& tag, int value) {
    message.GetReturnAddress() = address;
    message.GetMemberName() = L"Click";
    message.GetSubscriptionTag() = tag;
    message.InitArguments(1);
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_I4;
    argument.lVal = value;
    message.AddArgument(&argument);
}

// A completed reply with a VT_BOOL result, as the peer writes it.
std::array<std::uint8_t, blockformat::kReplySize> ReplyBytes() {
    std::array<std::uint8_t, blockformat::kReplySize> reply{};
    WriteAt(std::span<std::uint8_t>(reply), blockformat::kMarker, std::uint16_t{1});
    WriteAt(std::span<std::uint8_t>(reply), blockformat::kKind,
            std::uint16_t{blockformat::kKindMethodReturn});
    WriteAt(std::span<std::uint8_t>(reply), blockformat::kReplyState,
            std::uint32_t{StateCompleted});
    WriteAt(std::span<std::uint8_t>(reply), blockformat::kReplyResult,
            WireValue{VT_BOOL, {}, static_cast<std::uint16_t>(VARIANT_TRUE)});
    return reply;
}

template <typename Step>
double PerRun(int count, Step step) {
    const double start = Now();
    for (int i = 0; i < count; ++i) {
        if (!step(i)) return -1;
    }
    return (Now() - start) / count;
}

// What a step needs of the running host: its service and the subscriber's address.
struct StepContext {
    IInvokeManagementService& service;
    ReturnAddressRecord address;
};

double SubscriberLookup(StepContext& context, int count) {
    IEventCollection* events = context.service.GetEventCollection();
    return PerRun(count, [&](int) {
        IIpcInvoke* subscriber = events->GetSubscriber(&context.address, L"Click");
        if (subscriber == nullptr) return false;
        subscriber->Release();
        return true;
    });
}

double MessageBuild(StepContext& context, int count) {
    const CBstrHolder tag(L"bench");
    return PerRun(count, [&](int i) {
        CRaiseEventMessage message;
        FillMessage(message, context.address, tag, i);
        return true;
    });
}

double Marshal(StepContext& context, int count) {
    CRaiseEventMessage message;
    FillMessage(message, context.address, CBstrHolder(L"bench"), 7);
    RaisedEventBlock bytes{};
    return PerRun(count, [&](int i) {
        message.GetCookie() = static_cast<Cookie>(i);
        return CMarshaller::MarshalRaisedEvent(bytes, message) != 0;
    });
}

// Blocks made during a timed loop or ahead of one; those still held are destroyed at the end.
class CStoredBlocks {
  public:
    explicit CStoredBlocks(int count) { handles_.reserve(count); }
    CStoredBlocks(const CStoredBlocks&) = delete;
    CStoredBlocks& operator=(const CStoredBlocks&) = delete;
    ~CStoredBlocks() {
        for (std::uint32_t handle : handles_) DestroySharedBlock(handle);
    }

    // A new block holding a copy of the bytes.
    bool Store(std::span<const std::uint8_t> bytes) {
        CBlockHolder block;
        const auto view = block.Allocate(static_cast<std::uint32_t>(bytes.size()), kHere);
        if (view.empty()) return false;
        std::memcpy(view.data(), bytes.data(), bytes.size());
        handles_.push_back(block.Release());
        return true;
    }
    bool StoreAll(std::span<const std::uint8_t> bytes, int count) {
        for (int i = 0; i < count; ++i) {
            if (!Store(bytes)) return false;
        }
        return true;
    }
    // Hands block i over to the caller.
    std::uint32_t Take(int i) { return std::exchange(handles_[i], 0); }

  private:
    std::vector<std::uint32_t> handles_;
};

// The call block is made on the raiser's side and taken over by the peer: both halves are
// timed, each in a loop of its own.
double CallBlock(StepContext& /*context*/, int count) {
    const RaisedEventBlock bytes{};
    CStoredBlocks blocks(count);
    return PerRun(count, [&](int) { return blocks.Store(bytes); });
}

double PeerTakesBlock(StepContext& /*context*/, int count) {
    const RaisedEventBlock bytes{};
    CStoredBlocks blocks(count);
    if (!blocks.StoreAll(bytes, count)) return -1;
    return PerRun(count, [&](int i) { return TakeSharedBlock(blocks.Take(i), kHere).has_value(); });
}

// The window transport's 16-byte block: made and filled, opened by the peer, opened again
// for the reply, freed.
double RecordBlock(StepContext& /*context*/, int count) {
    const InvokeRecord record{kInvokeRecordMagic, 1, kInvokeRecordCallTag};
    return PerRun(count, [&](int) {
        CBlockHolder block;
        const auto view = block.Allocate(sizeof record, kHere);
        if (view.empty() || !WriteAt(view, 0, record)) return false;
        InvokeRecord read{};
        for (int open = 0; open < 2; ++open) {
            COpenedBlock opened(block.Get(), kHere);
            if (!ReadAt(opened.Bytes(), 0, read)) return false;
        }
        return true;
    });
}

// What a raise's wait costs when the return comes while it waits: the waiting thread's event
// set by the delivering thread, then taken.
double Wait(StepContext& /*context*/, int count) {
    const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const double perRun = PerRun(count, [&](int) {
        return SetEvent(event) && WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0;
    });
    CloseHandle(event);
    return perRun;
}

double GuardPair(StepContext& /*context*/, int count) {
    const CCriticalSection guard;
    return PerRun(count, [&](int) {
        CCriticalSectionLock lock(guard);
        return true;
    });
}

double PendingTable(StepContext& /*context*/, int count) {
    std::unordered_map<Cookie, IInvokeWait*> pending;
    return PerRun(count, [&](int i) {
        pending[static_cast<Cookie>(i)] = nullptr;
        return pending.erase(static_cast<Cookie>(i)) == 1;
    });
}

double PeerStoresReply(StepContext& /*context*/, int count) {
    const auto reply = ReplyBytes();
    CStoredBlocks blocks(count);
    return PerRun(count, [&](int) { return blocks.Store(reply); });
}

double ApplyReply(StepContext& /*context*/, int count) {
    const auto reply = ReplyBytes();
    CStoredBlocks blocks(count);
    if (!blocks.StoreAll(reply, count)) return -1;
    CRaiseEventMessage message;
    return PerRun(count, [&](int i) {
        COpenedBlock opened(blocks.Take(i), kHere);
        if (!opened.IsOpen()) return false;
        const bool applied = ApplyReplyAndFree(opened.Bytes(), message) != 0;
        opened.Destroy();
        return applied && message.GetResult()->vt == VT_BOOL;
    });
}

struct TimedStep {
    const char* name;
    double (*run)(StepContext&, int);
    int perQueueRaise;
    int perWindowRaise;
};

constexpr TimedStep kSteps[] = {
    {"subscriber lookup and release (collection guard)", &SubscriberLookup, 1, 1},
    {"raise message: build with one argument, destroy", &MessageBuild, 1, 1},
    {"marshal the 720-byte raised-event block", &Marshal, 1, 1},
    {"call block: allocate and copy 720 bytes", &CallBlock, 1, 1},
    {"peer takes the call block (open, copy, free)", &PeerTakesBlock, 1, 1},
    {"16-byte record block: allocate, open twice, free", &RecordBlock, 0, 1},
    {"wait: the thread's event set and waited", &Wait, 1, 0},
    {"service guard: lock and unlock", &GuardPair, kServiceGuardPerQueueRaise, 2},
    {"pending-call table: insert and erase", &PendingTable, 1, 1},
    {"peer stores the 432-byte reply block", &PeerStoresReply, 1, 1},
    {"reply: open, apply and free", &ApplyReply, 1, 1},
};

}  // namespace

CRaiseSteps::CRaiseSteps(IInvokeManagementService& service, const ReturnAddressRecord& address)
    : service_(service),
      address_(address),
      runs_(std::size(kSteps)),
      calls_(std::size(kSteps)) {}

bool CRaiseSteps::TimeRound(int count) {
    StepContext context{service_, address_};
    for (size_t i = 0; i < std::size(kSteps); ++i) {
        const KernelCalls before = CKernelCallCounter::Counted();
        const double perRun = kSteps[i].run(context, count);
        if (perRun < 0) return false;
        runs_[i].push_back(perRun);
        const KernelCalls calls = CKernelCallCounter::Counted() - before;
        calls_[i].push_back(static_cast<double>(calls.own + calls.transport) / count);
    }
    return true;
}

std::vector<RaiseStep> CRaiseSteps::Steps() const {
    std::vector<RaiseStep> steps;
    for (size_t i = 0; i < std::size(kSteps); ++i) {
        steps.push_back({kSteps[i].name, Median(runs_[i]), kSteps[i].perQueueRaise,
                         kSteps[i].perWindowRaise, Median(calls_[i])});
    }
    return steps;
}

}  // namespace tarnwick::bench
