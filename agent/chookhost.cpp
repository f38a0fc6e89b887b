// Exports of Vask.HookHost.x64.dll: the message-hooking host of one GUI thread.
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#define VASK_HOOKHOST_EXPORTS
#include "platform/vaskhookhost.h"
#include "platform/vaskreservoir.h"
#include "standins/common/debugtrace.h"
#include "agent/chookhost.h"
#include "agent/clickability.h"
#include "agent/keytext.h"
#include "translatorfactory.h"
#include "winhelper.h"

namespace vask {
namespace {

using Translator = tarnwick::CTarnwickIUnknownWrapper<tarnwick::CVirtualControlTranslator>;
using HookEntry = void (*)(const tarnwick::_MESSAGE_NOTIFICATION&, int&, __int64&);

constexpr wchar_t kComponent[] = L"HookHost";
constexpr wchar_t kHostWindowClass[] = L"Vask.HookHost.Window";
constexpr UINT kDetachMessage = WM_APP;  // to the host window: detach on this thread

HINSTANCE g_module = nullptr;

UINT ClickMessage() {
    static const UINT message = RegisterWindowMessageW(L"WM_TW_PERFORMCLICK");
    return message;
}

UINT KeysMessage() {
    static const UINT message = RegisterWindowMessageW(L"WM_TW_SIMULATE_KEYBOARD_INPUT");
    return message;
}

// Hands one message to a hook entry point of the library; true when it is to be dropped.
bool Handled(HookEntry entry, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const tarnwick::_MESSAGE_NOTIFICATION notification =
        tarnwick::MakeMessageNotification(window, message, wParam, lParam);
    int handled = 0;
    __int64 result = 0;
    try {
        entry(notification, handled, result);
    } catch (...) {
        DebugTrace(kComponent, L"message 0x%04x of window %p: the translator failed", message,
                   static_cast<void*>(window));
        return false;
    }
    return handled == 1;
}

// The control that a WM_COMMAND or WM_NOTIFY comes from.
HWND NotifyingChild(UINT message, LPARAM lParam) {
    if (message == WM_COMMAND) return reinterpret_cast<HWND>(lParam);
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    return header != nullptr ? header->hwndFrom : nullptr;
}

// What a parent answers for a notification it swallows: the answer that cancels.
LRESULT SwallowedAnswer(UINT message, LPARAM lParam) {
    if (message == WM_COMMAND) return 0;
    const UINT code = reinterpret_cast<const NMHDR*>(lParam)->code;
    const bool endLabelEdit = code == TVN_ENDLABELEDITW || code == TVN_ENDLABELEDITA ||
                              code == LVN_ENDLABELEDITW || code == LVN_ENDLABELEDITA;
    return endLabelEdit ? FALSE : TRUE;
}

void ReportTreeChange(HWND tree, UINT message, WPARAM wParam, LPARAM lParam, LRESULT item) {
    TreeChangeRecord record{sizeof record, message, wParam, lParam,
                            static_cast<std::uint64_t>(item)};
    const auto address = reinterpret_cast<WPARAM>(&record);
    SendMessageW(tree, kTreeChangeMessage, address, TreeChangeMark(address));
}

// Copies a block handed to this process and frees it as its owner; empty when the handle
// names no block.
std::vector<std::uint8_t> TakeBlock(std::uint32_t handle) {
    std::uint32_t size = 0;
    const auto* bytes =
        static_cast<const std::uint8_t*>(OpenSharedMemory(handle, &size, __LINE__, "chookhost"));
    if (bytes == nullptr) return {};
    std::vector<std::uint8_t> copy;
    try {
        copy.assign(bytes, bytes + size);
    } catch (...) {
        copy.clear();
    }
    while (FreeSharedMemory(handle) > 0) {
    }
    return copy;
}

// An 8-bit text of a request, terminated within its field, for the trace.
std::wstring TraceText(const char* text, size_t field) {
    const int length = static_cast<int>(strnlen(text, field));
    std::wstring wide(static_cast<size_t>(length), L'\0');
    wide.resize(
        static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text, length, wide.data(), length)));
    return wide;
}

