// The list view translator on a real report view whose parent the hooking host watches, with
// its events carried by the library's service to a peer that answers.
#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "winhelper.h"
#include "translators/translatorhost.h"

namespace tarnwick::test {
namespace {

std::vector<WPARAM> g_setViews;  // the LVM_SETVIEW modes the list view received

LRESULT CALLBACK RecordSetView(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR) {
    if (message == LVM_SETVIEW) g_setViews.push_back(wParam);
    return DefSubclassProc(window, message, wParam, lParam);
}

// Five items "itemN" with sizes "Nkb" in the columns "Name" and "Size".
class ListViewTranslatorTest : public TranslatorFixture {
  protected:
    void SetUp() override {
        TranslatorFixture::SetUp();
        for (const wchar_t* heading : {L"Name", L"Size"}) {
            LVCOLUMNW column{LVCF_TEXT | LVCF_WIDTH, 0, 80, const_cast<wchar_t*>(heading)};
            SendMessageW(list_, LVM_INSERTCOLUMNW, 9, reinterpret_cast<LPARAM>(&column));
        }
        for (int i = 0; i < 5; ++i) Send(LVM_INSERTITEMW, L"item" + std::to_wstring(i), i);
        for (int i = 0; i < 5; ++i) Send(LVM_SETITEMTEXTW, std::to_wstring(i) + L"kb", i, 1);
        ASSERT_TRUE(view_);
    }
    void Send(UINT message, std::wstring text, int item, int column = 0, UINT mask = LVIF_TEXT) {
        LVITEMW row{mask, item, column, LVIS_SELECTED, LVIS_SELECTED, text.data()};
        SendMessageW(list_, message, item, reinterpret_cast<LPARAM>(&row));
    }

