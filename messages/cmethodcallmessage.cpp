#include "messages/cmethodcallmessage.h"

#include <new>

#include "messages/cmarshalhelper.h"
#include "trace/ctraceprovider.h"

namespace tarnwick {
namespace {

// {255DEA3C-882E-4B44-BACF-C1923F460257}
constexpr GUID kTraceGuid = {
    0x255dea3c, 0x882e, 0x4b44, {0xba, 0xcf, 0xc1, 0x92, 0x3f, 0x46, 0x02, 0x57}};

enum TracePoint : USHORT {
    kTraceCompleted = 1,
    kTraceResult,
    kTraceNoResult,
    kTraceArgumentOutOfRange,
    kTraceNegativeCount,
    kTraceNoRoomForArgument,
    kTraceNoArgument,
    kTraceResultNotCopied,
};

// Whether two values hold the same string, array, record or object, which only one of them
// may free or release.
bool SharePayload(const VARIANT& a, const VARIANT& b) noexcept {
    if (a.vt != b.vt || (a.vt & VT_BYREF) != 0) return false;
    switch (a.vt) {
        case VT_BSTR:
        case VT_UNKNOWN:
        case VT_DISPATCH:
        case VT_RECORD:
            return a.byref != nullptr && a.byref == b.byref;
        default:
            return (a.vt & VT_ARRAY) != 0 && a.parray != nullptr && a.parray == b.parray;
    }
}

}  // namespace

CMethodCallMessage::CMethodCallMessage() {
    // No result yet: an empty interface pointer.
    result_.vt = VT_UNKNOWN;
    result_.punkVal = nullptr;
}

VARIANT* CMethodCallMessage::GetArgument(int index) {
    if (index >= 0 && index < argumentCount_) return &arguments_[index];
    Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceArgumentOutOfRange, index,
          argumentCount_);
    // Element 0 always exists once the array does: it has one element more than the count.
    return arguments_ != nullptr ? &arguments_[0] : nullptr;
}

void CMethodCallMessage::SetCompleted() {
    State() = StateCompleted;
    Trace(kTraceGuid, TraceLevel::Verbose, kTraceFlagComponent, kTraceCompleted,
          static_cast<const wchar_t*>(GetMemberName()));
}

void CMethodCallMessage::SetResult(const VARIANT* value) {
    if (value == nullptr) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceNoResult,
              static_cast<const wchar_t*>(GetMemberName()));
        return;
    }
    result_ = *value;
    State() = StateCompleted;
    Trace(kTraceGuid, TraceLevel::Verbose, kTraceFlagComponent, kTraceResult,
          static_cast<const wchar_t*>(GetMemberName()));
}

void CMethodCallMessage::OwnResult() {
    bool fromArgument = false;
    for (int i = 0; i < argumentCount_ && !fromArgument; ++i) {
        fromArgument = SharePayload(result_, arguments_[i]);
    }
    if (!fromArgument) return;
    VARIANT copy;
    VariantInit(&copy);
    const HRESULT hr = VariantCopy(&copy, &result_);
    if (FAILED(hr)) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceResultNotCopied,
              static_cast<const wchar_t*>(GetMemberName()), static_cast<std::uint32_t>(hr));
    }
    result_ = copy;
}

int CMethodCallMessage::CreateObjectReference(const ReturnAddressRecord* first,
                                              const wchar_t* firstText, const wchar_t* secondText,
                                              const ReturnAddressRecord* second,
                                              WireValue* reference) {
    return CMarshalHelper::CreateObjectReference(first, firstText, secondText, second, reference);
}

bool CMethodCallMessage::InitArguments(int count) {
    if (count < 0) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceNegativeCount, count);
        return false;
    }
    // One spare element, so that element 0 exists even for a call without arguments.
    const size_t elements = static_cast<size_t>(count) + 1;
    std::unique_ptr<VARIANT[]> array(new (std::nothrow) VARIANT[elements]());
    if (array == nullptr) throw CComError(E_OUTOFMEMORY);
    arguments_ = std::move(array);
    argumentCount_ = count;
    argumentsStored_ = 0;
    dispParams_.rgvarg = arguments_.get();
    dispParams_.cArgs = static_cast<UINT>(count);
    return true;
}

bool CMethodCallMessage::AddArgument(const VARIANT* value) {
    if (value == nullptr) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceNoArgument,
              static_cast<const wchar_t*>(GetMemberName()));
        return false;
    }
    if (argumentsStored_ >= argumentCount_) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceNoRoomForArgument,
              static_cast<const wchar_t*>(GetMemberName()), argumentCount_);
        return false;
    }
    if (invokeKind_ == DISPATCH_PROPERTYPUT && dispParams_.cNamedArgs != 1) {
        dispParams_.cNamedArgs = 1;
        namedArgument_ = DISPID_PROPERTYPUT;
        dispParams_.rgdispidNamedArgs = &namedArgument_;
    }
    arguments_[argumentCount_ - argumentsStored_ - 1] = *value;
    ++argumentsStored_;
    return true;
}

}  // namespace tarnwick