void Post(HWND window, const std::vector<PostedMessage>& messages) {
    for (const PostedMessage& posted : messages) {
        if (!PostMessageW(window, posted.message, posted.wParam, posted.lParam)) {
            DebugTrace(kComponent, L"message 0x%04x to window %p not posted (error %lu)",
                       posted.message, static_cast<void*>(window), GetLastError());
        }
    }
}

// Written and taken only on the attached thread, whose windows answer the click requests.
std::wstring g_clickRefusal;

LRESULT PerformClick(HWND window, std::uint32_t handle) {
    const std::vector<std::uint8_t> block = TakeBlock(handle);
    tarnwick::ClickRequest request{};
    if (block.size() != sizeof request) {
        DebugTrace(kComponent, L"click block %u of %u bytes: not performed", handle,
                   static_cast<unsigned>(block.size()));
        return 0;
    }
    std::memcpy(&request, block.data(), sizeof request);
    if ((request.button != 1 && request.button != 2) ||
        (request.clickCount != 1 && request.clickCount != 2)) {
        DebugTrace(kComponent, L"click with button %d, count %d: not performed", request.button,
                   request.clickCount);
        return 0;
    }
    // Posted input would reach a disabled or hidden control, which a user's click never does.
    if (std::wstring why = WhyUnclickable(window); !why.empty()) {
        DebugTrace(kComponent, L"click on window %p not made: %ls", static_cast<void*>(window),
                   why.c_str());
        g_clickRefusal = std::move(why);
        return 0;
    }
    unsigned modifiers = 0;
    if (request.keyTextIncluded == 1) {
        const std::string_view keyText(request.keyText,
                                       strnlen(request.keyText, sizeof request.keyText));
        if (!ParseClickModifiers(keyText, modifiers)) {
            DebugTrace(kComponent, L"click key text \"%ls\" is not + and ^ only: ignored",
                       TraceText(request.keyText, sizeof request.keyText).c_str());
        }
    }
    const bool right = request.button == 2;
    const UINT down = right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN;  // up and double click follow
    const WPARAM held =
        ((modifiers & kShift) != 0 ? MK_SHIFT : 0) | ((modifiers & kControl) != 0 ? MK_CONTROL : 0);
    const WPARAM pressed = held | (right ? MK_RBUTTON : MK_LBUTTON);
    const LPARAM point = MAKELPARAM(request.x, request.y);
    std::vector<PostedMessage> messages = ModifierMessages(modifiers, true);
    messages.push_back({down, pressed, point});
    messages.push_back({down + 1, held, point});
    if (request.clickCount == 2) {
        messages.push_back({down + 2, pressed, point});
        messages.push_back({down + 1, held, point});
    }
    for (const PostedMessage& release : ModifierMessages(modifiers, false)) {
        messages.push_back(release);
    }
    Post(window, messages);
    return 1;
}

LRESULT TypeKeys(HWND window, std::uint32_t keysHandle, std::uint32_t textHandle) {
    const std::vector<std::uint8_t> keyBlock = TakeBlock(keysHandle);
    const std::vector<std::uint8_t> textBlock = TakeBlock(textHandle);
    if (keyBlock.size() < sizeof(wchar_t) || textBlock.size() != tarnwick::kKeyTextBlockSize) {
        DebugTrace(kComponent, L"key blocks %u (%u bytes) and %u (%u bytes): nothing typed",
                   keysHandle, static_cast<unsigned>(keyBlock.size()), textHandle,
                   static_cast<unsigned>(textBlock.size()));
        return 0;
    }
    std::wstring keys(keyBlock.size() / sizeof(wchar_t), L'\0');
    std::memcpy(keys.data(), keyBlock.data(), keys.size() * sizeof(wchar_t));
    keys.resize(std::wstring_view(keys.c_str()).size());  // up to the terminator
    std::vector<KeyStroke> strokes;
    if (const std::optional<KeyFault> fault = ParseKeys(keys, strokes)) {
        const std::wstring label =
            TraceText(reinterpret_cast<const char*>(textBlock.data()), textBlock.size());
        DebugTrace(kComponent,
                   L"keys \"%ls\" (%ls): bad syntax at character %u (%ls), nothing typed",
                   keys.c_str(), label.c_str(), static_cast<unsigned>(fault->position),
                   fault->why.c_str());
        return 0;
    }
    Post(window, KeyMessages(strokes));
    return 1;
}

