#pragma once
// The types that the type library declares for the arguments of each kind's operations, so
// that a value written on the command line becomes what the operation takes.

#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick::host {

class COperationTypes {
  public:
    // The declared types of the operation's in-arguments after the control, in call order
    // (VT_RECORD for a node or control record), looked up as the agent does: the kind's own
    // interfaces first, then IVirtualControl; "IVirtualControl.PerformClick" names the
    // interface. None when the kind ("TextBox", from the control table) has no such operation.
    std::optional<std::vector<VARTYPE>> InArguments(const std::wstring& kind,
                                                    const std::wstring& operation) const;

    // Every operation of the kind, in library order without repeats, with its number of
    // in-arguments after the control.
    std::vector<std::pair<std::wstring, size_t>> Operations(const std::wstring& kind) const;

  private:
    // Loads Tarnwick.Virtual.Interfaces.tlb through the process's type library resolution
    // service at the first lookup, once the host has added its own folder to the service's
    // search; without it every lookup answers none.
    ITypeLib* Library() const;
    std::optional<std::vector<VARTYPE>> OnInterface(const std::wstring& interfaceName,
                                                    const std::wstring& operation) const;
    // The type information of the interface so named; null when the library has none.
    Microsoft::WRL::ComPtr<ITypeInfo> Interface(const std::wstring& interfaceName) const;

    mutable Microsoft::WRL::ComPtr<ITypeLib> library_;
    mutable bool loaded_ = false;
    // Interfaces found by name, so that a request does not scan the library again.
    mutable std::map<std::wstring, Microsoft::WRL::ComPtr<ITypeInfo>> interfaces_;
};

}  // namespace tarnwick::host
