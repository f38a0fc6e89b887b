#define VASK_HOOKHOST_EXPORTS
#include "agent/cagent.h"

#include <bcrypt.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <map>
#include <memory>
#include <thread>

#include "agent/chookhost.h"
#include "agent/controlevents.h"
#include "agent/cqueuegate.h"
#include "agent/cthreadhop.h"
#include "agent/keytext.h"
#include "agent/menubar.h"
#include "agent/treeitems.h"
#include "agent/windowpicture.h"
#include "ieventcollection.h"
#include "iipcinvoke.h"
#include "invokemanagementservices.h"
#include "itypelibresolutionservice.h"
#include "iwindowsmessageinvoke.h"
#include "platform/vaskhookhost.h"
#include "platform/vaskreservoir.h"
#include "standins/common/debugtrace.h"
#include "translatorfactory.h"

namespace vask {
namespace {

using Microsoft::WRL::ComPtr;
using tarnwick::CVariantHolder;
using tarnwick::IMethodCallMessage;

constexpr const wchar_t* kComponent = L"hookhost agent";
// The owner id of every translator the agent attaches.
constexpr std::uint64_t kAgentOwnerId = 0x4147454E54ull;  // "AGENT"
constexpr DWORD kMinimumBoundMs = 100;
constexpr DWORD kMaximumBoundMs = 600000;

// Posted to the agent's window on the GUI thread; wParam: the session's generation.
constexpr UINT kStopMessage = WM_APP + 0x42;

constexpr const wchar_t* kControlWindowClass = L"Vask.HookHost.AgentControl";

UINT ServesMessage() {
    static const UINT message = RegisterWindowMessageW(L"Vask.HookHost.AgentServes");
    return message;
}

std::wstring Text(const tarnwick::CBstrHolder& holder) {
    return holder.Get() != nullptr ? std::wstring(holder.Get(), holder.Length()) : std::wstring();
}

ControlCallOutcome Refused(HRESULT code, std::wstring text) {
    ControlCallOutcome outcome;
    outcome.code = code;
    outcome.refusal = std::move(text);
    return outcome;
}

// The values, taken over, as the array of VARIANTs that answers a request.
ControlCallOutcome ArrayAnswer(std::vector<CVariantHolder>& values) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(values.size()));
    VARIANT* elements = nullptr;
    if (array == nullptr ||
        FAILED(SafeArrayAccessData(array, reinterpret_cast<void**>(&elements)))) {
        if (array != nullptr) SafeArrayDestroy(array);
        return Refused(E_OUTOFMEMORY, L"no memory for the answer");
    }
    for (size_t i = 0; i < values.size(); ++i) elements[i] = values[i].Detach();
    SafeArrayUnaccessData(array);
    ControlCallOutcome outcome;
    V_VT(&outcome.result.Get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&outcome.result.Get()) = array;
    return outcome;
}

VARIANT I8(std::int64_t value) {
    VARIANT variant;
    VariantInit(&variant);
    V_VT(&variant) = VT_I8;
    V_I8(&variant) = value;
    return variant;
}

VARIANT Int(int value) {
    VARIANT variant;
    VariantInit(&variant);
    V_VT(&variant) = VT_I4;
    V_I4(&variant) = value;
    return variant;
}

VARIANT Bool(bool value) {
    VARIANT variant;
    VariantInit(&variant);
    V_VT(&variant) = VT_BOOL;
    V_BOOL(&variant) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return variant;
}

VARIANT String(const std::wstring& text) {
    VARIANT variant;
    VariantInit(&variant);
    V_VT(&variant) = VT_BSTR;
    V_BSTR(&variant) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return variant;
}

// The interface type name of a classified window's translator.
std::wstring InterfaceTypeName(HWND window) {
    wchar_t interfaceName[tarnwick::kTypeNameChars] = {},
            adapterName[tarnwick::kTypeNameChars] = {};
    GetCommonControlTranslator(window, nullptr, interfaceName, adapterName);
    return interfaceName;
}

