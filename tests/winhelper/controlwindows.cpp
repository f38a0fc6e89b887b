#include "winhelper/controlwindows.h"

#include "platform/vaskreservoir.h"

namespace tarnwick::test {
namespace {

HWND CreatePlainWindow(DWORD style) {
    static const ATOM windowClass = [] {
        WNDCLASSW plain{};
        plain.lpfnWndProc = &DefWindowProcW;
        plain.hInstance = GetModuleHandleW(nullptr);
        plain.lpszClassName = L"TarnwickTestWindow";
        return RegisterClassW(&plain);
    }();
    return CreateWindowExW(0, MAKEINTATOM(windowClass), L"", style, 100, 100, 640, 480, nullptr,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
}

void PumpThreadMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

ParentNote NoteOf(UINT message, WPARAM wParam, LPARAM lParam) {
    ParentNote note{message, wParam, lParam};
    if (message == WM_COMMAND) {
        note.from = reinterpret_cast<HWND>(lParam);
        note.code = HIWORD(wParam);
    } else if (message == WM_CONTEXTMENU) {
        note.from = reinterpret_cast<HWND>(wParam);
    } else if (message == WM_NOTIFY) {
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
    }
    return note;
}

// Copies a block handed to this process and frees it as its owner.
std::vector<std::uint8_t> TakeBlock(std::uint32_t handle, std::uint32_t* madeFor, bool* freed) {
    std::uint32_t size = 0;
    const auto* bytes = static_cast<const std::uint8_t*>(
        OpenSharedMemory(handle, &size, __LINE__, "controlwindows"));
    if (bytes == nullptr) return {};
    if (madeFor != nullptr) *madeFor = GetBlockProcessId(handle);
    std::vector<std::uint8_t> copy(bytes, bytes + size);
    while (FreeSharedMemory(handle) > 0) {
    }
    *freed = *freed && GetBlockProcessId(handle) == 0;
    return copy;
}

}  // namespace

CRecordingParent::CRecordingParent() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);
    window_ = CreatePlainWindow(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    SetWindowSubclass(window_, &Subclass, 1, reinterpret_cast<DWORD_PTR>(this));
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

LRESULT CALLBACK CRecordingParent::Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                            UINT_PTR, DWORD_PTR self) {
    if (message == WM_COMMAND || message == WM_NOTIFY || message == WM_CONTEXTMENU ||
        message == WM_PARENTNOTIFY) {
        reinterpret_cast<CRecordingParent*>(self)->notes_.push_back(
            NoteOf(message, wParam, lParam));
        if (message != WM_PARENTNOTIFY) return 0;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

CRequestReceiver::CRequestReceiver() : window_(CreatePlainWindow(WS_OVERLAPPEDWINDOW)) {
    Intercept(window_);
}

CRequestReceiver::~CRequestReceiver() {
    for (HWND control : intercepted_) RemoveWindowSubclass(control, &Subclass, 1);
    DestroyWindow(window_);
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

UINT CRequestReceiver::KeysMessage() {
    static const UINT message = RegisterWindowMessageW(L"WM_TW_SIMULATE_KEYBOARD_INPUT");
    return message;
}

LRESULT CALLBACK CRequestReceiver::Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                            UINT_PTR, DWORD_PTR self) {
    if (message != ClickMessage() && message != KeysMessage()) {
        return DefSubclassProc(window, message, wParam, lParam);
    }
    ReceivedRequest request{message};
    request.freed = true;
    request.bytes = TakeBlock(static_cast<std::uint32_t>(wParam), &request.madeFor, &request.freed);
    if (message == KeysMessage()) {
        request.textBytes = TakeBlock(static_cast<std::uint32_t>(lParam), nullptr, &request.freed);
    }
    reinterpret_cast<CRequestReceiver*>(self)->received_.push_back(std::move(request));
    return 0;
}

}  // namespace tarnwick::test
