#pragma once
// A method call, property get or property put: its arguments in DISPPARAMS order and its
// result.

#include <memory>

#include "imessagebase.h"
#include "messages/cinvokemessagebase.h"

namespace tarnwick {

class CMethodCallMessage : public virtual IMethodCallMessage, public virtual CInvokeMessageBase {
public:
    CMethodCallMessage();
    // The named-argument pointer points into the message, so it stays where it is made.
    CMethodCallMessage(const CMethodCallMessage&) = delete;
    CMethodCallMessage& operator=(const CMethodCallMessage&) = delete;
    // Frees the argument array, not what its VARIANTs hold: that is the owner's to release.
    ~CMethodCallMessage() = default;

    unsigned short& GetInvokeKind() override { return invokeKind_; }
    int GetArgumentCount() override { return argumentCount_; }
    int GetSuppressResult() override { return suppressResult_; }
    VARIANT* GetArgument(int index) override;
    DISPPARAMS* GetDispParams() override { return &dispParams_; }
    void SetCompleted() override;
    void SetResult(const VARIANT* value) override;
    VARIANT* GetResult() override { return &result_; }
    int CreateObjectReference(const ReturnAddressRecord* first, const wchar_t* firstText,
                              const wchar_t* secondText, const ReturnAddressRecord* second,
                              WireValue* reference) override;

    // Makes room for count arguments, all VT_EMPTY, and forgets any earlier array. A
    // negative count is refused (false, traced); raises CComError when memory runs out.
    bool InitArguments(int count);
    // Stores a bitwise copy of value, filling the array from its end so that the first
    // argument added lands last. A property put also gets its DISPID_PROPERTYPUT named
    // argument. Refused (false, traced) without room left or without a value.
    bool AddArgument(const VARIANT* value);
    void SetSuppressResult(int suppress) noexcept { suppressResult_ = suppress; }
    // Makes the result a copy of its own when it holds one of the arguments' strings, arrays,
    // records or objects (set with SetResult or written through GetResult): the arguments are
    // freed after the reply, and the result's payload moves with it.
    void OwnResult();

private:
    unsigned short invokeKind_ = DISPATCH_METHOD;
    int argumentCount_ = 0;
    int suppressResult_ = 0;
    DISPPARAMS dispParams_{};
    VARIANT result_{};
    int argumentsStored_ = 0;
    DISPID namedArgument_ = DISPID_PROPERTYPUT;
    std::unique_ptr<VARIANT[]> arguments_;
};

}  // namespace tarnwick
