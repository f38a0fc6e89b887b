// Replies for every outcome: written, copied to a reply block, applied, and their texts freed.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <vector>

#include "marshalling/marshallingtest.h"
#include "messages/cmarshaller.h"
#include "messages/craiseeventmessage.h"
#include "messages/errorinfomessage.h"

namespace tarnwick {
namespace {

using namespace test;
using namespace blockformat;

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
