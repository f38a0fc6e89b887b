#pragma once
// The exception the library raises when a COM-level operation fails, above all when a string
// or a message member cannot be allocated (E_OUTOFMEMORY).

#include <windows.h>

#include "tarnwickapi.h"

namespace tarnwick {

// The text of an HRESULT: the system's message without its trailing line break; failing
// that "IDispatch error #%d" for the dispatch codes 0x80040201 to 0x8004FFFF, else
// "Unknown error 0x%0lX" (at most 31 characters). The caller frees it with LocalFree; null
// only when memory runs out.
TARNWICK_API wchar_t* AllocateErrorText(HRESULT code) noexcept;

class CComError {
public:
    explicit CComError(HRESULT code) noexcept : code_(code) {}
    // A copy makes its own text when asked: the text buffer has one owner.
    CComError(const CComError& other) noexcept : code_(other.code_) {}
    CComError& operator=(const CComError& other) noexcept {
        if (this != &other) {
            FreeMessage();
            code_ = other.code_;
        }
        return *this;
    }
    ~CComError() { FreeMessage(); }

    HRESULT Error() const noexcept { return code_; }

    // Made on first use and kept with the object. The buffer comes from LocalAlloc, so any
    // module of the process may free it.
    const wchar_t* ErrorMessage() const noexcept {
        if (message_ == nullptr) message_ = AllocateErrorText(code_);
        return message_;
    }

private:
    void FreeMessage() noexcept {
        if (message_ != nullptr) LocalFree(message_);
        message_ = nullptr;
    }

    HRESULT code_;
    mutable wchar_t* message_ = nullptr;
};

}  // namespace tarnwick
