#include "ccontrollisting.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <vector>

#include "cvaluetext.h"
#include "cwindowfinder.h"

namespace tarnwick::host {
namespace {

constexpr wchar_t kNone[] = L"-";

// One line of the listing: a control, or (kind empty) a window without a translator.
struct Row {
    const Control* control = nullptr;
    HWND window = nullptr;
    std::wstring className;
    LONG id = 0;
    std::wstring text;
    bool hidden = false;
};

Row ControlRow(const Control& control) {
    return {&control, reinterpret_cast<HWND>(control.window), control.className, control.id,
            control.text, control.hidden};
}

Row WindowRow(HWND window) {
    return {nullptr, window, CWindowFinder::ClassOf(window), GetDlgCtrlID(window),
            CWindowFinder::Text(window), !IsWindowVisible(window)};
}

// The top-level windows to list under, in the table's order.
std::vector<HWND> Tops(const CControlTable& table, bool all, DWORD processId, HWND scope) {
    std::vector<HWND> tops;
    const auto add = [&](HWND top) {
        if (std::find(tops.begin(), tops.end(), top) == tops.end()) tops.push_back(top);
    };
    for (const Control& control : table.Controls()) add(reinterpret_cast<HWND>(control.top));
    if (all && scope != nullptr) add(scope);
    if (all && scope == nullptr) {
        for (const TopWindow& top : CWindowFinder::Visible(processId)) add(top.window);
    }
    return tops;
}

std::vector<Row> Rows(const CControlTable& table, HWND top, bool all) {
    std::vector<Row> rows;
    if (all) {
        for (HWND window : CWindowFinder::Descendants(top)) {
            const Control* control = table.FindWindow(reinterpret_cast<std::uint64_t>(window));
            rows.push_back(control != nullptr ? ControlRow(*control) : WindowRow(window));
        }
        return rows;
    }
    for (const Control& control : table.Controls()) {
        if (reinterpret_cast<HWND>(control.top) == top) rows.push_back(ControlRow(control));
    }
    return rows;
}

}  // namespace

void CControlListing::Print(COutput& out, const CControlTable& table, ListingOptions options,
                            DWORD processId, HWND scope) {
    std::vector<std::pair<HWND, std::vector<Row>>> groups;
    int nameWidth = 1, classWidth = 0, typeWidth = 1;
    for (HWND top : Tops(table, options.all, processId, scope)) {
        groups.emplace_back(top, Rows(table, top, options.all));
        for (const Row& row : groups.back().second) {
            nameWidth =
                std::max(nameWidth, row.control ? static_cast<int>(row.control->name.size()) : 1);
            classWidth = std::max(classWidth, static_cast<int>(row.className.size()));
            typeWidth = std::max(typeWidth,
                                 row.control ? static_cast<int>(row.control->typeName.size()) : 1);
        }
    }
    for (const auto& [top, rows] : groups) {
        const std::wstring title = CWindowFinder::Text(top);
        out.Line(L"window " + CValueText::Quote(title),
                 CJsonObject()
                     .AddText("command", L"list")
                     .AddText("top", CValueText::Hex(top))
                     .AddText("title", title));
        for (const Row& row : rows) {
            std::wstring handle = options.handles ? CValueText::Hex(row.window) : L"";
            if (options.handles) handle.resize(std::max<size_t>(handle.size(), 10) + 2, L' ');
            const std::wstring& name = row.control ? row.control->name : kNone;
            const std::wstring& kind = row.control ? row.control->typeName : kNone;
            wchar_t line[512] = {};
            std::swprintf(line, std::size(line), L"  %-*ls  %ls%-*ls  #%-5ld  %-*ls  ", nameWidth,
                          name.c_str(), handle.c_str(), classWidth, row.className.c_str(),
                          static_cast<long>(row.id), typeWidth, kind.c_str());
            out.Line(line + CValueText::Quote(row.text) + (row.hidden ? L"  (hidden)" : L""),
                     CJsonObject()
                         .AddText("command", L"list")
                         .Add("control", row.control ? Json(Utf8(name)) : Json(nullptr))
                         .AddText("window", CValueText::Hex(row.window))
                         .AddText("parent", CValueText::Hex(GetAncestor(row.window, GA_PARENT)))
                         .AddText("top", CValueText::Hex(top))
                         .AddText("class", row.className)
                         .Add("controlId", row.id)
                         .Add("kind", row.control ? Json(Utf8(kind)) : Json(nullptr))
                         .AddText("text", row.text)
                         .Add("hidden", row.hidden));
        }
    }
}

}  // namespace tarnwick::host
