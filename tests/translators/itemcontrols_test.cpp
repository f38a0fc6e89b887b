// The tab strip and combo box translators on real controls: their operations, and
// "SelectedIndexChanged" carried by the library's service to a peer that answers.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "winhelper.h"
#include "translators/translatorhost.h"

namespace tarnwick::test {
namespace {

using Windows = std::vector<HWND>;

int g_heard = 0;  // the TCN_SELCHANGE and CBN_SELCHANGE notifications the parent received

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    g_heard += (message == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == TCN_SELCHANGE) ||
               (message == WM_COMMAND && HIWORD(wParam) == CBN_SELCHANGE);
    return DefWindowProcW(window, message, wParam, lParam);
}

class TabAndComboTest : public TranslatorFixture {
  protected:
    void SetUp() override {
        TranslatorFixture::SetUp();
        WNDCLASSW recording{};
        recording.lpfnWndProc = &RecordingProc;
        recording.lpszClassName = L"TabAndComboParent";
        RegisterClassW(&recording);
        parent_ = CreateWindowExW(0, recording.lpszClassName, L"", WS_CHILD | WS_VISIBLE, 0, 0, 380,
                                  260, host_.Parent(), nullptr, nullptr, nullptr);
    }
    // A tab strip or a combo box with its items "0", "1", ..., subscribed to its event.
    HWND Control(bool tab, int items = 3, HWND parent = nullptr) {
        const HWND window =
            CreateWindowExW(0, tab ? L"SysTabControl32" : L"ComboBox", L"",
                            WS_CHILD | WS_VISIBLE | (tab ? 0 : CBS_DROPDOWNLIST), 10, 10, 300, 150,
                            parent != nullptr ? parent : parent_, nullptr, nullptr, nullptr);
        for (wchar_t i = 0; i < items; ++i) {
            wchar_t text[] = {wchar_t(L'0' + i), 0};
            TCITEMW item{TCIF_TEXT, 0, 0, text};
            SendMessageW(window, tab ? TCM_INSERTITEMW : CB_ADDSTRING, i,
                         tab ? reinterpret_cast<LPARAM>(&item) : reinterpret_cast<LPARAM>(text));
        }
        EXPECT_TRUE(harness_.Subscribe(window, L"SelectedIndexChanged"));
        return window;
    }
    // The windows that events were about, forgetting them.
    Windows EventWindows() {
        Windows windows;
        for (const ReceivedEvent& event : harness_.Events()) windows.push_back(event.window);
        harness_.Clear();
        return windows;
    }

    HWND parent_ = nullptr;
};

TEST_F(TabAndComboTest, IndexedSelectionRaisesTheEventAndACancelKeepsItFromTheParent) {
    const HWND tab = Control(true), combo = Control(false), empty = Control(false, 0);
    const auto strip = InterfaceOf<IVirtualTabStrip>(tab);
    const auto list = InterfaceOf<IVirtualListControl>(combo);
    ASSERT_TRUE(strip && list);
    g_heard = 0;
    // Window, index set, its answer, the selection after it, whether the event is cancelled.
    const std::tuple<HWND, LONG, HRESULT, LONG, bool> cases[] = {
        {tab, 2, S_OK, 2, false},
        {tab, 3, E_INVALIDARG, 2, false},
        {tab, -1, E_INVALIDARG, 2, false},
        {tab, 0, S_OK, 0, true},
        {combo, 2, S_OK, 2, false},
        {combo, 3, E_INVALIDARG, 2, false},
        {combo, -1, E_INVALIDARG, 2, false},
        {combo, 0, S_OK, 0, true},
        {empty, 0, E_INVALIDARG, -1, false}};
    for (const auto& [window, index, result, selection, cancel] : cases) {
        harness_.Cancel(cancel ? std::set<std::wstring>{L"SelectedIndexChanged"}
                               : std::set<std::wstring>{});
        VirtualControlReference reference = Reference(window);
        LONG selected = -5;
        if (window == tab) {
            EXPECT_EQ(strip->SetSelectedTab(&reference, index), result) << index;
            EXPECT_EQ(strip->GetSelectedTab(&reference, &selected), S_OK);
        } else {
            EXPECT_EQ(list->SetSelectedComboIndex(&reference, index), result) << index;
            EXPECT_EQ(list->GetSelectedComboIndex(&reference, &selected), S_OK);
        }
        EXPECT_EQ(selected, selection);
        EXPECT_EQ(EventWindows(), result == S_OK ? Windows{window} : Windows{});
        EXPECT_EQ(std::exchange(g_heard, 0), result == S_OK && !cancel ? 1 : 0) << index;
    }
}

// User selections reach the translators by the same reflected notifications as indexed ones.
TEST_F(TabAndComboTest, ItemsAndTheSelectionOfANestedStrip) {
    const HWND tab = Control(true), combo = Control(false);
    const HWND inner = Control(true, 2, tab);  // its notifications reach the outer strip
    VirtualControlReference tabReference = Reference(tab), comboReference = Reference(combo);
    const auto strip = InterfaceOf<IVirtualTabStrip>(tab);
    const auto combos = InterfaceOf<IVirtualListControl>(combo);
    ASSERT_TRUE(strip && combos);
    SAFEARRAY *tabs = nullptr, *items = nullptr;
    ASSERT_EQ(strip->GetTabs(&tabReference, &tabs) | combos->GetComboItems(&comboReference, &items),
              S_OK);
    EXPECT_EQ(Texts(tabs), (Names{L"0", L"1", L"2"}));
    EXPECT_EQ(Texts(items), (Names{L"0", L"1", L"2"}));
    LONG count = 0;
    EXPECT_EQ(InterfaceOf<IVirtualComboBox>(combo)->GetComboItemCount(&comboReference, &count),
              S_OK);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(strip->GetTabs(&tabReference, nullptr), E_POINTER);
    EXPECT_EQ(combos->GetComboItems(nullptr, &items), E_INVALIDARG);

    WinHelper::SetSelectedTab(inner, 1);  // the outer strip passes it on to its own parent
    const Windows nested = EventWindows();
    EXPECT_EQ(std::count(nested.begin(), nested.end(), tab), 0);
    EXPECT_EQ(std::count(nested.begin(), nested.end(), inner), 1);

    Microsoft::WRL::ComPtr<IDispatch> dispatch;
    combos->QueryInterface(IID_IDispatch, &dispatch);
    EXPECT_EQ(dispatch.Get(), ControlOf(combo));
}

}  // namespace
}  // namespace tarnwick::test
