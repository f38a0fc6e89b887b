// WinHelper: click and key requests handed to the process that owns a window, context menus,
// and the mouse helpers that belong to a click.
//
// A request is written into a shared-memory block made for the window's process and handed to
// the window with a registered message; the receiver there performs the input and frees the
// block. A block whose message never reached the window is freed here instead.
#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>

#include <cstdint>
#include <cstring>
#include <cwchar>

#include "messages/sharedmemory.h"
#include "platform/vasklantern.h"
#include "trace/ctraceprovider.h"
#include "winhelper.h"
#include "winhelper/cwinhelperprivateaccess.h"

namespace tarnwick {
namespace {

// {5A5286A8-BB40-4FF0-8762-3100B27E0C64}
constexpr GUID kTraceGuid = {
    0x5a5286a8, 0xbb40, 0x4ff0, {0x87, 0x62, 0x31, 0x00, 0xb2, 0x7e, 0x0c, 0x64}};

enum TracePoint : USHORT {
    kTraceNoBlock = 1,
    kTraceNotDelivered,
    kTraceKeysTooLong,
};

constexpr char kSourceStem[] = "cwinhelper";
constexpr int kKeyTextDestinationSize = 43;

const UINT kClickMessage = RegisterWindowMessageW(L"WM_TW_PERFORMCLICK");
const UINT kKeysMessage = RegisterWindowMessageW(L"WM_TW_SIMULATE_KEYBOARD_INPUT");
// Registered so that both sides agree on the number; a double click travels as a click
// request with a click count of 2, so it is never sent.
[[maybe_unused]] const bool kDoubleClickRegistered =
    RegisterWindowMessageW(L"WM_TW_PERFORMDBLCLICK") != 0;

enum Button : std::int32_t { kLeftButton = 1, kRightButton = 2 };

// The process that owns the window; the current one when that cannot be told.
std::uint32_t TargetProcess(HWND window) {
    DWORD process = 0;
    if (GetWindowThreadProcessId(window, &process) == 0 || process == 0) {
        process = GetCurrentProcessId();
    }
    return process;
}

// Converts `text` (null: empty) into an 8-bit field of 44 bytes, terminated within 43.
void ConvertKeyText(const wchar_t* text, char (&field)[kKeyTextBlockSize]) {
    if (text == nullptr) text = L"";
    // Each character makes at least one byte, so the first 43 fill the field; the rest are
    // not handed over.
    wchar_t head[kKeyTextDestinationSize + 1] = {};
    const size_t length = wcsnlen(text, kKeyTextDestinationSize);
    std::wmemcpy(head, text, length);
    WideCharToChar(head, static_cast<int>(length + 1), field, kKeyTextDestinationSize);
}

// A zero-filled block of `size` bytes for the process, beginning with `count` bytes copied from
// `bytes`; a holder of no block (traced) when none could be made.
CBlockHolder MakeRequestBlock(std::uint32_t processId, std::uint32_t size, const void* bytes,
                              std::uint32_t count, int line) {
    CBlockHolder block;
    const std::span<std::uint8_t> view = block.Allocate(size, {line, kSourceStem}, processId);
    if (view.empty()) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceNoBlock, size, processId);
        return block;
    }
    if (count > 0) std::memcpy(view.data(), bytes, count);
    return block;
}

void SendClickRequest(HWND window, const ClickRequest& request) {
    CBlockHolder block =
        MakeRequestBlock(TargetProcess(window), sizeof request, &request, sizeof request, __LINE__);
    if (block.Get() == 0) return;
    SetLastError(ERROR_SUCCESS);
    const LRESULT answer = SendMessageW(window, kClickMessage, block.Get(), 0);
    if (answer == 0 && GetLastError() == ERROR_INVALID_WINDOW_HANDLE) {
        // No receiver saw the block: it is still ours to free.
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceNotDelivered, window,
              block.Get());
        return;
    }
    block.Release();
}

ClickRequest PointRequest(POINT point, std::int32_t button, std::int32_t clickCount) {
    ClickRequest request{};
    request.x = point.x;
    request.y = point.y;
    request.button = button;
    request.clickCount = clickCount;
    return request;
}

