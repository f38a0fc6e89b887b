// Messages: one shared base, the argument array and its bounds, the state text's limit, proxies.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <string>

#include "imessagebase.h"
#include "messages/ceventsubscriptionmessage.h"
#include "messages/ceventunsubscriptionmessage.h"
#include "messages/cmethodcallmessage.h"
#include "messages/craiseeventmessage.h"

namespace tarnwick {
namespace {

void ExpectOneInvokeBase(IInvokeMessageBase& writer, CInvokeMessageBase& message) {
    EXPECT_EQ(&writer, static_cast<IInvokeMessageBase*>(&message));
    EXPECT_EQ(dynamic_cast<CInvokeMessageBase*>(static_cast<IMessageBase*>(&writer)), &message);
    writer.GetMemberName() = L"Click";
    writer.GetCookie() = 41;
    writer.SetFailedCode(L"detail", E_FAIL, L"%s #%d", L"call", 7);
    EXPECT_STREQ(message.GetMemberName(), L"Click");
    EXPECT_EQ(message.GetCookie(), 41u);
    EXPECT_EQ(message.GetState(), StateFailedCode);
    EXPECT_STREQ(message.StateText(), L"call #7");
}

TEST(MessageLayout, EveryInterfaceReachesOneBase) {
    CRaiseEventMessage message;
    IRaiseEventMessage& raised = message;
    IMethodCallMessage& call = message;
    EXPECT_EQ(&static_cast<IMethodCallMessage&>(raised), &call);
    EXPECT_EQ(&static_cast<IMethodCallMessage&>(static_cast<CMethodCallMessage&>(message)), &call);
    EXPECT_EQ(dynamic_cast<IRaiseEventMessage*>(static_cast<IMessageBase*>(&call)), &raised);
    ExpectOneInvokeBase(raised, message);
    ExpectOneInvokeBase(call, message);
    raised.GetSubscriptionTag() = L"subscriber";
    EXPECT_STREQ(message.GetSubscriptionTag(), L"subscriber");

    CEventSubscriptionMessage subscription;
    ExpectOneInvokeBase(static_cast<IEventSubscriptionMessage&>(subscription), subscription);
    CEventUnsubscriptionMessage unsubscription;
    ExpectOneInvokeBase(static_cast<IEventUnsubscriptionMessage&>(unsubscription), unsubscription);
}

bool Add(CMethodCallMessage& message, LONG value) {
    VARIANT v{};
    v.vt = VT_I4;
    v.lVal = value;
    return message.AddArgument(&v);
}

TEST(MethodCallMessage, ArgumentsFillTheArrayFromItsEndAndNeverPastIt) {
    CMethodCallMessage message;
    EXPECT_EQ(message.GetResult()->vt, VT_UNKNOWN);
    EXPECT_EQ(message.GetArgument(0), nullptr) << "no array yet";
    EXPECT_FALSE(Add(message, 0));
    EXPECT_FALSE(message.InitArguments(-1));

    ASSERT_TRUE(message.InitArguments(3));
    for (LONG value : {1, 2, 3}) ASSERT_TRUE(Add(message, value));
    EXPECT_FALSE(Add(message, 4));
    EXPECT_FALSE(message.AddArgument(nullptr));
    const DISPPARAMS& params = *message.GetDispParams();
    EXPECT_EQ(params.cArgs, 3u);
    EXPECT_EQ(params.cNamedArgs, 0u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(params.rgvarg[i].lVal, 3 - i);
    EXPECT_EQ(params.rgvarg[3].vt, VT_EMPTY) << "the spare element";
    EXPECT_EQ(message.GetArgument(2), &params.rgvarg[2]);
    EXPECT_EQ(message.GetArgument(-1), &params.rgvarg[0]);
    EXPECT_EQ(message.GetArgument(3), &params.rgvarg[0]);

    ASSERT_TRUE(message.InitArguments(0));
    ASSERT_NE(message.GetArgument(0), nullptr);
    EXPECT_EQ(message.GetArgument(0)->vt, VT_EMPTY);

    // A put names its value once, however many arguments follow.
    message.GetInvokeKind() = DISPATCH_PROPERTYPUT;
    ASSERT_TRUE(message.InitArguments(2));
    EXPECT_EQ(params.cNamedArgs, 0u);
    ASSERT_TRUE(Add(message, 4) && Add(message, 5));
    ASSERT_EQ(params.cNamedArgs, 1u);
    EXPECT_EQ(params.rgdispidNamedArgs[0], DISPID_PROPERTYPUT);
}

TEST(MethodCallMessage, StateTextIsCutAt1023Characters) {
    CMethodCallMessage message;
    const std::wstring longText(2000, L'x');
    message.SetFailed(L"detail", L"%s", longText.c_str());
    EXPECT_EQ(message.GetState(), StateFailed);
    EXPECT_EQ(std::wstring(message.StateText()), longText.substr(0, 1023));
    EXPECT_STREQ(message.FailureDetail(), L"detail");
    const std::wstring exact(1023, L'y');
    message.SetFailed(L"detail", L"%s!", exact.c_str());
    EXPECT_EQ(std::wstring(message.StateText()), exact);
    message.SetFailed(nullptr, nullptr);
    EXPECT_EQ(message.StateText().Length(), 0u);
}

TEST(MethodCallMessage, NoResultStaysPending) {
    CMethodCallMessage message;
    message.SetResult(nullptr);
    EXPECT_EQ(message.GetState(), StatePending);
}

class CCountingProxy final : public IUnknown {
  public:
    explicit CCountingProxy(bool answers = true) : answers_(answers) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = answers_ && iid == IID_IUnknown ? this : nullptr;
        if (*object == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }

    ULONG references = 1;

  private:
    bool answers_;
};

TEST(EventSubscriptionMessage, HoldsOneReferenceOnItsProxyUntilReplacedOrDestroyed) {
    CCountingProxy first, second, refusing(false);
    {
        CEventSubscriptionMessage message;
        message.SetEventProxy(&first);
        EXPECT_EQ(message.GetEventProxy(), &first);
        EXPECT_EQ(first.references, 2u);
        message.SetEventProxy(&refusing);
        EXPECT_EQ(message.GetEventProxy(), nullptr);
        EXPECT_EQ(first.references, 1u);
        EXPECT_EQ(refusing.references, 1u);
        message.SetEventProxy(&second);
        EXPECT_EQ(second.references, 2u);
    }
    EXPECT_EQ(second.references, 1u);
}

}  // namespace
}  // namespace tarnwick
