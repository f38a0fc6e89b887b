// The tree view translator on a real tree view that the hooking host watches: node operations,
// node records with the tree's own handles, and the node events carried to a peer.
#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "winhelper.h"
#include "translators/translatorhost.h"
#include "virtualrecords.h"

namespace tarnwick::test {
namespace {

using Handles = std::vector<std::int64_t>;

std::int64_t Whole(HTREEITEM item) { return reinterpret_cast<std::intptr_t>(item); }


// Handles no real tree answers under this platform: all 64 bits are needed.
constexpr std::int64_t Fake(int n) { return std::int64_t(0xFEDCBA9800000000ull | unsigned(n)); }

// A fake node 1 with children 2 and 3; node 3 is selected and every point hits node 2.
LRESULT CALLBACK FakeItems(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR) {
    if (message == TVM_HITTEST) {
        reinterpret_cast<TVHITTESTINFO*>(lParam)->hItem = HTREEITEM(Fake(2));
        return Fake(2);
    }
    if (message == TVM_GETNEXTITEM) {
        if (wParam == TVGN_CARET) return Fake(3);
        if (wParam == TVGN_PARENT && (lParam == Fake(2) || lParam == Fake(3))) return Fake(1);
        if (wParam == TVGN_CHILD && lParam == Fake(1)) return Fake(2);
        if (wParam == TVGN_NEXT && lParam == Fake(2)) return Fake(3);
        if (wParam == TVGN_NEXT && lParam == Fake(3)) return 0;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

// Counts the parent queries the tree is asked (TVM_GETNEXTITEM with TVGN_PARENT).
LRESULT CALLBACK CountParentQueries(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR, DWORD_PTR count) {
    if (message == TVM_GETNEXTITEM && wParam == TVGN_PARENT) ++*reinterpret_cast<int*>(count);
    return DefSubclassProc(window, message, wParam, lParam);
}

// The item handles of an array of node records, destroying it; -1 for an element of another
// kind.
Handles NodesOf(SAFEARRAY* array) {
    Handles handles;
    for (LONG i = 0; array != nullptr && i < LONG(array->rgsabound[0].cElements); ++i) {
        VARIANT element;
        VariantInit(&element);
        SafeArrayGetElement(array, &i, &element);
        GUID type{};
        const bool node = V_VT(&element) == VT_RECORD && element.pRecInfo != nullptr &&
                          SUCCEEDED(element.pRecInfo->GetGuid(&type)) && type == kVirtualTreeNodeReferenceGuid;
        handles.push_back(
            node ? static_cast<VirtualTreeNodeReference*>(element.pvRecord)->ItemHandle : -1);
        VariantClear(&element);
    }
    SafeArrayDestroy(array);
    return handles;
}

// Roots "A" (children "A1" and A2, whose text is 5,000 characters) and "B", made after the host
// attached.
class TreeViewTranslatorTest : public TranslatorFixture {
  protected:
    void SetUp() override {
        TranslatorFixture::SetUp();
        a_ = Insert(TVI_ROOT, L"A");
        a1_ = Insert(a_, L"A1");
        a2_ = Insert(a_, std::wstring(5000, L'n').c_str());
        b_ = Insert(TVI_ROOT, L"B");
        ASSERT_TRUE(view_);
    }
    HTREEITEM Insert(HTREEITEM parent, const wchar_t* text) {
        TVINSERTSTRUCTW insert{parent, TVI_LAST, {{TVIF_TEXT}}};
        insert.item.pszText = const_cast<wchar_t*>(text);
        return TreeView_InsertItem(tree_, &insert);
    }
    static VirtualTreeNodeReference Node(std::int64_t item) { return {item}; }
    static VirtualTreeNodeReference Node(HTREEITEM item) { return {Whole(item)}; }
    // Events since the last call, with the nodes they name.
    std::vector<std::pair<std::wstring, Handles>> Received() {
        host_.Pump();
        std::vector<std::pair<std::wstring, Handles>> events;
        for (const ReceivedEvent& event : harness_.Events())
            events.push_back({event.name, event.nodes});
        harness_.Clear();
        return events;
    }
    // A report as the hooking host makes it, or one of the application's own (unmarked).
    void Report(UINT processed, std::uint64_t item, bool marked = true) {
        vask::TreeChangeRecord change{32, processed, 0, 0, item};
        const auto address = reinterpret_cast<WPARAM>(&change);
        SendMessageW(tree_, vask::kTreeChangeMessage, address,
                     marked ? vask::TreeChangeMark(address) : 0);
    }

    HWND tree_ = CreateWindowExW(0, WC_TREEVIEWW, L"",
                                 WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_LINESATROOT, 10, 10,
                                 300, 200, host_.Parent(), nullptr, nullptr, nullptr);
    VirtualControlReference reference_{Whole(HTREEITEM(tree_))};
    HTREEITEM a_ = nullptr, a1_ = nullptr, a2_ = nullptr, b_ = nullptr;
    Microsoft::WRL::ComPtr<IVirtualTreeView> view_ = InterfaceOf<IVirtualTreeView>(tree_);
};

TEST_F(TreeViewTranslatorTest, OperationsReadAndDriveNodesByRecord) {
    const std::pair<HTREEITEM, Handles> children[] = {
        {nullptr, {Whole(a_), Whole(b_)}}, {a_, {Whole(a1_), Whole(a2_)}}, {a1_, {}}};
    for (const auto& [parent, expected] : children) {
        VirtualTreeNodeReference node = Node(parent);
        SAFEARRAY* array = nullptr;
        EXPECT_EQ(view_->GetChildren(&reference_, &node, &array), S_OK);
        ASSERT_NE(array, nullptr);
        EXPECT_EQ(NodesOf(array), expected);
    }
    VirtualTreeNodeReference a = Node(a_), a2 = Node(a2_);
    BSTR text = nullptr;
    VARIANT_BOOL state[4] = {7, 7, 7, 7};
    __int64 selected = 0;
    EXPECT_EQ(
        view_->GetNodeText(&reference_, &a2, &text) | view_->Expand(&reference_, &a) |
            view_->IsNodeExpanded(&reference_, &a, &state[0]) | view_->Select(&reference_, &a2) |
            view_->IsNodeSelected(&reference_, &a2, &state[1]) |
            view_->GetSelectedNode(&reference_, &selected) | view_->Collapse(&reference_, &a) |
            view_->IsNodeExpanded(&reference_, &a, &state[2]) |
            view_->IsNodeSelected(&reference_, &a, &state[3]),
        S_OK);
    EXPECT_EQ(std::wstring(text), std::wstring(5000, L'n'));  // whole, past 260 characters
    SysFreeString(text);
    EXPECT_EQ(std::vector(state, state + 4), (std::vector{VARIANT_TRUE, VARIANT_TRUE, VARIANT_FALSE,
                                                          VARIANT_TRUE}));  // collapsing
    EXPECT_EQ(selected, Whole(a2_));  // moves the selection from a hidden child to its parent
    // Unsupported positions fail and leave the tree as it is; bad records are refused.
    EXPECT_EQ(view_->ExpandAll(&reference_), E_FAIL);
    EXPECT_EQ(view_->CollapseAll(&reference_), E_FAIL);
    EXPECT_EQ(view_->SortNodes(&reference_), E_FAIL);
    EXPECT_EQ(TreeView_GetCount(tree_), 4u);
    EXPECT_EQ(view_->IsNodeExpanded(&reference_, &a, &state[0]), S_OK);
    EXPECT_EQ(state[0], VARIANT_FALSE);
    EXPECT_EQ(view_->Expand(&reference_, nullptr), E_INVALIDARG);
    EXPECT_EQ(view_->GetChildren(nullptr, &a, nullptr), E_INVALIDARG);
    EXPECT_EQ(view_->GetChildren(&reference_, &a, nullptr), E_POINTER);
    const HTREEITEM gone = Insert(b_, L"gone");  // a deleted node has no text
    TreeView_DeleteItem(tree_, gone);
    VirtualTreeNodeReference deleted = Node(gone);
    text = nullptr;
    EXPECT_EQ(view_->GetNodeText(&reference_, &deleted, &text), E_FAIL);
    EXPECT_EQ(text, nullptr);
}

TEST_F(TreeViewTranslatorTest, WholeHandlesTravelInResultsAndEvents) {
    Subscribe(tree_, {L"NodeClicked", L"NodeChildAdded", L"NodeChildRemoved"});
    ASSERT_TRUE(SetWindowSubclass(tree_, &FakeItems, 7, 0));
    VirtualTreeNodeReference parent = Node(Fake(1));
    SAFEARRAY* array = nullptr;
    __int64 selected = 0;
    EXPECT_EQ(view_->GetChildren(&reference_, &parent, &array), S_OK);
    EXPECT_EQ(NodesOf(array), (Handles{Fake(2), Fake(3)}));
    EXPECT_EQ(view_->GetSelectedNode(&reference_, &selected), S_OK);
    EXPECT_EQ(selected, Fake(3));
    Report(TVM_INSERTITEMW, Fake(2));
    Report(TVM_DELETEITEM, Fake(3));
    SendMessageW(tree_, WM_MBUTTONUP, 0, MAKELPARAM(5, 5));  // any button
    RemoveWindowSubclass(tree_, &FakeItems, 7);
    const std::vector<std::pair<std::wstring, Handles>> expected = {
        {L"NodeChildAdded", {Fake(2), Fake(1)}},
        {L"NodeChildRemoved", {Fake(3), Fake(1)}},
        {L"NodeClicked", {Fake(2)}}};
    EXPECT_EQ(Received(), expected);
}

TEST_F(TreeViewTranslatorTest, InsertionsDeletionsAndClicksRaiseNodeEvents) {
    Subscribe(tree_, {L"NodeClicked", L"NodeDoubleClicked", L"NodeChildAdded", L"NodeChildRemoved",
                      L"Click"});
    const HTREEITEM child = Insert(b_, L"B1"), root = Insert(TVI_ROOT, L"C");
    TreeView_DeleteItem(tree_, child);
    // Reports that name no single node, or the narrow insertion, raise nothing; nor does the
    // application's own 0x8006, whether its wParam points to such a record or nowhere readable.
    for (const std::uint64_t item :
         {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{0xFFFF0000}}) {
        Report(TVM_DELETEITEM, item);
    }
    Report(TVM_INSERTITEMA, Whole(a1_));
    Report(TVM_INSERTITEMW, Whole(a1_), false);
    void* const locked = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
    const auto nowhere = reinterpret_cast<WPARAM>(locked);
    SendMessageW(tree_, vask::kTreeChangeMessage, nowhere, vask::TreeChangeMark(nowhere));
    VirtualFree(locked, 0, MEM_RELEASE);
    const std::vector<std::pair<std::wstring, Handles>> changes = {
        {L"NodeChildAdded", {Whole(child), Whole(b_)}},
        {L"NodeChildAdded", {Whole(root), 0}},
        {L"NodeChildRemoved", {Whole(child), Whole(b_)}}};
    EXPECT_EQ(Received(), changes);
    TreeView_DeleteAllItems(tree_);  // TVI_ROOT
    EXPECT_EQ(Received(), (std::vector<std::pair<std::wstring, Handles>>{}));

    const HTREEITEM d = Insert(TVI_ROOT, L"D");
    harness_.Clear();
    const auto names = [this, d] {
        std::vector<std::wstring> named;
        for (const auto& [name, nodes] : Received()) {
            named.push_back(name + (nodes.empty()                ? L""
                                    : nodes == Handles{Whole(d)} ? L" D"
                                                                 : L" ?"));
        }
        return named;
    };
    WinHelper::PerformClick(tree_, d);
    EXPECT_EQ(names().front(), L"NodeClicked D");
    WinHelper::PerformDoubleClick(tree_, d);
    const std::vector<std::wstring> twice = names();
    EXPECT_EQ(std::count(twice.begin(), twice.end(), L"NodeDoubleClicked D"), 1);
    WinHelper::PerformClick(tree_, 150, 190, 1, nullptr);  // below the last node
    EXPECT_EQ(names(), (std::vector<std::wstring>{L"Click"}));
    // A node under a collapsed one is brought into view first; a node that is gone fails.
    VirtualTreeNodeReference hidden = Node(Insert(d, L"D1"));
    harness_.Clear();
    EXPECT_EQ(view_->PerformClick(&reference_, &hidden), S_OK);
    EXPECT_EQ(Received().front(),
              (std::pair<std::wstring, Handles>{L"NodeClicked", {hidden.ItemHandle}}));
    TreeView_DeleteItem(tree_, reinterpret_cast<HTREEITEM>(hidden.ItemHandle));
    harness_.Clear();
    EXPECT_EQ(view_->PerformClick(&reference_, &hidden), E_FAIL);
    EXPECT_EQ(view_->ShowContextMenu(&reference_, &hidden), E_FAIL);
    EXPECT_EQ(Received(), (std::vector<std::pair<std::wstring, Handles>>{}));
}

// With nobody subscribed to a node change, the report asks the tree nothing and makes no record.
TEST_F(TreeViewTranslatorTest, NodeChangesAskTheTreeNothingUnlessSubscribed) {
    int asked = 0;
    ASSERT_TRUE(SetWindowSubclass(tree_, &CountParentQueries, 8, DWORD_PTR(&asked)));
    TreeView_DeleteItem(tree_, Insert(b_, L"B1"));
    EXPECT_EQ(asked, 0);
    Subscribe(tree_, {L"NodeChildAdded"});
    TreeView_DeleteItem(tree_, Insert(b_, L"B2"));
    EXPECT_EQ(asked, 1);  // the insertion's only
    RemoveWindowSubclass(tree_, &CountParentQueries, 8);
}

}  // namespace
}  // namespace tarnwick::test
