#include "agent/menubar.h"

#include "agent/clickability.h"

namespace vask {
namespace {

// Submenus deeper than this are not followed: a menu may name one of its own ancestors.
constexpr int kMaxDepth = 16;

struct ItemInfo {
    std::wstring text;  // as PlainItemText gives it; empty for separators and pictures
    HMENU submenu = nullptr;
    UINT id = 0;
    bool checked = false;
    bool disabled = false;
};

ItemInfo ReadItem(HMENU menu, int position) {
    ItemInfo item;
    MENUITEMINFOW info{sizeof info};
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &info) ||
        (info.fType & (MFT_SEPARATOR | MFT_BITMAP | MFT_OWNERDRAW)) != 0 || info.cch == 0) {
        return item;
    }
    std::wstring raw(info.cch + 1, L'\0');
    info.dwTypeData = raw.data();
    info.cch = static_cast<UINT>(raw.size());
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &info)) return item;
    raw.resize(info.cch);
    item.text = PlainItemText(raw);
    item.submenu = info.hSubMenu;
    item.id = info.wID;
    item.checked = (info.fState & MFS_CHECKED) != 0;
    item.disabled = (info.fState & (MFS_DISABLED | MFS_GRAYED)) != 0;
    return item;
}

bool SameText(const std::wstring& a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring Quoted(std::wstring_view text) { return L"\"" + std::wstring(text) + L"\""; }

void AppendItems(HWND window, HMENU menu, const MenuItem& parent, std::vector<MenuItem>& items) {
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        const ItemInfo info = ReadItem(menu, i);
        if (info.text.empty()) continue;
        MenuItem item;
        item.depth = parent.path.empty() ? 0 : parent.depth + 1;
        item.path = parent.path.empty() ? info.text : parent.path + L"/" + info.text;
        item.text = info.text;
        item.checked = info.checked;
        item.disabled = info.disabled;
        item.submenu = info.submenu != nullptr;
        items.push_back(item);
        if (info.submenu != nullptr && item.depth < kMaxDepth) {
            SendMessageW(window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(info.submenu),
                         MAKELPARAM(i, FALSE));
            AppendItems(window, info.submenu, item, items);
        }
    }
}

std::vector<std::wstring_view> Levels(std::wstring_view path) {
    std::vector<std::wstring_view> levels;
    for (size_t start = 0;;) {
        const size_t slash = path.find(L'/', start);
        levels.push_back(
            path.substr(start, slash == std::wstring_view::npos ? slash : slash - start));
        if (slash == std::wstring_view::npos) return levels;
        start = slash + 1;
    }
}

}  // namespace

std::wstring PlainItemText(std::wstring_view text) {
    std::wstring plain;
    for (size_t i = 0; i < text.size() && text[i] != L'\t'; ++i) {
        if (text[i] == L'&' && i + 1 < text.size() && text[i + 1] != L'&') continue;
        if (text[i] == L'&') ++i;  // "&&": one '&'
        plain += text[i];
    }
    return plain;
}

std::wstring MenuBarRefusal(HWND window) {
    if (!IsWindow(window) || GetAncestor(window, GA_ROOT) != window) {
        return L"no top-level window of the application";
    }
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    if (GetMenu(window) == nullptr) return L"the window " + Quoted(title) + L" has no menu bar";
    return {};
}

std::vector<MenuItem> ListMenuBar(HWND window) {
    std::vector<MenuItem> items;
    const HMENU bar = GetMenu(window);
    if (bar == nullptr) return items;
    SendMessageW(window, WM_INITMENU, reinterpret_cast<WPARAM>(bar), 0);
    AppendItems(window, bar, MenuItem{}, items);
    return items;
}

std::wstring MenuWindowUnusable(HWND window) {
    const std::wstring why = WhyUnclickable(window);
    if (why.empty()) return why;
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    // "it is disabled ...": the window itself, named.
    return L"no menu command: the window " + Quoted(title) + why.substr(2);
}

std::wstring ChooseMenuItem(HWND window, std::wstring_view path) {
    HMENU menu = GetMenu(window);
    SendMessageW(window, WM_INITMENU, reinterpret_cast<WPARAM>(menu), 0);
    const std::vector<std::wstring_view> levels = Levels(path);
    std::wstring chosen, where = L"the menu bar";
    for (size_t level = 0; level < levels.size(); ++level) {
        const std::wstring_view wanted = levels[level];
        const std::wstring plainWanted = PlainItemText(wanted);
        const int count = GetMenuItemCount(menu);
        std::wstring names;
        ItemInfo found;
        int position = -1;
        for (int i = 0; i < count && position < 0; ++i) {
            ItemInfo item = ReadItem(menu, i);
            if (item.text.empty()) continue;
            if (SameText(item.text, wanted) || SameText(item.text, plainWanted)) {
                found = std::move(item);
                position = i;
            } else {
                names += (names.empty() ? L"" : L", ") + item.text;
            }
        }
        if (position < 0) {
            return L"no item " + Quoted(wanted) + L" in " + where + L" (its items: " +
                   (names.empty() ? L"none" : names) + L")";
        }
        chosen += (chosen.empty() ? L"" : L"/") + found.text;
        const bool last = level + 1 == levels.size();
        const std::wstring item = L"item " + Quoted(found.text) + L" in " + where;
        if (found.disabled) return item + L" is disabled";
        if (found.submenu != nullptr && last) {
            return item + L" is a submenu: name one of its items after it";
        }
        if (found.submenu == nullptr && !last) return item + L" is a command, not a submenu";
        if (last) {
            // After the menu loop a user's choice arrives as a posted command: the request is
            // answered before a dialog that the command opens holds the thread.
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(found.id, 0), 0);
            return {};
        }
        SendMessageW(window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(found.submenu),
                     MAKELPARAM(position, FALSE));
        menu = found.submenu;
        where = L"menu " + Quoted(chosen);
    }
    return L"no item named";  // not reached: every path has a level
}

}  // namespace vask
