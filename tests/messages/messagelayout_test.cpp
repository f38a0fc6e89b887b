// Every interface of a message reaches one shared IInvokeMessageBase, and calls through any
// of them, variadic ones included, land on the same fields. A subscription holds one
// reference on its event proxy.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include "imessagebase.h"
#include "messages/ceventsubscriptionmessage.h"
#include "messages/ceventunsubscriptionmessage.h"
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

TEST(MessageLayout, RaisedEventReachesOneBaseThroughEveryInterface) {
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
    ASSERT_TRUE(message.InitArguments(1));
    VARIANT argument{};
    argument.vt = VT_I4;
    argument.lVal = 5;
    ASSERT_TRUE(message.AddArgument(&argument));
    EXPECT_EQ(raised.GetArgument(0)->lVal, 5);
    EXPECT_EQ(raised.GetInvokeKind(), DISPATCH_METHOD);
}

TEST(MessageLayout, SubscriptionsReachOneBase) {
    CEventSubscriptionMessage subscription;
    ExpectOneInvokeBase(static_cast<IEventSubscriptionMessage&>(subscription), subscription);
    CEventUnsubscriptionMessage unsubscription;
    ExpectOneInvokeBase(static_cast<IEventUnsubscriptionMessage&>(unsubscription), unsubscription);
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
    CCountingProxy first;
    CCountingProxy second;
    CCountingProxy refusing(false);
    {
        CEventSubscriptionMessage message;
        EXPECT_EQ(message.GetEventName().Get(), nullptr);
        EXPECT_EQ(message.GetSubscriptionTag().Get(), nullptr);
        EXPECT_EQ(message.GetEventProxy(), nullptr);
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
