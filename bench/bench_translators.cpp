// Reading through the control translators against the same WinHelper calls, timed side by side
// in alternating rounds of one run (best round of each way) on hidden controls of a window of
// this process:
//   tree       IVirtualTreeView::GetChildren of the top level of a tree of 10,000 root nodes
//              (VT_RECORD node references) against WinHelper::GetChildren (VT_I8 handles)
//   list view  IVirtualListView::GetListViewSubItemText of each of 10,000 items of 5 columns
//              against WinHelper::GetListViewSubItemText
// The translators come from the factory as a host gets them and are called early-bound through
// their interfaces. Both ways are checked once against what the controls hold, so that neither
// is timed reading something else.
#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Tarnwick.Virtual.Interfaces.h"
#include "bench/benchclock.h"
#include "bench/benchreads.h"
#include "bench/carrayelements.h"
#include "cbstrholder.h"
#include "translatorfactory.h"
#include "translators/ctarnwickiunknownwrapper.h"
#include "translators/cvirtualcontroltranslator.h"
#include "winhelper.h"

namespace tarnwick::bench {
namespace {

using Microsoft::WRL::ComPtr;
using Translator = CTarnwickIUnknownWrapper<CVirtualControlTranslator>;

constexpr int kNodes = 10000;
constexpr int kItems = 10000;
constexpr int kColumns = 5;
constexpr int kRounds = 7;

// COM for this thread, as a host has it while it calls translators.
class CApartment {
  public:
    CApartment() : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    CApartment(const CApartment&) = delete;
    CApartment& operator=(const CApartment&) = delete;
    ~CApartment() {
        if (initialized_) CoUninitialize();
    }
    bool Initialized() const { return initialized_; }

  private:
    bool initialized_;
};

// What one way read, element by element in reading order; kept only for the check, null while
// timing. Handles are kept as hexadecimal text.
using Values = std::vector<std::wstring>;
// Empty when the read went through, else what failed.
using Failure = std::string;

std::wstring Hex(__int64 value) {
    wchar_t text[24] = {};
    std::swprintf(text, std::size(text), L"%llX", static_cast<unsigned long long>(value));
    return text;
}

std::wstring Note(const VARIANT& element) {
    return L"<variant type " + std::to_wstring(V_VT(&element)) + L">";
}

std::wstring TextOf(const VARIANT& element) {
    if (V_VT(&element) != VT_BSTR) return Note(element);
    return V_BSTR(&element) != nullptr ? V_BSTR(&element) : L"";
}

std::wstring HandleOf(const VARIANT& element) {
    return V_VT(&element) == VT_I8 ? Hex(V_I8(&element)) : Note(element);
}

// A node reference record: its handle, when the record is described as one.
std::wstring NodeOf(const VARIANT& element) {
    if (V_VT(&element) != VT_RECORD) return Note(element);
    IRecordInfo* info = V_RECORDINFO(&element);
    CBstrHolder name;
    ULONG size = 0;
    if (V_RECORD(&element) == nullptr || info == nullptr || FAILED(info->GetSize(&size)) ||
        size != sizeof(VirtualTreeNodeReference) || FAILED(info->GetName(&name.GetBSTR())) ||
        std::wstring_view(name.Get(), name.Length()) != L"VirtualTreeNodeReference") {
        return L"<not a node reference record>";
    }
    return Hex(static_cast<const VirtualTreeNodeReference*>(V_RECORD(&element))->ItemHandle);
}

void KeepElements(Values* seen, SAFEARRAY* array, std::wstring (*value)(const VARIANT&)) {
    if (seen == nullptr) return;
    const CArrayElements elements(array);
    if (!elements.IsValid()) {
        seen->emplace_back(L"<not an array of variants>");
        return;
    }
    for (ULONG i = 0; i < elements.Count(); ++i) seen->push_back(value(elements[i]));
}

Failure Refused(const char* what, HRESULT hr) {
    char text[96];
    std::snprintf(text, sizeof text, "%s answered 0x%08lX", what, static_cast<unsigned long>(hr));
    return text;
}

// The controls and the translators' interfaces on them.
struct Targets {
    HWND tree = nullptr;
    HWND list = nullptr;
    ComPtr<IVirtualTreeView> treeView;
    ComPtr<IVirtualListView> listView;
};

VirtualControlReference ReferenceOf(HWND window) {
    return {static_cast<__int64>(reinterpret_cast<INT_PTR>(window))};
}

// Tree: the top level's children in one array.

Failure TreeThroughTranslator(Targets& targets, Values* seen) {
    VirtualControlReference reference = ReferenceOf(targets.tree);
    VirtualTreeNodeReference topLevel{0};
    SAFEARRAY* raw = nullptr;
    const HRESULT hr = targets.treeView->GetChildren(&reference, &topLevel, &raw);
    const CArray children(raw);
    if (FAILED(hr)) return Refused("IVirtualTreeView::GetChildren", hr);
    KeepElements(seen, children.get(), NodeOf);
    return {};
}

Failure TreeThroughWinHelper(Targets& targets, Values* seen) {
    SAFEARRAY* raw = nullptr;
    const int got = WinHelper::GetChildren(targets.tree, nullptr, &raw);
    const CArray children(raw);
    if (got == 0) return "WinHelper::GetChildren answered 0";
    KeepElements(seen, children.get(), HandleOf);
    return {};
}

// List view: every item's column texts, item by item.

Failure ListThroughTranslator(Targets& targets, Values* seen) {
    VirtualControlReference reference = ReferenceOf(targets.list);
    for (LONG i = 0; i < kItems; ++i) {
        SAFEARRAY* raw = nullptr;
        const HRESULT hr = targets.listView->GetListViewSubItemText(&reference, i, &raw);
        const CArray texts(raw);
        if (FAILED(hr)) return Refused("IVirtualListView::GetListViewSubItemText", hr);
        KeepElements(seen, texts.get(), TextOf);
    }
    return {};
}

Failure ListThroughWinHelper(Targets& targets, Values* seen) {
    for (int i = 0; i < kItems; ++i) {
        SAFEARRAY* raw = nullptr;
        const int got = WinHelper::GetListViewSubItemText(targets.list, i, &raw);
        const CArray texts(raw);
        if (got == 0) return "WinHelper::GetListViewSubItemText answered 0";
        KeepElements(seen, texts.get(), TextOf);
    }
    return {};
}

// The controls and what they hold.

bool FillTree(HWND tree) {
    SendMessageW(tree, WM_SETREDRAW, FALSE, 0);
    for (int i = 0; i < kNodes; ++i) {
        std::wstring text = L"node " + std::to_wstring(i);
        TVINSERTSTRUCTW insert{};
        insert.hParent = TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT;
        insert.item.pszText = text.data();
        if (SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)) == 0) {
            return false;
        }
    }
    return true;
}

