#pragma once
// The error code that the remoting service keeps for each calling thread.

#include <cstdint>

#include "tarnwickapi.h"

namespace tarnwick {

class TARNWICK_API IIpcErrorInfo {
  public:
    IIpcErrorInfo() noexcept;
    IIpcErrorInfo(const IIpcErrorInfo&) noexcept;
    IIpcErrorInfo(IIpcErrorInfo&&) noexcept;
    IIpcErrorInfo& operator=(const IIpcErrorInfo&) noexcept;
    IIpcErrorInfo& operator=(IIpcErrorInfo&&) noexcept;

    // The calling thread's error code.
    virtual std::uint32_t GetLastIpcError() = 0;

  protected:
    ~IIpcErrorInfo() = default;
};

}  // namespace tarnwick
