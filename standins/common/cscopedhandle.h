#pragma once
// Owners of a kernel handle and of a mapped view.

#include <windows.h>

#include <utility>

namespace vask {

// Closes the handle it holds; null and INVALID_HANDLE_VALUE both mean "none".
class CScopedHandle {
  public:
    CScopedHandle() = default;
    explicit CScopedHandle(HANDLE handle) noexcept : handle_(handle) {}
    CScopedHandle(const CScopedHandle&) = delete;
    CScopedHandle& operator=(const CScopedHandle&) = delete;
    CScopedHandle(CScopedHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)) {}
    CScopedHandle& operator=(CScopedHandle&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.handle_, nullptr));
        return *this;
    }
    ~CScopedHandle() { Reset(); }

    HANDLE Get() const noexcept { return handle_; }
    bool IsValid() const noexcept { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE handle = nullptr) noexcept {
        if (IsValid()) CloseHandle(handle_);
        handle_ = handle;
    }

  private:
    HANDLE handle_ = nullptr;
};

// Unmaps the view it holds.
class CMappedView {
  public:
    CMappedView() = default;
    explicit CMappedView(void* view) noexcept : view_(view) {}
    CMappedView(const CMappedView&) = delete;
    CMappedView& operator=(const CMappedView&) = delete;
    CMappedView(CMappedView&& other) noexcept : view_(std::exchange(other.view_, nullptr)) {}
    CMappedView& operator=(CMappedView&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.view_, nullptr));
        return *this;
    }
    ~CMappedView() { Reset(); }

    void* Get() const noexcept { return view_; }
    void Reset(void* view = nullptr) noexcept {
        if (view_ != nullptr) UnmapViewOfFile(view_);
        view_ = view;
    }

  private:
    void* view_ = nullptr;
};

}  // namespace vask
