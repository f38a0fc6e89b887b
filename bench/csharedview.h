#pragma once
// A named mapping of the remoting benchmark and its view: the host makes it, a peer opens it
// by name. Both are released when the owner goes.

#include <windows.h>

#include <string>

#include "standins/common/cscopedhandle.h"

namespace tarnwick::bench {

class CSharedView {
  public:
    // Makes the named mapping of size bytes and maps it.
    static CSharedView Create(const std::wstring& name, DWORD size);
    // Opens the named mapping that another process made and maps all of it.
    static CSharedView Open(const std::wstring& name);

    // The view, or null when the mapping could not be made, opened or mapped.
    void* Get() const noexcept { return view_.Get(); }

  private:
    CSharedView(HANDLE mapping, SIZE_T size) noexcept;

    vask::CScopedHandle mapping_;
    vask::CMappedView view_;
};

}  // namespace tarnwick::bench
