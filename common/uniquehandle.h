#pragma once
// A kernel handle that is closed when its owner goes.

#include <windows.h>

#include <memory>

namespace tarnwick {

struct HandleCloser {
    void operator()(HANDLE handle) const noexcept {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

}  // namespace tarnwick