    HWND list_ =
        CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_EDITLABELS,
                        10, 10, 300, 200, host_.Parent(), nullptr, nullptr, nullptr);
    VirtualControlReference reference_ = Reference(list_);
    Microsoft::WRL::ComPtr<IVirtualListView> view_ = InterfaceOf<IVirtualListView>(list_);
};

TEST_F(ListViewTranslatorTest, OperationsReadAndDriveTheList) {
    LONG count = 0;
    SAFEARRAY *columns = nullptr, *cells = nullptr;
    BSTR text = nullptr;
    VARIANT_BOOL selected[3] = {7, 7, 7};
    Send(LVM_SETITEMTEXTW, std::wstring(5000, L'i'), 2);  // read whole, past 260 characters
    // S_OK is 0: any failure leaves bits set.
    EXPECT_EQ(view_->GetListViewCount(&reference_, &count) |
                  view_->GetColumns(&reference_, &columns) |
                  view_->GetListViewSubItemText(&reference_, 3, &cells) |
                  view_->GetListViewItemText(&reference_, 2, &text) |
                  view_->SetListViewItemSelected(&reference_, 2, VARIANT_TRUE) |
                  view_->IsListViewItemSelected(&reference_, 1, &selected[0]) |
                  view_->IsListViewItemSelected(&reference_, 2, &selected[1]) |
                  view_->IsMultiSelect(&reference_, &selected[2]),
              S_OK);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(Texts(columns), (Names{L"Name", L"Size"}));
    EXPECT_EQ(Texts(cells), (Names{L"item3", L"3kb"}));
    EXPECT_EQ(std::wstring(text), std::wstring(5000, L'i'));
    SysFreeString(text);
    EXPECT_EQ(std::vector(selected, selected + 3),
              (std::vector{VARIANT_FALSE, VARIANT_TRUE, VARIANT_TRUE}));  // and multiple selection
    EXPECT_EQ(view_->GetListViewCount(nullptr, &count), E_INVALIDARG);
    EXPECT_EQ(view_->GetColumns(&reference_, nullptr), E_POINTER);
    // An index that names no item is refused.
    for (const LONG i : {-1L, 5L, 12L}) {
        auto* r = &reference_;
        const HRESULT answers[] = {view_->GetListViewItemText(r, i, &text),
                                   view_->GetListViewSubItemText(r, i, &cells),
                                   view_->IsListViewItemSelected(r, i, &selected[0]),
                                   view_->ClickListViewItem(r, i),
                                   view_->EnsureListViewItemVisible(r, i),
                                   view_->DoubleClickListViewItem(r, i),
                                   view_->RightClickListViewItem(r, i),
                                   view_->ShowListViewItemContextMenu(r, i),
                                   view_->SetListViewItemSelected(r, i, VARIANT_TRUE)};
        EXPECT_EQ(std::count(std::begin(answers), std::end(answers), E_INVALIDARG), 9) << i;
        EXPECT_TRUE(text == nullptr && cells == nullptr);
    }
}

TEST_F(ListViewTranslatorTest, ViewModesMapToListViewViews) {
    ASSERT_TRUE(SetWindowSubclass(list_, &RecordSetView, 7, 0));
    const WPARAM views[] = {LV_VIEW_DETAILS, LV_VIEW_ICON, LV_VIEW_LIST, LV_VIEW_SMALLICON,
                            LV_VIEW_TILE};
    for (const LONG mode : {0, 1, 2, 3, 4, 5, -1}) {
        g_setViews.clear();
        EXPECT_EQ(view_->SetView(&reference_, mode), S_OK);
        const bool known = mode >= 0 && mode < 5;
        EXPECT_EQ(g_setViews, known ? std::vector{views[mode]} : std::vector<WPARAM>{}) << mode;
        LONG read = -7;
        EXPECT_EQ(view_->GetView(&reference_, &read), S_OK);
        EXPECT_TRUE(mode < 0 || mode >= 4 || read == mode) << mode;  // Wine: no tile view
    }
    RemoveWindowSubclass(list_, &RecordSetView, 7);
}

TEST_F(ListViewTranslatorTest, ContentChangesAndActivationRaiseTheirEvents) {
    Subscribe(list_, {L"ItemsActivated", L"ListContentsChanged"});
    VARIANT_BOOL activated[2] = {7, 7};
    EXPECT_EQ(view_->ActivateSelectedItems(&reference_, &activated[0]), S_OK);  // none selected
    WinHelper::SetListViewItemSelected(list_, 1, 1);  // a change of state only
    EXPECT_EQ(view_->ActivateSelectedItems(&reference_, &activated[1]), S_OK);
    EXPECT_EQ(std::vector(activated, activated + 2), (std::vector{VARIANT_FALSE, VARIANT_TRUE}));
    EXPECT_EQ(harness_.EventNames(), (Names{L"ItemsActivated"}));
    harness_.Clear();
    Send(LVM_INSERTITEMW, L"new", 5);
    Send(LVM_SETITEMW, L"renamed", 0);
    Send(LVM_SETITEMW, L"", 0, 0, LVIF_STATE);
    SendMessageW(list_, LVM_DELETEITEM, 5, 0);
    SetFocus(list_);
    ASSERT_NE(SendMessageW(list_, LVM_EDITLABELW, 0, 0), 0);
    SendMessageW(list_, LVM_CANCELEDITLABEL, 0, 0);
    EXPECT_EQ(harness_.EventNames(), Names(4, L"ListContentsChanged"));
}

TEST_F(ListViewTranslatorTest, ReleasesOverItemsRaiseItemEventsFirst) {
    Subscribe(list_, {L"ItemClicked", L"ItemDoubleClicked", L"Click", L"MouseUp"});
    const auto received = [this] {
        host_.Pump();
        std::vector<std::wstring> events;  // with the item an item event names
        for (const auto& e : harness_.Events()) {
            events.push_back(e.name + (e.numbers.empty() ? L"" : std::to_wstring(e.numbers[0])));
        }
        harness_.Clear();
        return events;
    };
    // A click lands on the item's label: beside it, on a sub-item, it would select nothing.
    LVCOLUMNW column{LVCF_WIDTH, 0, 150};
    SendMessageW(list_, LVM_INSERTCOLUMNW, 2, reinterpret_cast<LPARAM>(&column));
    for (int c = 0; c < 3; ++c) SendMessageW(list_, LVM_SETCOLUMNWIDTH, c, 150);
    WinHelper::ClickListViewItem(list_, 2);
    host_.Pump();
    EXPECT_EQ(WinHelper::IsListViewItemSelected(list_, 2), 1);
    harness_.Clear();
    // A posted left release reaches the translator from the queue and again in the window.
    WinHelper::ClickListViewItem(list_, 3);
    const Names click = received();
    EXPECT_EQ(Names(click.begin(), click.begin() + std::min<size_t>(click.size(), 3)),
              (Names{L"ItemClicked3", L"Click", L"MouseUp0"}));
    WinHelper::DoubleClickListViewItem(list_, 2);
    const Names twice = received();
    EXPECT_EQ(std::count(twice.begin(), twice.end(), L"ItemDoubleClicked2"), 1);
    WinHelper::PerformClick(list_, 150, 180, 1, nullptr);  // below the last item
    for (const std::wstring& event : received()) EXPECT_FALSE(event.starts_with(L"Item"));
    // The list view's own loop takes a posted right release from the queue: send it.
    RECT item{LVIR_BOUNDS};
    SendMessageW(list_, LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
    SendMessageW(list_, WM_RBUTTONUP, 0, MAKELPARAM(item.left + 5, (item.top + item.bottom) / 2));
    EXPECT_EQ(received(), (Names{L"ItemClicked1", L"MouseUp2"}));
}

}  // namespace
}  // namespace tarnwick::test
