#include "cdemohost.h"

#include <wrl/client.h>

#include <climits>

#include "cdemosession.h"
#include "cvariants.h"
#include "ieventcollection.h"
#include "iipcinvoke.h"

namespace tarnwick::demo {

namespace {

std::wstring Text(const CBstrHolder& holder) {
    return holder.Get() != nullptr ? std::wstring(holder.Get(), holder.Length()) : std::wstring();
}

// Fails the call with code and detail, and says so.
void Refuse(IMethodCallMessage& message, CTranscript& out, HRESULT code, const wchar_t* detail) {
    const std::wstring member = Text(message.GetMemberName());
    message.SetFailedCode(detail, code, L"%ls: %ls", member.c_str(), detail);
    out.Line(L"call %ls -> refused with code 0x%08lX (%ls)", member.c_str(),
             static_cast<unsigned long>(code), detail);
}

// Reads the call's arguments (they come last-first) into values in call order, coerced to
// the types asked for; false, with the call refused, when the peer sent other ones.
template <int Count>
bool ReadArguments(IMethodCallMessage& message, CTranscript& out, const VARTYPE (&types)[Count],
                   CVariants<Count>& values) {
    if (message.GetArgumentCount() != Count) {
        Refuse(message, out, DISP_E_BADPARAMCOUNT, L"wrong number of arguments");
        return false;
    }
    for (int i = 0; i < Count; ++i) {
        VARIANT* argument = message.GetArgument(Count - 1 - i);
        if (argument == nullptr ||
            FAILED(VariantChangeType(&values.values[i], argument, 0, types[i]))) {
            Refuse(message, out, DISP_E_TYPEMISMATCH, L"an argument of the wrong type");
            return false;
        }
    }
    return true;
}

constexpr const wchar_t* kSource = L"Tarnwick demo button";

// Sets the result of an arithmetic member, or an overflow exception when it does not fit,
// and says which.
void Answer(IMethodCallMessage& message, CTranscript& out, const wchar_t* member, LONG a, LONG b,
            long long result) {
    if (result < LONG_MIN || result > LONG_MAX) {
        message.SetException(kSource, L"Overflow", member, L"%ls(%ld, %ld)", member, a, b);
        out.Line(L"call %ls(%ld, %ld) -> exception \"Overflow\"", member, a, b);
        return;
    }
    VARIANT value = MakeI4(static_cast<LONG>(result));
    message.SetResult(&value);
    out.Line(L"call %ls(%ld, %ld) -> %ld", member, a, b, static_cast<LONG>(result));
}

}  // namespace

int CDemoHost::OnMethodCall(IMethodCallMessage* message) {
    if (message == nullptr) return 0;
    const std::wstring name = Text(message->GetMemberName());
    if (name == L"Add") {
        Add(*message);
    } else if (name == L"Caption") {
        Caption(*message);
    } else if (name == L"Divide") {
        Divide(*message);
    } else if (name == L"Open") {
        Open(*message);
    } else {
        Refuse(*message, out_, DISP_E_MEMBERNOTFOUND, L"no such member");
    }
    ++calls_;
    return 0;
}

void CDemoHost::Add(IMethodCallMessage& message) {
    CVariants<2> values;
    if (!ReadArguments(message, out_, {VT_I4, VT_I4}, values)) return;
    const LONG a = values.values[0].lVal;
    const LONG b = values.values[1].lVal;
    Answer(message, out_, L"Add", a, b, static_cast<long long>(a) + b);
}

void CDemoHost::Caption(IMethodCallMessage& message) {
    if (message.GetInvokeKind() == DISPATCH_PROPERTYPUT) {
        CVariants<1> values;
        if (!ReadArguments(message, out_, {VT_BSTR}, values)) return;
        caption_ = values.values[0].bstrVal != nullptr ? values.values[0].bstrVal : L"";
        message.SetCompleted();
        out_.Line(L"put Caption = \"%ls\"", caption_.c_str());
        return;
    }
    VARIANT caption = MakeString(caption_);
    message.SetResult(&caption);
    out_.Line(L"get Caption -> \"%ls\"", caption_.c_str());
}

void CDemoHost::Divide(IMethodCallMessage& message) {
    CVariants<2> values;
    if (!ReadArguments(message, out_, {VT_I4, VT_I4}, values)) return;
    const LONG a = values.values[0].lVal;
    const LONG b = values.values[1].lVal;
    if (b == 0) {
        message.SetException(kSource, L"Division by zero", L"Divide", L"Divide(%ld, %ld)", a, b);
        out_.Line(L"call Divide(%ld, %ld) -> exception \"Division by zero\"", a, b);
        return;
    }
    Answer(message, out_, L"Divide", a, b, static_cast<long long>(a) / b);
}

void CDemoHost::Open(IMethodCallMessage& message) {
    CVariants<1> values;
    if (!ReadArguments(message, out_, {VT_BSTR}, values)) return;
    const HRESULT notFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    message.SetFailedCode(L"file not found", notFound, L"cannot open %ls",
                          values.values[0].bstrVal);
    out_.Line(L"call Open(\"%ls\") -> failed with code 0x%08lX",
              values.values[0].bstrVal != nullptr ? values.values[0].bstrVal : L"",
              static_cast<unsigned long>(notFound));
}

int CDemoHost::OnEventSubscription(IEventSubscriptionMessage* message) {
    IInvokeManagementService* service = service_;
    if (message == nullptr || service == nullptr) return 0;
    const std::wstring name = Text(message->GetEventName());
    Microsoft::WRL::ComPtr<IIpcInvoke> proxy;
    IUnknown* subscriber = message->GetEventProxy();
    if (subscriber == nullptr ||
        FAILED(subscriber->QueryInterface(IID_IIpcInvoke,
                                          reinterpret_cast<void**>(proxy.GetAddressOf())))) {
        message->SetFailed(L"no event proxy", L"subscription to %ls", name.c_str());
        out_.Line(L"subscription to %ls refused: it came without an event proxy", name.c_str());
        return 0;
    }
    service->GetEventCollection()->AddSubscriber(&message->GetReturnAddress(),
                                                 message->GetEventName(), proxy.Get());
    out_.Line(L"subscription to %ls (tag \"%ls\") filed", name.c_str(),
              Text(message->GetSubscriptionTag()).c_str());
    return 0;
}

int CDemoHost::OnEventUnsubscription(IEventUnsubscriptionMessage* message) {
    IInvokeManagementService* service = service_;
    if (message == nullptr || service == nullptr) return 0;
    service->GetEventCollection()->RemoveSubscriber(&message->GetReturnAddress(),
                                                    message->GetEventName());
    out_.Line(L"unsubscription from %ls: subscriber removed",
              Text(message->GetEventName()).c_str());
    return 0;
}

CDemoHost::RaiseOutcome CDemoHost::RaiseClick(int number) {
    IInvokeManagementService* service = service_;
    Microsoft::WRL::ComPtr<IIpcInvoke> subscriber;
    if (service != nullptr) {
        // The collection answers the proxy with a reference for this side.
        subscriber.Attach(
            service->GetEventCollection()->GetSubscriber(&kButtonAddress, kClickEvent));
    }
    if (!subscriber) {
        out_.Line(L"raise Click(\"%ls\", %d) -> no subscriber", caption_.c_str(), number);
        return RaiseOutcome::NoSubscriber;
    }
    out_.Line(L"raise Click(\"%ls\", %d)", caption_.c_str(), number);
    CVariants<2> arguments;
    arguments.values[0] = MakeString(caption_);
    arguments.values[1] = MakeI4(number);
    CVariants<1> answer;
    // The proxy moves the caption's text to the peer; the raise blocks until the peer answered.
    answer.values[0] = subscriber->Invoke(kClickEvent, arguments.values, 2, 0);
    const VARIANT& result = answer.values[0];
    RaiseOutcome outcome = RaiseOutcome::NoAnswer;
    if (result.vt == VT_BOOL) {
        outcome = result.boolVal == VARIANT_TRUE ? RaiseOutcome::Cancelled : RaiseOutcome::Allowed;
    }
    const wchar_t* said = outcome == RaiseOutcome::Cancelled ? L"cancelled by the peer"
                          : outcome == RaiseOutcome::Allowed ? L"allowed by the peer"
                                                             : L"no answer from the peer";
    out_.Line(L"Click -> %ls", said);
    return outcome;
}

}  // namespace tarnwick::demo
