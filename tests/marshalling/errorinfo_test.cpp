// Replies for every outcome: written into the request block, copied into a real reply block,
// applied to the waiting message, and their string blocks freed.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

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

// The reply to the request for the message, opened as its receiver opens it; destroyed when
// the test is done with it.
class CReceivedReply {
  public:
    CReceivedReply(std::vector<std::uint8_t>& request, CInvokeMessageBase& message) {
        EXPECT_EQ(MarshalReply(record_, request, message), 1);
        bytes_ =
            static_cast<std::uint8_t*>(OpenSharedMemory(record_.Block, &size_, __LINE__, "test"));
    }
    CReceivedReply(const CReceivedReply&) = delete;
    CReceivedReply& operator=(const CReceivedReply&) = delete;
    ~CReceivedReply() { Destroy(record_.Block); }

    const InvokeRecord& Record() const { return record_; }
    std::span<std::uint8_t> Bytes() const { return {bytes_, size_}; }
    std::vector<std::uint8_t> Copy() const { return {bytes_, bytes_ + size_}; }

  private:
    InvokeRecord record_{};
    std::uint32_t size_ = 0;
    std::uint8_t* bytes_ = nullptr;
};

std::wstring TextOfBlock(const std::vector<std::uint8_t>& reply, size_t offset) {
    return TextAt(BytesOf(At<std::uint32_t>(reply, offset)), 0);
}

TEST_F(ErrorInfo, CompletedCallCarriesItsResult) {
    CMethodCallMessage handled;
    VARIANT result = MakeString(L"answer");
    handled.SetResult(&result);
    std::vector<std::uint8_t> request = Request();
    const CReceivedReply reply(request, handled);
    EXPECT_EQ(reply.Record().Magic, 0xABCDu);
    EXPECT_EQ(reply.Record().Tag, 0u);
    ASSERT_EQ(reply.Bytes().size(), kReplySize);
    const std::vector<std::uint8_t> bytes = reply.Copy();
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(request.begin(), request.begin() + kReplySize));
    EXPECT_EQ(At<std::uint16_t>(bytes, kReplyZero), 0u);
    EXPECT_EQ(At<std::uint32_t>(bytes, kReplyState), 1u);
    EXPECT_EQ(At<VARTYPE>(bytes, kReplyResult), VT_BSTR);

    CRaiseEventMessage waiting;
    ASSERT_EQ(ApplyReplyAndFree(reply.Bytes(), waiting), 1);
    EXPECT_EQ(waiting.GetCookie(), kCookieOfRequest);
    EXPECT_EQ(waiting.GetState(), StateCompleted);
    ASSERT_EQ(waiting.GetResult()->vt, VT_BSTR);
    EXPECT_STREQ(waiting.GetResult()->bstrVal, L"answer");
    VariantClear(waiting.GetResult());
}

TEST_F(ErrorInfo, SuppressedResultLeavesTheReplyAreaAsTheRequestHadIt) {
    CMethodCallMessage handled;
    handled.SetSuppressResult(1);
    CTestVariant result(MakeString(L"not sent"));
    handled.SetResult(&*result);
    std::vector<std::uint8_t> request = Request();
    for (size_t i = kReplyZero; i < kReplyResult + 16; ++i) request[i] = 0x5A;
    const std::vector<std::uint8_t> before = request;
    const CReceivedReply reply(request, handled);
    EXPECT_EQ(reply.Copy(), std::vector<std::uint8_t>(before.begin(), before.begin() + kReplySize));
    EXPECT_EQ(handled.GetResult()->bstrVal, result->bstrVal) << "the result did not move";
}

TEST_F(ErrorInfo, CompletedSubscriptionIsStateOneWithTypeVoid) {
    CEventSubscriptionMessage subscription;
    subscription.State() = StateCompleted;
    std::vector<std::uint8_t> request = Request();
    Put<std::uint16_t>(request, kReplyZero, 0xFFFF);
    const CReceivedReply reply(request, subscription);
    const std::vector<std::uint8_t> bytes = reply.Copy();
    EXPECT_EQ(At<std::uint16_t>(bytes, kReplyZero), 0u);
    EXPECT_EQ(At<std::uint32_t>(bytes, kReplyState), 1u);
    EXPECT_EQ(At<VARTYPE>(bytes, kReplyResult), VT_VOID);
}