// The centre of a rectangle, each coordinate truncated toward zero.
POINT Centre(const RECT& rect) {
    return {static_cast<LONG>((std::int64_t{rect.left} + rect.right) / 2),
            static_cast<LONG>((std::int64_t{rect.top} + rect.bottom) / 2)};
}

ClickRequest CentreRequest(const RECT& rect, std::int32_t button, std::int32_t clickCount) {
    return PointRequest(Centre(rect), button, clickCount);
}

// The rectangle of a tree item's text; zeros when the tree has none for it (a hidden item).
RECT TreeItemRect(HWND tree, HTREEITEM item) {
    // The message takes the item in the rectangle's first bytes.
    RECT rect{};
    std::memcpy(&rect, &item, sizeof item);
    if (SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&rect)) == 0) {
        rect = RECT{};
    }
    return rect;
}

// Expands the node's ancestors and scrolls it into view, then takes the rectangle of its text;
// false when the centre of that rectangle still lies outside the tree's client area, or the tree
// has none (a node it does not hold): a click there would miss the node.
bool TreeItemRectInView(HWND tree, HTREEITEM item, RECT& rect) {
    WinHelper::EnsureVisible(tree, item);
    rect = TreeItemRect(tree, item);
    RECT client{};
    return !IsRectEmpty(&rect) && GetClientRect(tree, &client) && PtInRect(&client, Centre(rect));
}

// The rectangle of a list-view item's label, where a user clicks it: in a report view the
// centre of the whole row may lie on a sub-item, which selects nothing. Zeros when the item
// has none.
RECT ListItemRect(HWND list, int index) {
    RECT rect{LVIR_LABEL, 0, 0, 0};
    if (SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(&rect)) == 0) {
        rect = RECT{};
    }
    return rect;
}

int ClickTreeItem(HWND tree, HTREEITEM item, Button button, std::int32_t clickCount) {
    RECT rect{};
    if (!TreeItemRectInView(tree, item, rect)) return 0;
    SendClickRequest(tree, CentreRequest(rect, button, clickCount));
    return 1;
}

// Scrolls the item fully into view before its rectangle is taken; 0, and no click, for an
// index that names no item.
int ClickListItem(HWND list, int index, Button button, std::int32_t clickCount) {
    if (!IsListViewItem(list, index)) return 0;
    WinHelper::EnsureListViewItemVisible(list, index);
    SendClickRequest(list, CentreRequest(ListItemRect(list, index), button, clickCount));
    return 1;
}

// WM_CONTEXTMENU at the centre of an item's rectangle, which the message carries in screen
// coordinates.
void OpenContextMenu(HWND control, const RECT& rect) {
    POINT centre = Centre(rect);
    SetFocus(control);
    ClientToScreen(control, &centre);
    SendMessageW(control, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(control),
                 MAKELPARAM(centre.x, centre.y));
}

}  // namespace

// Coordinate clicks.

void WinHelper::PerformClick(HWND window, int x, int y, int button, int clickCount, int skipKeyText,
                             wchar_t* keyText) {
    ClickRequest request = PointRequest({x, y}, button, clickCount);
    if (skipKeyText == 0) {
        request.keyTextIncluded = 1;
        ConvertKeyText(keyText, request.keyText);
    }
    SendClickRequest(window, request);
}

void WinHelper::PerformClick(HWND window, int x, int y, int skipKeyText, wchar_t* keyText) {
    PerformClick(window, x, y, kLeftButton, 1, skipKeyText, keyText);
}

void WinHelper::PerformDoubleClick(HWND window, int x, int y, int skipKeyText, wchar_t* keyText) {
    PerformClick(window, x, y, kLeftButton, 2, skipKeyText, keyText);
}

void WinHelper::PerformRightClick(HWND window, int x, int y, int skipKeyText, wchar_t* keyText) {
    PerformClick(window, x, y, kRightButton, 1, skipKeyText, keyText);
}

// Item clicks.

void WinHelper::GetTreeNodeRect(HWND tree, HTREEITEM item, RECT* out) {
    if (out != nullptr) *out = TreeItemRect(tree, item);
}

void WinHelper::GetListViewItemRect(HWND list, int index, RECT* out) {
    if (out != nullptr) *out = ListItemRect(list, index);
}