// Removes a hook when it goes.
class CWindowsHook {
  public:
    CWindowsHook(int type, HOOKPROC procedure, DWORD thread) noexcept
        : hook_(SetWindowsHookExW(type, procedure, nullptr, thread)) {}
    CWindowsHook(const CWindowsHook&) = delete;
    CWindowsHook& operator=(const CWindowsHook&) = delete;
    ~CWindowsHook() {
        if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
    }
    bool IsValid() const noexcept { return hook_ != nullptr; }

  private:
    HHOOK hook_;
};

// A subclass's procedure; `original` is the window's procedure before the subclass, to which
// it passes the message on (null: DefWindowProcW).
using SubclassProcedure = LRESULT (*)(HWND, UINT, WPARAM, LPARAM, DWORD_PTR data, WNDPROC original);

// A window-procedure subclass, removed when it goes. The table of original procedures is the
// process's own: the platform's subclass mechanism reads a window property on every message,
// a window-server round trip each under some platforms. A subclass that cannot be undone
// (another one came after it) stays as a pass-through to the original procedure.
class CWindowSubclass {
  public:
    CWindowSubclass(HWND window, SubclassProcedure procedure, DWORD_PTR data) noexcept {
        try {
            const std::lock_guard lock(Lock());
            Entry& entry = Table()[window];
            if (entry.original == nullptr) {
                const auto original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
                if (original == nullptr || SetWindowLongPtrW(window, GWLP_WNDPROC,
                                                             reinterpret_cast<LONG_PTR>(&Procedure)) == 0) {
                    Table().erase(window);
                    return;
                }
                entry.original = original;
            }
            entry.procedure = procedure;
            entry.data = data;
            window_ = window;
        } catch (...) {
            window_ = nullptr;
        }
    }
    CWindowSubclass(const CWindowSubclass&) = delete;
    CWindowSubclass& operator=(const CWindowSubclass&) = delete;
    ~CWindowSubclass() {
        if (window_ == nullptr) return;
        const std::lock_guard lock(Lock());
        const auto found = Table().find(window_);
        if (found == Table().end()) return;
        const bool ours = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window_, GWLP_WNDPROC)) == &Procedure;
        if (ours || !IsWindow(window_)) {
            if (ours) SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(found->second.original));
            Table().erase(found);
        } else {
            found->second.procedure = nullptr;
            // The subclass above calls Procedure for the rest of the window's life: this module
            // must stay loaded. (Unloading it without a detach first cannot be helped here.)
            HMODULE pinned = nullptr;
            GetModuleHandleExW(
                GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                reinterpret_cast<LPCWSTR>(&Procedure), &pinned);
        }
    }
    bool IsValid() const noexcept { return window_ != nullptr; }
    // Lets go of a window at its WM_NCDESTROY: no procedure is put back and nothing is pinned,
    // as no message follows; the entry goes once that message is through.
    void Abandon() noexcept {
        const std::lock_guard lock(Lock());
        const auto found = Table().find(std::exchange(window_, nullptr));
        if (found != Table().end()) found->second.procedure = nullptr;
    }

    // Passes a message on to the procedure a subclass was given.
    static LRESULT CallOriginal(WNDPROC original, HWND window, UINT message, WPARAM wParam,
                                LPARAM lParam) {
        return original != nullptr ? CallWindowProcW(original, window, message, wParam, lParam)
                                   : DefWindowProcW(window, message, wParam, lParam);
    }

  private:
    struct Entry {
        WNDPROC original = nullptr;
        SubclassProcedure procedure = nullptr;
        DWORD_PTR data = 0;
    };
    // An SRW lock: taken on every message, it must cost no kernel call.
    class CLock {
      public:
        void lock() noexcept { AcquireSRWLockExclusive(&lock_); }
        void unlock() noexcept { ReleaseSRWLockExclusive(&lock_); }

      private:
        SRWLOCK lock_ = SRWLOCK_INIT;
    };
    static CLock& Lock() {
        static CLock lock;
        return lock;
    }
    // Looked up on every message of every hooked window: hashed.
    static std::unordered_map<HWND, Entry>& Table() {
        static std::unordered_map<HWND, Entry>* const table = new std::unordered_map<HWND, Entry>;
        return *table;
    }
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        Entry entry;
        {
            const std::lock_guard lock(Lock());
            const auto found = Table().find(window);
            if (found != Table().end()) entry = found->second;
        }
        const LRESULT result =
            entry.procedure != nullptr
                ? entry.procedure(window, message, wParam, lParam, entry.data, entry.original)
                : CallOriginal(entry.original, window, message, wParam, lParam);
        // The window is gone after this message: a pass-through entry goes with it, one that
        // the procedure left as it let go of the window included (its handle may come back).
        if (message == WM_NCDESTROY) {
            const std::lock_guard lock(Lock());
            const auto found = Table().find(window);
            if (found != Table().end() && found->second.procedure == nullptr) Table().erase(found);
        }
        return result;
    }

    HWND window_ = nullptr;
};