TEST_F(ErrorInfo, ExceptionCarriesItsThreeTextsAndTheStateText) {
    CMethodCallMessage handled;
    handled.SetException(L"source", L"description", L"help", L"code %d", 5);
    std::vector<std::uint8_t> request = Request();
    Put<std::uint64_t>(request, kReplyFailureDetail, ~std::uint64_t{0});
    const CReceivedReply reply(request, handled);
    const std::vector<std::uint8_t> bytes = reply.Copy();
    EXPECT_EQ(At<std::uint32_t>(bytes, kReplyState), 2u);
    EXPECT_EQ(At<std::uint64_t>(bytes, kReplyFailureDetail), 0u);
    EXPECT_EQ(TextOfBlock(bytes, kReplyStateText), L"code 5") << "sent, though not read back";
    EXPECT_EQ(At<VARTYPE>(bytes, kReplyResult), VT_NULL);

    CRaiseEventMessage waiting;
    ASSERT_EQ(ApplyReplyAndFree(reply.Bytes(), waiting), 1);
    EXPECT_EQ(waiting.GetState(), StateException);
    EXPECT_STREQ(waiting.ExceptionText1(), L"source");
    EXPECT_STREQ(waiting.ExceptionText2(), L"description");
    EXPECT_STREQ(waiting.ExceptionText3(), L"help");
    EXPECT_STREQ(waiting.StateText(), L"") << "an exception's state text is not read";
    for (size_t offset : {kReplyExceptionText1, kReplyExceptionText2, kReplyExceptionText3,
                          kReplyStateText, kReplyFailureDetail}) {
        EXPECT_EQ(At<std::uint32_t>(reply.Copy(), offset), 0u) << offset;
    }
}

TEST_F(ErrorInfo, FailuresCarryDetailAndStateTextButOnlyTheCodeIsRead) {
    CMethodCallMessage failed;
    failed.SetFailed(L"no window", L"window %d is gone", 12);
    std::vector<std::uint8_t> request = Request();
    {
        const CReceivedReply reply(request, failed);
        const std::vector<std::uint8_t> bytes = reply.Copy();
        EXPECT_EQ(At<std::uint32_t>(bytes, kReplyState), 3u);
        EXPECT_EQ(At<std::uint32_t>(bytes, kReplyExceptionText1), 0u);
        EXPECT_EQ(At<std::uint32_t>(bytes, kReplyFailureCode), 0u);
        CRaiseEventMessage waiting;
        ASSERT_EQ(ApplyReplyAndFree(reply.Bytes(), waiting), 1);
        EXPECT_EQ(waiting.GetState(), StateFailed);
        EXPECT_STREQ(waiting.FailureDetail(), L"no window");
        EXPECT_STREQ(waiting.StateText(), L"window 12 is gone");
    }

    CMethodCallMessage failedCode;
    failedCode.SetFailedCode(L"not here", E_NOTIMPL, L"%s", L"missing");
    request = Request();
    const CReceivedReply reply(request, failedCode);
    const std::vector<std::uint8_t> bytes = reply.Copy();
    EXPECT_EQ(At<std::uint32_t>(bytes, kReplyState), 4u);
    EXPECT_EQ(TextOfBlock(bytes, kReplyFailureDetail), L"not here");
    EXPECT_EQ(TextOfBlock(bytes, kReplyStateText), L"missing");
    CRaiseEventMessage waiting;
    ASSERT_EQ(ApplyReplyAndFree(reply.Bytes(), waiting), 1);
    EXPECT_EQ(waiting.GetState(), StateFailedCode);
    EXPECT_EQ(waiting.FailureCode(), E_NOTIMPL);
    EXPECT_STREQ(waiting.FailureDetail(), L"");
    EXPECT_STREQ(waiting.StateText(), L"");
}

TEST_F(ErrorInfo, UnknownStatesChangeOnlyCookieAndState) {
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
