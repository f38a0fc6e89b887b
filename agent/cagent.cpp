#define VASK_HOOKHOST_EXPORTS
#include "agent/cagent.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <future>
#include <memory>
#include <thread>

#include "ieventcollection.h"
#include "iipcinvoke.h"
#include "invokemanagementservices.h"
#include "itypelibresolutionservice.h"
#include "iwindowsmessageinvoke.h"
#include "platform/vaskhookhost.h"
#include "standins/common/debugtrace.h"
#include "agent/ccontrolcall.h"
#include "agent/chookhost.h"
#include "agent/windowpicture.h"
#include "translatorfactory.h"

namespace vask {
namespace {

using Microsoft::WRL::ComPtr;
using tarnwick::CVariantHolder;
using tarnwick::IMethodCallMessage;

constexpr const wchar_t* kComponent = L"hookhost agent";
// The owner id of every translator the agent attaches.
constexpr std::uint64_t kAgentOwnerId = 0x4147454E54ull;  // "AGENT"
constexpr DWORD kSyncTimeoutMs = 30000;

// Posted to the agent's window on the GUI thread.
constexpr UINT kSyncMessage = WM_APP + 0x41;      // lParam: the event to set
constexpr UINT kStopMessage = WM_APP + 0x42;      // detach
constexpr UINT kHostEndedMessage = WM_APP + 0x43;

constexpr const wchar_t* kControlWindowClass = L"Vask.HookHost.AgentControl";

UINT ServesMessage() {
    static const UINT message = RegisterWindowMessageW(L"Vask.HookHost.AgentServes");
    return message;
}

std::wstring Text(const tarnwick::CBstrHolder& holder) {
    return holder.Get() != nullptr ? std::wstring(holder.Get(), holder.Length()) : std::wstring();
}

// Completes a call that answers nothing: its result is VT_EMPTY.
void Complete(IMethodCallMessage& message) {
    VARIANT nothing;
    VariantInit(&nothing);
    message.SetResult(&nothing);
}

void Refuse(IMethodCallMessage& message, HRESULT code, const std::wstring& text) {
    message.SetFailedCode(text.c_str(), code, L"%ls", text.c_str());
}

VARIANT I8(std::int64_t value) {
    VARIANT variant;
    V_VT(&variant) = VT_I8;
    V_I8(&variant) = value;
    return variant;
}

VARIANT String(const std::wstring& text) {
    VARIANT variant;
    V_VT(&variant) = VT_BSTR;
    V_BSTR(&variant) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return variant;
}

std::wstring WindowText(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

// The arguments of a call, in call order (the message holds them last first).
std::vector<VARIANT*> Arguments(IMethodCallMessage& message) {
    std::vector<VARIANT*> arguments;
    for (int i = message.GetArgumentCount() - 1; i >= 0; --i) {
        arguments.push_back(message.GetArgument(i));
    }
    return arguments;
}

// The agents, never destroyed: the library's services keep their notification. One serves the
// IPC queue, one each host window.
std::mutex g_agentsLock;
CAgent* g_active = nullptr;

}  // namespace

class CAgentRegistry {
  public:
    static CAgent* For(HWND hostWindow, CAgent* (*make)()) {
        static std::map<HWND, CAgent*> agents;
        CAgent*& agent = agents[hostWindow];
        if (agent == nullptr) agent = make();
        return agent;
    }
};

bool CAgent::Start(DWORD hostProcess, HWND hostWindow) {
    // Unloading this DLL while the agent's procedures are in use would crash the application.
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&CAgent::Start), &pinned);
    std::unique_lock lock(g_agentsLock);
    if (g_active != nullptr) {
        CAgent* active = g_active;
        const bool hostAlive = active->hostHandle_ != nullptr &&
                               WaitForSingleObject(active->hostHandle_, 0) == WAIT_TIMEOUT;
        if (hostAlive) return active->hostProcess_ == hostProcess;
        lock.unlock();
        active->Stop();
        lock.lock();
    }
    CAgent* agent = CAgentRegistry::For(hostWindow, [] { return new CAgent(); });
    if (!agent->Begin(hostProcess, hostWindow)) return false;
    g_active = agent;
    return true;
}

