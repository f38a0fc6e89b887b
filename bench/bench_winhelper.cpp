// The items of a report-view list view, a combo box and a tree view, 10,000 each, read through
// WinHelper and by the bare messages into results of the same shape (a BSTR per text, an array
// of variants where WinHelper answers one), timed side by side in rounds of one run on hidden
// controls of a window of this process. Both ways are checked once against the texts the
// controls were filled with, so that neither is timed reading something else.
#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "bench/benchclock.h"
#include "bench/benchreads.h"
#include "bench/carrayelements.h"
#include "winhelper.h"

namespace {

using tarnwick::WinHelper;
using tarnwick::bench::AddControl;
using tarnwick::bench::CArray;
using tarnwick::bench::CArrayElements;
using tarnwick::bench::Now;
using tarnwick::bench::TimeRound;

constexpr int kItems = 10000;
constexpr int kColumns = 3;
constexpr int kRounds = 5;
constexpr int kTextChars = 260;
constexpr const wchar_t* kColumnPrefixes[kColumns] = {L"item ", L"a", L"b"};

struct BstrFree {
    void operator()(BSTR text) const noexcept { SysFreeString(text); }
};
using CBstr = std::unique_ptr<OLECHAR, BstrFree>;

// The texts one way read, in reading order; kept only for the check, null while timing.
using Texts = std::vector<std::wstring>;

void Keep(Texts* seen, const wchar_t* text) {
    if (seen != nullptr) seen->emplace_back(text != nullptr ? text : L"");
}

// Each element's text, or a note naming what stands there instead.
void KeepElements(Texts* seen, SAFEARRAY* array) {
    if (seen == nullptr) return;
    const CArrayElements elements(array);
    if (!elements.IsValid()) {
        seen->emplace_back(L"<not an array of variants>");
        return;
    }
    for (ULONG i = 0; i < elements.Count(); ++i) {
        const VARIANT& element = elements[i];
        if (V_VT(&element) == VT_BSTR) {
            Keep(seen, V_BSTR(&element));
        } else {
            seen->emplace_back(L"<variant type " + std::to_wstring(V_VT(&element)) + L">");
        }
    }
}

// A failure as text for the report, or null when the read went through.
using Failure = const char*;
using Read = Failure (*)(HWND control, Texts* seen);

// List view: the item's text and the texts of all its columns, item by item.

Failure ListViewThroughWinHelper(HWND list, Texts* seen) {
    for (int i = 0; i < kItems; ++i) {
        BSTR rawText = nullptr;
        const int gotText = WinHelper::GetListViewItemText(list, i, &rawText);
        const CBstr text(rawText);
        SAFEARRAY* rawColumns = nullptr;
        const int gotColumns = WinHelper::GetListViewSubItemText(list, i, &rawColumns);
        const CArray columns(rawColumns);
        if (gotText == 0) return "GetListViewItemText answered 0";
        if (gotColumns == 0) return "GetListViewSubItemText answered 0";
        Keep(seen, text.get());
        KeepElements(seen, columns.get());
    }
    return nullptr;
}

// The columns are counted once; the item's text is read once, for its BSTR and for element 0.
Failure ListViewByMessages(HWND list, Texts* seen) {
    const auto header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    const LRESULT columnCount = SendMessageW(header, HDM_GETITEMCOUNT, 0, 0);
    if (columnCount <= 0) return "the list view's header has no columns";
    const auto columns = static_cast<ULONG>(columnCount);
    wchar_t buffer[kTextChars];
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    for (int i = 0; i < kItems; ++i) {
        const CArray row(SafeArrayCreateVector(VT_VARIANT, 0, columns));
        CBstr text;
        {
            const CArrayElements cells(row.get());
            if (!cells.IsValid()) return "no array for a row";
            for (ULONG k = 0; k < columns; ++k) {
                item.iSubItem = static_cast<int>(k);
                item.pszText = buffer;
                item.cchTextMax = kTextChars;
                const auto length = static_cast<UINT>(
                    SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item)));
                // The control may point pszText at its own copy of the text.
                const BSTR cell = SysAllocStringLen(item.pszText, length);
                if (cell == nullptr) return "no BSTR for a cell";
                V_VT(&cells[k]) = VT_BSTR;
                V_BSTR(&cells[k]) = cell;
                if (k == 0) {
                    text.reset(SysAllocStringLen(item.pszText, length));
                    if (!text) return "no BSTR for an item";
                }
            }
        }
        Keep(seen, text.get());
        KeepElements(seen, row.get());
    }
    return nullptr;
}

// Combo box: all item texts in one array.

Failure ComboThroughWinHelper(HWND combo, Texts* seen) {
    SAFEARRAY* raw = nullptr;
    const int got = WinHelper::GetComboItems(combo, &raw);
    const CArray items(raw);
    if (got == 0) return "GetComboItems answered 0";
    KeepElements(seen, items.get());
    return nullptr;
}