bool DetachHere();

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kDetachMessage) return DetachHere() ? 1 : 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

// The host's message-only window on the attached thread, to which other threads send the
// detach.
class CHostWindow {
  public:
    CHostWindow() noexcept {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &HostWindowProc;
        windowClass.hInstance = g_module;
        windowClass.lpszClassName = kHostWindowClass;
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, kHostWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  g_module, nullptr);
    }
    CHostWindow(const CHostWindow&) = delete;
    CHostWindow& operator=(const CHostWindow&) = delete;
    ~CHostWindow() {
        if (window_ != nullptr) DestroyWindow(window_);
        UnregisterClassW(kHostWindowClass, g_module);
    }
    HWND Get() const noexcept { return window_; }

  private:
    HWND window_ = nullptr;
};

class CHookHost {
  public:
    CHookHost(DWORD thread, std::uint64_t ownerId, tarnwick::IInvokeManagementService* service);
    CHookHost(const CHookHost&) = delete;
    CHookHost& operator=(const CHookHost&) = delete;
    ~CHookHost();

    bool IsAttached() const noexcept {
        return window_.Get() != nullptr && cbt_.IsValid() && getMessage_.IsValid();
    }
    DWORD Thread() const noexcept { return thread_; }
    HWND Window() const noexcept { return window_.Get(); }

  private:
    // A subclassed window: a classified control, the parent of one, or both.
    struct HookedWindow {
        HookedWindow(CHookHost* owner, HWND window)
            : host(owner), subclass(window, &SubclassProc, reinterpret_cast<DWORD_PTR>(this)) {}
        CHookHost* host;
        bool classified = false;
        bool parent = false;
        bool treeView = false;
        CWindowSubclass subclass;
    };

    void ClassifyAll();
    void Classify(HWND window) noexcept;
    HookedWindow* Hook(HWND window);
    bool IsClassified(HWND window) const;
    void TakeQueuedMessage(MSG& message);
    // Drops a window at its WM_NCDESTROY.
    void Forget(HWND window) noexcept {
        const auto found = windows_.find(window);
        if (found == windows_.end()) return;
        found->second.subclass.Abandon();
        windows_.erase(found);
    }

    static LRESULT SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                DWORD_PTR data, WNDPROC original);
    static LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK GetMessageProc(int code, WPARAM wParam, LPARAM lParam);

    const DWORD thread_;
    const std::uint64_t ownerId_;
    tarnwick::IInvokeManagementService* const service_;
    std::set<Translator*> targeted_;  // translators whose event target this host set
    std::map<HWND, HookedWindow> windows_;
    CHostWindow window_;
    CWindowsHook cbt_;
    CWindowsHook getMessage_;
};

std::mutex g_lock;            // held by attach and detach
void (*g_quitHandler)() = nullptr;
void (*g_windowGoneHandler)(HWND) = nullptr;
CHookHost* g_host = nullptr;  // set and cleared on its thread, under the lock

CHookHost::CHookHost(DWORD thread, std::uint64_t ownerId,
                     tarnwick::IInvokeManagementService* service)
    : thread_(thread),
      ownerId_(ownerId),
      service_(service),
      cbt_(WH_CBT, &CbtProc, thread),
      getMessage_(WH_GETMESSAGE, &GetMessageProc, thread) {
    if (IsAttached()) ClassifyAll();
}

