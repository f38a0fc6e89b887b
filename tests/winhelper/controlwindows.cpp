#include "winhelper/controlwindows.h"

#include "platform/vaskreservoir.h"

namespace tarnwick::test {
namespace {

constexpr wchar_t kParentClass[] = L"TarnwickTestRecordingParent";
constexpr wchar_t kReceiverClass[] = L"TarnwickTestRequestReceiver";

void RegisterOnce(const wchar_t* name, WNDPROC procedure) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = name;
    windowClass.cbWndExtra = sizeof(void*);
    RegisterClassW(&windowClass);  // fails harmlessly once registered
}

template <typename T>
T* Owner(HWND window) {
    return reinterpret_cast<T*>(GetWindowLongPtrW(window, 0));
}

void Attach(HWND window, LPARAM createParams) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(createParams);
    SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
}

ParentNote NoteOf(UINT message, WPARAM wParam, LPARAM lParam) {
    ParentNote note{message, wParam, lParam};
    switch (message) {
        case WM_COMMAND:
            note.from = reinterpret_cast<HWND>(lParam);
            note.code = HIWORD(wParam);
            break;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            note.from = header->hwndFrom;
            note.code = static_cast<int>(header->code);
            if (header->code == LVN_ITEMCHANGED || header->code == LVN_ITEMACTIVATE) {
                // NMITEMACTIVATE begins with the fields of NMLISTVIEW.
                const auto* item = reinterpret_cast<const NMLISTVIEW*>(lParam);
                note.item = item->iItem;
                note.newState = item->uNewState;
                note.oldState = item->uOldState;
                note.changed = item->uChanged;
            }
            break;
        }
        case WM_CONTEXTMENU:
            note.from = reinterpret_cast<HWND>(wParam);
            break;
        default:
            break;
    }
    return note;
}

std::vector<std::uint8_t> CopyBlock(std::uint32_t handle, std::uint32_t* madeFor) {
    std::uint32_t size = 0;
    const auto* bytes = static_cast<const std::uint8_t*>(
        OpenSharedMemory(handle, &size, __LINE__, "controlwindows"));
    if (bytes == nullptr) return {};
    if (madeFor != nullptr) *madeFor = GetBlockProcessId(handle);
    std::vector<std::uint8_t> copy(bytes, bytes + size);
    while (FreeSharedMemory(handle) > 0) {
    }
    return copy;
}

}  // namespace

void PumpThreadMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

CRecordingParent::CRecordingParent() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterOnce(kParentClass, &Procedure);
    window_ = CreateWindowExW(0, kParentClass, L"parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100,
                              100, 640, 480, nullptr, nullptr, GetModuleHandleW(nullptr), this);
}

CRecordingParent::~CRecordingParent() {
    if (window_ != nullptr) DestroyWindow(window_);
}

HWND CRecordingParent::AddChild(const wchar_t* className, DWORD style, int id, RECT bounds) {
    return CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE | style, bounds.left,
                           bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top,
                           window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

const std::vector<ParentNote>& CRecordingParent::Notes() {
    PumpThreadMessages();
    return notes_;
}

std::vector<ParentNote> CRecordingParent::NotesWithCode(int code) {
    std::vector<ParentNote> found;
    for (const ParentNote& note : Notes()) {
        if ((note.message == WM_COMMAND || note.message == WM_NOTIFY) && note.code == code) {
            found.push_back(note);
        }
    }
    return found;
}

LRESULT CALLBACK CRecordingParent::Procedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_NCCREATE) Attach(window, lParam);
    auto* self = Owner<CRecordingParent>(window);
    if (self != nullptr && (message == WM_COMMAND || message == WM_NOTIFY ||
                            message == WM_CONTEXTMENU || message == WM_PARENTNOTIFY)) {
        self->notes_.push_back(NoteOf(message, wParam, lParam));
        if (message != WM_PARENTNOTIFY) return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

CRequestReceiver::CRequestReceiver() {
    RegisterOnce(kReceiverClass, &Procedure);
    window_ = CreateWindowExW(0, kReceiverClass, L"receiver", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                              nullptr, nullptr, GetModuleHandleW(nullptr), this);
}

CRequestReceiver::~CRequestReceiver() {
    for (HWND control : intercepted_) {
        if (IsWindow(control)) RemoveWindowSubclass(control, &Subclass, 1);
    }
    if (window_ != nullptr) DestroyWindow(window_);
}

void CRequestReceiver::Intercept(HWND control) {
    SetWindowSubclass(control, &Subclass, 1, reinterpret_cast<DWORD_PTR>(this));
    intercepted_.push_back(control);
}

const std::vector<ReceivedRequest>& CRequestReceiver::Received() {
    PumpThreadMessages();
    return received_;
}

UINT CRequestReceiver::ClickMessage() {
    static const UINT message = RegisterWindowMessageW(L"WM_TW_PERFORMCLICK");
    return message;
}

UINT CRequestReceiver::DoubleClickMessage() {
    static const UINT message = RegisterWindowMessageW(L"WM_TW_PERFORMDBLCLICK");
    return message;
}

UINT CRequestReceiver::KeysMessage() {
    static const UINT message = RegisterWindowMessageW(L"WM_TW_SIMULATE_KEYBOARD_INPUT");
    return message;
}

LRESULT CALLBACK CRequestReceiver::Procedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_NCCREATE) Attach(window, lParam);
    auto* self = Owner<CRequestReceiver>(window);
    if (self != nullptr && self->Take(message, wParam, lParam)) return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK CRequestReceiver::Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                            UINT_PTR, DWORD_PTR self) {
    if (reinterpret_cast<CRequestReceiver*>(self)->Take(message, wParam, lParam)) return 0;
    return DefSubclassProc(window, message, wParam, lParam);
}

bool CRequestReceiver::Take(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != ClickMessage() && message != DoubleClickMessage() && message != KeysMessage()) {
        return false;
    }
    ReceivedRequest request;
    request.message = message;
    if (message == ClickMessage() || message == KeysMessage()) {
        request.handle = static_cast<std::uint32_t>(wParam);
        request.bytes = CopyBlock(request.handle, &request.madeFor);
        request.freed = GetBlockProcessId(request.handle) == 0;
    }
    if (message == KeysMessage()) {
        request.textHandle = static_cast<std::uint32_t>(lParam);
        request.textBytes = CopyBlock(request.textHandle, nullptr);
        request.freed = request.freed && GetBlockProcessId(request.textHandle) == 0;
    }
    received_.push_back(std::move(request));
    return true;
}

}  // namespace tarnwick::test
