// The event proxy against a small fake service: its COM identity and references, the raised
// event it builds and sends with every argument's payload moved, the wait for the return
// with the timeout prompt (through the test seam), and the result it hands back.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "marshalling/fakeservice.h"
#include "marshalling/marshallingtest.h"
#include "remoting/ceventproxy.h"

namespace tarnwick {
namespace {

using namespace test;
using namespace blockformat;

const ReturnAddressRecord kSubscriber{0x51, 0x52, 0x53, 0x54};
const TargetKey kKey{{9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6}};

// What the prompt was asked, and what it answers in turn (IDCANCEL once they run out).
struct Prompt {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT flags;
};
std::vector<Prompt> g_prompts;
std::vector<int> g_answers;

int WINAPI AnswerPrompt(HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags) {
    g_prompts.push_back({owner, text, caption, flags});
    return g_prompts.size() <= g_answers.size() ? g_answers[g_prompts.size() - 1] : IDCANCEL;
}

class EventProxy : public MarshallingTest {
  protected:
    void SetUp() override {
        MarshallingTest::SetUp();
        g_prompts.clear();
        g_answers.clear();
        proxy_ = CEventProxy::Create(kSubscriber, kKey, CBstrHolder(L"tag-7"), &service_);
    }

    CFakeService service_;
    Microsoft::WRL::ComPtr<CEventProxy> proxy_;
};

bool IsNoResult(const VARIANT& result) {
    return result.vt == VT_UNKNOWN && result.punkVal == nullptr;
}

TEST_F(EventProxy, AnswersItsTwoInterfacesAndCountsReferences) {
    EXPECT_EQ(ReferencesOf(proxy_.Get()), 1u);
    void* object = nullptr;
    ASSERT_EQ(proxy_->QueryInterface(IID_IIpcInvoke, &object), S_OK);
    EXPECT_EQ(object, static_cast<IIpcInvoke*>(proxy_.Get()));
    EXPECT_EQ(proxy_->AddRef(), 3u);
    EXPECT_EQ(proxy_->Release(), 2u);
    ASSERT_EQ(proxy_->QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_EQ(proxy_->Release(), 2u);
    EXPECT_EQ(proxy_->Release(), 1u);
    object = proxy_.Get();
    EXPECT_EQ(proxy_->QueryInterface(IID_IDispatch, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(ReferencesOf(proxy_.Get()), 1u);
}

TEST_F(EventProxy, InvokeSendsTheEventWithItsPayloadsAndReturnsTheResult) {
    VARIANT decimal;
    VariantInit(&decimal);
    VarDecFromR8(-1234.5678, &decimal.decVal);
    decimal.vt = VT_DECIMAL;
    VARIANT arguments[] = {
        MakeString(L"first"),
        MakeI4(2),
        MakeRecord(kControlReference, {{L"WindowHandle", MakeI8(0x1234)}}),
        decimal,
    };
    ASSERT_EQ(arguments[2].vt, VT_RECORD);
    VARIANT result = proxy_->Invoke(L"KeyPress", arguments, 4, 0x99);

    ASSERT_EQ(service_.sends, 1);
    EXPECT_EQ(service_.sentTarget, 0x99u);
    // The peer restores every argument; the other kinds are checked end to end.
    ASSERT_EQ(service_.peerArguments.size(), 4u);
    ASSERT_EQ(service_.peerArguments[3]->vt, VT_DECIMAL) << "a decimal is never a string";
    EXPECT_EQ(VarDecCmp(&service_.peerArguments[3]->decVal, &decimal.decVal), VARCMP_EQ);

    // Moved payloads leave the caller's arguments; plain values stay.
    EXPECT_EQ(arguments[0].vt, VT_EMPTY);
    EXPECT_EQ(arguments[2].vt, VT_EMPTY);
    EXPECT_EQ(arguments[1].lVal, 2);
    EXPECT_EQ(arguments[3].vt, VT_DECIMAL);

    EXPECT_EQ(service_.wait.timeouts, std::vector<DWORD>{60000}) << "the product waits 60 s";
    EXPECT_EQ(service_.releasedWaits, std::vector<IInvokeWait*>{&service_.wait});
    EXPECT_TRUE(g_prompts.empty());
    EXPECT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, VARIANT_TRUE);
}

TEST_F(EventProxy, EachTimeoutAsksAndRetryWaitsAgain) {
    proxy_->SetTimeoutPromptForTesting(5, &AnswerPrompt);
    service_.wait.answers = {false, false, true};
    g_answers = {IDRETRY, IDRETRY};
    service_.answer = VARIANT_FALSE;
    VARIANT argument = MakeI4(1);
    const VARIANT result = proxy_->Invoke(L"Click", &argument, 1, 0);

    EXPECT_EQ(service_.wait.timeouts, (std::vector<DWORD>{5, 5, 5}));
    ASSERT_EQ(g_prompts.size(), 2u);
    EXPECT_EQ(g_prompts[0].text,
              L"Timeout waiting for response to last invocation.  Click Retry to keep waiting, or "
              L"Cancel to discontinue");
    EXPECT_EQ(g_prompts[0].caption, L"Timeout");
    EXPECT_EQ(g_prompts[0].flags, static_cast<UINT>(MB_RETRYCANCEL));
    EXPECT_EQ(g_prompts[0].owner, nullptr);
    EXPECT_EQ(service_.releasedWaits.size(), 1u);
    EXPECT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, VARIANT_FALSE);
}

TEST_F(EventProxy, CancelEndsTheWaitWithTheInitialResult) {
    proxy_->SetTimeoutPromptForTesting(5, &AnswerPrompt);
    service_.wait.answers = {false};
    service_.answer.reset();
    const VARIANT result = proxy_->Invoke(L"Click", nullptr, 0, 0);
    EXPECT_EQ(service_.sends, 1);
    EXPECT_EQ(g_prompts.size(), 1u);
    EXPECT_EQ(service_.wait.timeouts.size(), 1u);
    EXPECT_EQ(service_.releasedWaits.size(), 1u);
    EXPECT_TRUE(IsNoResult(result));
}

TEST_F(EventProxy, ArgumentsTheBlockCannotHoldAreNeitherSentNorMoved) {
    std::vector<VARIANT> arguments;
    for (int i = 0; i < kMaxArguments + 1; ++i) arguments.push_back(MakeString(L"kept"));
    EXPECT_TRUE(IsNoResult(proxy_->Invoke(L"Click", arguments.data(), kMaxArguments + 1, 0)));
    EXPECT_TRUE(IsNoResult(proxy_->Invoke(L"Click", arguments.data(), -1, 0)));
    EXPECT_TRUE(IsNoResult(proxy_->Invoke(L"Click", nullptr, 1, 0)));
    EXPECT_EQ(service_.sends, 0);
    for (VARIANT& argument : arguments) {
        EXPECT_STREQ(argument.bstrVal, L"kept");
        VariantClear(&argument);
    }
}

}  // namespace
}  // namespace tarnwick
