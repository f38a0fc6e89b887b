#pragma once
// Owns one VARIANT and clears it when it goes, a record in it (also inside arrays) with its
// memory.

#include <windows.h>
#include <oleauto.h>

#include <utility>

#include "common/variantrecords.h"

namespace tarnwick {

class CVariantHolder {
  public:
    CVariantHolder() noexcept { VariantInit(&value_); }
    // Takes over what value holds; value is left VT_EMPTY.
    explicit CVariantHolder(VARIANT& value) noexcept : value_(value) { VariantInit(&value); }
    CVariantHolder(const CVariantHolder&) = delete;
    CVariantHolder& operator=(const CVariantHolder&) = delete;
    CVariantHolder(CVariantHolder&& other) noexcept : CVariantHolder() {
        std::swap(value_, other.value_);
    }
    CVariantHolder& operator=(CVariantHolder&& other) noexcept {
        if (this != &other) {
            ClearVariant(value_);
            value_ = other.value_;
            VariantInit(&other.value_);
        }
        return *this;
    }
    ~CVariantHolder() { ClearVariant(value_); }

    VARIANT& Get() noexcept { return value_; }
    const VARIANT& Get() const noexcept { return value_; }
    // Hands what the holder owns to the caller; the holder is left VT_EMPTY.
    VARIANT Detach() noexcept {
        VARIANT value = value_;
        VariantInit(&value_);
        return value;
    }

  private:
    VARIANT value_;
};

}  // namespace tarnwick
