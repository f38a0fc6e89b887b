#pragma once
// The exported message family. Hosts hold and call messages through these abstract classes;
// the library's implementations are the classes whose names begin with C.
//
// The interfaces inherit virtually, so that a message and all of its interfaces share one
// IInvokeMessageBase and one IMessageBase sub-object. The order of the virtual operations is
// the order of the slots that hosts call: never reorder them. No class of the family has a
// virtual destructor; the owner of a message destroys it through its concrete class.

#include <windows.h>
#include <ole2.h>

#include <cstdint>

#include "cbstrholder.h"
#include "messagetypes.h"
#include "tarnwickapi.h"

// The special members that the library exports for each interface: default, copy and move
// construction, copy and move assignment. The destructor is protected and not virtual.
#define TARNWICK_INTERFACE_SPECIAL_MEMBERS(Interface) \
protected:                                            \
    Interface() noexcept;                             \
    Interface(const Interface&) noexcept;             \
    Interface(Interface&&) noexcept;                  \
    Interface& operator=(const Interface&) noexcept;  \
    Interface& operator=(Interface&&) noexcept;       \
    ~Interface() = default;                           \
                                                      \
public:

namespace tarnwick {

class TARNWICK_API IMessageBase {
    TARNWICK_INTERFACE_SPECIAL_MEMBERS(IMessageBase)
    virtual void Reserved() = 0;
};

class TARNWICK_API IInvokeMessageBase : public virtual IMessageBase {
    TARNWICK_INTERFACE_SPECIAL_MEMBERS(IInvokeMessageBase)
    virtual ReturnAddressRecord& GetReturnAddress() = 0;
    virtual TargetKey& GetTargetKey() = 0;
    virtual CBstrHolder& GetMemberName() = 0;
    virtual Cookie& GetCookie() = 0;
    // The setters below store the format applied to the variable arguments, cut to 1023
    // characters, as the state text.
    virtual void SetFailed(const wchar_t* detail, const wchar_t* format, ...) = 0;
    virtual void SetFailedCode(const wchar_t* detail, HRESULT code, const wchar_t* format, ...) = 0;
    virtual void SetException(const wchar_t* text1, const wchar_t* text2, const wchar_t* text3,
                              const wchar_t* format, ...) = 0;
    virtual InvokeState GetState() = 0;
    // The text getters assign the member to the caller's holder, which then shares it. Text 3
    // comes before text 2 in slot order, as hosts expect.
    virtual void GetStateText(CBstrHolder& text) = 0;
    virtual void GetExceptionText1(CBstrHolder& text) = 0;
    virtual void GetExceptionText3(CBstrHolder& text) = 0;
    virtual void GetExceptionText2(CBstrHolder& text) = 0;
};

// A method call, property get (invoke kind 2) or property put (invoke kind 4).
class TARNWICK_API IMethodCallMessage : public virtual IInvokeMessageBase {
    TARNWICK_INTERFACE_SPECIAL_MEMBERS(IMethodCallMessage)
    virtual unsigned short& GetInvokeKind() = 0;
    virtual int GetArgumentCount() = 0;
    virtual int GetSuppressResult() = 0;
    // Arguments are stored last-first, as DISPPARAMS holds them. An arriving call's message
    // owns its arguments and frees them after the reply: a host that keeps one copies it.
    virtual VARIANT* GetArgument(int index) = 0;
    virtual DISPPARAMS* GetDispParams() = 0;
    virtual void SetCompleted() = 0;
    // The message takes over what the VARIANT owns (a bitwise copy). A result that holds one
    // of an arriving call's own arguments is copied before the reply, so nothing is freed twice.
    virtual void SetResult(const VARIANT* value) = 0;
    virtual VARIANT* GetResult() = 0;
    // Writes an object-reference block of the two records and two strings; 1 on success.
    virtual int CreateObjectReference(const ReturnAddressRecord* first, const wchar_t* firstText,
                                      const wchar_t* secondText, const ReturnAddressRecord* second,
                                      WireValue* reference) = 0;
};

class TARNWICK_API IRaiseEventMessage : public virtual IMethodCallMessage {
    TARNWICK_INTERFACE_SPECIAL_MEMBERS(IRaiseEventMessage)
    virtual CBstrHolder& GetSubscriptionTag() = 0;
};

class TARNWICK_API IEventSubscriptionMessage : public virtual IInvokeMessageBase {
    TARNWICK_INTERFACE_SPECIAL_MEMBERS(IEventSubscriptionMessage)
    virtual CBstrHolder& GetEventName() = 0;
    virtual CBstrHolder& GetSubscriptionTag() = 0;
    // The subscriber's event proxy, without a reference for the caller.
    virtual IUnknown* GetEventProxy() = 0;
};

class TARNWICK_API IEventUnsubscriptionMessage : public virtual IInvokeMessageBase {
    TARNWICK_INTERFACE_SPECIAL_MEMBERS(IEventUnsubscriptionMessage)
    virtual CBstrHolder& GetEventName() = 0;
};

// A stand-alone return message. The library declares and implements it but never makes one;
// what its members mean is for the party that builds it.
class TARNWICK_API IMethodReturnMessage : public IMessageBase {
    TARNWICK_INTERFACE_SPECIAL_MEMBERS(IMethodReturnMessage)
    virtual std::uint32_t& GetFirstValue() = 0;
    virtual std::uint32_t& GetSecondValue() = 0;
    virtual CBstrHolder& GetFirstText() = 0;
    virtual CBstrHolder& GetSecondText() = 0;
    virtual CBstrHolder& GetThirdText() = 0;
    virtual std::uint32_t& GetThirdValue() = 0;
    virtual CBstrHolder& GetFourthText() = 0;
    virtual CBstrHolder& GetFifthText() = 0;
    virtual VARIANT& GetValue() = 0;
    virtual std::uint32_t& GetLastValue() = 0;
    virtual std::uint64_t GetWideValue() = 0;
};

}  // namespace tarnwick
