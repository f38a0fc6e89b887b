#include "remoting/cinvokewait.h"

namespace tarnwick {

CInvokeWait::CInvokeWait(CRaiseEventMessage* message)
    : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), message_(message) {}

CInvokeWait::~CInvokeWait() {
    if (event_ != nullptr) CloseHandle(event_);
}

bool CInvokeWait::Wait(DWORD timeoutMs) {
    return event_ != nullptr && WaitForSingleObject(event_, timeoutMs) == WAIT_OBJECT_0;
}

void CInvokeWait::Signal() {
    signalled_.store(true);
    if (event_ != nullptr) SetEvent(event_);
}

}  // namespace tarnwick