// The top level as the tree itself walks it.
Values TopLevelHandles(HWND tree) {
    Values handles;
    for (LRESULT node = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0); node != 0;
         node = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, node)) {
        handles.push_back(Hex(node));
    }
    return handles;
}

std::wstring CellText(int item, int column) {
    return (column == 0 ? L"item " : L"cell " + std::to_wstring(column) + L" of ") +
           std::to_wstring(item);
}

// Fills the list and answers every cell's text, item by item.
Values FillList(HWND list) {
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    for (int k = 0; k < kColumns; ++k) {
        std::wstring title = L"column " + std::to_wstring(k);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.cx = 80;
        column.pszText = title.data();
        if (SendMessageW(list, LVM_INSERTCOLUMNW, k, reinterpret_cast<LPARAM>(&column)) != k) {
            return {};
        }
    }
    SendMessageW(list, LVM_SETITEMCOUNT, kItems, 0);
    Values cells;
    for (int i = 0; i < kItems; ++i) {
        for (int k = 0; k < kColumns; ++k) {
            cells.push_back(CellText(i, k));
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = i;
            item.iSubItem = k;
            item.pszText = cells.back().data();
            const LRESULT put =
                k == 0 ? SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item))
                       : SendMessageW(list, LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
            if (put != (k == 0 ? i : TRUE)) return {};
        }
    }
    return cells;
}

// The kind's interface on the translator that the factory gives the window; null when there is
// none, after saying why in `why`.
template <typename Interface>
ComPtr<Interface> TranslatorInterface(HWND window, std::string& why) {
    bool created = false;
    Translator* translator = GetCommonControlTranslator(window, &created, nullptr, nullptr);
    if (translator == nullptr) {
        why = "the factory gives the window no translator";
        return nullptr;
    }
    ComPtr<Interface> view;
    IVirtualControl* control = translator;
    const HRESULT hr =
        control->QueryInterface(__uuidof(Interface), reinterpret_cast<void**>(view.GetAddressOf()));
    if (FAILED(hr)) why = Refused("QueryInterface", hr);
    return view;
}

// One part: the two ways to read the same thing, what each must read, and each one's best
// round in milliseconds.
using Read = Failure (*)(Targets& targets, Values* seen);

