// WinHelper: a window's text, class, position and size, visibility, enabled state and focus,
// and the state of edit controls and buttons.
#include "winhelper.h"

#include <memory>
#include <new>

namespace tarnwick {

namespace {

constexpr int kClassNameCapacity = 127;
constexpr LRESULT kMaxTextLength = 65535;

// The window rectangle in the frame its position is given in: the parent's client coordinates
// for a child window that has a parent, screen coordinates otherwise.
RECT PositionFrame(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    const HWND parent = GetParent(window);
    if ((GetWindowLongW(window, GWL_STYLE) & WS_CHILD) != 0 && parent != nullptr) {
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    }
    return rect;
}

void MoveTo(HWND window, const RECT& rect) {
    MoveWindow(window, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

LONG Style(HWND window) { return GetWindowLongW(window, GWL_STYLE); }

int ButtonType(HWND button) { return static_cast<int>(Style(button) & BS_TYPEMASK); }

}  // namespace

void WinHelper::GetWindowClassName(HWND window, wchar_t** out) {
    if (out == nullptr) return;
    wchar_t name[kClassNameCapacity]{};
    const int length = GetClassNameW(window, name, kClassNameCapacity);
    *out = length > 0 ? SysAllocStringLen(name, static_cast<UINT>(length)) : nullptr;
}

void WinHelper::GetText(HWND window, wchar_t** out) {
    if (out == nullptr) return;
    *out = nullptr;
    LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0) return;
    if (length > kMaxTextLength) length = kMaxTextLength;
    const std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[length + 1]());
    if (buffer == nullptr) return;
    const LRESULT copied = SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(length + 1),
                                        reinterpret_cast<LPARAM>(buffer.get()));
    // The text may have shrunk in between; an empty answer is no text, as above.
    if (copied > 0) {
        *out =
            SysAllocStringLen(buffer.get(), static_cast<UINT>(copied < length ? copied : length));
    }
}

void WinHelper::SetText(HWND window, wchar_t* text) { SetWindowTextW(window, text); }

void WinHelper::Clear(HWND window) { SetWindowTextW(window, L""); }

int WinHelper::GetTop(HWND window) { return WindowTop(window); }
int WinHelper::GetLeft(HWND window) { return WindowLeft(window); }
int WinHelper::GetBottom(HWND window) { return WindowBottom(window); }
int WinHelper::GetRight(HWND window) { return WindowRight(window); }

int WinHelper::WindowTop(HWND window) { return PositionFrame(window).top; }
int WinHelper::WindowLeft(HWND window) { return PositionFrame(window).left; }
int WinHelper::WindowBottom(HWND window) { return PositionFrame(window).bottom; }
int WinHelper::WindowRight(HWND window) { return PositionFrame(window).right; }

int WinHelper::IsWindowChild(HWND window) { return (Style(window) & WS_CHILD) != 0 ? 1 : 0; }

void WinHelper::SetTop(HWND window, int top) {
    RECT rect = PositionFrame(window);
    rect.bottom += top - rect.top;
    rect.top = top;
    MoveTo(window, rect);
}

void WinHelper::SetLeft(HWND window, int left) {
    RECT rect = PositionFrame(window);
    rect.right += left - rect.left;
    rect.left = left;
    MoveTo(window, rect);
}

// A bottom above the top (or a right left of the left) is passed on as a negative size.
void WinHelper::SetBottom(HWND window, int bottom) {
    RECT rect = PositionFrame(window);
    rect.bottom = bottom;
    MoveTo(window, rect);
}

void WinHelper::SetRight(HWND window, int right) {
    RECT rect = PositionFrame(window);
    rect.right = right;
    MoveTo(window, rect);
}

void WinHelper::GetWindowBounds(RectangleType type, HWND window, RECT* out) {
    if (out == nullptr) return;
    switch (type) {
        case RectangleClient:
            GetClientRect(window, out);
            break;
        case RectangleScreen:
            GetWindowRect(window, out);
            break;
        case RectangleParent:
            *out = PositionFrame(window);
            break;
        default:
            break;
    }
}

