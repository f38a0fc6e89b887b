#include "translators/ctranslatortable.h"

#include <algorithm>

namespace tarnwick {
namespace {

class CExclusive {
  public:
    explicit CExclusive(SRWLOCK& lock) noexcept : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    CExclusive(const CExclusive&) = delete;
    CExclusive& operator=(const CExclusive&) = delete;
    ~CExclusive() { ReleaseSRWLockExclusive(&lock_); }

  private:
    SRWLOCK& lock_;
};

class CShared {
  public:
    explicit CShared(SRWLOCK& lock) noexcept : lock_(lock) { AcquireSRWLockShared(&lock_); }
    CShared(const CShared&) = delete;
    CShared& operator=(const CShared&) = delete;
    ~CShared() { ReleaseSRWLockShared(&lock_); }

  private:
    SRWLOCK& lock_;
};

}  // namespace

void CTranslatorTable::Attach(HWND window, CVirtualControlTranslator* translator) {
    const CExclusive lock(lock_);
    if (translators_.size() >= sweepAt_) SweepGoneWindows();
    translators_[window] = translator;
}

CVirtualControlTranslator* CTranslatorTable::Find(HWND window) const noexcept {
    const CShared lock(lock_);
    const auto found = translators_.find(window);
    return found != translators_.end() ? found->second : nullptr;
}

void CTranslatorTable::Forget(HWND window) noexcept {
    const CExclusive lock(lock_);
    translators_.erase(window);
}

void CTranslatorTable::SweepGoneWindows() {
    std::erase_if(translators_, [](const auto& entry) { return !IsWindow(entry.first); });
    sweepAt_ = std::max(kFirstSweep, translators_.size() * 2);
}

}  // namespace tarnwick
