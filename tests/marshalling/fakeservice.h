#pragma once
// A small stand-in for the invoke management service, for the event proxy: it marshals the
// raised event into a block as the service does, reads the block back as the peer would
// (restoring, and so freeing, every argument's payload), and answers with a real reply block
// when the test asks it to. Its wait answers as the test scripts it.

#include <windows.h>

#include <cstring>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "iinvokemanagementservice.h"
#include "marshalling/marshallingtest.h"
#include "messages/cmarshalhelper.h"
#include "messages/cmarshaller.h"
#include "messages/cmethodcallmessage.h"
#include "messages/errorinfomessage.h"

namespace tarnwick::test {

// Each Wait answers the next scripted answer, and false once they have run out.
class CScriptedWait final : public IInvokeWait {
  public:
    bool Wait(DWORD timeoutMs) override {
        timeouts.push_back(timeoutMs);
        const size_t index = timeouts.size() - 1;
        return index < answers.size() && answers[index];
    }

    std::vector<bool> answers{true};
    std::vector<DWORD> timeouts;
};

class CFakeService final : public IInvokeManagementService {
  public:
    static constexpr Cookie kCookie = 77;

    IInvokeWait* SendRaiseEvent(IRaiseEventMessage* message, std::uint64_t target) override {
        ++sends;
        sentTarget = target;
        message->GetCookie() = kCookie;
        marshalled = CMarshaller::MarshalRaisedEvent(block, *message);
        if (marshalled == 0) return &wait;
        ReadArgumentsAsThePeer();
        if (answer) Answer(dynamic_cast<CMethodCallMessage&>(*message));
        return &wait;
    }
    void ReleaseWait(IInvokeWait* released) override { releasedWaits.push_back(released); }
    IEventCollection* GetEventCollection() override { return nullptr; }
    IIpcErrorInfo* GetIpcErrorInfo() override { return nullptr; }

    // The peer's result, or nothing when the peer does not answer.
    std::optional<VARIANT_BOOL> answer = VARIANT_TRUE;
    CScriptedWait wait;

    int sends = 0;
    std::uint64_t sentTarget = 0;
    int marshalled = 0;
    RaisedEventBlock block{};
    std::deque<CTestVariant> peerArguments;
    std::vector<IInvokeWait*> releasedWaits;

  private:
    void ReadArgumentsAsThePeer() {
        const auto count = At<std::int16_t>(std::vector<std::uint8_t>(block.begin(), block.end()),
                                            blockformat::kArgumentCount);
        for (int i = 0; i < count; ++i) {
            WireValue wire{};
            std::memcpy(&wire, block.data() + blockformat::kRaisedEventArguments + 16 * i,
                        sizeof wire);
            peerArguments.emplace_back(CMarshaller::WidenWireValue(wire));
            CMarshalHelper::UnmarshalValue(*peerArguments.back());
        }
    }

    // The peer completes the call with its result and sends the reply; it arrives here.
    void Answer(CMethodCallMessage& waiting) {
        CMethodCallMessage handled;
        VARIANT result = MakeBool(*answer);
        handled.SetResult(&result);
        std::vector<std::uint8_t> request(block.begin(), block.end());
        InvokeRecord reply{};
        if (MarshalReply(reply, request, handled) == 0) return;
        std::uint32_t size = 0;
        void* bytes = OpenSharedMemory(reply.Block, &size, __LINE__, "fakeservice");
        if (bytes != nullptr) {
            ApplyReplyAndFree(std::span(static_cast<std::uint8_t*>(bytes), size), waiting);
        }
        Destroy(reply.Block);
    }
};

}  // namespace tarnwick::test
