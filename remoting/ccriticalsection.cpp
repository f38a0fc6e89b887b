#include "remoting/ccriticalsection.h"

namespace tarnwick {

namespace {
// A short spin first: the guards are held for microseconds, far less than a wait costs.
constexpr DWORD kSpinCount = 1000;
}  // namespace

CCriticalSection::CCriticalSection() noexcept {
    InitializeCriticalSectionAndSpinCount(&section_, kSpinCount);
}

CCriticalSection::~CCriticalSection() { DeleteCriticalSection(&section_); }

}  // namespace tarnwick