void WinHelper::SetWindowBounds(HWND window, RECT bounds) { MoveTo(window, bounds); }

int WinHelper::GetVisible(HWND window) { return IsWindowVisible(window) != FALSE ? 1 : 0; }

void WinHelper::SetVisible(HWND window, int visible) {
    ShowWindow(window, visible != 0 ? SW_SHOWNORMAL : SW_HIDE);
}

int WinHelper::GetEnabled(HWND window) { return IsWindowEnabled(window) != FALSE ? 1 : 0; }

void WinHelper::SetEnabled(HWND window, int enabled) { EnableWindow(window, enabled != 0); }

int WinHelper::GetFocused(HWND window) { return GetFocus() == window ? 1 : 0; }

void WinHelper::Focus(HWND window) { SetFocus(window); }

void WinHelper::Activate(HWND window) {
    if (window == nullptr) return;
    Activate(GetParent(window));
    SetFocus(window);
}

int WinHelper::GetMaxTextLength(HWND edit) {
    return static_cast<int>(SendMessageW(edit, EM_GETLIMITTEXT, 0, 0));
}

void WinHelper::SetMaxTextLength(HWND edit, int limit) {
    SendMessageW(edit, EM_SETLIMITTEXT, static_cast<WPARAM>(limit), 0);
}

int WinHelper::GetReadOnly(HWND edit) { return (Style(edit) & ES_READONLY) != 0 ? 1 : 0; }

void WinHelper::SetReadOnly(HWND edit, int readOnly) {
    SendMessageW(edit, EM_SETREADONLY, readOnly != 0, 0);
}

int WinHelper::GetTextLength(HWND edit) {
    return static_cast<int>(SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0));
}

int WinHelper::GetIsPassword(HWND edit) { return GetPasswordChar(edit) != 0 ? 1 : 0; }

void WinHelper::SetIsPassword(HWND edit, int isPassword) {
    SetPasswordChar(edit, isPassword != 0 ? L'*' : L'\0');
}

// The whole 16-bit character: characters such as U+25CF are common password characters.
wchar_t WinHelper::GetPasswordChar(HWND edit) {
    return static_cast<wchar_t>(SendMessageW(edit, EM_GETPASSWORDCHAR, 0, 0) & 0xFFFF);
}

void WinHelper::SetPasswordChar(HWND edit, wchar_t character) {
    SendMessageW(edit, EM_SETPASSWORDCHAR, character, 0);
}

void WinHelper::AppendText(HWND edit, wchar_t* text) {
    const LRESULT end = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
    SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(end), end);
    // Lift the limit for the insertion, so that a full edit still takes the text.
    const LRESULT oldLimit = SendMessageW(edit, EM_GETLIMITTEXT, 0, 0);
    SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
    // A null BSTR is the empty text.
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text != nullptr ? text : L""));
    SendMessageW(edit, EM_SETMODIFY, TRUE, 0);
    SendMessageW(edit, EM_SETLIMITTEXT, static_cast<WPARAM>(oldLimit), 0);
    // Tell the parent as a typed change would, without waiting for it.
    const WPARAM command = MAKEWPARAM(GetDlgCtrlID(edit), EN_CHANGE);
    PostMessageW(GetParent(edit), WM_COMMAND, command, reinterpret_cast<LPARAM>(edit));
}

int WinHelper::GetAutoChecked(HWND button) {
    const int type = ButtonType(button);
    return type == BS_AUTOCHECKBOX || type == BS_AUTO3STATE || type == BS_AUTORADIOBUTTON ? 1 : 0;
}

int WinHelper::GetThreeState(HWND button) {
    const int type = ButtonType(button);
    return type == BS_3STATE || type == BS_AUTO3STATE ? 1 : 0;
}

int WinHelper::GetCheckState(HWND button) {
    return static_cast<int>(SendMessageW(button, BM_GETCHECK, 0, 0));
}

}  // namespace tarnwick
