#pragma once
// The arrays of variants that the read benchmarks get back: an owner that destroys one, and
// the elements of one locked for reading.

#include <windows.h>
#include <oleauto.h>

#include <memory>

namespace tarnwick::bench {

struct ArrayDestroy {
    void operator()(SAFEARRAY* array) const noexcept { SafeArrayDestroy(array); }
};
using CArray = std::unique_ptr<SAFEARRAY, ArrayDestroy>;

// The elements of a one-dimensional array of variants, locked for as long as this lives; no
// elements when the array is of another kind.
class CArrayElements {
  public:
    explicit CArrayElements(SAFEARRAY* array) {
        if (array == nullptr || array->cDims != 1 || (array->fFeatures & FADF_VARIANT) == 0) return;
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array, &data))) return;
        array_ = array;
        data_ = static_cast<VARIANT*>(data);
        count_ = array->rgsabound[0].cElements;
    }
    CArrayElements(const CArrayElements&) = delete;
    CArrayElements& operator=(const CArrayElements&) = delete;
    ~CArrayElements() {
        if (array_ != nullptr) SafeArrayUnaccessData(array_);
    }

    bool IsValid() const { return array_ != nullptr; }
    ULONG Count() const { return count_; }
    VARIANT& operator[](ULONG index) const { return data_[index]; }

  private:
    SAFEARRAY* array_ = nullptr;
    VARIANT* data_ = nullptr;
    ULONG count_ = 0;
};

}  // namespace tarnwick::bench
