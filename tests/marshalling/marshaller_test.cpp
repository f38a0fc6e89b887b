// Every block kind this side writes, read back from real shared memory; wire values; replies
// for every outcome: written, copied to a reply block, applied, and their texts freed.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "marshalling/marshallingtest.h"
#include "messages/craiseeventmessage.h"
#include "messages/errorinfomessage.h"

namespace tarnwick {
namespace {

using namespace test;
using namespace blockformat;

class Marshaller : public MarshallingTest {};

const ReturnAddressRecord kAddress{0x10, 0x2A, 0x3B, 0xFFFF};
const TargetKey kKey{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};

void Address(IInvokeMessageBase& message, const wchar_t* member) {
    message.GetMemberName() = member;
    message.GetReturnAddress() = kAddress;
    message.GetTargetKey() = kKey;
    message.GetCookie() = 0x01020304;
}

// Arguments in call order, payloads moved as a sender does before it marshals.
void AddArguments(CMethodCallMessage& message, std::vector<VARIANT> arguments) {
    message.InitArguments(static_cast<int>(arguments.size()));
    for (VARIANT& argument : arguments) {
        CMarshalHelper::MarshalValue(argument);
        message.AddArgument(&argument);
    }
}

void ExpectHeader(const std::vector<std::uint8_t>& bytes, Kind kind, const wchar_t* member,
                  int count) {
    EXPECT_EQ(At<std::uint16_t>(bytes, kMarker), 1u);
    EXPECT_EQ(At<std::uint16_t>(bytes, kKind), kind);
    EXPECT_EQ(At<Cookie>(bytes, kCookie), 0x01020304u);
    EXPECT_EQ(At<ReturnAddressRecord>(bytes, kReturnAddress).O, kAddress.O);
    for (size_t i = kZeroStart; i < kMemberName; ++i) EXPECT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(TextAt(bytes, kMemberName), member);
    EXPECT_EQ(std::memcmp(bytes.data() + kTargetKey, &kKey, sizeof kKey), 0);
    EXPECT_EQ(At<std::int16_t>(bytes, kArgumentCount), count);
    for (size_t i = kReplyExceptionText1; i < kReplyResult; ++i) EXPECT_EQ(bytes[i], 0) << i;
}

// Wire order is call order; the message that arrives holds its arguments last first.
TEST_F(Marshaller, CallBlocksReadBackWithArgumentsLastFirst) {
    const VARIANT real = MakeVariant(VT_R8, [](VARIANT& v) { v.dblVal = 3.5; });
    const std::tuple<WORD, Kind, size_t, std::vector<VARIANT>> cases[] = {
        {DISPATCH_METHOD,
         kKindMethod,
         kMethodCallSize,
         {MakeI4(1), MakeString(L"two"), MakeI4(3), MakeI4(4), MakeI4(5), MakeI4(6), MakeI4(7),
          real}},
        {DISPATCH_PROPERTYGET, kKindPropertyGet, kAccessorSize, {}},
        {DISPATCH_PROPERTYPUT, kKindPropertyPut, kAccessorSize, {MakeString(L"new text")}},
    };
    for (const auto& [invokeKind, kind, size, arguments] : cases) {
        SCOPED_TRACE(kind);
        CMethodCallMessage sent;
        Address(sent, L"Select");
        sent.GetInvokeKind() = invokeKind;
        AddArguments(sent, arguments);
        const int count = static_cast<int>(arguments.size());
        const std::uint32_t handle = CMarshaller::MarshalCall(sent);
        const std::vector<std::uint8_t> bytes = BytesOf(handle);
        ASSERT_EQ(bytes.size(), size);
        ExpectHeader(bytes, kind, L"Select", count);
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(At<VARTYPE>(bytes, kCallArguments + 16 * i), arguments[i].vt) << i;
        }

        IncomingMessage incoming;
        Destroy(handle);
        ASSERT_EQ(CMarshaller::UnmarshalBlock(nullptr, bytes, incoming), 1);
        auto* call = std::get_if<CMethodCallMessage>(&incoming);
        ASSERT_NE(call, nullptr);
        EXPECT_STREQ(call->GetMemberName(), L"Select");
        EXPECT_EQ(call->GetReturnAddress().T, kAddress.T);
        EXPECT_EQ(std::memcmp(&call->GetTargetKey(), &kKey, sizeof kKey), 0);
        EXPECT_EQ(call->GetCookie(), 0x01020304u);
        EXPECT_EQ(call->GetInvokeKind(), invokeKind);
        ASSERT_EQ(call->GetArgumentCount(), count);
        if (count == 0) continue;
        EXPECT_EQ(call->GetArgument(0)->vt, arguments.back().vt);
        const DISPPARAMS& params = *call->GetDispParams();
        const std::vector<DISPID> named(params.rgdispidNamedArgs,
                                        params.rgdispidNamedArgs + params.cNamedArgs);
        EXPECT_EQ(named, std::vector<DISPID>(kind == kKindPropertyPut ? 1 : 0, DISPID_PROPERTYPUT));
        for (int i = 0; i < count; ++i) VariantClear(call->GetArgument(i));
    }
}

// Kind 3 and puts without their value: the end-to-end peer's test.
TEST_F(Marshaller, CallsTheBlockCannotHoldAreRefused) {
    for (const auto& [kind, count] : {std::pair{DISPATCH_METHOD, 9}, {DISPATCH_PROPERTYPUT, 2}}) {
        CMethodCallMessage call;
        call.GetInvokeKind() = static_cast<WORD>(kind);
        AddArguments(call, std::vector<VARIANT>(count, MakeI4(0)));
        EXPECT_EQ(CMarshaller::MarshalCall(call), 0u) << kind;
    }
}

TEST_F(Marshaller, RaisedEventBlockCutsLongNamesAndRefusesTooManyArguments) {
    CRaiseEventMessage message;
    Address(message, std::wstring(100, L'm').c_str());
    message.GetSubscriptionTag() = std::wstring(100, L't').c_str();
    AddArguments(message, {MakeI4(11), MakeI4(22)});
    RaisedEventBlock block;
    block.fill(0xCC);
    ASSERT_EQ(CMarshaller::MarshalRaisedEvent(block, message), 1);
    const std::vector<std::uint8_t> bytes(block.begin(), block.end());
    ExpectHeader(bytes, kKindRaisedEvent, std::wstring(79, L'm').c_str(), 2);
    EXPECT_EQ(TextAt(bytes, kRaisedEventTag), std::wstring(79, L't'));
    EXPECT_EQ(At<LONG>(bytes, kRaisedEventArguments + 8), 11);
    EXPECT_EQ(At<LONG>(bytes, kRaisedEventArguments + 24), 22);
    EXPECT_EQ(bytes[kRaisedEventArguments + 32], 0) << "the rest of the block is zero";

    CRaiseEventMessage nine;
    AddArguments(nine, std::vector<VARIANT>(9, MakeI4(0)));
    block.fill(0xCC);
    EXPECT_EQ(CMarshaller::MarshalRaisedEvent(block, nine), 0);
    EXPECT_EQ(block[0], 0xCC) << "the block is left untouched";
}

TEST_F(Marshaller, WireValuesLeaveTheVariantTailZero) {
    // The VARIANT's last 8 bytes are not carried; they arrive zero.
    VARIANT full;
    std::memset(&full, 0xAB, sizeof full);
    full.vt = VT_I8;
    const VARIANT widened = CMarshaller::WidenWireValue(CMarshaller::MakeWireValue(full));
    const auto* tail = reinterpret_cast<const std::uint8_t*>(&widened) + 16;
    EXPECT_EQ(std::vector<std::uint8_t>(tail, tail + 8), std::vector<std::uint8_t>(8, 0));
}

class ErrorInfo : public MarshallingTest {};

constexpr Cookie kCookieOfRequest = 9;
// The reply's text handles, in the order of the rows' texts.
constexpr std::array<size_t, 5> kTextOffsets = {kReplyExceptionText1, kReplyExceptionText2,
                                                kReplyExceptionText3, kReplyStateText,
                                                kReplyFailureDetail};

// A call block as the receiver of a request holds it.
std::vector<std::uint8_t> Request() {
    CMethodCallMessage call;
    call.GetMemberName() = L"Find";
    call.GetCookie() = kCookieOfRequest;
    const std::uint32_t handle = CMarshaller::MarshalCall(call);
    std::vector<std::uint8_t> bytes = BytesOf(handle);
    Destroy(handle);
    return bytes;
}

// The block of the reply to the request for the message; the test destroys it.
std::uint32_t Reply(std::vector<std::uint8_t>& request, CInvokeMessageBase& message) {
    InvokeRecord record{};
    EXPECT_EQ(MarshalReply(record, request, message), 1);
    return record.Block;
}

// Each outcome's texts as sent (null: no block) and as read (null: empty); a stale handle stays.
TEST_F(ErrorInfo, EveryOutcomeTravelsAndOnlyItsOwnPartsAreRead) {
    using Texts = std::array<const wchar_t*, 5>;
    CMethodCallMessage completed, exception, failed, failedCode;
    CEventSubscriptionMessage subscription;
    subscription.State() = StateCompleted;
    VARIANT answer = MakeString(L"answer");
    completed.SetResult(&answer);
    exception.SetException(L"source", L"description", L"help", L"c %d", 5);
    failed.SetFailed(L"no window", L"window %d", 12);
    failedCode.SetFailedCode(L"not here", E_NOTIMPL, L"%s", L"missing");
    const struct {
        CInvokeMessageBase& handled;
        Texts sent;
        Texts read;
        VARTYPE result = VT_NULL;
    } cases[] = {
        {completed, {}, {}, VT_BSTR},
        {subscription, {}, {}, VT_VOID},
        {exception,
         {L"source", L"description", L"help", L"c 5"},
         {L"source", L"description", L"help"}},
        {failed,
         {nullptr, nullptr, nullptr, L"window 12", L"no window"},
         {nullptr, nullptr, nullptr, L"window 12", L"no window"}},
        {failedCode, {nullptr, nullptr, nullptr, L"missing", L"not here"}, {}},
    };
    for (const auto& c : cases) {
        const InvokeState state = c.handled.GetState();
        SCOPED_TRACE(static_cast<int>(state));
        std::vector<std::uint8_t> request = Request();
        if (state != StateCompleted) Put<std::uint64_t>(request, kReplyFailureDetail, ~0ull);
        Put<std::uint16_t>(request, kReplyZero, 0xFFFF);
        const std::uint32_t reply = Reply(request, c.handled);
        const std::vector<std::uint8_t> bytes = BytesOf(reply);
        ASSERT_EQ(bytes.size(), kReplySize);
        EXPECT_EQ(bytes, std::vector<std::uint8_t>(request.begin(), request.begin() + kReplySize));
        EXPECT_EQ(At<std::uint16_t>(bytes, kReplyZero), 0u);
        EXPECT_EQ(At<std::uint32_t>(bytes, kReplyState), static_cast<std::uint32_t>(state));
        EXPECT_EQ(At<VARTYPE>(bytes, kReplyResult), c.result);
        for (size_t i = 0; i < kTextOffsets.size(); ++i) {
            const auto handle = At<std::uint32_t>(bytes, kTextOffsets[i]);
            EXPECT_EQ(TextAt(BytesOf(handle), 0), c.sent[i] ? c.sent[i] : L"") << i;
            EXPECT_EQ(handle != 0, c.sent[i] != nullptr) << i;
        }

        CRaiseEventMessage waiting;
        std::uint32_t size = 0;
        auto* live = static_cast<std::uint8_t*>(OpenSharedMemory(reply, &size, __LINE__, "test"));
        ASSERT_EQ(ApplyReplyAndFree(std::span(live, size), waiting), 1);
        EXPECT_EQ(waiting.GetCookie(), kCookieOfRequest);
        EXPECT_EQ(waiting.GetState(), state);
        const Texts read = {waiting.ExceptionText1(), waiting.ExceptionText2(),
                            waiting.ExceptionText3(), waiting.StateText(), waiting.FailureDetail()};
        for (size_t i = 0; i < read.size(); ++i) {
            EXPECT_STREQ(read[i], c.read[i] ? c.read[i] : L"") << i;
            EXPECT_EQ(At<std::uint32_t>(BytesOf(reply), kTextOffsets[i]), 0u)
                << "freed and cleared";
        }
        EXPECT_EQ(waiting.FailureCode(), state == StateFailedCode ? E_NOTIMPL : S_OK);
        if (c.result == VT_BSTR) {
            ASSERT_EQ(waiting.GetResult()->vt, VT_BSTR);
            EXPECT_STREQ(waiting.GetResult()->bstrVal, L"answer");
            VariantClear(waiting.GetResult());
        }
        Destroy(reply);
    }
}

TEST_F(ErrorInfo, SuppressedResultLeavesTheReplyAreaAsTheRequestHadIt) {
    CMethodCallMessage handled;
    handled.SetSuppressResult(1);
    CTestVariant result(MakeString(L"not sent"));
    handled.SetResult(&*result);
    std::vector<std::uint8_t> request = Request();
    for (size_t i = kReplyZero; i < kReplyResult + 16; ++i) request[i] = 0x5A;
    const std::vector<std::uint8_t> before = request;
    const std::uint32_t reply = Reply(request, handled);
    EXPECT_EQ(BytesOf(reply),
              std::vector<std::uint8_t>(before.begin(), before.begin() + kReplySize));
    Destroy(reply);
    EXPECT_EQ(handled.GetResult()->bstrVal, result->bstrVal) << "the result did not move";
}

TEST_F(ErrorInfo, UnknownStatesChangeOnlyCookieAndStateAndShortRepliesAreRefused) {
    std::vector<std::uint8_t> request = Request();
    Put<std::uint32_t>(request, kReplyState, 7);
    Put<std::uint32_t>(request, kReplyStateText, 12345);
    CRaiseEventMessage waiting;
    ASSERT_EQ(ApplyReply(request, waiting), 1);
    EXPECT_EQ(waiting.GetCookie(), kCookieOfRequest);
    EXPECT_EQ(static_cast<std::uint32_t>(waiting.GetState()), 7u);
    EXPECT_EQ(waiting.GetResult()->vt, VT_UNKNOWN);
    EXPECT_EQ(ApplyReply(std::span(request).first(kReplySize - 1), waiting), 0);
}

}  // namespace
}  // namespace tarnwick
