#include "translators/cvirtualcontroltranslator.h"

#include "ieventcollection.h"
#include "iipcinvoke.h"
#include "messagetypes.h"

namespace tarnwick {

CVirtualControlTranslator::CVirtualControlTranslator() {
    IVirtualControl* control = this;
    AddInterfaceEntry(&__uuidof(IVirtualControl), control);
    AddInterfaceEntry(&IID_IDispatch, control);
}

LRESULT CVirtualControlTranslator::HandleMessage(HWND, UINT, WPARAM, LPARAM, bool*) { return 0; }

bool CVirtualControlTranslator::HandleMouseUp(HWND, UINT, int, int, int, int, bool*) {
    return false;
}

bool CVirtualControlTranslator::RaiseEvent(HWND window, const wchar_t* name, VARIANT* arguments,
                                           int count) {
    if (EventService == nullptr) return false;
    IUnknown* identity = nullptr;
    IVirtualControl* control = this;
    if (FAILED(control->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)))) {
        return false;
    }
    const ReturnAddressRecord key{GetCurrentProcessId(), OwnerId,
                                  reinterpret_cast<std::uint64_t>(identity),
                                  reinterpret_cast<std::uint64_t>(window)};
    identity->Release();
    IEventCollection* events = EventService->GetEventCollection();
    IIpcInvoke* subscriber = events != nullptr ? events->GetSubscriber(&key, name) : nullptr;
    if (subscriber == nullptr) return false;
    VARIANT answer = subscriber->Invoke(L"Invoke", count > 0 ? arguments : nullptr, count, 0);
    subscriber->Release();
    const bool cancel = V_VT(&answer) == VT_BOOL && V_BOOL(&answer) == VARIANT_TRUE;
    VariantClear(&answer);
    return cancel;
}

}  // namespace tarnwick
