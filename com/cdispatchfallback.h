#pragma once
// A late-bound call performed from the function's description, for the calls that the
// platform's ITypeInfo::Invoke refuses (it cannot pass a parameter of a record type).

#include <windows.h>
#include <oaidl.h>

#include <cstdint>

namespace tarnwick {

class CDispatchFallback {
  public:
    // Calls the function `id` of the kind `flags` asks for on `object`, the interface that
    // `info` describes (its dispatch view or the interface itself), through the object's
    // own function table. The arguments, result, exception and argument error follow
    // IDispatch::Invoke. A pointer to a record takes the record of a VT_RECORD argument (also
    // by reference). A failing HRESULT of the method answers DISP_E_EXCEPTION with `exception`
    // holding the code, and the source and description of the error information the method
    // set, or the code's system text.
    static HRESULT Invoke(ITypeInfo* info, IUnknown* object, DISPID id, WORD flags,
                          DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                          UINT* argumentError);

    // How many calls the process has brought here, for diagnostics: the platform's own
    // Invoke serves every other call.
    static std::uint64_t CallCount() noexcept;
};

}  // namespace tarnwick
