// Call messages: the argument array in DISPPARAMS order and its bounds, the property-put named
// argument, and the outcome setters with their formatted state text.
#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <string>

#include "messages/cmethodcallmessage.h"

namespace tarnwick {
namespace {

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
    EXPECT_EQ(params.rgvarg[0].lVal, 3);
    EXPECT_EQ(params.rgvarg[1].lVal, 2);
    EXPECT_EQ(params.rgvarg[2].lVal, 1);
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
    ASSERT_TRUE(Add(message, 4));
    ASSERT_TRUE(Add(message, 5));
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

TEST(MethodCallMessage, NoResultStaysPendingAndTheInterfaceHandsOutTheExceptionTexts) {
    CMethodCallMessage message;
    message.SetResult(nullptr);
    EXPECT_EQ(message.GetState(), StatePending);
    message.SetException(L"source", L"description", L"help", L"code %u", 12u);
    CBstrHolder text1, text2, text3, state;
    IInvokeMessageBase& invoke = message;
    invoke.GetExceptionText1(text1);
    invoke.GetExceptionText2(text2);
    invoke.GetExceptionText3(text3);
    invoke.GetStateText(state);
    EXPECT_EQ(invoke.GetState(), StateException);
    EXPECT_STREQ(text1, L"source");
    EXPECT_STREQ(text2, L"description");
    EXPECT_STREQ(text3, L"help");
    EXPECT_EQ(state.Get(), message.StateText().Get()) << "the caller's holder shares the text";
    EXPECT_STREQ(state, L"code 12");
}

}  // namespace
}  // namespace tarnwick
