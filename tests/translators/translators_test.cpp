// The factory, the hook entry points and the button, check and text box translators on real
// controls, with their events carried by the library's service to a peer that answers.
#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "common/variantrecords.h"
#include "marshalling/marshallingtest.h"
#include "agent/ccontrolcall.h"
#include "winhelper.h"
#include "translators/translatorhost.h"

namespace tarnwick::test {
namespace {

// The busy blocks of the process heap, where records live: a leak makes them grow.
long long BusyHeapBlocks() {
    long long count = 0;
    HeapLock(GetProcessHeap());
    for (PROCESS_HEAP_ENTRY entry{}; HeapWalk(GetProcessHeap(), &entry);)
        count += (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0;
    HeapUnlock(GetProcessHeap());
    return count;
}

class TranslatorTest : public TranslatorFixture {
  protected:
    HWND Child(const wchar_t* className, DWORD style, HWND parent = nullptr,
               RECT bounds = {10, 10, 110, 40}) {
        return CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE | style, bounds.left,
                               bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top,
                               parent != nullptr ? parent : host_.Parent(), nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    }
};

// Hooks on a window without a translator leave handled and the result as they were.
TEST_F(TranslatorTest, TheFactoryClassifiesByClassAndButtonStyle) {
    // No kind: no translator.
    const std::tuple<const wchar_t*, DWORD, const wchar_t*> cases[] = {
        {L"Button", BS_AUTOCHECKBOX, L"CheckBox"},
        {L"Button", BS_3STATE, L"CheckBox"},
        {L"Button", BS_AUTORADIOBUTTON, L"RadioButton"},
        {L"Button", BS_GROUPBOX, L"Button"},
        {L"Button", BS_DEFPUSHBUTTON, L"Button"},
        {L"Edit", ES_PASSWORD, L"TextBox"},
        {L"ListBox", 0, nullptr},
        {L"Static", 0, nullptr},
    };
    for (const auto& [className, style, kind] : cases) {
        HWND window = Child(className, style);
        wchar_t interfaceName[kTypeNameChars] = L"untouched", adapterName[kTypeNameChars] = L"";
        bool created = true, again = true;
        auto* first = GetCommonControlTranslator(window, &created, interfaceName, adapterName);
        EXPECT_EQ(GetCommonControlTranslator(window, &again, nullptr, nullptr), first);
        EXPECT_FALSE(again);
        EXPECT_EQ(GetPropW(window, kTranslatorProperty), first);
        if (kind != nullptr) {
            EXPECT_EQ(std::wstring(interfaceName),
                      std::wstring(L"Tarnwick.Virtual.Interfaces.IVirtual") + kind +
                          L", Tarnwick.Virtual.Interfaces");
            EXPECT_EQ(std::wstring(adapterName),
                      std::wstring(L"Tarnwick.Adapters.Virtual.VirtualTargets.Virtual") + kind +
                          L", Tarnwick.Adapters.Virtual");
            continue;
        }
        EXPECT_EQ(first, nullptr) << className;
        EXPECT_STREQ(interfaceName, L"untouched");
        UINT message = WM_LBUTTONUP;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
        const _MESSAGE_NOTIFICATION notification{{}, &window, &message, &wParam, &lParam};
        int handled = 5;
        __int64 result = 7;
        VirtualControlSubclassProc(notification, handled, result);
        VirtualControlPeekProc(notification, handled, result);
        EXPECT_TRUE(handled == 5 && result == 7);
    }
    bool created = true;
    EXPECT_EQ(GetCommonControlTranslator(nullptr, &created, nullptr, nullptr), nullptr);
    EXPECT_TRUE(created);  // an invalid window leaves it untouched
}

// The hooks find the translator that the factory attached without reading the window property,
// and forget the window at its WM_NCDESTROY: a later message under its handle finds none.
TEST_F(TranslatorTest, HooksFindTheTranslatorWithoutThePropertyUntilTheWindowGoes) {
    HWND edit = Child(L"Edit", 0);
    // This executable's own factory and hooks: the hooking host feeds the DLL's.
    ASSERT_NE(GetCommonControlTranslator(edit, nullptr, nullptr, nullptr), nullptr);
    Subscribe(edit, {L"TextChanged"});
    ASSERT_NE(RemovePropW(edit, kTranslatorProperty), nullptr);
    for (UINT message : {UINT{WM_SETTEXT}, UINT{WM_NCDESTROY}, UINT{WM_SETTEXT}}) {
        WPARAM wParam = 0;
        LPARAM lParam = 0;
        int handled = 0;
        __int64 result = 0;
        VirtualControlSubclassProc(MakeMessageNotification(edit, message, wParam, lParam), handled,
                                   result);
    }
    EXPECT_EQ(harness_.EventNames(), Names{L"TextChanged"});
}

// A release inside raises Clicking, Click and MouseUp once, sent or posted; outside only
// MouseUp. A cancelled Clicking drops the posted release, so the box keeps its state.
TEST_F(TranslatorTest, ClickEventsAndACancelledClickingThatKeepsTheBoxState) {
    const HWND box = Child(L"Button", BS_AUTOCHECKBOX);
    Subscribe(box, {L"Clicking", L"Click", L"MouseUp"});
    SendMessageW(box, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    SendMessageW(box, WM_LBUTTONUP, 0, MAKELPARAM(-3, 5));  // left of the window
    const auto events = harness_.Events();
    ASSERT_EQ(harness_.EventNames(), (Names{L"Clicking", L"Click", L"MouseUp", L"MouseUp"}));
    EXPECT_EQ(events[2].numbers, (std::vector<LONG>{0, 1, 5, 5}));
    EXPECT_EQ(events[3].numbers, (std::vector<LONG>{0, 1, -3, 5}));
    for (const bool cancel : {true, false}) {
        harness_.Clear();
        harness_.Cancel(cancel ? std::set<std::wstring>{L"Clicking"} : std::set<std::wstring>{});
        WinHelper::PerformClick(box, 2, 2, 0, const_cast<wchar_t*>(L""));
        host_.Pump();
        EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), cancel ? BST_UNCHECKED : BST_CHECKED);
        EXPECT_EQ(harness_.EventNames(), (cancel ? Names{L"Clicking", L"MouseUp"}
                                                 : Names{L"Clicking", L"Click", L"MouseUp"}));
    }
    // A release taken from the queue, never dispatched, is forgotten with the next one taken.
    harness_.Clear();
    MSG taken{};
    PostMessageW(box, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    PeekMessageW(&taken, box, WM_LBUTTONUP, WM_LBUTTONUP, PM_REMOVE);
    PostMessageW(host_.Parent(), WM_NULL, 0, 0);
    PeekMessageW(&taken, host_.Parent(), 0, 0, PM_REMOVE);
    SendMessageW(box, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(std::ranges::count(harness_.EventNames(), L"Click"), 2);
}

TEST_F(TranslatorTest, KeyEventsArriveForTheOutermostAncestorFirst) {
    const HWND middle = CreateWindowExW(0, L"Static", L"", WS_CHILD | WS_VISIBLE, 0, 0, 200, 100,
                                        host_.Parent(), nullptr, nullptr, nullptr);
    const HWND edit = Child(L"Edit", 0, middle);
    for (HWND about : {host_.Parent(), middle, edit}) {
        ASSERT_TRUE(harness_.Subscribe(edit, L"KeyPress", about));
    }
    SendMessageW(edit, WM_CHAR, L'\u00e9', 0);
    const auto events = harness_.Events();
    ASSERT_EQ(events.size(), 3u);
    const HWND order[] = {host_.Parent(), middle, edit};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(events[i].window, order[i]);
        EXPECT_EQ(events[i].numbers, (std::vector<LONG>{static_cast<signed char>(0xE9)}));
    }
}

TEST_F(TranslatorTest, StateEventsOfEditsAndCheckBoxes) {
    const HWND edit = Child(L"Edit", ES_AUTOHSCROLL);
    const HWND box = Child(L"Button", BS_AUTOCHECKBOX, nullptr, {10, 50, 110, 80});
    Subscribe(edit, {L"Shown", L"Hidden", L"VisibleChanged", L"TextChanged"});
    Subscribe(box, {L"CheckedChanged", L"CheckStateChanged"});
    ShowWindow(edit, SW_HIDE);
    SendMessageW(edit, WM_SHOWWINDOW, FALSE, 0);  // already hidden: no VisibleChanged
    EXPECT_EQ(harness_.EventNames(), (Names{L"Hidden", L"VisibleChanged", L"Hidden"}));
    harness_.Clear();
    VirtualControlReference reference = Reference(edit);
    SendMessageW(edit, WM_CHAR, L'a', 0);  // typing sends no WM_SETTEXT
    ASSERT_EQ(InterfaceOf<IVirtualTextBoxBase>(edit)->Clear(&reference), S_OK);
    EXPECT_EQ(harness_.EventNames(), (Names{L"TextChanged"}));
    harness_.Clear();
    harness_.Cancel({L"CheckStateChanged"});
    SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(harness_.EventNames(), (Names{L"CheckedChanged", L"CheckStateChanged"}));
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

TEST_F(TranslatorTest, CheckStatesAreReachedByClicksFromEveryState) {
    for (const DWORD style : {DWORD(BS_AUTOCHECKBOX), DWORD(BS_AUTO3STATE)}) {
        const HWND box = Child(L"Button", style);
        VirtualControlReference reference = Reference(box);
        const auto check = InterfaceOf<IVirtualCheckControl>(box);
        ASSERT_TRUE(check);
        const LONG states = style == BS_AUTO3STATE ? 3 : 2;
        for (LONG from = 0; from < states; ++from) {
            for (LONG to = 0; to < states; ++to) {
                SendMessageW(box, BM_SETCHECK, from, 0);
                EXPECT_EQ(check->SetCheckState(&reference, to), S_OK);
                host_.Pump();
                EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), to) << from << " to " << to;
            }
        }
        if (states == 2) {
            EXPECT_EQ(check->SetCheckState(&reference, 2), E_FAIL);
        }
        EXPECT_EQ(check->SetCheckState(nullptr, 1), E_INVALIDARG);  // no read through null
    }
    EXPECT_FALSE(InterfaceOf<IVirtualCheckControl>(Child(L"Button", BS_PUSHBUTTON)));
}

TEST_F(TranslatorTest, AdjacentControlsLieWithinTheDistanceOnTheSideAskedFor) {
    const HWND centre = Child(L"Button", 0, nullptr, {100, 100, 150, 130});
    // Left, above, below and right of it, each 10 away.
    const RECT sides[] = {
        {40, 100, 90, 130}, {100, 60, 150, 90}, {100, 140, 150, 170}, {160, 100, 210, 130}};
    std::vector<VARIANT> records;
    std::vector<__int64> handles;
    for (const RECT& side : sides) {
        handles.push_back(Reference(Child(L"Button", 0, nullptr, side)).WindowHandle);
        records.push_back(
            MakeRecord(kVirtualControlReferenceGuid, {{L"WindowHandle", MakeI8(handles.back())}}));
    }
    CTestVariant candidates(MakeArray(records));
    VirtualControlReference reference = Reference(centre);
    for (LONG direction = 0; direction < 5; ++direction) {
        for (const LONG distance : {10L, 11L}) {
            CTestVariant found(MakeVariant(VT_ARRAY | VT_VARIANT, [](VARIANT&) {}));
            ASSERT_EQ(ControlOf(centre)->FindAdjacentControls(&reference, candidates->parray,
                                                              direction, distance, &found->parray),
                      S_OK);
            const bool adjacent = direction < 4 && distance == 11;
            ASSERT_EQ(found->parray->rgsabound[0].cElements, adjacent ? 1u : 0u);
            if (!adjacent) continue;
            CTestVariant match(ElementOf(*found, 0));
            EXPECT_EQ(static_cast<VirtualControlReference*>(match->pvRecord)->WindowHandle,
                      handles[direction]);
        }
    }
    // Only a one-dimensional array of VARIANTs is read (an interface read takes a reference).
    Microsoft::WRL::ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
    SAFEARRAY* wrong[] = {SafeArrayCreateVectorEx(VT_RECORD, 0, 1, records[0].pRecInfo),
                          SafeArrayCreateVector(VT_BSTR, 0, 1), SafeArrayCreateVector(VT_I4, 0, 1),
                          SafeArrayCreate(VT_VARIANT, 2, square),
                          SafeArrayCreateVector(VT_UNKNOWN, 0, 1)};
    SafeArrayPutElement(wrong[4], std::array<LONG, 1>{}.data(), stream.Get());
    for (SAFEARRAY* array : wrong) {
        SAFEARRAY* none = nullptr;
        EXPECT_EQ(ControlOf(centre)->FindAdjacentControls(&reference, array, 0, 11, &none) |
                      SafeArrayDestroy(array),
                  E_INVALIDARG);
    }
    EXPECT_EQ(ReferencesOf(stream.Get()), 1u);  // this test's own
    BSTR text = nullptr;
    EXPECT_EQ(ControlOf(centre)->GetText(nullptr, &text), E_INVALIDARG);

    // A thousand searches by the agent (candidates from the wire) leave no record behind.
    long long before = 0;
    for (int i = 0; i <= 1000; ++i) {
        if (i == 1) before = BusyHeapBlocks();  // what the first search loads stays loaded
        VARIANT arguments[] = {{}, MakeI4(0), MakeI4(11)};
        VariantCopy(&arguments[0], &*candidates);
        CMarshalHelper::MarshalValue(arguments[0]);
        CMarshalHelper::UnmarshalValue(arguments[0]);
        vask::CallControl(ControlOf(centre), centre, L"FindAdjacentControls", arguments);
        ClearVariant(arguments[0]);
    }
    EXPECT_LT(BusyHeapBlocks() - before, 100);
}

// Raises while another thread sets and resets the target each see it whole, or none.
TEST_F(TranslatorTest, TargetResetsWhileEventsAreRaisedAreSeenWhole) {
    const HWND button = Child(L"Button", 0);
    auto* translator = static_cast<CVirtualControlTranslator*>(ControlOf(button));
    std::atomic<bool> raising{true};
    std::atomic<long> resets{0};
    std::thread resetter([&] {
        while (raising) translator->SetEventTarget(1, resets++ % 2 ? harness_.Service() : nullptr);
    });
    for (int i = 0; i < 2000 || resets < 100000; ++i) translator->RaiseEvent(button, L"Nobody");
    raising = false;
    resetter.join();
    translator->SetEventTarget(CEventHarness::kOwnerId, harness_.Service());
}

// Late-bound calls through each translator's own type information, as the agent makes them; the
// dispatch base's test covers the rest.
TEST_F(TranslatorTest, LateBoundCallsReachTheTranslators) {
    const HWND edit = Child(L"Edit", 0, nullptr, {20, 30, 120, 60});
    const HWND box = Child(L"Button", BS_AUTOCHECKBOX, nullptr, {20, 70, 120, 100});
    CTestVariant late(MakeString(L"late"));
    EXPECT_EQ(vask::CallControl(ControlOf(edit), edit, L"SetText", {&*late, 1}).code, S_OK);
    const vask::ControlCallOutcome text = vask::CallControl(ControlOf(edit), edit, L"GetText", {});
    ASSERT_EQ(text.result.Get().vt, VT_BSTR);
    EXPECT_STREQ(text.result.Get().bstrVal, L"late");
    const VARIANT state = vask::CallControl(ControlOf(box), box, L"GetCheckState", {}).result.Get();
    EXPECT_TRUE(state.vt == VT_I4 && state.lVal == BST_UNCHECKED);
    VirtualControlReference reference = Reference(edit);
    LONG bounds[4] = {};
    EXPECT_EQ(
        ControlOf(edit)->GetBounds(&reference, &bounds[0], &bounds[1], &bounds[2], &bounds[3]),
        S_OK);
    EXPECT_EQ(std::vector<LONG>(bounds, bounds + 4), (std::vector<LONG>{20, 30, 100, 30}));
}

}  // namespace
}  // namespace tarnwick::test