struct Part {
    const char* name;
    const char* what;
    Read throughTranslator;
    Read throughWinHelper;
    Values expected;
    double bestTranslator = std::numeric_limits<double>::infinity();
    double bestWinHelper = std::numeric_limits<double>::infinity();
};

// Reads once the one way and reports the first value that differs from what was expected.
bool Check(const Part& part, const char* way, Read read, Targets& targets) {
    Values seen;
    if (const Failure failure = read(targets, &seen); !failure.empty()) {
        std::printf("translators: %s, %s: %s\n", part.name, way, failure.c_str());
        return false;
    }
    const std::string difference = Difference(seen, part.expected);
    if (difference.empty()) return true;
    std::printf("translators: %s, %s: %s\n", part.name, way, difference.c_str());
    return false;
}

// Milliseconds for one read; negative when it failed, after reporting why.
double Time(const Part& part, const char* way, Read read, Targets& targets) {
    const double start = Now();
    const Failure failure = read(targets, nullptr);
    const double elapsed = (Now() - start) / 1000;
    if (failure.empty()) return elapsed;
    std::printf("translators: %s, %s: %s\n", part.name, way, failure.c_str());
    return -1;
}

// Rounds alternate which way goes first; each way keeps its best round.
bool Measure(std::vector<Part>& parts, Targets& targets) {
    for (int round = 0; round < kRounds; ++round) {
        for (Part& part : parts) {
            if (!TimeRound(
                    round,
                    [&] { return Time(part, "translator", part.throughTranslator, targets); },
                    [&] { return Time(part, "WinHelper", part.throughWinHelper, targets); },
                    part.bestTranslator, part.bestWinHelper)) {
                return false;
            }
        }
    }
    return true;
}

int Run() {
    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX),
                                       ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
    const CApartment apartment;
    if (!InitCommonControlsEx(&classes) || !apartment.Initialized()) {
        std::printf("translators: no common controls or no COM\n");
        return 1;
    }
    const CWindow host = CreateControlHost(L"TarnwickBenchTranslatorsHost");
    Targets targets;
    targets.tree = host ? AddControl(host.get(), WC_TREEVIEWW, TVS_HASLINES, 1) : nullptr;
    targets.list = host ? AddControl(host.get(), WC_LISTVIEWW, LVS_REPORT, 2) : nullptr;
    Values cells = targets.list != nullptr ? FillList(targets.list) : Values{};
    if (targets.tree == nullptr || !FillTree(targets.tree) || cells.empty()) {
        std::printf("translators: a control could not be made or filled\n");
        return 1;
    }

    std::string whyNoTree, whyNoList;
    targets.treeView = TranslatorInterface<IVirtualTreeView>(targets.tree, whyNoTree);
    targets.listView = TranslatorInterface<IVirtualListView>(targets.list, whyNoList);
    if (!targets.listView) {
        std::printf("translators: list view: no list view translator (%s)\n", whyNoList.c_str());
        return 1;
    }
    std::vector<Part> parts;
    if (targets.treeView) {
        parts.push_back({"tree", "GetChildren of 10,000 root nodes", TreeThroughTranslator,
                         TreeThroughWinHelper, TopLevelHandles(targets.tree)});
    }
    parts.push_back({"list view", "sub-item texts of 10,000 items x 5 columns",
                     ListThroughTranslator, ListThroughWinHelper, std::move(cells)});

    // Checked once; this also warms both ways up.
    for (const Part& part : parts) {
        if (!Check(part, "translator", part.throughTranslator, targets) ||
            !Check(part, "WinHelper", part.throughWinHelper, targets)) {
            return 1;
        }
    }
    if (!Measure(parts, targets)) return 1;

    double totalTranslator = 0, totalWinHelper = 0;
    for (const Part& part : parts) {
        std::printf("%s (%s): translator %.2f ms, WinHelper %.2f ms, ratio %.2f\n", part.name,
                    part.what, part.bestTranslator, part.bestWinHelper,
                    part.bestTranslator / part.bestWinHelper);
        totalTranslator += part.bestTranslator;
        totalWinHelper += part.bestWinHelper;
    }
    if (!targets.treeView) {
        std::printf("tree: no tree view translator (%s)\n", whyNoTree.c_str());
        return 1;
    }
    std::printf(
        "translators: ratio %.2f (translator calls against the same WinHelper calls: tree "
        "GetChildren of 10,000 nodes, list view sub-item texts of 10,000 x 5)\n",
        totalTranslator / totalWinHelper);
    return 0;
}

}  // namespace
}  // namespace tarnwick::bench

int main() { return tarnwick::bench::Run(); }
