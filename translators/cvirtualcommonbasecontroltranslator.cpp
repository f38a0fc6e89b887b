#include "translators/cvirtualcommonbasecontroltranslator.h"

#include <windowsx.h>
#include <oleauto.h>

#include <wrl/client.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "itypelibresolutionservice.h"
#include "winhelper.h"
#include "winhelper/cwinhelperprivateaccess.h"
#include "virtualrecords.h"

namespace tarnwick {
namespace {


VARIANT Int(LONG value) {
    VARIANT variant;
    V_VT(&variant) = VT_I4;
    V_I4(&variant) = value;
    return variant;
}

// A key's modifier as the key events carry it: VT_BOOL with the value 1 when the key is down.
VARIANT KeyDown(int key) {
    VARIANT variant;
    V_VT(&variant) = VT_BOOL;
    V_BOOL(&variant) = GetKeyState(key) < 0 ? 1 : 0;
    return variant;
}

RECT BoundsRect(HWND window) {
    RECT rect{};
    WinHelper::GetWindowBounds(RectangleParent, window, &rect);
    return rect;
}

HRESULT AnswerRect(const RECT& rect, LONG* x, LONG* y, LONG* width, LONG* height) {
    if (x == nullptr || y == nullptr || width == nullptr || height == nullptr) return E_POINTER;
    *x = rect.left;
    *y = rect.top;
    *width = rect.right - rect.left;
    *height = rect.bottom - rect.top;
    return S_OK;
}

// Whether candidate rectangle b lies within `distance` of a on the side `direction` names
// (0 left, 1 above, 2 below, 3 right) and overlaps it along that side.
bool IsAdjacent(const RECT& a, const RECT& b, LONG direction, LONG distance) {
    const bool rowsOverlap = a.top < b.bottom && a.bottom > b.top;
    const bool columnsOverlap = a.left < b.right && a.right > b.left;
    switch (direction) {
        case 0:
            return std::labs(a.left - b.right) < distance && rowsOverlap;
        case 1:
            return std::labs(a.top - b.bottom) < distance && columnsOverlap;
        case 2:
            return std::labs(b.top - a.bottom) < distance && columnsOverlap;
        case 3:
            return std::labs(b.left - a.right) < distance && rowsOverlap;
        default:
            return false;
    }
}

// The record information of VirtualControlReference, from the type library service.
Microsoft::WRL::ComPtr<IRecordInfo> ControlReferenceInfo() {
    ITypeLibResolutionService* service = GetTypeLibResolutionService();
    Microsoft::WRL::ComPtr<ITypeInfo> type;
    Microsoft::WRL::ComPtr<IRecordInfo> info;
    if (service != nullptr && service->GetTypeInfoByGuid(&kVirtualControlReferenceGuid, &type) &&
        type != nullptr && FAILED(GetRecordInfoFromTypeInfo(type.Get(), &info))) {
        info.Reset();
    }
    return info;
}

}  // namespace

// Events.

LRESULT CVirtualCommonBaseControlTranslator::HandleMessage(HWND window, UINT message, WPARAM wParam,
                                                           LPARAM lParam, bool* handled) {
    // Mouse positions are the signed 16-bit halves of lParam, so that a release left of or
    // above the window reports a negative position.
    const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    switch (message) {
        case WM_SETFOCUS:
            RaiseEvent(window, L"GotFocus");
            break;
        case WM_KILLFOCUS:
            RaiseEvent(window, L"LostFocus");
            break;
        case WM_ENABLE:
            RaiseEvent(window, L"EnabledChanged");
            break;
        case WM_SETTEXT:
            RaiseEvent(window, L"TextChanged");
            break;
        case WM_SHOWWINDOW: {
            RaiseEvent(window, wParam != 0 ? L"Shown" : L"Hidden");
            const bool visible = (GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE) != 0;
            if (visible != (wParam != 0)) RaiseEvent(window, L"VisibleChanged");
            break;
        }
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            RaiseKeyEvent(window, L"KeyDown", wParam, false);
            break;
        case WM_KEYUP:
        case WM_SYSKEYUP:
            RaiseKeyEvent(window, L"KeyUp", wParam, false);
            break;
        case WM_CHAR:
        case WM_SYSCHAR:
            RaiseKeyEvent(window, L"KeyPress", wParam, true);
            break;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN: {
            const LONG button = message == WM_LBUTTONDOWN ? 0 : message == WM_MBUTTONDOWN ? 1 : 2;
            VARIANT arguments[] = {Int(button), Int(1), Int(x), Int(y)};
            RaiseEvent(window, L"MouseDown", arguments, 4);
            break;
        }
        case WM_LBUTTONUP:
        case WM_LBUTTONDBLCLK:
            HandleMouseUp(window, message, 0, message == WM_LBUTTONUP ? 1 : 2, x, y, handled);
            break;
        case WM_MBUTTONUP:
        case WM_MBUTTONDBLCLK:
            HandleMouseUp(window, message, 1, message == WM_MBUTTONUP ? 1 : 2, x, y, handled);
            break;
        case WM_RBUTTONUP:
        case WM_RBUTTONDBLCLK:
            HandleMouseUp(window, message, 2, message == WM_RBUTTONUP ? 1 : 2, x, y, handled);
            break;
        default:
            break;
    }
    return 0;
}

bool CVirtualCommonBaseControlTranslator::HandleMouseUp(HWND window, UINT, int button, int clicks,
                                                        int x, int y, bool* handled) {
    const RECT bounds = BoundsRect(window);
    if (x >= 0 && x < bounds.right - bounds.left && y >= 0 && y < bounds.bottom - bounds.top) {
        const wchar_t* before = nullptr;
        const wchar_t* after = nullptr;
        if (button == 0 && clicks == 1) before = L"Clicking", after = L"Click";
        if (button == 2 && clicks == 1) before = L"RightClicking", after = L"RightClick";
        if (button == 0 && clicks == 2) before = L"DoubleClicking", after = L"DoubleClick";
        if (before != nullptr) {
            if (RaiseEvent(window, before)) {
                if (handled != nullptr) *handled = true;
            } else {
                RaiseEvent(window, after);
            }
        }
    }
    VARIANT arguments[] = {Int(button), Int(clicks), Int(x), Int(y)};
    return RaiseEvent(window, L"MouseUp", arguments, 4);
}

void CVirtualCommonBaseControlTranslator::RaiseKeyEvent(HWND window, const wchar_t* name,
                                                        WPARAM wParam, bool character) {
    std::vector<HWND> chain;
    for (HWND w = window; w != nullptr; w = GetParent(w)) chain.push_back(w);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (character) {  // the character's low 8 bits, sign-extended
            VARIANT code = Int(static_cast<signed char>(wParam & 0xFF));
            RaiseEvent(*it, name, &code, 1);
        } else {
            VARIANT arguments[] = {Int(static_cast<LONG>(wParam)), KeyDown(VK_MENU),
                                   KeyDown(VK_CONTROL), KeyDown(VK_SHIFT)};
            RaiseEvent(*it, name, arguments, 4);
        }
    }
}

