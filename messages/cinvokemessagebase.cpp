#include "messages/cinvokemessagebase.h"

#include <cstdarg>
#include <cwchar>

#include "trace/ctraceprovider.h"

namespace tarnwick {
namespace {

// {828E892C-48E0-4D31-99CA-5940A293D6E2}
constexpr GUID kTraceGuid = {
    0x828e892c, 0x48e0, 0x4d31, {0x99, 0xca, 0x59, 0x40, 0xa2, 0x93, 0xd6, 0xe2}};

enum TracePoint : USHORT { kTraceFailed = 1, kTraceFailedCode, kTraceException };

// A state text: at most 1023 characters and a terminator.
class CStateTextBuffer {
public:
    static constexpr size_t kUnits = 1024;

    // Output that is cut, or that fails part-way, still ends at the last unit.
    CStateTextBuffer(const wchar_t* format, va_list args) noexcept {
        if (format != nullptr) _vsnwprintf_s(units_, kUnits, _TRUNCATE, format, args);
        units_[kUnits - 1] = L'\0';
    }
    const wchar_t* Text() const noexcept { return units_; }

private:
    wchar_t units_[kUnits] = {};
};

}  // namespace

CInvokeMessageBase::CInvokeMessageBase()
    : memberName_(L""),
      exceptionText1_(L""),
      exceptionText2_(L""),
      exceptionText3_(L""),
      stateText_(L""),
      failureDetail_(L"") {}

void CInvokeMessageBase::ChangeState(InvokeState state, const wchar_t* text) {
    state_ = state;
    stateText_ = text;
}

void CInvokeMessageBase::SetFailed(const wchar_t* detail, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const CStateTextBuffer text(format, args);
    va_end(args);
    ChangeState(StateFailed, text.Text());
    failureDetail_ = detail;
    Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceFailed,
          static_cast<const wchar_t*>(memberName_), detail, text.Text());
}

void CInvokeMessageBase::SetFailedCode(const wchar_t* detail, HRESULT code, const wchar_t* format,
                                       ...) {
    va_list args;
    va_start(args, format);
    const CStateTextBuffer text(format, args);
    va_end(args);
    ChangeState(StateFailedCode, text.Text());
    failureCode_ = code;
    failureDetail_ = detail;
    // A missing implementation is a warning; the code's text is made only when traced.
    const TraceLevel level = code == E_NOTIMPL ? TraceLevel::Warning : TraceLevel::Error;
    if (!CTraceProvider::Module().IsEnabled(kTraceFlagComponent, level)) return;
    const CComError error(code);
    Trace(kTraceGuid, level, kTraceFlagComponent, kTraceFailedCode,
          static_cast<const wchar_t*>(memberName_), detail, error.ErrorMessage(), text.Text());
}

void CInvokeMessageBase::SetException(const wchar_t* text1, const wchar_t* text2,
                                      const wchar_t* text3, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const CStateTextBuffer text(format, args);
    va_end(args);
    ChangeState(StateException, text.Text());
    exceptionText1_ = text1;
    exceptionText2_ = text2;
    exceptionText3_ = text3;
    Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceException,
          static_cast<const wchar_t*>(memberName_), text1, text2, text3);
}

}  // namespace tarnwick