std::wstring WindowText(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

// A copy of the call's arguments, in call order (the message holds them last first), that the
// GUI thread may use after the message is gone. Records become their handle, the one value a
// control or node record holds.
std::shared_ptr<std::vector<CVariantHolder>> CopyArguments(IMethodCallMessage& message) {
    auto copies = std::make_shared<std::vector<CVariantHolder>>();
    for (int i = message.GetArgumentCount() - 1; i >= 0; --i) {
        const VARIANT* given = message.GetArgument(i);
        CVariantHolder copy;
        if (given != nullptr && V_VT(given) == VT_RECORD) {
            if (given->pvRecord != nullptr) {
                std::int64_t handle = 0;
                std::memcpy(&handle, given->pvRecord, sizeof handle);
                copy.Get() = I8(handle);
            }
        } else if (given != nullptr) {
            VariantCopy(&copy.Get(), const_cast<VARIANT*>(given));
        }
        copies->push_back(std::move(copy));
    }
    return copies;
}

// Arrays of the result hold at most as many values as one reply block carries: the check that
// keeps a large result from arriving empty. Empty when it fits; else what does not.
std::wstring TooLarge(const VARIANT& value, int depth = 0) {
    if ((V_VT(&value) & VT_ARRAY) == 0 || V_ARRAY(&value) == nullptr || depth > 16) return {};
    SAFEARRAY* array = V_ARRAY(&value);
    const ULONG count = SafeArrayGetDim(array) == 1 ? array->rgsabound[0].cElements : 0;
    const std::uint32_t limit = MaxArrayValues(GetMaxPageSize(0));
    if (count > limit) {
        return L"the result holds an array of " + std::to_wstring(count) +
               L" values; one reply carries at most " + std::to_wstring(limit) +
               L" values in an array";
    }
    if (V_VT(&value) != (VT_ARRAY | VT_VARIANT)) return {};
    VARIANT* elements = nullptr;
    if (FAILED(SafeArrayAccessData(array, reinterpret_cast<void**>(&elements)))) return {};
    std::wstring why;
    for (ULONG i = 0; i < count && why.empty(); ++i) why = TooLarge(elements[i], depth + 1);
    SafeArrayUnaccessData(array);
    return why;
}

void Apply(IMethodCallMessage& message, ControlCallOutcome outcome) {
    if (outcome.refusal.empty()) outcome.refusal = TooLarge(outcome.result.Get());
    if (!outcome.refusal.empty() && outcome.code == S_OK) outcome.code = kAgentResultTooLarge;
    if (!outcome.refusal.empty()) {
        message.SetFailedCode(outcome.refusal.c_str(), outcome.code, L"%ls",
                              outcome.refusal.c_str());
        return;
    }
    VARIANT result = outcome.result.Detach();
    message.SetResult(&result);  // the message owns it from now on
}

std::uint64_t NewKey() {
    std::uint64_t key = 0;
    while (key == 0) {
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&key), sizeof key,
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
            return 0;
        }
    }
    return key;
}

std::mutex g_agentsLock;  // over the registry and g_active
CAgent* g_active = nullptr;

// The IPC queue's service is made once per process, with this notification: it hands each
// call to the agent of the running session.
class CQueueNotification final : public tarnwick::IInvokeNotification {
  public:
    int OnMethodCall(IMethodCallMessage* message) override {
        CAgent* agent = Active();
        if (agent != nullptr) return agent->OnMethodCall(message);
        if (message != nullptr)
            message->SetFailedCode(L"detached", E_FAIL, L"the agent is detached");
        return 0;
    }
    int OnEventSubscription(tarnwick::IEventSubscriptionMessage* message) override {
        CAgent* agent = Active();
        if (agent != nullptr) return agent->OnEventSubscription(message);
        if (message != nullptr) message->SetFailed(L"detached", L"the agent is detached");
        return 0;
    }
    int OnEventUnsubscription(tarnwick::IEventUnsubscriptionMessage* message) override {
        CAgent* agent = Active();
        return agent != nullptr ? agent->OnEventUnsubscription(message) : 0;
    }
    std::uint64_t ResolveTarget(std::uint64_t o) override { return o; }

  private:
    static CAgent* Active() {
        const std::lock_guard lock(g_agentsLock);
        return g_active;
    }
};

// The queue's service and the gate in front of it, made once per process.
tarnwick::IInvokeManagementService* QueueService(CQueueGate*& gate) {
    static CQueueNotification notification;
    static CQueueGate* const made = new CQueueGate(AgentQueueName(GetCurrentProcessId()));
    static tarnwick::IInvokeManagementService* const service =
        GetLpcInvokeManagementService(SysAllocString(made->InnerName().c_str()), &notification);
    gate = made;
    return made->IsOpen() ? service : nullptr;
}

}  // namespace

// One agent per GUI thread, never destroyed: the library's window-message service keeps its
// notification and its peer window for the life of the process.
class CAgentRegistry {
  public:
    static CAgent* For(DWORD thread) {
        static std::map<DWORD, CAgent*> agents;
        CAgent*& agent = agents[thread];
        // A thread id is reused after its thread ended, with whose windows the agent went.
        if (agent == nullptr || !IsWindow(agent->control_)) agent = new CAgent(thread);
        return agent->control_ != nullptr ? agent : nullptr;
    }
};