// Constant, empty and unimplemented positions.

HRESULT CVirtualCommonBaseControlTranslator::CaptureImage(VirtualControlReference*) {
    return E_NOTIMPL;
}
HRESULT CVirtualCommonBaseControlTranslator::Highlight(VirtualControlReference*) {
    return E_NOTIMPL;
}
HRESULT CVirtualCommonBaseControlTranslator::Unhighlight(VirtualControlReference*) {
    return E_NOTIMPL;
}
HRESULT CVirtualCommonBaseControlTranslator::Hover(VirtualControlReference*) { return E_NOTIMPL; }
HRESULT CVirtualCommonBaseControlTranslator::MiddleClick(VirtualControlReference*) {
    return E_NOTIMPL;
}
HRESULT CVirtualCommonBaseControlTranslator::MiddleDoubleClick(VirtualControlReference*) {
    return E_NOTIMPL;
}
HRESULT CVirtualCommonBaseControlTranslator::WaitForIdle(VirtualControlReference*) {
    return E_NOTIMPL;
}
HRESULT CVirtualCommonBaseControlTranslator::WaitForReady(VirtualControlReference*) {
    return E_NOTIMPL;
}
HRESULT CVirtualCommonBaseControlTranslator::WaitForVisible(VirtualControlReference*) {
    return E_NOTIMPL;
}
HRESULT CVirtualCommonBaseControlTranslator::WaitForEnabled(VirtualControlReference*) {
    return E_NOTIMPL;
}
HRESULT CVirtualCommonBaseControlTranslator::ScrollIntoView(VirtualControlReference*) {
    return E_NOTIMPL;
}
HRESULT CVirtualCommonBaseControlTranslator::Undo(VirtualControlReference*) { return E_NOTIMPL; }
HRESULT CVirtualCommonBaseControlTranslator::Redo(VirtualControlReference*) { return E_NOTIMPL; }
HRESULT CVirtualCommonBaseControlTranslator::PrintImage(VirtualControlReference*) {
    return E_NOTIMPL;
}
HRESULT CVirtualCommonBaseControlTranslator::Close(VirtualControlReference*) { return E_NOTIMPL; }
HRESULT CVirtualCommonBaseControlTranslator::Minimize(VirtualControlReference*) {
    return E_NOTIMPL;
}
HRESULT CVirtualCommonBaseControlTranslator::Maximize(VirtualControlReference*) {
    return E_NOTIMPL;
}
HRESULT CVirtualCommonBaseControlTranslator::Restore(VirtualControlReference*) { return E_NOTIMPL; }
HRESULT CVirtualCommonBaseControlTranslator::Flash(VirtualControlReference*) { return E_NOTIMPL; }
HRESULT CVirtualCommonBaseControlTranslator::Detach(VirtualControlReference*) { return E_NOTIMPL; }
HRESULT CVirtualCommonBaseControlTranslator::RemoveFocus(VirtualControlReference*) {
    return E_NOTIMPL;
}
HRESULT CVirtualCommonBaseControlTranslator::GetIsNative(VirtualControlReference*,
                                                         VARIANT_BOOL* value) {
    return AnswerOut(value, VARIANT_TRUE);
}
HRESULT CVirtualCommonBaseControlTranslator::GetSupportsEvents(VirtualControlReference*,
                                                               VARIANT_BOOL* value) {
    return AnswerOut(value, VARIANT_TRUE);
}
HRESULT CVirtualCommonBaseControlTranslator::GetIsWindowless(VirtualControlReference*,
                                                             VARIANT_BOOL* value) {
    return AnswerOut(value, VARIANT_FALSE);
}
HRESULT CVirtualCommonBaseControlTranslator::GetIsOwnerDrawn(VirtualControlReference*,
                                                             VARIANT_BOOL* value) {
    return AnswerOut(value, VARIANT_FALSE);
}
HRESULT CVirtualCommonBaseControlTranslator::GetIsRemote(VirtualControlReference*,
                                                         VARIANT_BOOL* value) {
    return AnswerOut(value, VARIANT_FALSE);
}
HRESULT CVirtualCommonBaseControlTranslator::GetIsDisposed(VirtualControlReference*,
                                                           VARIANT_BOOL* value) {
    return AnswerOut(value, VARIANT_FALSE);
}
HRESULT CVirtualCommonBaseControlTranslator::GetParentHandle(VirtualControlReference*,
                                                             INT64* value) {
    return AnswerOut(value, 0);
}
HRESULT CVirtualCommonBaseControlTranslator::GetOwnerHandle(VirtualControlReference*,
                                                            INT64* value) {
    return AnswerOut(value, 0);
}
HRESULT CVirtualCommonBaseControlTranslator::GetMenuHandle(VirtualControlReference*, INT64* value) {
    return AnswerOut(value, 0);
}
HRESULT CVirtualCommonBaseControlTranslator::GetFontHandle(VirtualControlReference*, INT64* value) {
    return AnswerOut(value, 0);
}
HRESULT CVirtualCommonBaseControlTranslator::GetImageListHandle(VirtualControlReference*,
                                                                INT64* value) {
    return AnswerOut(value, 0);
}
HRESULT CVirtualCommonBaseControlTranslator::GetTabIndex(VirtualControlReference*, LONG* value) {
    return AnswerOut(value, 0);
}
HRESULT CVirtualCommonBaseControlTranslator::GetContextMenuHandle(VirtualControlReference*,
                                                                  INT64* value) {
    return AnswerOut(value, 0);
}
HRESULT CVirtualCommonBaseControlTranslator::GetFocusedChildHandle(VirtualControlReference*,
                                                                   INT64* value) {
    return AnswerOut(value, 0);
}
HRESULT CVirtualCommonBaseControlTranslator::BeginUpdate(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::EndUpdate(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::ResetText(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::Refresh(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::Invalidate(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::Update(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::Redraw(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::RepaintBackground(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonBaseControlTranslator::RepaintBorder(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonBaseControlTranslator::BringToFront(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::SendToBack(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::MoveForward(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::MoveBackward(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::CaptureMouse(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::ReleaseMouse(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::ShowToolTip(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::HideToolTip(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::BeginDrag(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::EndDrag(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::CancelDrag(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::StartBlinking(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonBaseControlTranslator::StopBlinking(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::ScrollToStart(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonBaseControlTranslator::ScrollToEnd(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::ScrollLineUp(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::ScrollLineDown(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonBaseControlTranslator::ScrollPageUp(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::ScrollPageDown(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonBaseControlTranslator::ScrollLineLeft(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonBaseControlTranslator::ScrollLineRight(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonBaseControlTranslator::ScrollPageLeft(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonBaseControlTranslator::ScrollPageRight(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonBaseControlTranslator::CenterOnScreen(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonBaseControlTranslator::CenterOnParent(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonBaseControlTranslator::FitToContents(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonBaseControlTranslator::RestoreDefaultBounds(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonBaseControlTranslator::UpdateLayout(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::ResetColors(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::ResetFont(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::ResetCursor(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::ResetStyle(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::ResetTheme(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::LockInput(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::UnlockInput(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::FlushInput(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::SaveState(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::RestoreState(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::ShowBorder(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::HideBorder(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::Validate(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonBaseControlTranslator::CommitChanges(VirtualControlReference*) {
    return S_OK;
}

// Text and class.

HRESULT CVirtualCommonBaseControlTranslator::GetControlTypeName(VirtualControlReference* reference,
                                                                BSTR* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return GetWindowClassName(reference, value);
}

HRESULT CVirtualCommonBaseControlTranslator::GetWindowClassName(VirtualControlReference* reference,
                                                                BSTR* value) {
    if (reference == nullptr) return E_INVALIDARG;
    if (value == nullptr) return E_POINTER;
    wchar_t name[127];
    const int length = GetClassNameW(WindowOf(reference), name, 127);
    *value = length > 0 ? SysAllocStringLen(name, static_cast<UINT>(length)) : nullptr;
    return *value != nullptr ? S_OK : E_FAIL;
}

HRESULT CVirtualCommonBaseControlTranslator::GetText(VirtualControlReference* reference,
                                                     BSTR* value) {
    if (reference == nullptr) return E_INVALIDARG;
    if (value == nullptr) return E_POINTER;
    WinHelper::GetText(WindowOf(reference), value);
    return S_OK;
}

HRESULT CVirtualCommonBaseControlTranslator::SetText(VirtualControlReference* reference,
                                                     BSTR text) {
    if (reference == nullptr) return E_INVALIDARG;
    SetWindowTextW(WindowOf(reference), text);
    return S_OK;
}

// Geometry.

HRESULT CVirtualCommonBaseControlTranslator::GetBounds(VirtualControlReference* reference, LONG* x,
                                                       LONG* y, LONG* width, LONG* height) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerRect(BoundsRect(WindowOf(reference)), x, y, width, height);
}

HRESULT CVirtualCommonBaseControlTranslator::SetBounds(VirtualControlReference* reference, LONG x,
                                                       LONG y, LONG width, LONG height) {
    if (reference == nullptr) return E_INVALIDARG;
    MoveWindow(WindowOf(reference), x, y, width, height, TRUE);
    return S_OK;
}

HRESULT CVirtualCommonBaseControlTranslator::GetClientBounds(VirtualControlReference* reference,
                                                             LONG* x, LONG* y, LONG* width,
                                                             LONG* height) {
    if (reference == nullptr) return E_INVALIDARG;
    RECT rect{};
    GetClientRect(WindowOf(reference), &rect);
    return AnswerRect(rect, x, y, width, height);
}

HRESULT CVirtualCommonBaseControlTranslator::GetScreenBounds(VirtualControlReference* reference,
                                                             LONG* x, LONG* y, LONG* width,
                                                             LONG* height) {
    if (reference == nullptr) return E_INVALIDARG;
    RECT rect{};
    GetWindowRect(WindowOf(reference), &rect);
    return AnswerRect(rect, x, y, width, height);
}

HRESULT CVirtualCommonBaseControlTranslator::GetTop(VirtualControlReference* reference,
                                                    LONG* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, BoundsRect(WindowOf(reference)).top);
}

HRESULT CVirtualCommonBaseControlTranslator::SetTop(VirtualControlReference* reference,
                                                    LONG value) {
    if (reference == nullptr) return E_INVALIDARG;
    WinHelper::SetTop(WindowOf(reference), value);
    return S_OK;
}

HRESULT CVirtualCommonBaseControlTranslator::GetBottom(VirtualControlReference* reference,
                                                       LONG* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, BoundsRect(WindowOf(reference)).bottom);
}

HRESULT CVirtualCommonBaseControlTranslator::GetLeft(VirtualControlReference* reference,
                                                     LONG* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, BoundsRect(WindowOf(reference)).left);
}

HRESULT CVirtualCommonBaseControlTranslator::SetLeft(VirtualControlReference* reference,
                                                     LONG value) {
    if (reference == nullptr) return E_INVALIDARG;
    WinHelper::SetLeft(WindowOf(reference), value);
    return S_OK;
}

HRESULT CVirtualCommonBaseControlTranslator::GetRight(VirtualControlReference* reference,
                                                      LONG* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, BoundsRect(WindowOf(reference)).right);
}

HRESULT CVirtualCommonBaseControlTranslator::GetHeight(VirtualControlReference* reference,
                                                       LONG* value) {
    if (reference == nullptr) return E_INVALIDARG;
    const RECT rect = BoundsRect(WindowOf(reference));
    return AnswerOut(value, rect.bottom - rect.top);
}

HRESULT CVirtualCommonBaseControlTranslator::SetHeight(VirtualControlReference* reference,
                                                       LONG value) {
    if (reference == nullptr) return E_INVALIDARG;
    const RECT rect = BoundsRect(WindowOf(reference));
    WinHelper::SetBottom(WindowOf(reference), rect.top + value);
    return S_OK;
}

HRESULT CVirtualCommonBaseControlTranslator::GetWidth(VirtualControlReference* reference,
                                                      LONG* value) {
    if (reference == nullptr) return E_INVALIDARG;
    const RECT rect = BoundsRect(WindowOf(reference));
    return AnswerOut(value, rect.right - rect.left);
}

HRESULT CVirtualCommonBaseControlTranslator::SetWidth(VirtualControlReference* reference,
                                                      LONG value) {
    if (reference == nullptr) return E_INVALIDARG;
    const RECT rect = BoundsRect(WindowOf(reference));
    WinHelper::SetRight(WindowOf(reference), rect.left + value);
    return S_OK;
}

// Visibility, enabled state and focus.

HRESULT CVirtualCommonBaseControlTranslator::GetVisible(VirtualControlReference* reference,
                                                        VARIANT_BOOL* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, AsVariantBool(IsWindowVisible(WindowOf(reference))));
}

HRESULT CVirtualCommonBaseControlTranslator::SetVisible(VirtualControlReference* reference,
                                                        VARIANT_BOOL value) {
    if (reference == nullptr) return E_INVALIDARG;
    ShowWindow(WindowOf(reference), value != 0 ? SW_SHOWNORMAL : SW_HIDE);
    return S_OK;
}

HRESULT CVirtualCommonBaseControlTranslator::GetEnabled(VirtualControlReference* reference,
                                                        VARIANT_BOOL* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, AsVariantBool(IsWindowEnabled(WindowOf(reference))));
}

HRESULT CVirtualCommonBaseControlTranslator::SetEnabled(VirtualControlReference* reference,
                                                        VARIANT_BOOL value) {
    if (reference == nullptr) return E_INVALIDARG;
    EnableWindow(WindowOf(reference), value != 0);
    return S_OK;
}

HRESULT CVirtualCommonBaseControlTranslator::GetFocused(VirtualControlReference* reference,
                                                        VARIANT_BOOL* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return AnswerOut(value, AsVariantBool(GetFocus() == WindowOf(reference)));
}

HRESULT CVirtualCommonBaseControlTranslator::Activate(VirtualControlReference* reference) {
    if (reference == nullptr) return E_INVALIDARG;
    WinHelper::Activate(WindowOf(reference));
    return S_OK;
}

HRESULT CVirtualCommonBaseControlTranslator::Focus(VirtualControlReference* reference) {
    if (reference == nullptr) return E_INVALIDARG;
    SetFocus(WindowOf(reference));
    return S_OK;
}

HRESULT CVirtualCommonBaseControlTranslator::Hide(VirtualControlReference* reference) {
    if (reference == nullptr) return E_INVALIDARG;
    return SetVisible(reference, VARIANT_FALSE);
}

HRESULT CVirtualCommonBaseControlTranslator::Show(VirtualControlReference* reference) {
    if (reference == nullptr) return E_INVALIDARG;
    return SetVisible(reference, VARIANT_TRUE);
}

// Clicks and keys.

void CVirtualCommonBaseControlTranslator::ClickRequest(VirtualControlReference* reference, long x,
                                                       long y, int button, int clicks) {
    CWinHelperPrivateAccess::PerformClick(WindowOf(reference), x, y, button, clicks, 1, nullptr);
}

HRESULT CVirtualCommonBaseControlTranslator::PerformClickRequest(VirtualControlReference* reference,
                                                                 long x, long y, int button,
                                                                 int clicks, BSTR keys,
                                                                 VARIANT_BOOL* value) {
    if (reference == nullptr) return E_INVALIDARG;
    CWinHelperPrivateAccess::PerformClick(WindowOf(reference), x, y, button, clicks, 0, keys);
    return AnswerOut(value, VARIANT_FALSE);
}

HRESULT CVirtualCommonBaseControlTranslator::Click(VirtualControlReference* reference) {
    if (reference == nullptr) return E_INVALIDARG;
    return ClickAt(reference, 1, 1);
}

HRESULT CVirtualCommonBaseControlTranslator::ClickAt(VirtualControlReference* reference, LONG x,
                                                     LONG y) {
    if (reference == nullptr) return E_INVALIDARG;
    ClickRequest(reference, x, y, 1, 1);
    return S_OK;
}

HRESULT CVirtualCommonBaseControlTranslator::DoubleClick(VirtualControlReference* reference) {
    if (reference == nullptr) return E_INVALIDARG;
    return DoubleClickAt(reference, 1, 1);
}

HRESULT CVirtualCommonBaseControlTranslator::DoubleClickAt(VirtualControlReference* reference,
                                                           LONG x, LONG y) {
    if (reference == nullptr) return E_INVALIDARG;
    ClickRequest(reference, x, y, 1, 2);
    return S_OK;
}

HRESULT CVirtualCommonBaseControlTranslator::RightClick(VirtualControlReference* reference) {
    if (reference == nullptr) return E_INVALIDARG;
    return RightClickAt(reference, 1, 1);
}

HRESULT CVirtualCommonBaseControlTranslator::RightClickAt(VirtualControlReference* reference,
                                                          LONG x, LONG y) {
    if (reference == nullptr) return E_INVALIDARG;
    ClickRequest(reference, x, y, 2, 1);
    return S_OK;
}

HRESULT CVirtualCommonBaseControlTranslator::PerformClick(VirtualControlReference* reference,
                                                          BSTR keys, VARIANT_BOOL* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return PerformClickAt(reference, 1, 1, keys, value);
}

HRESULT CVirtualCommonBaseControlTranslator::PerformClickAt(VirtualControlReference* reference,
                                                            LONG x, LONG y, BSTR keys,
                                                            VARIANT_BOOL* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return PerformClickRequest(reference, x, y, 1, 1, keys, value);
}

HRESULT CVirtualCommonBaseControlTranslator::PerformDoubleClick(VirtualControlReference* reference,
                                                                BSTR keys, VARIANT_BOOL* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return PerformDoubleClickAt(reference, 1, 1, keys, value);
}

HRESULT CVirtualCommonBaseControlTranslator::PerformDoubleClickAt(
    VirtualControlReference* reference, LONG x, LONG y, BSTR keys, VARIANT_BOOL* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return PerformClickRequest(reference, x, y, 1, 2, keys, value);
}

HRESULT CVirtualCommonBaseControlTranslator::PerformRightClick(VirtualControlReference* reference,
                                                               BSTR keys, VARIANT_BOOL* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return PerformRightClickAt(reference, 1, 1, keys, value);
}

HRESULT CVirtualCommonBaseControlTranslator::PerformRightClickAt(VirtualControlReference* reference,
                                                                 LONG x, LONG y, BSTR keys,
                                                                 VARIANT_BOOL* value) {
    if (reference == nullptr) return E_INVALIDARG;
    return PerformClickRequest(reference, x, y, 2, 1, keys, value);
}

HRESULT CVirtualCommonBaseControlTranslator::SendKeys(VirtualControlReference* reference, BSTR keys,
                                                      BSTR keyText) {
    if (reference == nullptr) return E_INVALIDARG;
    WinHelper::SendKeys(WindowOf(reference), keys, keyText);
    return S_OK;
}

HRESULT CVirtualCommonBaseControlTranslator::ContextClick(VirtualControlReference* reference) {
    if (reference == nullptr) return E_INVALIDARG;
    return RightClick(reference);
}

HRESULT CVirtualCommonBaseControlTranslator::ContextClickAt(VirtualControlReference* reference,
                                                            LONG x, LONG y) {
    if (reference == nullptr) return E_INVALIDARG;
    return RightClickAt(reference, x, y);
}

// Neighbours.

HRESULT CVirtualCommonBaseControlTranslator::FindAdjacentControls(
    VirtualControlReference* reference, SAFEARRAY* candidates, LONG direction, LONG distance,
    SAFEARRAY** result) {
    if (reference == nullptr) return E_INVALIDARG;
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    // Only a one-dimensional array of VARIANTs is read, in place: a copy of each element would
    // be one more record to free.
    VARTYPE type = VT_EMPTY;
    if (candidates == nullptr || SafeArrayGetDim(candidates) != 1 ||
        candidates->cbElements != sizeof(VARIANT) ||
        FAILED(SafeArrayGetVartype(candidates, &type)) || type != VT_VARIANT) {
        return Refuse(E_INVALIDARG, L"the candidates are not a one-dimensional array of VARIANTs");
    }
    const Microsoft::WRL::ComPtr<IRecordInfo> info = ControlReferenceInfo();
    if (info == nullptr) return E_FAIL;
    const ULONG count = candidates->rgsabound[0].cElements;
    CSafeArray found(SafeArrayCreateVector(VT_VARIANT, 0, count));
    if (found == nullptr) return E_OUTOFMEMORY;
    LONG x = 0, y = 0, width = 0, height = 0;
    GetBounds(reference, &x, &y, &width, &height);
    const RECT own{x, y, x + width, y + height};
    ULONG matches = 0;
    HRESULT hr = S_OK;
    {
        CLockedVariants from(candidates), to(found.get());
        hr = FAILED(from.Result()) ? from.Result() : to.Result();
        for (ULONG i = 0; i < count && SUCCEEDED(hr); ++i) {
            hr = PutIfAdjacent(info.Get(), from[i], own, direction, distance, to[matches]);
            if (hr == S_OK) ++matches;
        }
    }
    if (SUCCEEDED(hr)) {
        SAFEARRAYBOUND bound{matches, 0};
        hr = SafeArrayRedim(found.get(), &bound);
    }
    if (SUCCEEDED(hr)) *result = found.release();
    return SUCCEEDED(hr) ? S_OK : hr;
}

HRESULT CVirtualCommonBaseControlTranslator::PutIfAdjacent(IRecordInfo* info,
                                                           const VARIANT& candidate,
                                                           const RECT& own, LONG direction,
                                                           LONG distance, VARIANT& match) {
    // Only a record of the control reference type names a control.
    GUID type{};
    if ((V_VT(&candidate) & ~VT_BYREF) != VT_RECORD || candidate.pvRecord == nullptr ||
        candidate.pRecInfo == nullptr || FAILED(candidate.pRecInfo->GetGuid(&type)) ||
        type != kVirtualControlReferenceGuid) {
        return E_INVALIDARG;
    }
    VirtualControlReference other =
        *static_cast<const VirtualControlReference*>(candidate.pvRecord);
    LONG x = 0, y = 0, width = 0, height = 0;
    GetBounds(&other, &x, &y, &width, &height);
    if (!IsAdjacent(own, RECT{x, y, x + width, y + height}, direction, distance)) return S_FALSE;
    void* record = info->RecordCreate();
    if (record == nullptr) return E_OUTOFMEMORY;
    static_cast<VirtualControlReference*>(record)->WindowHandle = other.WindowHandle;
    V_VT(&match) = VT_RECORD;
    match.pvRecord = record;
    match.pRecInfo = info;
    info->AddRef();
    return S_OK;
}

}  // namespace tarnwick
