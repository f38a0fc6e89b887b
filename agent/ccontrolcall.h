#pragma once
// One operation of a control performed for the automation host: found by name among the
// dispatch interfaces that the control's translator answers, its arguments converted to the
// types the type library declares, invoked through IDispatch, and its out-arguments gathered.

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "common/cvariantholder.h"

namespace vask {

struct ControlCallOutcome {
    HRESULT code = S_OK;
    std::wstring refusal;               // the one-line text of a refused or failed call
    tarnwick::CVariantHolder result;    // VT_EMPTY when the operation has no out-argument
};

// Whether a node handle given for a record argument may reach the control.
using NodeCheck = std::function<bool(std::int64_t node)>;

// Performs `operation` on `window` through its translator's IUnknown. `arguments` are the
// operation's in-arguments after the control, in call order; a record argument made from a
// handle that `nodes` (when given) refuses fails the call with E_INVALIDARG.
ControlCallOutcome CallControl(IUnknown* translator, HWND window, const std::wstring& operation,
                               std::span<VARIANT> arguments, const NodeCheck& nodes = {});

}  // namespace vask