// Each text is fetched straight into its BSTR, which has room for the terminating null.
Failure ComboByMessages(HWND combo, Texts* seen) {
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    if (count < 0) return "CB_GETCOUNT failed";
    const CArray items(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count)));
    {
        const CArrayElements elements(items.get());
        if (!elements.IsValid()) return "no array for the items";
        for (LRESULT i = 0; i < count; ++i) {
            const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, i, 0);
            if (length < 0) return "CB_GETLBTEXTLEN failed";
            CBstr text(SysAllocStringLen(nullptr, static_cast<UINT>(length)));
            if (!text) return "no BSTR for an item";
            if (SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.get())) !=
                length) {
                return "CB_GETLBTEXT answered another length";
            }
            V_VT(&elements[static_cast<ULONG>(i)]) = VT_BSTR;
            V_BSTR(&elements[static_cast<ULONG>(i)]) = text.release();
        }
    }
    KeepElements(seen, items.get());
    return nullptr;
}

// Tree view: the top-level items as an array of their handles, then the text of each.

Failure TreeThroughWinHelper(HWND tree, Texts* seen) {
    SAFEARRAY* raw = nullptr;
    const int got = WinHelper::GetChildren(tree, nullptr, &raw);
    const CArray children(raw);
    if (got == 0) return "GetChildren answered 0";
    const CArrayElements nodes(children.get());
    if (!nodes.IsValid()) return "GetChildren answered no array of variants";
    for (ULONG i = 0; i < nodes.Count(); ++i) {
        if (V_VT(&nodes[i]) != VT_I8) return "GetChildren answered an element that is not VT_I8";
        const auto node = reinterpret_cast<HTREEITEM>(static_cast<INT_PTR>(V_I8(&nodes[i])));
        BSTR rawText = nullptr;
        const int gotText = WinHelper::GetNodeText(tree, node, &rawText);
        const CBstr text(rawText);
        if (gotText == 0) return "GetNodeText answered 0";
        Keep(seen, text.get());
    }
    return nullptr;
}

// The siblings are walked once, into a list that also serves the text reads.
Failure TreeByMessages(HWND tree, Texts* seen) {
    std::vector<HTREEITEM> nodes;
    for (auto node = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
         node != nullptr; node = reinterpret_cast<HTREEITEM>(SendMessageW(
                              tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(node)))) {
        nodes.push_back(node);
    }
    const CArray children(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(nodes.size())));
    {
        const CArrayElements elements(children.get());
        if (!elements.IsValid()) return "no array for the children";
        for (ULONG i = 0; i < elements.Count(); ++i) {
            V_VT(&elements[i]) = VT_I8;
            V_I8(&elements[i]) = reinterpret_cast<INT_PTR>(nodes[i]);
        }
    }
    wchar_t buffer[kTextChars];
    TVITEMW item{};
    item.mask = TVIF_TEXT;
    for (const HTREEITEM node : nodes) {
        item.hItem = node;
        item.pszText = buffer;
        item.cchTextMax = kTextChars;
        if (SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) == 0) {
            return "TVM_GETITEMW failed";
        }
        const CBstr text(SysAllocString(item.pszText));
        if (!text) return "no BSTR for a node";
        Keep(seen, text.get());
    }
    return nullptr;
}

// The controls and what they are filled with.

std::wstring Numbered(const wchar_t* prefix, int number) {
    return prefix + std::to_wstring(number);
}

bool FillListView(HWND list, Texts* expected) {
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    for (int k = 0; k < kColumns; ++k) {
        std::wstring title = Numbered(L"column ", k);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.cx = 100;
        column.pszText = title.data();
        if (SendMessageW(list, LVM_INSERTCOLUMNW, k, reinterpret_cast<LPARAM>(&column)) != k) {
            return false;
        }
    }
    SendMessageW(list, LVM_SETITEMCOUNT, kItems, 0);
    for (int i = 0; i < kItems; ++i) {
        std::wstring texts[kColumns];
        for (int k = 0; k < kColumns; ++k) texts[k] = Numbered(kColumnPrefixes[k], i);
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = texts[0].data();
        if (SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)) != i) {
            return false;
        }
        for (int k = 1; k < kColumns; ++k) {
            item.iSubItem = k;
            item.pszText = texts[k].data();
            if (SendMessageW(list, LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item)) == 0) {
                return false;
            }
        }
        // The item's own text, then every column's.
        expected->push_back(texts[0]);
        for (int k = 0; k < kColumns; ++k) expected->push_back(texts[k]);
    }
    return true;
}

