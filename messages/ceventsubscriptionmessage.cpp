#include "messages/ceventsubscriptionmessage.h"

#include <utility>

#include "messages/ceventproxy.h"
#include "trace/ctraceprovider.h"

namespace tarnwick {
namespace {

// {2F5280C1-3F72-4F56-B7E0-FF93F7C2F92F}
constexpr GUID kTraceGuid = {
    0x2f5280c1, 0x3f72, 0x4f56, {0xb7, 0xe0, 0xff, 0x93, 0xf7, 0xc2, 0xf9, 0x2f}};

enum TracePoint : USHORT { kTraceProxyWithoutIUnknown = 1 };

}  // namespace

void CEventSubscriptionMessage::SetEventProxy(IUnknown* proxy) {
    Microsoft::WRL::ComPtr<IUnknown> held;
    if (proxy != nullptr) {
        const HRESULT result =
            proxy->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(held.GetAddressOf()));
        if (FAILED(result)) {
            Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceProxyWithoutIUnknown,
                  static_cast<const wchar_t*>(eventName_), result);
        }
    }
    eventProxy_ = std::move(held);
}

void CEventSubscriptionMessage::SetEventProxy(CEventProxy* proxy) {
    eventProxy_ = static_cast<IIpcInvoke*>(proxy);
}

}  // namespace tarnwick
