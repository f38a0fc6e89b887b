#include "agent/clickability.h"

namespace vask {
namespace {

std::wstring Title(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return L"\"" + std::wstring(text) + L"\"";
}

// The first visible, enabled window that `owner` owns: the modal window that keeps it disabled.
HWND OpenOwned(HWND owner) {
    struct Search {
        HWND owner;
        HWND found;
    } search{owner, nullptr};
    EnumThreadWindows(
        GetWindowThreadProcessId(owner, nullptr),
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            if (GetWindow(window, GW_OWNER) != s->owner || !IsWindowVisible(window) ||
                !IsWindowEnabled(window)) {
                return TRUE;
            }
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

std::wstring WhyUnclickable(HWND window) {
    if (!IsWindow(window)) return L"it is no window";
    const HWND desktop = GetDesktopWindow();
    for (HWND at = window; at != nullptr && at != desktop; at = GetAncestor(at, GA_PARENT)) {
        const auto style = static_cast<DWORD>(GetWindowLongPtrW(at, GWL_STYLE));
        const bool top = (style & WS_CHILD) == 0;
        // Named only for a refusal: a title is a message to the window.
        const auto who = [&] {
            return at == window ? std::wstring(L"it")
                   : top        ? L"its window " + Title(at)
                                : L"its parent " + Title(at);
        };
        if ((style & WS_VISIBLE) == 0) return who() + L" is hidden";
        if ((style & WS_DISABLED) != 0) {
            const HWND modal = top ? OpenOwned(at) : nullptr;
            return who() + L" is disabled" +
                   (modal != nullptr ? L" while " + Title(modal) + L" is open" : L"");
        }
        if (top) break;
    }
    return {};
}

}  // namespace vask
