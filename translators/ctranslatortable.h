#pragma once
// The translator that the factory attached to each window, kept in this process: the hook entry
// points read it on every message, where the window property would cost a round trip to the
// window server under some platforms. Only pointers that the factory put here are ever called,
// whatever another party writes into the property.

#include <windows.h>

#include <cstddef>
#include <unordered_map>

namespace tarnwick {

class CVirtualControlTranslator;

class CTranslatorTable {
  public:
    CTranslatorTable() = default;
    CTranslatorTable(const CTranslatorTable&) = delete;
    CTranslatorTable& operator=(const CTranslatorTable&) = delete;

    // Files the window's translator, replacing an earlier one; throws std::bad_alloc.
    void Attach(HWND window, CVirtualControlTranslator* translator);
    // The window's translator, or null; takes no kernel call.
    CVirtualControlTranslator* Find(HWND window) const noexcept;
    // Forgets the window, at its WM_NCDESTROY: its handle may name another window later.
    void Forget(HWND window) noexcept;

  private:
    // Drops the windows that went without a WM_NCDESTROY through the hooks (the host had let
    // go of them), once the table has doubled since the last sweep.
    void SweepGoneWindows();

    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    std::unordered_map<HWND, CVirtualControlTranslator*> translators_;
    static constexpr size_t kFirstSweep = 64;
    size_t sweepAt_ = kFirstSweep;
};

}  // namespace tarnwick