bool FillCombo(HWND combo, Texts* expected) {
    SendMessageW(combo, CB_INITSTORAGE, kItems, kItems * 16 * sizeof(wchar_t));
    for (int i = 0; i < kItems; ++i) {
        expected->push_back(Numbered(L"combo ", i));
        if (SendMessageW(combo, CB_ADDSTRING, 0,
                         reinterpret_cast<LPARAM>(expected->back().c_str())) != i) {
            return false;
        }
    }
    return true;
}

bool FillTree(HWND tree, Texts* expected) {
    SendMessageW(tree, WM_SETREDRAW, FALSE, 0);
    for (int i = 0; i < kItems; ++i) {
        expected->push_back(Numbered(L"node ", i));
        TVINSERTSTRUCTW insert{};
        insert.hParent = TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT;
        insert.item.pszText = expected->back().data();
        if (SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)) == 0) {
            return false;
        }
    }
    return true;
}

struct Control {
    const char* name;
    const char* what;
    HWND window;
    Read throughWinHelper;
    Read byMessages;
    Texts expected;
    double bestWinHelper = std::numeric_limits<double>::infinity();
    double bestMessages = std::numeric_limits<double>::infinity();
};

// Reads once the one way, keeping the texts, and reports the first that differs from what the
// control was filled with.
bool Check(const Control& control, const char* way, Read read) {
    Texts seen;
    if (const Failure failure = read(control.window, &seen)) {
        std::printf("winhelper: %s, %s: %s\n", control.name, way, failure);
        return false;
    }
    const std::string difference = tarnwick::bench::Difference(seen, control.expected);
    if (difference.empty()) return true;
    std::printf("winhelper: %s, %s: %s\n", control.name, way, difference.c_str());
    return false;
}

// Milliseconds for one read; negative when it failed, after reporting why.
double Time(const Control& control, const char* way, Read read) {
    const double start = Now();
    const Failure failure = read(control.window, nullptr);
    const double elapsed = (Now() - start) / 1000;
    if (failure == nullptr) return elapsed;
    std::printf("winhelper: %s, %s: %s\n", control.name, way, failure);
    return -1;
}

}  // namespace

int main() {
    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES |
                                                                         ICC_TREEVIEW_CLASSES |
                                                                         ICC_STANDARD_CLASSES};
    if (!InitCommonControlsEx(&classes)) {
        std::printf("winhelper: InitCommonControlsEx failed\n");
        return 1;
    }
    const tarnwick::bench::CWindow host =
        tarnwick::bench::CreateControlHost(L"TarnwickBenchWinHelperHost");
    if (!host) {
        std::printf("winhelper: no host window\n");
        return 1;
    }

    Control controls[] = {
        {"list view", "item text and 3 column texts of 10,000 items",
         AddControl(host.get(), WC_LISTVIEWW, LVS_REPORT, 1), ListViewThroughWinHelper,
         ListViewByMessages},
        {"combo box", "10,000 item texts",
         AddControl(host.get(), WC_COMBOBOXW, CBS_DROPDOWNLIST | WS_VSCROLL, 2),
         ComboThroughWinHelper, ComboByMessages},
        {"tree view", "10,000 root items and their texts",
         AddControl(host.get(), WC_TREEVIEWW, TVS_HASLINES, 3), TreeThroughWinHelper,
         TreeByMessages},
    };
    if (!FillListView(controls[0].window, &controls[0].expected) ||
        !FillCombo(controls[1].window, &controls[1].expected) ||
        !FillTree(controls[2].window, &controls[2].expected)) {
        std::printf("winhelper: a control could not be made or filled\n");
        return 1;
    }
    // Checked once; this also warms both ways up.
    for (const Control& control : controls) {
        if (!Check(control, "WinHelper", control.throughWinHelper) ||
            !Check(control, "bare messages", control.byMessages)) {
            return 1;
        }
    }

    // Rounds alternate which way goes first; each way keeps its best round.
    for (int round = 0; round < kRounds; ++round) {
        for (Control& control : controls) {
            if (!TimeRound(
                    round, [&] { return Time(control, "WinHelper", control.throughWinHelper); },
                    [&] { return Time(control, "bare messages", control.byMessages); },
                    control.bestWinHelper, control.bestMessages)) {
                return 1;
            }
        }
    }

    // The totals add up each control's best rounds.
    double totalWinHelper = 0, totalMessages = 0;
    for (const Control& control : controls) {
        std::printf("%s (%s): WinHelper %.2f ms, bare messages %.2f ms, ratio %.2f\n", control.name,
                    control.what, control.bestWinHelper, control.bestMessages,
                    control.bestWinHelper / control.bestMessages);
        totalWinHelper += control.bestWinHelper;
        totalMessages += control.bestMessages;
    }
    std::printf(
        "winhelper: ratio %.2f (WinHelper over bare messages: list view items and sub-items, "
        "combo items, tree children and texts, 10,000 each)\n",
        totalWinHelper / totalMessages);
    return 0;
}