CHookHost::~CHookHost() {
    // The translators outlive this attachment: they must not call the caller's service later.
    for (Translator* translator : targeted_) SetTranslatorEventTarget(translator, 0, nullptr);
}

void CHookHost::ClassifyAll() {
    EnumThreadWindows(
        thread_,
        [](HWND top, LPARAM self) -> BOOL {
            reinterpret_cast<CHookHost*>(self)->Classify(top);
            EnumChildWindows(
                top,
                [](HWND child, LPARAM host) -> BOOL {
                    reinterpret_cast<CHookHost*>(host)->Classify(child);
                    return TRUE;
                },
                self);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(this));
}

void CHookHost::Classify(HWND window) noexcept {
    try {
        if (GetWindowThreadProcessId(window, nullptr) != thread_ || IsClassified(window)) return;
        bool created = false;
        wchar_t interfaceName[tarnwick::kTypeNameChars] = {};
        wchar_t adapterName[tarnwick::kTypeNameChars] = {};
        Translator* translator =
            GetCommonControlTranslator(window, &created, interfaceName, adapterName);
        if (translator == nullptr) return;
        // A translator made before this attachment still has the target of an earlier one.
        if (created || !targeted_.contains(translator)) {
            SetTranslatorEventTarget(translator, ownerId_, service_);
            targeted_.insert(translator);
        }
        HookedWindow* hooked = Hook(window);
        if (hooked == nullptr) return;
        hooked->classified = true;
        wchar_t className[256] = {};
        GetClassNameW(window, className, 256);
        hooked->treeView = std::wcscmp(className, WC_TREEVIEWW) == 0;
        const HWND parent = GetAncestor(window, GA_PARENT);
        if (parent != nullptr && parent != GetDesktopWindow() &&
            GetWindowThreadProcessId(parent, nullptr) == thread_) {
            if (HookedWindow* hookedParent = Hook(parent)) hookedParent->parent = true;
        }
    } catch (...) {
        DebugTrace(kComponent, L"window %p not hooked: no memory or no translator",
                   static_cast<void*>(window));
    }
}

CHookHost::HookedWindow* CHookHost::Hook(HWND window) {
    const auto entry = windows_.try_emplace(window, this, window).first;
    if (entry->second.subclass.IsValid()) return &entry->second;
    windows_.erase(entry);
    DebugTrace(kComponent, L"window %p could not be subclassed", static_cast<void*>(window));
    return nullptr;
}

bool CHookHost::IsClassified(HWND window) const {
    const auto found = windows_.find(window);
    return found != windows_.end() && found->second.classified;
}

// Every message taken from the queue reaches the peek entry, which forgets a kept release
// then; one that is not a classified window's goes as WM_NULL, so that nothing reads it.
void CHookHost::TakeQueuedMessage(MSG& message) {
    const UINT passed = IsClassified(message.hwnd) ? message.message : WM_NULL;
    const bool cancelled =
        Handled(&VirtualControlPeekProc, message.hwnd, passed, message.wParam, message.lParam);
    if (TakeQueuedKeyMessage(message) || cancelled) message.message = WM_NULL;
}

LRESULT CHookHost::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                DWORD_PTR data, WNDPROC original) {
    if (message == ClickMessage() || message == KeysMessage()) {
        try {
            const auto first = static_cast<std::uint32_t>(wParam);
            return message == ClickMessage()
                       ? PerformClick(window, first)
                       : TypeKeys(window, first, static_cast<std::uint32_t>(lParam));
        } catch (...) {
            DebugTrace(kComponent, L"request to window %p: out of memory",
                       static_cast<void*>(window));
            return 0;
        }
    }
    // Read before anything is called out: a detach while the message is out frees the entry.
    const HookedWindow& hooked = *reinterpret_cast<const HookedWindow*>(data);
    CHookHost& host = *hooked.host;
    const bool classified = hooked.classified;
    const bool treeView = hooked.treeView;
    if (hooked.parent && (message == WM_COMMAND || message == WM_NOTIFY)) {
        // Only the child's own parent reflects it: a parent that passes the notification on
        // to its parent (a tab control does) would otherwise hand it over twice.
        const HWND child = NotifyingChild(message, lParam);
        if (host.IsClassified(child) && GetParent(child) == window &&
            Handled(&VirtualControlSubclassProc, child, message, wParam, lParam)) {
            return SwallowedAnswer(message, lParam);
        }
    }
    if (message == WM_NCDESTROY) {
        if (classified) {
            Handled(&VirtualControlSubclassProc, window, message, wParam, lParam);
            if (g_windowGoneHandler != nullptr) g_windowGoneHandler(window);
        }
        // The subclass goes with the entry; the original procedure ends the window. A detach
        // during the calls above took the host and its entries with it.
        if (g_host == &host) host.Forget(window);
        return CWindowSubclass::CallOriginal(original, window, message, wParam, lParam);
    }
    if (!classified) return CWindowSubclass::CallOriginal(original, window, message, wParam, lParam);
    if (Handled(&VirtualControlSubclassProc, window, message, wParam, lParam)) return 0;
    if (treeView && message == TVM_DELETEITEM) {
        ReportTreeChange(window, message, wParam, lParam, lParam);
    }
    const LRESULT result = CWindowSubclass::CallOriginal(original, window, message, wParam, lParam);
    if (treeView && message == TVM_INSERTITEMW && result != 0) {
        ReportTreeChange(window, message, wParam, lParam, result);
    }
    return result;
}

