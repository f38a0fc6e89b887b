// The event proxy against a fake service: payloads moved, the wait and its prompt, the result.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "iinvokemanagementservice.h"
#include "marshalling/marshallingtest.h"
#include "messages/cmethodcallmessage.h"
#include "messages/errorinfomessage.h"
#include "messages/ceventproxy.h"

namespace tarnwick {
namespace {

using namespace test;
using namespace blockformat;

// Marshals the raise, reads it back as the peer would and answers when asked; its own wait.
class CFakeService final : public IInvokeManagementService, public IInvokeWait {
  public:
    bool Wait(DWORD timeoutMs) override {
        timeouts.push_back(timeoutMs);
        return timeouts.size() <= waits.size() && waits[timeouts.size() - 1];
    }
    IInvokeWait* SendRaiseEvent(IRaiseEventMessage* message, std::uint64_t) override {
        ++sends;
        if (CMarshaller::MarshalRaisedEvent(block, *message) == 0) return this;
        const std::vector<std::uint8_t> bytes(block.begin(), block.end());
        for (int i = 0; i < At<std::int16_t>(bytes, kArgumentCount); ++i) {
            peerArguments.emplace_back(
                CMarshaller::WidenWireValue(At<WireValue>(bytes, kRaisedEventArguments + 16 * i)));
            CMarshalHelper::UnmarshalValue(*peerArguments.back());
        }
        if (!answer) return this;
        // The peer's reply arrives here.
        const InvokeRecord reply = StoreReply(bytes, *answer);
        std::uint32_t size = 0;
        void* opened = OpenSharedMemory(reply.Block, &size, __LINE__, "fakeservice");
        if (opened != nullptr) {
            ApplyReplyAndFree(std::span(static_cast<std::uint8_t*>(opened), size),
                              dynamic_cast<CMethodCallMessage&>(*message));
        }
        Destroy(reply.Block);
        return this;
    }
    void ReleaseWait(IInvokeWait* released) override { releasedWaits.push_back(released); }
    IEventCollection* GetEventCollection() override { return nullptr; }
    IIpcErrorInfo* GetIpcErrorInfo() override { return nullptr; }

    std::optional<VARIANT_BOOL> answer = VARIANT_TRUE;  // nothing: the peer does not answer
    std::vector<bool> waits{true};
    std::vector<DWORD> timeouts;

    int sends = 0;
    RaisedEventBlock block{};
    std::deque<CTestVariant> peerArguments;
    std::vector<IInvokeWait*> releasedWaits;
};

// How many times the prompt was asked, and what it answers in turn (IDCANCEL once they run out).
int g_prompts = 0;
std::vector<int> g_answers;

int WINAPI AnswerPrompt(HWND, LPCWSTR, LPCWSTR, UINT flags) {
    EXPECT_EQ(flags, static_cast<UINT>(MB_RETRYCANCEL));
    ++g_prompts;
    return g_prompts <= static_cast<int>(g_answers.size()) ? g_answers[g_prompts - 1] : IDCANCEL;
}

class EventProxy : public MarshallingTest {
  protected:
    void SetUp() override {
        MarshallingTest::SetUp();
        g_prompts = 0;
        g_answers.clear();
        proxy_ = CEventProxy::Create({0x51, 0x52, 0x53, 0x54}, TargetKey{}, CBstrHolder(L"tag-7"),
                                     &service_);
    }