CAgent::CAgent(DWORD thread) : thread_(thread) {
    const HINSTANCE module = GetModuleHandleW(L"Vask.HookHost.x64.dll");
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &WindowProc;
    windowClass.hInstance = module;
    windowClass.lpszClassName = kAgentWindowClass;
    RegisterClassW(&windowClass);
    windowClass.lpszClassName = kControlWindowClass;
    RegisterClassW(&windowClass);
    control_ = CreateWindowExW(0, kControlWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               module, nullptr);
    if (control_ != nullptr) {
        SetWindowLongPtrW(control_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
}

bool CAgent::Start(DWORD hostProcess, HWND hostWindow, std::uint64_t key) {
    // Unloading this DLL while the agent's procedures are in use would crash the application.
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&CAgent::Start), &pinned);
    std::unique_lock lock(g_agentsLock);
    if (CAgent* active = g_active) {
        bool otherHostAlive = false;
        {
            const std::lock_guard session(active->mutex_);
            otherHostAlive = active->hostProcess_ != hostProcess &&
                             active->hostHandle_ != nullptr &&
                             WaitForSingleObject(active->hostHandle_.get(), 0) == WAIT_TIMEOUT;
        }
        if (otherHostAlive) {
            DebugTrace(kComponent, L"start from process %lu refused: another host is served",
                       hostProcess);
            return false;
        }
        // The same host starting again, or a host that is gone: its session ends first.
        lock.unlock();
        active->Stop();
        lock.lock();
    }
    CAgent* agent = CAgentRegistry::For(GetCurrentThreadId());
    if (agent == nullptr || !agent->Begin(hostProcess, hostWindow, key)) return false;
    g_active = agent;
    return true;
}

bool CAgent::Serves(DWORD hostProcess, std::uint64_t key) {
    const std::lock_guard lock(g_agentsLock);
    if (g_active == nullptr) return false;
    const std::lock_guard session(g_active->mutex_);
    return g_active->active_ && g_active->hostProcess_ == hostProcess && g_active->key_ == key;
}

tarnwick::IInvokeManagementService* CAgent::WindowService() {
    // Events go to control_ on this thread, which hands them on to the session's host window:
    // one service serves every session, whatever window its host has.
    if (windowService_ == nullptr) {
        windowService_ = GetWindowsMessageInvokeManagementService(control_, this);
    }
    return windowService_;
}

bool CAgent::Begin(DWORD hostProcess, HWND hostWindow, std::uint64_t key) {
    const HINSTANCE module = GetModuleHandleW(L"Vask.HookHost.x64.dll");
    static const bool searched = [module] {
        // The application's own folder need not hold the type library: the agent's folder does.
        wchar_t modulePath[MAX_PATH] = {};
        ITypeLibResolutionService* types = GetTypeLibResolutionService();
        if (types != nullptr && GetModuleFileNameW(module, modulePath, MAX_PATH) != 0) {
            types->AddSearchDirectory(modulePath);
        }
        return true;
    }();
    (void)searched;
    CQueueGate* gate = nullptr;
    tarnwick::IInvokeManagementService* service =
        hostWindow != nullptr ? WindowService() : QueueService(gate);
    if (service == nullptr || key == 0) return false;
    if (gate != nullptr) gate->Admit(AgentHostQueueName(hostProcess));
    // Requests over window messages arrive on a thread of the session's own, never on the GUI
    // thread, which raises events meanwhile and may sit in a modal loop.
    std::promise<HWND> made;
    std::future<HWND> madeWindow = made.get_future();
    std::thread([this, module, &made] {
        const std::wstring title = std::to_wstring(GetCurrentProcessId());
        const HWND window = CreateWindowExW(0, kAgentWindowClass, title.c_str(), 0, 0, 0, 0, 0,
                                            HWND_MESSAGE, nullptr, module, nullptr);
        if (window != nullptr) {
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        }
        made.set_value(window);
        MSG message;
        while (window != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0) {
            DispatchMessageW(&message);
        }
    }).detach();
    const HWND window = madeWindow.get();
    if (window == nullptr) return false;
    SetQuitHandler([] {
        CAgent* active = nullptr;
        {
            const std::lock_guard lock(g_agentsLock);
            active = g_active;
        }
        if (active != nullptr) active->Stop();
    });
    SetWindowGoneHandler(&WindowGone);
    if (AttachHookHost(thread_, kAgentOwnerId, service) == 0) {
        DebugTrace(kComponent, L"the agent could not start for process %lu", hostProcess);
        PostMessageW(window, WM_CLOSE, 0, 0);
        return false;
    }
    const std::lock_guard lock(mutex_);
    active_ = true;
    ++generation_;
    hostProcess_ = hostProcess;
    hostWindow_ = hostWindow;
    key_ = key;
    boundMs_ = kDefaultOperationBoundMs;
    window_ = window;
    service_ = service;
    const auto context = reinterpret_cast<void*>(generation_);
    hostHandle_.reset(OpenProcess(SYNCHRONIZE, FALSE, hostProcess));
    threadHandle_.reset(OpenThread(SYNCHRONIZE, FALSE, thread_));
    if (hostHandle_ != nullptr) {
        RegisterWaitForSingleObject(&hostWait_, hostHandle_.get(), &PartyEnded, context, INFINITE,
                                    WT_EXECUTEONLYONCE);
    }
    if (threadHandle_ != nullptr) {
        RegisterWaitForSingleObject(&threadWait_, threadHandle_.get(), &PartyEnded, context,
                                    INFINITE, WT_EXECUTEONLYONCE);
    }
    return true;
}

