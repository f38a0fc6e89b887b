#pragma once
// What every invoke message holds: where the reply goes, the member, the call id and the
// outcome with its texts.

#include "cbstrholder.h"
#include "imessagebase.h"

namespace tarnwick {

class CInvokeMessageBase : public virtual IInvokeMessageBase {
public:
    // Strings start as allocated empty strings; raises CComError when they cannot be made.
    CInvokeMessageBase();
    CInvokeMessageBase(const CInvokeMessageBase&) = delete;
    CInvokeMessageBase& operator=(const CInvokeMessageBase&) = delete;

    void Reserved() override {}
    ReturnAddressRecord& GetReturnAddress() override { return returnAddress_; }
    TargetKey& GetTargetKey() override { return targetKey_; }
    CBstrHolder& GetMemberName() override { return memberName_; }
    Cookie& GetCookie() override { return cookie_; }
    void SetFailed(const wchar_t* detail, const wchar_t* format, ...) override;
    void SetFailedCode(const wchar_t* detail, HRESULT code, const wchar_t* format, ...) override;
    void SetException(const wchar_t* text1, const wchar_t* text2, const wchar_t* text3,
                      const wchar_t* format, ...) override;
    InvokeState GetState() override { return state_; }
    void GetStateText(CBstrHolder& text) override { text = stateText_; }
    void GetExceptionText1(CBstrHolder& text) override { text = exceptionText1_; }
    void GetExceptionText3(CBstrHolder& text) override { text = exceptionText3_; }
    void GetExceptionText2(CBstrHolder& text) override { text = exceptionText2_; }

    // The outcome fields themselves, for the code that writes and applies replies.
    InvokeState& State() noexcept { return state_; }
    CBstrHolder& ExceptionText1() noexcept { return exceptionText1_; }
    CBstrHolder& ExceptionText2() noexcept { return exceptionText2_; }
    CBstrHolder& ExceptionText3() noexcept { return exceptionText3_; }
    CBstrHolder& StateText() noexcept { return stateText_; }
    HRESULT& FailureCode() noexcept { return failureCode_; }
    CBstrHolder& FailureDetail() noexcept { return failureDetail_; }

protected:
    ~CInvokeMessageBase() = default;

private:
    void ChangeState(InvokeState state, const wchar_t* text);

    ReturnAddressRecord returnAddress_{};
    CBstrHolder memberName_;
    TargetKey targetKey_{};
    Cookie cookie_ = 0;
    InvokeState state_ = StatePending;
    CBstrHolder exceptionText1_;
    CBstrHolder exceptionText2_;
    CBstrHolder exceptionText3_;
    CBstrHolder stateText_;
    HRESULT failureCode_ = S_OK;
    CBstrHolder failureDetail_;
};

}  // namespace tarnwick
