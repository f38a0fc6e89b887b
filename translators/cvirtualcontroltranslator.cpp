#include "translators/cvirtualcontroltranslator.h"

#include <commctrl.h>
#include <wrl/client.h>

#include <new>

#include "ieventcollection.h"
#include "iipcinvoke.h"
#include "messagetypes.h"
#include "platform/vaskhookhost.h"

namespace tarnwick {

CVirtualControlTranslator::CVirtualControlTranslator() {
    IVirtualControl* control = this;
    AddInterfaceEntry(&__uuidof(IVirtualControl), control);
    AddInterfaceEntry(&IID_IDispatch, control);
}

bool IsTranslatedMessage(UINT message) {
    switch (message) {
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
        case WM_ENABLE:
        case WM_SETTEXT:
        case WM_SHOWWINDOW:
        case WM_COMMAND:  // a combo box's notification, handed over by its parent
        case WM_NOTIFY:   // a tab strip's or a list view's, likewise
        case BM_SETCHECK:
        case vask::kTreeChangeMessage:
            return true;
        default:
            break;
    }
    const bool key = message >= WM_KEYDOWN && message <= WM_SYSCHAR;
    const bool mouseButton = message >= WM_LBUTTONDOWN && message <= WM_MBUTTONDBLCLK;
    const bool listView = message >= LVM_FIRST && message < LVM_FIRST + 0x100;
    return key || mouseButton || listView;
}

HRESULT Refuse(HRESULT code, const std::wstring& description) {
    Microsoft::WRL::ComPtr<ICreateErrorInfo> made;
    Microsoft::WRL::ComPtr<IErrorInfo> error;
    if (SUCCEEDED(CreateErrorInfo(&made)) &&
        SUCCEEDED(made->SetDescription(const_cast<wchar_t*>(description.c_str()))) &&
        SUCCEEDED(made->SetSource(const_cast<wchar_t*>(L"Tarnwick.Virtual"))) &&
        SUCCEEDED(made.As(&error))) {
        SetErrorInfo(0, error.Get());
    }
    return code;
}

std::wstring IndexOutOfRange(long index, long count, const wchar_t* holder, const wchar_t* items) {
    return L"index " + std::to_wstring(index) + L" out of range (the " + holder + L" has " +
           std::to_wstring(count) + L" " + items + (count == 1 ? L")" : L"s)");
}

LRESULT CVirtualControlTranslator::HandleMessage(HWND, UINT, WPARAM, LPARAM, bool*) { return 0; }

bool CVirtualControlTranslator::HandleMouseUp(HWND, UINT, int, int, int, int, bool*) {
    return false;
}

bool CVirtualControlTranslator::SetEventTarget(std::uint64_t ownerId,
                                               IInvokeManagementService* service) noexcept {
    std::shared_ptr<const EventTarget> target;
    if (service != nullptr) {
        try {
            target = std::make_shared<const EventTarget>(EventTarget{ownerId, service});
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    eventTarget_.store(std::move(target), std::memory_order_release);
    return true;
}

bool CVirtualControlTranslator::EventKey(const EventTarget& target, HWND window,
                                         ReturnAddressRecord& key) {
    IUnknown* identity = nullptr;
    IVirtualControl* control = this;
    if (FAILED(control->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)))) {
        return false;
    }
    key = {GetCurrentProcessId(), target.ownerId, reinterpret_cast<std::uint64_t>(identity),
           reinterpret_cast<std::uint64_t>(window)};
    identity->Release();
    return true;
}

bool CVirtualControlTranslator::IsSubscribed(HWND window, const wchar_t* name) {
    const std::shared_ptr<const EventTarget> target = eventTarget_.load(std::memory_order_acquire);
    ReturnAddressRecord key{};
    if (target == nullptr || !EventKey(*target, window, key)) return false;
    IEventCollection* events = target->service->GetEventCollection();
    return events != nullptr && events->HasSubscriber(&key, name);
}

bool CVirtualControlTranslator::RaiseEvent(HWND window, const wchar_t* name, VARIANT* arguments,
                                           int count) {
    // Read once: a reset on another thread while the event is out leaves this raise whole.
    const std::shared_ptr<const EventTarget> target = eventTarget_.load(std::memory_order_acquire);
    ReturnAddressRecord key{};
    if (target == nullptr || !EventKey(*target, window, key)) return false;
    IEventCollection* events = target->service->GetEventCollection();
    IIpcInvoke* subscriber = events != nullptr ? events->GetSubscriber(&key, name) : nullptr;
    if (subscriber == nullptr) return false;
    VARIANT answer = subscriber->Invoke(L"Invoke", count > 0 ? arguments : nullptr, count, 0);
    subscriber->Release();
    const bool cancel = V_VT(&answer) == VT_BOOL && V_BOOL(&answer) == VARIANT_TRUE;
    ClearVariant(answer);
    return cancel;
}

}  // namespace tarnwick