void CAgent::Stop() {
    std::vector<Subscription> subscriptions;
    HWND window = nullptr;
    tarnwick::IInvokeManagementService* service = nullptr;
    {
        const std::lock_guard lock(mutex_);
        if (!active_) return;
        active_ = false;
        subscriptions.swap(subscriptions_);
        window = std::exchange(window_, nullptr);
        service = std::exchange(service_, nullptr);
        hostProcess_ = 0;
        hostWindow_ = nullptr;
        key_ = 0;
        // Not waited for: Stop may run in one of these callbacks, which check the generation.
        if (hostWait_ != nullptr) UnregisterWait(std::exchange(hostWait_, nullptr));
        if (threadWait_ != nullptr) UnregisterWait(std::exchange(threadWait_, nullptr));
        hostHandle_.reset();
        threadHandle_.reset();
    }
    if (tarnwick::IEventCollection* events = service->GetEventCollection()) {
        for (const Subscription& subscription : subscriptions) {
            events->RemoveSubscriber(&subscription.first, subscription.second.c_str());
        }
    }
    DetachHookHost();
    if (window != nullptr) PostMessageW(window, WM_CLOSE, 0, 0);
    const std::lock_guard lock(g_agentsLock);
    if (g_active == this) g_active = nullptr;
}

// The automation host's process or the GUI thread ended.
void CALLBACK CAgent::PartyEnded(void* generation, BOOLEAN) {
    CAgent* agent = nullptr;
    {
        const std::lock_guard lock(g_agentsLock);
        agent = g_active;
    }
    if (agent == nullptr) return;
    {
        const std::lock_guard lock(agent->mutex_);
        if (!agent->active_ || agent->generation_ != reinterpret_cast<std::uintptr_t>(generation)) {
            return;
        }
    }
    DebugTrace(kComponent, L"the automation host or the application's thread ended: detaching");
    // On the GUI thread while it runs (a modal loop dispatches it too); here when it is gone.
    if (!PostMessageW(agent->control_, kStopMessage, reinterpret_cast<WPARAM>(generation), 0)) {
        agent->Stop();
    }
}

void CAgent::WindowGone(HWND window) {
    CAgent* agent = nullptr;
    {
        const std::lock_guard lock(g_agentsLock);
        agent = g_active;
    }
    if (agent != nullptr) agent->DropSubscriptionsOf(window);
}

