#include "remoting/cremotingservices.h"

#include "com/ctypelibresolutionservice.h"
#include "invokemanagementservices.h"
#include "remoting/clpcinvokemanagementservice.h"
#include "trace/ctraceprovider.h"
#include "remoting/cwindowsmessageinvokemanagementservice.h"

namespace tarnwick {

namespace {

// {70E41D11-7CB5-49D9-9111-3C7BFAAB8771}
constexpr GUID kTraceGuid = {
    0x70e41d11, 0x7cb5, 0x49d9, {0x91, 0x11, 0x3c, 0x7b, 0xfa, 0xab, 0x87, 0x71}};

enum TracePoint : USHORT {
    kWindowMessageServiceFound = 1,
    kWindowMessageServiceMade,
    kNoWindowMessageService,
    kRefusedWhileDestroying,
};

}  // namespace

CRemotingServices::CRemotingServices() = default;

CRemotingServices::~CRemotingServices() { DestroyAll(); }

CRemotingServices& CRemotingServices::Module() {
    // Deliberately never destroyed: process exit must not run queue teardown after the
    // queue library has been unloaded.
    static CRemotingServices* const module = new CRemotingServices();
    return *module;
}

CLpcInvokeManagementService* CRemotingServices::GetLpcService(BSTR queueName,
                                                              IInvokeNotification* notification) {
    std::lock_guard lock(mutex_);
    if (destroying_) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kRefusedWhileDestroying,
              notification);
        return nullptr;
    }
    if (!lpc_) lpc_ = std::make_unique<CLpcInvokeManagementService>(queueName, notification);
    return lpc_.get();
}

CWindowsMessageInvokeManagementService* CRemotingServices::GetWindowsMessageService(
    HWND peerWindow, IInvokeNotification* notification) {
    std::lock_guard lock(mutex_);
    if (destroying_) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kRefusedWhileDestroying,
              notification);
        return nullptr;
    }
    auto& entry = windowMessage_[notification];
    if (entry) {
        Trace(kTraceGuid, TraceLevel::Verbose, kTraceFlagComponent, kWindowMessageServiceFound,
              notification);
    } else {
        entry = std::make_unique<CWindowsMessageInvokeManagementService>(peerWindow, notification);
        Trace(kTraceGuid, TraceLevel::Information, kTraceFlagComponent, kWindowMessageServiceMade,
              notification);
    }
    return entry.get();
}

void CRemotingServices::DestroyAll() {
    // Destroying the queue service waits for its delivery thread, where a host callback may be
    // calling a factory: the services are taken out under the lock and destroyed after it.
    std::unique_ptr<CLpcInvokeManagementService> lpc;
    std::unordered_map<IInvokeNotification*,
                       std::unique_ptr<CWindowsMessageInvokeManagementService>>
        windowMessage;
    {
        std::lock_guard lock(mutex_);
        destroying_ = true;
        lpc = std::move(lpc_);
        windowMessage.swap(windowMessage_);
    }
    lpc.reset();
    windowMessage.clear();
    std::lock_guard lock(mutex_);
    destroying_ = false;
}

void DestroyModuleServices() {
    DestroyTypeLibResolutionService();
    CRemotingServices::Module().DestroyAll();
}

}  // namespace tarnwick

tarnwick::IInvokeManagementService* GetLpcInvokeManagementService(
    BSTR queueName, tarnwick::IInvokeNotification* notification) {
    return tarnwick::CRemotingServices::Module().GetLpcService(queueName, notification);
}

tarnwick::IInvokeManagementService* GetWindowsMessageInvokeManagementService(
    HWND peerWindow, tarnwick::IInvokeNotification* notification) {
    using namespace tarnwick;
    IInvokeManagementService* service =
        CRemotingServices::Module().GetWindowsMessageService(peerWindow, notification);
    if (service == nullptr) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kNoWindowMessageService,
              notification);
    }
    return service;
}
