#include "translators/eventharness.h"

#include "ieventcollection.h"
#include "iipcinvoke.h"
#include "invokemanagementservices.h"
#include "iwindowsmessageinvoke.h"
#include "translatorfactory.h"
#include "translators/cvirtualcontroltranslator.h"

namespace tarnwick::test {

// Files the peer's subscriptions in the service's event collection.
class CEventHarness::CHost final : public IInvokeNotification {
  public:
    IInvokeManagementService* service = nullptr;

    int OnMethodCall(IMethodCallMessage*) override { return 0; }
    int OnEventSubscription(IEventSubscriptionMessage* message) override {
        service->GetEventCollection()->AddSubscriber(
            &message->GetReturnAddress(), message->GetEventName(),
            static_cast<IIpcInvoke*>(message->GetEventProxy()));
        return 0;
    }
    int OnEventUnsubscription(IEventUnsubscriptionMessage*) override { return 0; }
    std::uint64_t ResolveTarget(std::uint64_t o) override { return o; }
};

namespace {

// The ItemHandle field of a node record, read through its record information; -1 when there is
// none.
std::int64_t NodeHandle(const VARIANT& record) {
    VARIANT field;
    VariantInit(&field);
    if (record.pRecInfo == nullptr ||
        FAILED(record.pRecInfo->GetField(record.pvRecord, L"ItemHandle", &field)) ||
        V_VT(&field) != VT_I8) {
        VariantClear(&field);
        return -1;
    }
    return V_I8(&field);
}

}  // namespace

CEventHarness& CEventHarness::Instance() {
    static CEventHarness harness;
    return harness;
}

CEventHarness::CEventHarness() : host_(std::make_unique<CHost>()) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &Procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TarnwickTestEventTarget";
    RegisterClassW(&windowClass);
    window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    peer_ = std::make_unique<CWindowsMessagePeer>(window_);
    peer_->SetEventHandler([this](const PeerEvent& event) {
        ReceivedEvent received{event.SubscriptionTag,
                               reinterpret_cast<HWND>(static_cast<std::intptr_t>(event.Address.O))};
        for (const CVariantHolder& argument : event.Arguments) {
            const VARIANT& value = argument.Get();
            if (V_VT(&value) == VT_RECORD) {
                received.nodes.push_back(NodeHandle(value));
            } else {
                received.numbers.push_back(V_VT(&value) == VT_BOOL ? V_BOOL(&value) : V_I4(&value));
            }
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        VARIANT answer;
        V_VT(&answer) = VT_BOOL;
        V_BOOL(&answer) = cancelled_.count(received.name) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        events_.push_back(std::move(received));
        return CVariantHolder(answer);
    });
    service_ = GetWindowsMessageInvokeManagementService(peer_->Window(), host_.get());
    host_->service = service_;
    SetWindowLongPtrW(window_, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(dynamic_cast<IWindowsMessageInvoke*>(service_)));
}

LRESULT CALLBACK CEventHarness::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* invoke =
        reinterpret_cast<IWindowsMessageInvoke*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message != kInvokeWindowMessage || invoke == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return invoke->ProcessWindowMessage(static_cast<std::uint32_t>(lParam)) != 0
               ? kInvokeWindowMessageReplied
               : 0;
}

bool CEventHarness::Subscribe(HWND window, const wchar_t* name, HWND about) {
    // The translator the hooking host attached, from the library's DLL.
    auto* translator =
        static_cast<CVirtualControlTranslator*>(GetPropW(window, kTranslatorProperty));
    if (translator == nullptr) return false;
    translator->SetEventTarget(kOwnerId, service_);
    IVirtualControl* control = translator;
    IUnknown* identity = nullptr;
    control->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    identity->Release();
    PeerTarget target;
    target.Address = {GetCurrentProcessId(), kOwnerId, reinterpret_cast<std::uint64_t>(identity),
                      reinterpret_cast<std::uint64_t>(about != nullptr ? about : window)};
    return peer_->Subscribe(target, name, name).State == StateCompleted;
}

void CEventHarness::Cancel(std::set<std::wstring> names) {
    const std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = std::move(names);
}

std::vector<ReceivedEvent> CEventHarness::Events() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

std::vector<std::wstring> CEventHarness::EventNames() {
    std::vector<std::wstring> names;
    for (const ReceivedEvent& event : Events()) names.push_back(event.name);
    return names;
}

void CEventHarness::Clear() {
    const std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
}

}  // namespace tarnwick::test