void CAgent::DropSubscriptionsOf(HWND window) {
    std::vector<Subscription> gone;
    tarnwick::IInvokeManagementService* service = nullptr;
    {
        const std::lock_guard lock(mutex_);
        if (!active_) return;
        service = service_;
        const auto handle = reinterpret_cast<std::uintptr_t>(window);
        for (auto it = subscriptions_.begin(); it != subscriptions_.end();) {
            if (it->first.O == handle) {
                gone.push_back(std::move(*it));
                it = subscriptions_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const Subscription& subscription : gone) {
        service->GetEventCollection()->RemoveSubscriber(&subscription.first,
                                                        subscription.second.c_str());
    }
}

LRESULT CALLBACK CAgent::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* agent = reinterpret_cast<CAgent*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (agent == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    const bool guiWindow = window == agent->control_;
    switch (message) {
        case tarnwick::kInvokeWindowMessage: {
            if (guiWindow) {
                // An event that the window-message service raises on this thread: on to the
                // host's window (which takes this message from anyone anyway).
                HWND host = nullptr;
                {
                    const std::lock_guard lock(agent->mutex_);
                    if (agent->active_) host = agent->hostWindow_;
                }
                return host != nullptr ? SendMessageW(host, message, wParam, lParam) : 0;
            }
            auto* invoke = dynamic_cast<tarnwick::IWindowsMessageInvoke*>(agent->windowService_);
            return invoke != nullptr &&
                           invoke->ProcessWindowMessage(static_cast<std::uint32_t>(lParam)) != 0
                       ? tarnwick::kInvokeWindowMessageReplied
                       : 0;
        }
        case CThreadHop::kMessage:
            return guiWindow ? CThreadHop::Perform(window, lParam) : 0;
        case kStopMessage: {
            bool current = false;
            {
                const std::lock_guard lock(agent->mutex_);
                current = agent->active_ && agent->generation_ == wParam;
            }
            if (guiWindow && current) agent->Stop();
            return 0;
        }
        case WM_DESTROY:
            // The request window's end ends the session's thread; the GUI thread runs on.
            if (!guiWindow) PostQuitMessage(0);
            return 0;
        default:
            if (message == ServesMessage() && !guiWindow) {
                return Serves(static_cast<DWORD>(wParam), static_cast<std::uint64_t>(lParam)) ? 1
                                                                                              : 0;
            }
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool CAgent::IsFromHost(tarnwick::IInvokeMessageBase& message) {
    SessionKey key{};
    {
        const std::lock_guard lock(mutex_);
        if (!active_) return false;
        key = MakeSessionKey(key_);
    }
    if (std::memcmp(message.GetTargetKey().Bytes, key.bytes, sizeof key.bytes) == 0) return true;
    DebugTrace(kComponent, L"\"%ls\" without the session's key: refused, not from the host",
               Text(message.GetMemberName()).c_str());
    return false;
}

const CAgent::Request* CAgent::FindRequest(const std::wstring& name) {
    static const Request requests[] = {
        {L"ListControls", true, 0, &CAgent::ListControls},
        // A keys request is itself posted and posts its input when handled: one more round
        // lets that input through before the answer.
        {L"Sync", true, 1, &CAgent::Sync},
        {L"SavePicture", true, 0, &CAgent::SavePicture},
        {L"ListEvents", false, 0, &CAgent::ListEvents},
        {L"ListMenu", true, 0, &CAgent::ListMenu},
        {L"ChooseMenu", true, 0, &CAgent::ChooseMenu},
        {L"SetOperationBound", false, 0, &CAgent::SetOperationBound},
        {L"Detach", false, 0, &CAgent::Detach},
    };
    for (const Request& request : requests) {
        if (name == request.name) return &request;
    }
    return nullptr;
}

int CAgent::OnMethodCall(IMethodCallMessage* message) {
    if (message == nullptr) return 0;
    bool active = false;
    {
        const std::lock_guard lock(mutex_);
        active = active_;
    }
    if (!active) {
        message->SetFailedCode(L"detached", E_FAIL, L"the agent is detached");
    } else if (!IsFromHost(*message)) {
        message->SetFailedCode(L"refused", E_ACCESSDENIED, L"not the attached automation host");
    } else {
        Serve(*message, Text(message->GetMemberName()));
    }
    return 0;
}

void CAgent::Serve(IMethodCallMessage& message, const std::wstring& name) {
    const Request* request = FindRequest(name);
    auto arguments = CopyArguments(message);
    auto work = [this, request, name, arguments]() {
        std::vector<VARIANT> values;
        for (CVariantHolder& argument : *arguments) values.push_back(argument.Get());
        return request != nullptr ? (this->*request->perform)(values) : CallControl(name, values);
    };
    if (request != nullptr && !request->onGuiThread) {
        Apply(message, work());
        return;
    }
    DWORD bound = 0;
    {
        const std::lock_guard lock(mutex_);
        bound = boundMs_;
    }
    bool posted = false;
    std::optional<ControlCallOutcome> outcome =
        CThreadHop::Run(control_, bound, work, request != nullptr ? request->rounds : 0, posted);
    if (outcome) {
        Apply(message, std::move(*outcome));
    } else if (posted) {
        DebugTrace(kComponent, L"\"%ls\" still runs after %lu ms: answered busy", name.c_str(),
                   bound);
        message.SetFailedCode(L"busy", kAgentBusy,
                              L"the application is busy or shows a modal window (%ls still runs "
                              L"after %lu ms)",
                              name.c_str(), bound);
    } else {
        message.SetFailedCode(L"gone", E_FAIL, L"the application's thread takes no requests");
    }
}

// The hooked controls of the GUI thread, top-level windows first, each followed by its
// descendants.
std::vector<HWND> CAgent::Controls() const {
    std::vector<HWND> windows;
    EnumThreadWindows(
        thread_,
        [](HWND top, LPARAM found) -> BOOL {
            auto& list = *reinterpret_cast<std::vector<HWND>*>(found);
            list.push_back(top);
            EnumChildWindows(
                top,
                [](HWND child, LPARAM into) -> BOOL {
                    reinterpret_cast<std::vector<HWND>*>(into)->push_back(child);
                    return TRUE;
                },
                found);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    std::vector<HWND> controls;
    for (HWND window : windows) {
        if (GetPropW(window, tarnwick::kTranslatorProperty) != nullptr) controls.push_back(window);
    }
    return controls;
}

ControlCallOutcome CAgent::ListControls(Arguments arguments) {
    CVariantHolder first;
    if (arguments.size() > 1 ||
        (arguments.size() == 1 &&
         FAILED(VariantChangeType(&first.Get(), &arguments[0], 0, VT_I4)))) {
        return Refused(DISP_E_BADPARAMCOUNT, L"ListControls takes the index of the first control");
    }
    const std::vector<HWND> all = Controls();
    const size_t from =
        arguments.empty() ? 0 : static_cast<size_t>(std::max(0L, V_I4(&first.Get())));
    const size_t to = std::min(all.size(), from + kControlsPerPage);
    std::vector<CVariantHolder> fields;
    // Room made first: the values' strings are held only once they are in.
    fields.reserve((to > from ? to - from : 0) * kControlFields);
    for (size_t c = from; c < to; ++c) {
        const HWND window = all[c];
        wchar_t className[256] = {}, interfaceName[tarnwick::kTypeNameChars] = {},
                adapterName[tarnwick::kTypeNameChars] = {};
        GetClassNameW(window, className, 256);
        auto* translator = GetCommonControlTranslator(window, nullptr, interfaceName, adapterName);
        ComPtr<IUnknown> identity;
        identity.Attach(GetTranslatorUnknown(translator));
        VARIANT values[kControlFields] = {
            I8(reinterpret_cast<std::intptr_t>(window)),
            I8(reinterpret_cast<std::intptr_t>(GetAncestor(window, GA_PARENT))),
            Int(GetDlgCtrlID(window)),
            String(className),
            String(interfaceName),
            String(adapterName),
            String(WindowText(window)),
            I8(reinterpret_cast<std::intptr_t>(identity.Get())),
            I8(static_cast<std::int64_t>(kAgentOwnerId))};
        for (VARIANT& value : values) fields.emplace_back(value);
    }
    return ArrayAnswer(fields);
}

// Runs on the GUI thread after what was posted before it: nothing more to do.
ControlCallOutcome CAgent::Sync(Arguments) { return {}; }

ControlCallOutcome CAgent::SavePicture(Arguments arguments) {
    CVariantHolder path;
    if (arguments.empty() || arguments.size() > 2 ||
        FAILED(VariantChangeType(&path.Get(), &arguments[0], 0, VT_BSTR))) {
        return Refused(DISP_E_BADPARAMCOUNT, L"SavePicture takes a path and maybe a window");
    }
    HWND top = nullptr;
    if (arguments.size() == 2) {
        if (ControlCallOutcome refused = NameWindow(arguments[1], top, 2); refused.code != S_OK) {
            return refused;
        }
    } else {
        EnumThreadWindows(
            thread_,
            [](HWND window, LPARAM found) -> BOOL {
                if (!IsWindowVisible(window)) return TRUE;
                *reinterpret_cast<HWND*>(found) = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&top));
    }
    ControlCallOutcome outcome;
    V_VT(&outcome.result.Get()) = VT_BOOL;
    V_BOOL(&outcome.result.Get()) = top != nullptr && SaveWindowPicture(top, V_BSTR(&path.Get()))
                                        ? VARIANT_TRUE
                                        : VARIANT_FALSE;
    return outcome;
}

ControlCallOutcome CAgent::SetOperationBound(Arguments arguments) {
    CVariantHolder milliseconds;
    if (arguments.size() != 1 ||
        FAILED(VariantChangeType(&milliseconds.Get(), &arguments[0], 0, VT_UI4))) {
        return Refused(DISP_E_BADPARAMCOUNT, L"SetOperationBound takes milliseconds");
    }
    const std::lock_guard lock(mutex_);
    boundMs_ = std::clamp<DWORD>(V_UI4(&milliseconds.Get()), kMinimumBoundMs, kMaximumBoundMs);
    return {};
}

// Answered first; the session ends on the GUI thread after.
ControlCallOutcome CAgent::Detach(Arguments) {
    std::uintptr_t generation = 0;
    {
        const std::lock_guard lock(mutex_);
        generation = generation_;
    }
    PostMessageW(control_, kStopMessage, generation, 0);
    return {};
}

ControlCallOutcome CAgent::NameControl(const VARIANT& given, HWND& window) const {
    CVariantHolder handle;
    if (FAILED(VariantChangeType(&handle.Get(), const_cast<VARIANT*>(&given), 0, VT_I8))) {
        return Refused(DISP_E_TYPEMISMATCH, L"argument 1: wrong kind (a control)");
    }
    window = reinterpret_cast<HWND>(static_cast<std::intptr_t>(V_I8(&handle.Get())));
    return IsHookedControl(window) ? ControlCallOutcome{}
                                   : Refused(E_INVALIDARG, L"no such control");
}

// Asked of the window itself: listing every window for each call would cost a property read
// per window.
bool CAgent::IsHookedControl(HWND window) const {
    return IsWindow(window) && GetWindowThreadProcessId(window, nullptr) == thread_ &&
           GetPropW(window, tarnwick::kTranslatorProperty) != nullptr;
}

ControlCallOutcome CAgent::ListEvents(Arguments arguments) {
    if (arguments.size() != 1)
        return Refused(DISP_E_BADPARAMCOUNT, L"ListEvents takes the control");
    HWND window = nullptr;
    if (ControlCallOutcome refused = NameControl(arguments[0], window); refused.code != S_OK) {
        return refused;
    }
    const std::vector<std::wstring> events = EventsOf(InterfaceTypeName(window));
    std::vector<CVariantHolder> names;
    names.reserve(events.size());
    for (const std::wstring& event : events) {
        VARIANT name = String(event);
        names.emplace_back(name);
    }
    return ArrayAnswer(names);
}

ControlCallOutcome CAgent::NameWindow(const VARIANT& given, HWND& window, int position) const {
    CVariantHolder handle;
    if (FAILED(VariantChangeType(&handle.Get(), const_cast<VARIANT*>(&given), 0, VT_I8))) {
        return Refused(DISP_E_TYPEMISMATCH,
                       L"argument " + std::to_wstring(position) + L": wrong kind (a window)");
    }
    window = reinterpret_cast<HWND>(static_cast<std::intptr_t>(V_I8(&handle.Get())));
    const bool ours = IsWindow(window) && GetWindowThreadProcessId(window, nullptr) == thread_;
    return ours ? ControlCallOutcome{}
                : Refused(E_INVALIDARG, L"no window of the application's thread");
}

ControlCallOutcome CAgent::ListMenu(Arguments arguments) {
    if (arguments.size() != 1) return Refused(DISP_E_BADPARAMCOUNT, L"ListMenu takes a window");
    HWND window = nullptr;
    ControlCallOutcome outcome = NameWindow(arguments[0], window);
    if (outcome.code != S_OK) return outcome;
    if (std::wstring refusal = MenuBarRefusal(window); !refusal.empty()) {
        return Refused(E_INVALIDARG, std::move(refusal));
    }
    const std::vector<MenuItem> items = ListMenuBar(window);
    std::vector<CVariantHolder> fields;
    fields.reserve(items.size() * kMenuFields);
    for (const MenuItem& item : items) {
        VARIANT values[kMenuFields] = {String(item.path),  String(item.text),   Int(item.depth),
                                       Bool(item.checked), Bool(item.disabled), Bool(item.submenu)};
        for (VARIANT& value : values) fields.emplace_back(value);
    }
    return ArrayAnswer(fields);
}

ControlCallOutcome CAgent::ChooseMenu(Arguments arguments) {
    CVariantHolder path;
    if (arguments.size() != 2 ||
        FAILED(VariantChangeType(&path.Get(), &arguments[1], 0, VT_BSTR))) {
        return Refused(DISP_E_BADPARAMCOUNT, L"ChooseMenu takes a window and a path");
    }
    HWND window = nullptr;
    ControlCallOutcome outcome = NameWindow(arguments[0], window);
    if (outcome.code != S_OK) return outcome;
    if (std::wstring refusal = MenuBarRefusal(window); !refusal.empty()) {
        return Refused(E_INVALIDARG, std::move(refusal));
    }
    if (std::wstring refusal = MenuWindowUnusable(window); !refusal.empty()) {
        return Refused(kAgentNotClickable, std::move(refusal));
    }
    const BSTR text = V_BSTR(&path.Get());
    std::wstring refusal = ChooseMenuItem(window, std::wstring_view(text, SysStringLen(text)));
    if (!refusal.empty()) return Refused(E_INVALIDARG, std::move(refusal));
    return outcome;
}

ControlCallOutcome CAgent::CallControl(const std::wstring& operation, Arguments arguments) {
    if (arguments.empty()) {
        return Refused(DISP_E_BADPARAMCOUNT, L"wrong number of arguments: name the control first");
    }
    HWND window = nullptr;
    if (ControlCallOutcome refused = NameControl(arguments[0], window); refused.code != S_OK) {
        return refused;
    }
    // Keys are typed after the request has been answered: bad ones are refused here, or
    // nothing would say so.
    CVariantHolder keys;
    if ((operation == L"SendKeys" || operation == L"IVirtualControl.SendKeys") &&
        arguments.size() > 1 &&
        SUCCEEDED(VariantChangeType(&keys.Get(), &arguments[1], 0, VT_BSTR))) {
        const BSTR text = V_BSTR(&keys.Get());
        const std::wstring why =
            KeysRefusal(std::wstring_view(text, SysStringLen(text)), GetMaxPageSize(0));
        if (!why.empty()) return Refused(E_INVALIDARG, why);
    }
    wchar_t interfaceName[tarnwick::kTypeNameChars] = {},
            adapterName[tarnwick::kTypeNameChars] = {};
    auto* translator = GetCommonControlTranslator(window, nullptr, interfaceName, adapterName);
    ComPtr<IUnknown> identity;
    identity.Attach(GetTranslatorUnknown(translator));
    // Click requests to this thread's windows are answered within the call: a click that the
    // hooking host refused fails the call, whatever the operation answered.
    TakeClickRefusal();
    // Tree items are pointers into the tree on some platforms: only those it holds now go in.
    NodeCheck nodes;
    if (KindName(interfaceName) == L"TreeView") {
        nodes = [window](std::int64_t node) { return TreeHoldsItem(window, node); };
    }
    ControlCallOutcome outcome =
        vask::CallControl(identity.Get(), window, operation, arguments.subspan(1), nodes);
    if (std::wstring why = TakeClickRefusal(); !why.empty()) {
        return Refused(kAgentNotClickable, L"not clicked: " + why);
    }
    return outcome;
}

int CAgent::OnEventSubscription(tarnwick::IEventSubscriptionMessage* message) {
    if (message == nullptr) return 0;
    const std::wstring name = Text(message->GetEventName());
    ComPtr<tarnwick::IIpcInvoke> proxy;
    IUnknown* subscriber = message->GetEventProxy();
    if (!IsFromHost(*message) || subscriber == nullptr ||
        FAILED(subscriber->QueryInterface(tarnwick::IID_IIpcInvoke,
                                          reinterpret_cast<void**>(proxy.GetAddressOf())))) {
        message->SetFailed(L"not subscribed", L"subscription to %ls refused", name.c_str());
        return 0;
    }
    // A subscription that no control could ever raise would wait in silence.
    const auto window = reinterpret_cast<HWND>(message->GetReturnAddress().O);
    const std::wstring refusal = !IsHookedControl(window)
                                     ? L"no such control"
                                     : UnknownEvent(InterfaceTypeName(window), name);
    if (!refusal.empty()) {
        message->SetFailedCode(refusal.c_str(), E_INVALIDARG, L"%ls", refusal.c_str());
        return 0;
    }
    const std::lock_guard lock(mutex_);
    if (!active_) {
        message->SetFailed(L"not subscribed", L"subscription to %ls refused", name.c_str());
        return 0;
    }
    service_->GetEventCollection()->AddSubscriber(&message->GetReturnAddress(),
                                                  message->GetEventName(), proxy.Get());
    subscriptions_.emplace_back(message->GetReturnAddress(), name);
    return 0;
}

int CAgent::OnEventUnsubscription(tarnwick::IEventUnsubscriptionMessage* message) {
    if (message == nullptr || !IsFromHost(*message)) return 0;
    const std::wstring name = Text(message->GetEventName());
    const std::lock_guard lock(mutex_);
    if (active_) {
        service_->GetEventCollection()->RemoveSubscriber(&message->GetReturnAddress(),
                                                         message->GetEventName());
        std::erase_if(subscriptions_, [&](const Subscription& s) {
            return s.second == name &&
                   std::memcmp(&s.first, &message->GetReturnAddress(), sizeof s.first) == 0;
        });
    }
    return 0;
}

}  // namespace vask

namespace {

UINT StartMessage() {
    static const UINT message = RegisterWindowMessageW(L"Vask.HookHost.StartAgent");
    return message;
}

// The start message carries the host's process id and the low half of the session key in
// wParam, the host's window (32 bits significant) and the high half of the key in lParam.
WPARAM StartWParam(DWORD process, std::uint64_t key) {
    return static_cast<WPARAM>((key << 32) | process);
}
LPARAM StartLParam(HWND window, std::uint64_t key) {
    const auto handle = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window));
    return static_cast<LPARAM>((key & 0xFFFFFFFF00000000ull) | handle);
}

// Runs in the application's process, on its GUI thread, for the start message that
// StartAgent sends there.
LRESULT CALLBACK StartProc(int code, WPARAM wParam, LPARAM lParam) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent != nullptr && sent->message == StartMessage()) {
        const auto low = static_cast<std::uint64_t>(sent->wParam);
        const auto high = static_cast<std::uint64_t>(sent->lParam);
        // Window handles are sign-extended from their 32 significant bits.
        const auto window = reinterpret_cast<HWND>(
            static_cast<std::intptr_t>(static_cast<std::int32_t>(high & 0xFFFFFFFF)));
        vask::CAgent::Start(static_cast<DWORD>(low & 0xFFFFFFFF),
                            window != nullptr ? window : nullptr,
                            (high & 0xFFFFFFFF00000000ull) | (low >> 32));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

HWND FirstWindowOf(DWORD thread) {
    HWND found = nullptr;
    EnumThreadWindows(
        thread,
        [](HWND window, LPARAM into) -> BOOL {
            *reinterpret_cast<HWND*>(into) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

}  // namespace

int StartAgent(DWORD threadId, HWND hostWindow, std::uint64_t* sessionKey) {
    using namespace vask;
    const HWND target = FirstWindowOf(threadId);
    DWORD application = 0;
    if (sessionKey == nullptr) return 0;
    *sessionKey = 0;
    if (target == nullptr || GetWindowThreadProcessId(target, &application) != threadId) {
        DebugTrace(kComponent, L"thread %lu has no window to start the agent with", threadId);
        return 0;
    }
    const std::uint64_t key = NewKey();
    if (key == 0) return 0;
    HMODULE self = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&StartProc), &self);
    const HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, &StartProc, self, threadId);
    if (hook == nullptr) {
        DebugTrace(kComponent, L"no hook on thread %lu (error %lu)", threadId, GetLastError());
        return 0;
    }
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(target, StartMessage(), StartWParam(GetCurrentProcessId(), key),
                        StartLParam(hostWindow, key), SMTO_NORMAL, 10000, &answer);
    UnhookWindowsHookEx(hook);
    const std::wstring title = std::to_wstring(application);
    const HWND agent = FindWindowExW(HWND_MESSAGE, nullptr, kAgentWindowClass, title.c_str());
    const bool serves =
        agent != nullptr &&
        SendMessageTimeoutW(agent, ServesMessage(), GetCurrentProcessId(), static_cast<LPARAM>(key),
                            SMTO_NORMAL, 10000, &answer) != 0 &&
        answer == 1;
    if (serves) *sessionKey = key;
    return serves ? 1 : 0;
}