bool CAgent::Serves(DWORD hostProcess) {
    const std::lock_guard lock(g_agentsLock);
    return g_active != nullptr && g_active->hostProcess_ == hostProcess;
}

bool CAgent::Begin(DWORD hostProcess, HWND hostWindow) {
    const HINSTANCE module = GetModuleHandleW(L"Vask.HookHost.x64.dll");
    // The application's own folder need not hold the type library: the agent's folder does.
    wchar_t modulePath[MAX_PATH] = {};
    if (GetModuleFileNameW(module, modulePath, MAX_PATH) != 0) {
        if (ITypeLibResolutionService* types = GetTypeLibResolutionService()) {
            types->AddSearchDirectory(modulePath);
        }
    }
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &WindowProc;
    windowClass.hInstance = module;
    windowClass.lpszClassName = kAgentWindowClass;
    RegisterClassW(&windowClass);
    windowClass.lpszClassName = kControlWindowClass;
    RegisterClassW(&windowClass);
    control_ = CreateWindowExW(0, kControlWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               module, nullptr);
    if (control_ == nullptr) return false;
    SetWindowLongPtrW(control_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    // Requests over window messages arrive on a thread of the agent's own, never on the GUI
    // thread: there they would wait for the events that the GUI thread raises meanwhile.
    std::promise<HWND> made;
    std::future<HWND> madeWindow = made.get_future();
    std::thread([this, module, &made] {
        const std::wstring title = std::to_wstring(GetCurrentProcessId());
        const HWND window = CreateWindowExW(0, kAgentWindowClass, title.c_str(), 0, 0, 0, 0, 0,
                                            HWND_MESSAGE, nullptr, module, nullptr);
        if (window != nullptr) SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        made.set_value(window);
        MSG message;
        while (window != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0) {
            DispatchMessageW(&message);
        }
    }).detach();
    window_ = madeWindow.get();
    if (window_ == nullptr) {
        DestroyWindow(std::exchange(control_, nullptr));
        return false;
    }
    service_ = hostWindow != nullptr
                   ? GetWindowsMessageInvokeManagementService(hostWindow, this)
                   : GetLpcInvokeManagementService(
                         SysAllocString(AgentQueueName(GetCurrentProcessId()).c_str()), this);
    thread_ = GetCurrentThreadId();
    SetQuitHandler([] {
        CAgent* active = nullptr;
        {
            const std::lock_guard lock(g_agentsLock);
            active = g_active;
        }
        if (active != nullptr) active->Stop();
    });
    if (service_ == nullptr || AttachHookHost(thread_, kAgentOwnerId, service_) == 0) {
        DebugTrace(kComponent, L"the agent could not start for process %lu", hostProcess);
        PostMessageW(std::exchange(window_, nullptr), WM_CLOSE, 0, 0);
        DestroyWindow(std::exchange(control_, nullptr));
        return false;
    }
    hostProcess_ = hostProcess;
    hostHandle_ = OpenProcess(SYNCHRONIZE, FALSE, hostProcess);
    if (hostHandle_ != nullptr) {
        RegisterWaitForSingleObject(&hostWait_, hostHandle_, &HostEnded, this, INFINITE,
                                    WT_EXECUTEONLYONCE);
    }
    const std::lock_guard lock(mutex_);
    active_ = true;
    return true;
}

void CAgent::Stop() {
    std::vector<Subscription> subscriptions;
    {
        const std::lock_guard lock(mutex_);
        if (!active_) return;
        active_ = false;
        subscriptions.swap(subscriptions_);
    }
    if (tarnwick::IEventCollection* events = service_->GetEventCollection()) {
        for (const Subscription& subscription : subscriptions) {
            events->RemoveSubscriber(&subscription.first, subscription.second.c_str());
        }
    }
    DetachHookHost();
    if (hostWait_ != nullptr) UnregisterWaitEx(std::exchange(hostWait_, nullptr), INVALID_HANDLE_VALUE);
    if (hostHandle_ != nullptr) CloseHandle(std::exchange(hostHandle_, nullptr));
    if (window_ != nullptr) PostMessageW(std::exchange(window_, nullptr), WM_CLOSE, 0, 0);
    if (control_ != nullptr) DestroyWindow(std::exchange(control_, nullptr));
    const std::lock_guard lock(g_agentsLock);
    if (g_active == this) g_active = nullptr;
    hostProcess_ = 0;
}

void CALLBACK CAgent::HostEnded(void* context, BOOLEAN) {
    auto* agent = static_cast<CAgent*>(context);
    DebugTrace(kComponent, L"automation host %lu ended: detaching", agent->hostProcess_);
    PostMessageW(agent->control_, kHostEndedMessage, 0, 0);
}

LRESULT CALLBACK CAgent::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* agent = reinterpret_cast<CAgent*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (agent == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
        case tarnwick::kInvokeWindowMessage: {
            auto* invoke = dynamic_cast<tarnwick::IWindowsMessageInvoke*>(agent->service_);
            return invoke != nullptr &&
                           invoke->ProcessWindowMessage(static_cast<std::uint32_t>(lParam)) != 0
                       ? tarnwick::kInvokeWindowMessageReplied
                       : 0;
        }
        case kSyncMessage:
            // A keys request is itself posted and posts its input when handled: one more round
            // lets that input through before the answer.
            if (wParam == 0) {
                PostMessageW(window, kSyncMessage, 1, lParam);
            } else {
                SetEvent(reinterpret_cast<HANDLE>(lParam));
            }
            return 0;
        case kStopMessage:
        case kHostEndedMessage:
            agent->Stop();
            return 0;
        case WM_DESTROY:
            // The request window's end ends the agent's thread; the GUI thread runs on.
            if (GetWindowThreadProcessId(window, nullptr) != agent->thread_) PostQuitMessage(0);
            return 0;
        default:
            if (message == ServesMessage()) return Serves(static_cast<DWORD>(wParam)) ? 1 : 0;
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

int CAgent::OnMethodCall(IMethodCallMessage* message) {
    if (message == nullptr) return 0;
    const std::wstring name = Text(message->GetMemberName());
    {
        const std::lock_guard lock(mutex_);
        if (!active_) {
            Refuse(*message, E_FAIL, L"the agent is detached");
            return 0;
        }
    }
    if (name == L"ListControls") {
        ListControls(*message);
    } else if (name == L"Sync") {
        Sync(*message);
    } else if (name == L"SavePicture") {
        SavePicture(*message);
    } else if (name == L"Detach") {
        Complete(*message);
        PostMessageW(control_, kStopMessage, 0, 0);
    } else {
        CallControl(*message, name);
    }
    return 0;
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

void CAgent::ListControls(IMethodCallMessage& message) {
    std::vector<CVariantHolder> fields;
    for (HWND window : Controls()) {
        wchar_t className[256] = {}, interfaceName[tarnwick::kTypeNameChars] = {},
                adapterName[tarnwick::kTypeNameChars] = {};
        GetClassNameW(window, className, 256);
        auto* translator = GetCommonControlTranslator(window, nullptr, interfaceName, adapterName);
        ComPtr<IUnknown> identity;
        identity.Attach(GetTranslatorUnknown(translator));
        VARIANT values[kControlFields] = {
            I8(reinterpret_cast<std::intptr_t>(window)),
            I8(reinterpret_cast<std::intptr_t>(GetAncestor(window, GA_PARENT))),
            I8(GetDlgCtrlID(window)),
            String(className),
            String(interfaceName),
            String(adapterName),
            String(WindowText(window)),
            I8(reinterpret_cast<std::intptr_t>(identity.Get())),
            I8(static_cast<std::int64_t>(kAgentOwnerId))};
        V_VT(&values[2]) = VT_I4;
        V_I4(&values[2]) = GetDlgCtrlID(window);
        for (VARIANT& value : values) fields.emplace_back(value);
    }
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(fields.size()));
    if (array == nullptr) {
        Refuse(message, E_OUTOFMEMORY, L"no memory for the list");
        return;
    }
    for (LONG i = 0; i < static_cast<LONG>(fields.size()); ++i) {
        SafeArrayPutElement(array, &i, &fields[static_cast<size_t>(i)].Get());
    }
    VARIANT result;
    V_VT(&result) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&result) = array;
    message.SetResult(&result);  // the message owns it from now on
}

// Requests arrive on the queue's delivery thread or the agent's window thread: the GUI thread
// answers a posted message once it has handled what was posted before it.
void CAgent::Sync(IMethodCallMessage& message) {
    const HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const bool posted =
        done != nullptr && PostMessageW(control_, kSyncMessage, 0, reinterpret_cast<LPARAM>(done));
    if (posted && WaitForSingleObject(done, kSyncTimeoutMs) == WAIT_OBJECT_0) {
        CloseHandle(done);
        Complete(message);
        return;
    }
    // A message still in the queue names the event: it is left open for it.
    if (done != nullptr && !posted) CloseHandle(done);
    Refuse(message, HRESULT_FROM_WIN32(ERROR_TIMEOUT), L"the application did not answer");
}

void CAgent::SavePicture(IMethodCallMessage& message) {
    const std::vector<VARIANT*> arguments = Arguments(message);
    VARIANT path;
    VariantInit(&path);
    if (arguments.size() != 1 || FAILED(VariantChangeType(&path, arguments[0], 0, VT_BSTR))) {
        Refuse(message, DISP_E_BADPARAMCOUNT, L"SavePicture takes a path");
        return;
    }
    HWND top = nullptr;
    EnumThreadWindows(
        thread_,
        [](HWND window, LPARAM found) -> BOOL {
            if (!IsWindowVisible(window)) return TRUE;
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&top));
    VARIANT saved;
    V_VT(&saved) = VT_BOOL;
    V_BOOL(&saved) = top != nullptr && SaveWindowPicture(top, V_BSTR(&path)) ? VARIANT_TRUE
                                                                            : VARIANT_FALSE;
    VariantClear(&path);
    message.SetResult(&saved);
}

void CAgent::CallControl(IMethodCallMessage& message, const std::wstring& operation) {
    const std::vector<VARIANT*> arguments = Arguments(message);
    VARIANT handle;
    VariantInit(&handle);
    if (arguments.empty()) {
        Refuse(message, DISP_E_BADPARAMCOUNT, L"wrong number of arguments: name the control first");
        return;
    }
    if (V_VT(arguments[0]) == VT_RECORD && arguments[0]->pvRecord != nullptr) {
        V_VT(&handle) = VT_I8;
        std::memcpy(&V_I8(&handle), arguments[0]->pvRecord, sizeof(std::int64_t));
    } else if (FAILED(VariantChangeType(&handle, arguments[0], 0, VT_I8))) {
        Refuse(message, DISP_E_TYPEMISMATCH, L"argument 1: wrong kind (a control)");
        return;
    }
    const auto window = reinterpret_cast<HWND>(static_cast<std::intptr_t>(V_I8(&handle)));
    const std::vector<HWND> controls = Controls();
    if (std::find(controls.begin(), controls.end(), window) == controls.end()) {
        Refuse(message, E_INVALIDARG, L"no such control");
        return;
    }
    auto* translator = GetCommonControlTranslator(window, nullptr, nullptr, nullptr);
    ComPtr<IUnknown> identity;
    identity.Attach(GetTranslatorUnknown(translator));
    std::vector<VARIANT> rest;
    for (size_t i = 1; i < arguments.size(); ++i) rest.push_back(*arguments[i]);
    ControlCallOutcome outcome = vask::CallControl(identity.Get(), window, operation, rest);
    if (!outcome.refusal.empty()) {
        Refuse(message, outcome.code, outcome.refusal);
    } else if (V_VT(&outcome.result.Get()) == VT_EMPTY) {
        Complete(message);
    } else {
        VARIANT result = outcome.result.Detach();
        message.SetResult(&result);
    }
}

int CAgent::OnEventSubscription(tarnwick::IEventSubscriptionMessage* message) {
    if (message == nullptr) return 0;
    const std::wstring name = Text(message->GetEventName());
    ComPtr<tarnwick::IIpcInvoke> proxy;
    IUnknown* subscriber = message->GetEventProxy();
    const std::lock_guard lock(mutex_);
    if (!active_ || subscriber == nullptr ||
        FAILED(subscriber->QueryInterface(tarnwick::IID_IIpcInvoke,
                                          reinterpret_cast<void**>(proxy.GetAddressOf())))) {
        message->SetFailed(L"not subscribed", L"subscription to %ls refused", name.c_str());
        return 0;
    }
    service_->GetEventCollection()->AddSubscriber(&message->GetReturnAddress(),
                                                  message->GetEventName(), proxy.Get());
    subscriptions_.emplace_back(message->GetReturnAddress(), name);
    return 0;
}

int CAgent::OnEventUnsubscription(tarnwick::IEventUnsubscriptionMessage* message) {
    if (message == nullptr) return 0;
    const std::wstring name = Text(message->GetEventName());
    const std::lock_guard lock(mutex_);
    if (active_) {
        service_->GetEventCollection()->RemoveSubscriber(&message->GetReturnAddress(),
                                                         message->GetEventName());
        std::erase_if(subscriptions_, [&](const Subscription& s) {
            return s.second == name && std::memcmp(&s.first, &message->GetReturnAddress(),
                                                   sizeof s.first) == 0;
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

// Runs in the application's process, on its GUI thread, for the start message that
// StartAgent sends there: wParam is the automation host's process id, lParam its window.
LRESULT CALLBACK StartProc(int code, WPARAM wParam, LPARAM lParam) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent != nullptr && sent->message == StartMessage()) {
        vask::CAgent::Start(static_cast<DWORD>(sent->wParam), reinterpret_cast<HWND>(sent->lParam));
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

int StartAgent(DWORD threadId, HWND hostWindow) {
    using namespace vask;
    const HWND target = FirstWindowOf(threadId);
    DWORD application = 0;
    if (target == nullptr || GetWindowThreadProcessId(target, &application) != threadId) {
        DebugTrace(kComponent, L"thread %lu has no window to start the agent with", threadId);
        return 0;
    }
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&StartProc), &self);
    const HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, &StartProc, self, threadId);
    if (hook == nullptr) {
        DebugTrace(kComponent, L"no hook on thread %lu (error %lu)", threadId, GetLastError());
        return 0;
    }
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(target, StartMessage(), GetCurrentProcessId(),
                        reinterpret_cast<LPARAM>(hostWindow), SMTO_NORMAL, 10000, &answer);
    UnhookWindowsHookEx(hook);
    const std::wstring title = std::to_wstring(application);
    const HWND agent = FindWindowExW(HWND_MESSAGE, nullptr, kAgentWindowClass, title.c_str());
    return agent != nullptr &&
                   SendMessageTimeoutW(agent, ServesMessage(), GetCurrentProcessId(), 0,
                                       SMTO_NORMAL, 10000, &answer) != 0 &&
                   answer == 1
               ? 1
               : 0;
}