int WinHelper::PerformClick(HWND tree, HTREEITEM item) {
    return ClickTreeItem(tree, item, kLeftButton, 1);
}

int WinHelper::PerformDoubleClick(HWND tree, HTREEITEM item) {
    return ClickTreeItem(tree, item, kLeftButton, 2);
}

int WinHelper::PerformRightClick(HWND tree, HTREEITEM item) {
    return ClickTreeItem(tree, item, kRightButton, 1);
}

int WinHelper::ClickListViewItem(HWND list, int index) {
    return ClickListItem(list, index, kLeftButton, 1);
}

int WinHelper::DoubleClickListViewItem(HWND list, int index) {
    return ClickListItem(list, index, kLeftButton, 2);
}

int WinHelper::RightClickListViewItem(HWND list, int index) {
    return ClickListItem(list, index, kRightButton, 1);
}

// Context menus.

int WinHelper::ShowContextMenu(HWND tree, HTREEITEM item) {
    RECT rect{};
    if (!TreeItemRectInView(tree, item, rect)) return 0;
    OpenContextMenu(tree, rect);
    return 1;
}

int WinHelper::ShowListViewItemContextMenu(HWND list, int index) {
    if (!IsListViewItem(list, index)) return 0;
    EnsureListViewItemVisible(list, index);
    SetListViewItemSelected(list, index, 1);
    OpenContextMenu(list, ListItemRect(list, index));
    return 1;
}

// Keys.

void WinHelper::SendKeys(HWND window, wchar_t* keys, wchar_t* keyText) {
    if (keys == nullptr) return;
    const UINT length = SysStringLen(keys);
    const std::uint64_t keysSize = std::uint64_t{length} * sizeof(wchar_t) + sizeof(wchar_t);
    if (keysSize > UINT32_MAX) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceKeysTooLong, window,
              static_cast<std::uint32_t>(length));
        return;
    }
    const std::uint32_t process = TargetProcess(window);
    // The block is zero-filled, so the terminator is already in place.
    CBlockHolder keysBlock = MakeRequestBlock(process, static_cast<std::uint32_t>(keysSize), keys,
                                              length * sizeof(wchar_t), __LINE__);
    if (keysBlock.Get() == 0) return;
    char text[kKeyTextBlockSize] = {};
    ConvertKeyText(keyText, text);
    CBlockHolder textBlock = MakeRequestBlock(process, sizeof text, text, sizeof text, __LINE__);
    if (textBlock.Get() == 0) return;
    if (!PostMessageW(window, kKeysMessage, keysBlock.Get(), textBlock.Get())) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceNotDelivered, window,
              keysBlock.Get());
        return;
    }
    keysBlock.Release();
    textBlock.Release();
}

// Mouse helpers.

void WinHelper::GetMouseMessages(int button, UINT* down, UINT* up, UINT* doubleClick) {
    struct Messages {
        UINT down, up, doubleClick;
    };
    const Messages messages =
        button == MK_RBUTTON   ? Messages{WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK}
        : button == MK_MBUTTON ? Messages{WM_MBUTTONDOWN, WM_MBUTTONUP, WM_MBUTTONDBLCLK}
                               : Messages{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK};
    if (down != nullptr) *down = messages.down;
    if (up != nullptr) *up = messages.up;
    if (doubleClick != nullptr) *doubleClick = messages.doubleClick;
}

void WinHelper::SendMouseActivate(HWND window, UINT mouseMessage) {
    SendMessageW(window, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(GetAncestor(window, GA_ROOT)),
                 MAKELPARAM(HTCLIENT, mouseMessage));
}

void WinHelper::SendParentNotify(HWND window, int x, int y, UINT mouseMessage) {
    if ((GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_NOPARENTNOTIFY) != 0) return;
    for (HWND parent = GetAncestor(window, GA_PARENT); parent != nullptr;
         parent = GetAncestor(parent, GA_PARENT)) {
        POINT point{x, y};
        MapWindowPoints(window, parent, &point, 1);
        SendMessageW(parent, WM_PARENTNOTIFY, LOWORD(mouseMessage), MAKELPARAM(point.x, point.y));
    }
}

}  // namespace tarnwick
