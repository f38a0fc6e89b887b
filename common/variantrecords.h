#pragma once
// Freeing VARIANTs that hold records. VariantClear of a VT_RECORD clears the record's fields,
// but on some platforms (Wine's OLE Automation among them) it leaves the record's memory
// allocated; IRecordInfo::RecordDestroy clears and frees it. Every VARIANT that may hold a
// record, or an array of VARIANTs that may, is freed through these.

#include <windows.h>
#include <oleauto.h>

#include <cstddef>

namespace tarnwick {

inline HRESULT DestroyVariantArray(SAFEARRAY* array) noexcept;

// Frees what the VARIANT owns and leaves it VT_EMPTY: a record with RecordDestroy, an array of
// VARIANTs with DestroyVariantArray, anything else with VariantClear (whose answer it returns;
// a locked array is left as it is).
inline HRESULT ClearVariant(VARIANT& value) noexcept {
    if (V_VT(&value) == VT_RECORD) {
        if (IRecordInfo* info = V_RECORDINFO(&value)) {
            if (V_RECORD(&value) != nullptr) info->RecordDestroy(V_RECORD(&value));
            info->Release();
        }
        VariantInit(&value);
        return S_OK;
    }
    if (V_VT(&value) == (VT_ARRAY | VT_VARIANT)) {
        const HRESULT hr = DestroyVariantArray(V_ARRAY(&value));
        if (SUCCEEDED(hr)) VariantInit(&value);
        return hr;
    }
    return VariantClear(&value);
}

// Destroys the array as SafeArrayDestroy does, freeing the records that its VARIANT elements
// hold, at any depth, first. A locked array is refused (DISP_E_ARRAYISLOCKED) and left whole.
inline HRESULT DestroyVariantArray(SAFEARRAY* array) noexcept {
    if (array == nullptr) return S_OK;
    if (array->cLocks != 0) return DISP_E_ARRAYISLOCKED;
    void* data = nullptr;
    if ((array->fFeatures & FADF_VARIANT) != 0 && SUCCEEDED(SafeArrayAccessData(array, &data))) {
        std::size_t count = 1;
        for (USHORT d = 0; d < array->cDims; ++d) count *= array->rgsabound[d].cElements;
        auto* elements = static_cast<VARIANT*>(data);
        for (std::size_t i = 0; i < count; ++i) {
            const VARTYPE type = V_VT(&elements[i]);
            if (type == VT_RECORD || type == (VT_ARRAY | VT_VARIANT)) ClearVariant(elements[i]);
        }
        SafeArrayUnaccessData(array);
    }
    return SafeArrayDestroy(array);
}

// The elements of a one-dimensional array of VARIANTs, locked while this lives; read and
// written in place.
class CLockedVariants {
  public:
    explicit CLockedVariants(SAFEARRAY* array) : array_(array) {
        void* data = nullptr;
        hr_ = SafeArrayAccessData(array, &data);
        data_ = static_cast<VARIANT*>(data);
    }
    CLockedVariants(const CLockedVariants&) = delete;
    CLockedVariants& operator=(const CLockedVariants&) = delete;
    ~CLockedVariants() {
        if (SUCCEEDED(hr_)) SafeArrayUnaccessData(array_);
    }
    HRESULT Result() const { return hr_; }
    VARIANT& operator[](ULONG index) { return data_[index]; }

  private:
    SAFEARRAY* array_;
    VARIANT* data_ = nullptr;
    HRESULT hr_;
};

}  // namespace tarnwick
