#include "agent/windowpicture.h"

#include <cstdint>
#include <cwchar>
#include <memory>
#include <new>
#include <vector>

#include "standins/common/debugtrace.h"
#include "agent/pngfile.h"

namespace vask {
namespace {

constexpr wchar_t kComponent[] = L"WindowPicture";
constexpr int kMaxSide = 8192;

// A 32-bit top-down DIB section selected into a memory DC of its own, for drawing and reading.
class CBitmapCanvas {
  public:
    CBitmapCanvas(int width, int height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;  // negative: the first row is the top one
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(nullptr);
        if (dc_ == nullptr) return;
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bitmap_ == nullptr) return;
        previous_ = SelectObject(dc_, bitmap_);
        if (previous_ != nullptr && previous_ != HGDI_ERROR)
            bits_ = static_cast<std::uint32_t*>(bits);
    }
    CBitmapCanvas(const CBitmapCanvas&) = delete;
    CBitmapCanvas& operator=(const CBitmapCanvas&) = delete;
    ~CBitmapCanvas() {
        if (bits_ != nullptr) SelectObject(dc_, previous_);
        if (bitmap_ != nullptr) DeleteObject(bitmap_);
        if (dc_ != nullptr) DeleteDC(dc_);
    }

    bool IsValid() const { return bits_ != nullptr; }
    HDC Dc() const { return dc_; }
    // Each pixel 0x00RRGGBB, row after row; valid once GDI has finished drawing (GdiFlush).
    const std::uint32_t* Pixels() const { return bits_; }

  private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    std::uint32_t* bits_ = nullptr;
};

// Places of one window in picture coordinates: the top-left corner of the pictured window's
// frame is (0, 0).
struct WindowPlace {
    RECT frame;
    RECT client;
    RECT menuBar;  // empty when the window has none
};

WindowPlace PlaceOf(HWND window, POINT pictureOrigin) {
    WindowPlace place{};
    GetWindowRect(window, &place.frame);
    OffsetRect(&place.frame, -pictureOrigin.x, -pictureOrigin.y);
    POINT clientOrigin{0, 0};
    ClientToScreen(window, &clientOrigin);
    GetClientRect(window, &place.client);
    OffsetRect(&place.client, clientOrigin.x - pictureOrigin.x, clientOrigin.y - pictureOrigin.y);
    MENUBARINFO bar{sizeof bar};
    if ((GetWindowLongPtrW(window, GWL_STYLE) & WS_CHILD) == 0 && GetMenu(window) != nullptr &&
        GetMenuBarInfo(window, OBJID_MENU, 0, &bar)) {
        place.menuBar = bar.rcBar;
        OffsetRect(&place.menuBar, -pictureOrigin.x, -pictureOrigin.y);
    }
    return place;
}

// The frame and caption, drawn from the styles: a window's own non-client painting goes to the
// screen, and WM_PRINT does not reproduce it everywhere.
void PaintFrame(HDC dc, HWND window, const WindowPlace& place, const RECT& clip) {
    if (EqualRect(&place.frame, &place.client)) return;
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, clip.left, clip.top, clip.right, clip.bottom);
    RECT edge = place.frame;
    FillRect(dc, &edge, GetSysColorBrush(COLOR_3DFACE));
    if ((style & (WS_DLGFRAME | WS_THICKFRAME)) != 0) {
        DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT);
    } else if ((exStyle & WS_EX_CLIENTEDGE) != 0) {
        DrawEdge(dc, &edge, EDGE_SUNKEN, BF_RECT);
    } else if ((style & WS_BORDER) != 0) {
        FrameRect(dc, &edge, GetSysColorBrush(COLOR_WINDOWFRAME));
    }
    if ((style & WS_CAPTION) == WS_CAPTION) {
        const int border = place.client.left - place.frame.left;
        // Between the frame and the menu bar, or the client area when there is none.
        const LONG bottom = IsRectEmpty(&place.menuBar) ? place.client.top : place.menuBar.top;
        RECT caption{place.frame.left + border, place.frame.top + border,
                     place.frame.right - border, bottom};
        // Always drawn active, so that focus elsewhere does not change the picture.
        if (caption.bottom > caption.top) DrawCaption(window, dc, &caption, DC_ACTIVE | DC_TEXT);
    }
    RestoreDC(dc, saved);
}

struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const noexcept { DeleteObject(object); }
};
using UniqueGdiObject = std::unique_ptr<void, GdiObjectDeleter>;

