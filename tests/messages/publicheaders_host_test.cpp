// A host's view: only the public headers, imported symbols and the DLL's import library.
#ifdef TARNWICK_BUILDING_LIBRARY
#error "a host sees the headers without TARNWICK_BUILDING_LIBRARY"
#endif

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "cbstrholder.h"
#include "ccomerror.h"
#include "imessagebase.h"
#include "ireturnaddress.h"
#include "messagetypes.h"

namespace {

using namespace tarnwick;

class CHostUnsubscription final : public IEventUnsubscriptionMessage {
  public:
    void Reserved() override {}
    ReturnAddressRecord& GetReturnAddress() override { return address_; }
    TargetKey& GetTargetKey() override { return key_; }
    CBstrHolder& GetMemberName() override { return name_; }
    Cookie& GetCookie() override { return cookie_; }
    void SetFailed(const wchar_t*, const wchar_t*, ...) override { state_ = StateFailed; }
    void SetFailedCode(const wchar_t*, HRESULT, const wchar_t*, ...) override {
        state_ = StateFailedCode;
    }
    void SetException(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
                      ...) override {}
    InvokeState GetState() override { return state_; }
    void GetStateText(CBstrHolder&) override {}
    void GetExceptionText1(CBstrHolder&) override {}
    void GetExceptionText3(CBstrHolder&) override {}
    void GetExceptionText2(CBstrHolder&) override {}
    CBstrHolder& GetEventName() override { return name_; }

  private:
    ReturnAddressRecord address_{};
    TargetKey key_{};
    CBstrHolder name_{L"Click"};
    Cookie cookie_ = 0;
    InvokeState state_ = StatePending;
};

TEST(HostView, BuildsCopiesAndCallsAMessageThroughTheExportedInterfaces) {
    CHostUnsubscription message;
    IInvokeMessageBase& invoke = message;
    invoke.GetCookie() = 3;
    invoke.SetFailedCode(L"detail", E_FAIL, L"%d", 1);
    CHostUnsubscription copy(message);
    CHostUnsubscription moved(std::move(copy));
    moved = message;
    EXPECT_EQ(moved.GetCookie(), 3u);
    EXPECT_EQ(moved.GetState(), StateFailedCode);
    EXPECT_STREQ(static_cast<IInvokeMessageBase&>(moved).GetMemberName(), L"Click");
    EXPECT_EQ(dynamic_cast<IEventUnsubscriptionMessage*>(static_cast<IMessageBase*>(&invoke)),
              &message);
}

TEST(HostView, CallsTheExportedFunctions) {
    std::wstring text;
    EXPECT_STREQ(FormatReturnAddress({1, 2, 3, 4}, text), L"O=4|T=3|B=2|P=1");
    EXPECT_TRUE(IsNullReturnAddress({0, ~0ull, ~0ull, 0}));
    EXPECT_STREQ(CComError(0x80040202).ErrorMessage(), L"IDispatch error #2");
}

}  // namespace