LRESULT CALLBACK CHookHost::CbtProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && g_host != nullptr) {
        g_host->Classify(reinterpret_cast<HWND>(wParam));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK CHookHost::GetMessageProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == PM_REMOVE && g_host != nullptr) {
        MSG& message = *reinterpret_cast<MSG*>(lParam);
        if (message.message == WM_QUIT && g_quitHandler != nullptr) {
            g_quitHandler();  // the application leaves its loop: the agent lets go first
        } else {
            g_host->TakeQueuedMessage(message);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool DetachHere() {
    const std::lock_guard lock(g_lock);
    if (g_host == nullptr || g_host->Thread() != GetCurrentThreadId()) return false;
    delete std::exchange(g_host, nullptr);
    return true;
}

}  // namespace

void SetQuitHandler(void (*handler)()) { g_quitHandler = handler; }

void SetWindowGoneHandler(void (*handler)(HWND window)) { g_windowGoneHandler = handler; }

std::wstring TakeClickRefusal() { return std::exchange(g_clickRefusal, {}); }

}  // namespace vask

int AttachHookHost(DWORD threadId, std::uint64_t ownerId,
                   tarnwick::IInvokeManagementService* eventService) {
    using namespace vask;
    if (threadId != GetCurrentThreadId()) {
        DebugTrace(kComponent, L"attach to thread %lu refused: call it on that thread", threadId);
        return 0;
    }
    const std::lock_guard lock(g_lock);
    if (g_host != nullptr) return 0;
    try {
        auto host = std::make_unique<CHookHost>(threadId, ownerId, eventService);
        if (!host->IsAttached()) {
            DebugTrace(kComponent, L"attach to thread %lu failed (error %lu)", threadId,
                       GetLastError());
            return 0;
        }
        g_host = host.release();
        return 1;
    } catch (...) {
        return 0;
    }
}

int DetachHookHost(void) {
    using namespace vask;
    HWND hostWindow = nullptr;
    {
        const std::lock_guard lock(g_lock);
        if (g_host == nullptr) return 0;
        if (g_host->Thread() != GetCurrentThreadId()) hostWindow = g_host->Window();
    }
    if (hostWindow == nullptr) return DetachHere() ? 1 : 0;
    if (SendMessageW(hostWindow, kDetachMessage, 0, 0) == 1) return 1;
    // The host window goes only with its thread, and the thread's windows and hooks with it:
    // what is left is freed here.
    const std::lock_guard lock(g_lock);
    if (g_host == nullptr || IsWindow(g_host->Window())) return 0;
    delete std::exchange(g_host, nullptr);
    return 1;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        vask::g_module = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        DetachHookHost();  // FreeLibrary; at process exit nothing is left to restore
    }
    return TRUE;
}