    CFakeService service_;
    Microsoft::WRL::ComPtr<CEventProxy> proxy_;
};

bool IsNoResult(const VARIANT& result) {
    return result.vt == VT_UNKNOWN && result.punkVal == nullptr;
}

// Names, address, key and plain payloads: the service's and the end-to-end tests.
TEST_F(EventProxy, InvokeSendsTheEventWithItsPayloadsAndReturnsTheResult) {
    VARIANT decimal;
    VariantInit(&decimal);
    VarDecFromR8(-1234.5678, &decimal.decVal);
    decimal.vt = VT_DECIMAL;
    VARIANT arguments[] = {
        MakeString(L"first"),
        MakeI4(2),
        MakeRecord(kVirtualControlReferenceGuid, {{L"WindowHandle", MakeI8(0x1234)}}),
        decimal,
    };
    ASSERT_EQ(arguments[2].vt, VT_RECORD);
    VARIANT result = proxy_->Invoke(L"KeyPress", arguments, 4, 0x99);

    ASSERT_EQ(service_.sends, 1);
    ASSERT_EQ(service_.peerArguments.size(), 4u);
    ASSERT_EQ(service_.peerArguments[3]->vt, VT_DECIMAL) << "a decimal is never a string";
    EXPECT_EQ(VarDecCmp(&service_.peerArguments[3]->decVal, &decimal.decVal), VARCMP_EQ);

    // Moved payloads leave the caller's arguments; plain values stay.
    EXPECT_EQ(arguments[0].vt, VT_EMPTY);
    EXPECT_EQ(arguments[2].vt, VT_EMPTY);
    EXPECT_EQ(arguments[1].lVal, 2);
    EXPECT_EQ(arguments[3].vt, VT_DECIMAL);

    EXPECT_EQ(service_.releasedWaits, std::vector<IInvokeWait*>{&service_});
    EXPECT_EQ(g_prompts, 0);
    EXPECT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, VARIANT_TRUE);
}

// Retry waits again; cancel ends the wait with the initial result. Each wait is released once.
TEST_F(EventProxy, EachTimeoutAsksAndRetryWaitsAgainUntilCancel) {
    proxy_->SetTimeoutPromptForTesting(5, &AnswerPrompt);
    service_.waits = {false, false, true};
    g_answers = {IDRETRY, IDRETRY};
    service_.answer = VARIANT_FALSE;
    VARIANT argument = MakeI4(1);
    const VARIANT result = proxy_->Invoke(L"Click", &argument, 1, 0);
    EXPECT_EQ(service_.timeouts, (std::vector<DWORD>{5, 5, 5}));
    EXPECT_EQ(g_prompts, 2);
    EXPECT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, VARIANT_FALSE);

    service_.waits.push_back(false);
    service_.answer.reset();
    EXPECT_TRUE(IsNoResult(proxy_->Invoke(L"Click", nullptr, 0, 0)));
    EXPECT_EQ(g_prompts, 3) << "the third prompt cancels";
    EXPECT_EQ(service_.timeouts.size(), 4u);
    EXPECT_EQ(service_.releasedWaits.size(), 2u);
}

TEST_F(EventProxy, ArgumentsTheBlockCannotHoldAreNeitherSentNorMoved) {
    std::vector<VARIANT> arguments;
    for (int i = 0; i < kMaxArguments + 1; ++i) arguments.push_back(MakeString(L"k"));
    EXPECT_TRUE(IsNoResult(proxy_->Invoke(L"Click", arguments.data(), kMaxArguments + 1, 0)));
    EXPECT_TRUE(IsNoResult(proxy_->Invoke(L"Click", arguments.data(), -1, 0)));
    EXPECT_TRUE(IsNoResult(proxy_->Invoke(L"Click", nullptr, 1, 0)));
    EXPECT_EQ(service_.sends, 0);
    for (VARIANT& argument : arguments) {
        EXPECT_STREQ(argument.bstrVal, L"k");
        VariantClear(&argument);
    }
}

// Its names and tag: the service's and the end-to-end tests.
TEST_F(EventProxy, SubscriptionMakesOneEventProxyHeldByItsMessage) {
    std::vector<std::uint8_t> bytes(800);
    Put<std::uint16_t>(bytes, kMarker, 1);
    Put<std::uint16_t>(bytes, kKind, kKindSubscription);
    PutText(bytes, kEventName, L"TextChanged");
    IncomingMessage incoming;
    ASSERT_EQ(CMarshaller::UnmarshalBlock(&service_, bytes, incoming), 1);
    auto* subscription = std::get_if<CEventSubscriptionMessage>(&incoming);
    ASSERT_NE(subscription, nullptr);
    IUnknown* held = subscription->GetEventProxy();
    ASSERT_NE(held, nullptr);
    void* object = held;
    EXPECT_EQ(held->QueryInterface(IID_IDispatch, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(ReferencesOf(held), 1u) << "only the message holds the proxy";
}

}  // namespace
}  // namespace tarnwick