// The menu bar of a top-level window, drawn from its items: the system draws it only onto the
// screen. Each item's text (its '&' underlines the next letter, no accelerator) in the menu
// font, gray for a disabled item, within the item's own rectangle.
void PaintMenuBar(HDC dc, HWND window, const WindowPlace& place, POINT pictureOrigin,
                  const RECT& clip) {
    const HMENU menu = GetMenu(window);
    if (menu == nullptr || IsRectEmpty(&place.menuBar)) return;
    NONCLIENTMETRICSW metrics{sizeof metrics};
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return;
    const UniqueGdiObject font(CreateFontIndirectW(&metrics.lfMenuFont));
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, clip.left, clip.top, clip.right, clip.bottom);
    FillRect(dc, &place.menuBar, GetSysColorBrush(COLOR_MENU));
    if (font != nullptr) SelectObject(dc, font.get());
    SetBkMode(dc, TRANSPARENT);
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        RECT item{};
        if (GetMenuStringW(menu, static_cast<UINT>(i), text, 256, MF_BYPOSITION) <= 0 ||
            !GetMenuItemRect(window, menu, static_cast<UINT>(i), &item)) {
            continue;
        }
        if (wchar_t* tab = wcschr(text, L'\t')) *tab = L'\0';
        OffsetRect(&item, -pictureOrigin.x, -pictureOrigin.y);
        const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
        SetTextColor(dc, GetSysColor((state & (MF_GRAYED | MF_DISABLED)) != 0 ? COLOR_GRAYTEXT
                                                                              : COLOR_MENUTEXT));
        DrawTextW(dc, text, -1, &item, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
    }
    RestoreDC(dc, saved);
}

// The window paints its client area into a bitmap of that size, which starts as what lies
// beneath it; the part within clip is copied into the picture.
bool PaintClient(HDC dc, HWND window, const WindowPlace& place, const RECT& clip) {
    const int width = place.client.right - place.client.left;
    const int height = place.client.bottom - place.client.top;
    RECT visible{};
    if (width <= 0 || height <= 0 || !IntersectRect(&visible, &place.client, &clip)) return true;
    CBitmapCanvas own(width, height);
    if (!own.IsValid()) return false;
    BitBlt(own.Dc(), 0, 0, width, height, dc, place.client.left, place.client.top, SRCCOPY);
    SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(own.Dc()), 0);
    SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(own.Dc()),
                 PRF_CLIENT | PRF_ERASEBKGND);
    return BitBlt(dc, visible.left, visible.top, visible.right - visible.left,
                  visible.bottom - visible.top, own.Dc(), visible.left - place.client.left,
                  visible.top - place.client.top, SRCCOPY) != FALSE;
}

// The window, then its visible children from the bottom of the z-order up, each within its
// parent's client area.
bool PaintWindow(HDC dc, HWND window, POINT pictureOrigin, const RECT& clip) {
    const WindowPlace place = PlaceOf(window, pictureOrigin);
    PaintFrame(dc, window, place, clip);
    PaintMenuBar(dc, window, place, pictureOrigin, clip);
    if (!PaintClient(dc, window, place, clip)) return false;
    RECT childClip{};
    if (!IntersectRect(&childClip, &place.client, &clip)) return true;
    std::vector<HWND> children;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        const bool visible = (GetWindowLongPtrW(*it, GWL_STYLE) & WS_VISIBLE) != 0;
        if (visible && !PaintWindow(dc, *it, pictureOrigin, childClip)) return false;
    }
    return true;
}

std::vector<std::uint32_t> PixelsOf(const CBitmapCanvas& canvas, int width, int height) {
    const std::uint32_t* first = canvas.Pixels();
    return std::vector<std::uint32_t>(first, first + static_cast<size_t>(width) * height);
}

}  // namespace

bool SaveWindowPicture(HWND window, const wchar_t* path) {
    RECT frame{};
    if (path == nullptr || !IsWindow(window) || !GetWindowRect(window, &frame)) {
        DebugTrace(kComponent, L"no window %p or no path", static_cast<void*>(window));
        return false;
    }
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) {
        DebugTrace(kComponent, L"window %p is %dx%d: nothing to picture",
                   static_cast<void*>(window), width, height);
        return false;
    }
    try {
        CBitmapCanvas canvas(width, height);
        const RECT whole{0, 0, width, height};
        if (!canvas.IsValid() ||
            !PaintWindow(canvas.Dc(), window, POINT{frame.left, frame.top}, whole)) {
            DebugTrace(kComponent, L"window %p: no bitmap to paint into",
                       static_cast<void*>(window));
            return false;
        }
        GdiFlush();
        return WritePngFile(path, static_cast<std::uint32_t>(width),
                            static_cast<std::uint32_t>(height), PixelsOf(canvas, width, height));
    } catch (const std::bad_alloc&) {
        DebugTrace(kComponent, L"window %p: out of memory", static_cast<void*>(window));
        return false;
    }
}

}  // namespace vask
