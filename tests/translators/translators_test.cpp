// The factory, the hook entry points and the button, check and text box translators on real
// controls, with their events carried by the library's service to a peer that answers.
#include <windows.h>
#include <commctrl.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "itypelibresolutionservice.h"
#include "translatorfactory.h"
#include "winhelper.h"
#include "translators/cvirtualcontroltranslator.h"
#include "translators/eventharness.h"
#include "translators/translatorhost.h"

namespace tarnwick::test {
namespace {

using Names = std::vector<std::wstring>;

// The translator the hooking host attached to the window (the library's DLL; this executable
// holds a second copy of the factory, whose translators the host never sees).
IVirtualControl* ControlOf(HWND window) {
    return static_cast<CVirtualControlTranslator*>(GetPropW(window, kTranslatorProperty));
}

// {253A1552-A97E-4CB6-8D80-B94D54327BD8}
constexpr GUID kControlReferenceGuid = {
    0x253a1552, 0xa97e, 0x4cb6, {0x8d, 0x80, 0xb9, 0x4d, 0x54, 0x32, 0x7b, 0xd8}};

VirtualControlReference Reference(HWND window) {
    return {static_cast<__int64>(reinterpret_cast<std::intptr_t>(window))};
}

// A parent window of this thread with hooked children.
class TranslatorTest : public testing::Test {
  protected:
    void SetUp() override {
        harness_.Clear();
        harness_.Cancel({});
    }

    HWND Child(const wchar_t* className, DWORD style, HWND parent = nullptr,
               RECT bounds = {10, 10, 110, 40}) {
        const HWND window =
            CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE | style, bounds.left,
                            bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top,
                            parent != nullptr ? parent : host_.Parent(), nullptr,
                            GetModuleHandleW(nullptr), nullptr);
        return window;
    }

    CEventHarness& harness_ = CEventHarness::Instance();
    CTranslatorHost host_;
};

TEST_F(TranslatorTest, TheFactoryClassifiesByClassAndButtonStyle) {
    struct Case {
        const wchar_t* className;
        DWORD style;
        const wchar_t* kind;  // null: no translator
    } cases[] = {
        {L"Button", BS_AUTOCHECKBOX, L"CheckBox"},
        {L"Button", BS_3STATE, L"CheckBox"},
        {L"Button", BS_AUTORADIOBUTTON, L"RadioButton"},
        {L"Button", BS_GROUPBOX, L"Button"},
        {L"Button", BS_DEFPUSHBUTTON, L"Button"},
        {L"Edit", ES_PASSWORD, L"TextBox"},
        {L"ListBox", 0, nullptr},
        {L"Static", 0, nullptr},
    };
    for (const Case& c : cases) {
        const HWND window = CreateWindowExW(0, c.className, L"", WS_CHILD | c.style, 0, 0, 10, 10,
                                            host_.Parent(), nullptr, nullptr, nullptr);
        wchar_t interfaceName[kTypeNameChars] = L"untouched", adapterName[kTypeNameChars] = L"";
        bool created = true;
        auto* first = GetCommonControlTranslator(window, &created, interfaceName, adapterName);
        bool again = true;
        auto* second = GetCommonControlTranslator(window, &again, nullptr, nullptr);
        EXPECT_EQ(first, second);
        EXPECT_FALSE(again);
        if (c.kind == nullptr) {
            EXPECT_EQ(first, nullptr) << c.className;
            EXPECT_STREQ(interfaceName, L"untouched");
            EXPECT_EQ(GetPropW(window, kTranslatorProperty), nullptr);
        } else {
            EXPECT_EQ(std::wstring(interfaceName),
                      std::wstring(L"Tarnwick.Virtual.Interfaces.IVirtual") + c.kind +
                          L", Tarnwick.Virtual.Interfaces");
            EXPECT_EQ(std::wstring(adapterName),
                      std::wstring(L"Tarnwick.Adapters.Virtual.VirtualTargets.Virtual") + c.kind +
                          L", Tarnwick.Adapters.Virtual");
            EXPECT_EQ(GetPropW(window, kTranslatorProperty), first);
        }
        DestroyWindow(window);
    }
    bool created = true;
    EXPECT_EQ(GetCommonControlTranslator(nullptr, &created, nullptr, nullptr), nullptr);
    EXPECT_TRUE(created);  // an invalid window leaves it untouched
}

TEST_F(TranslatorTest, HooksOnAWindowNeverClassifiedLeaveHandledAsItWas) {
    const HWND plain = CreateWindowExW(0, L"Static", L"", WS_CHILD, 0, 0, 10, 10, host_.Parent(),
                                       nullptr, nullptr, nullptr);
    HWND window = plain;
    UINT message = WM_LBUTTONUP;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    const _MESSAGE_NOTIFICATION notification{{}, &window, &message, &wParam, &lParam};
    int handled = 5;
    __int64 result = 7;
    VirtualControlSubclassProc(notification, handled, result);
    VirtualControlPeekProc(notification, handled, result);
    EXPECT_EQ(handled, 5);
    EXPECT_EQ(result, 7);
    DestroyWindow(plain);
}

TEST_F(TranslatorTest, AReleaseInsideRaisesTheClickEventsAndOutsideOnlyMouseUp) {
    const HWND button = Child(L"Button", BS_PUSHBUTTON);
    for (const wchar_t* name : {L"Clicking", L"Click", L"MouseUp"}) {
        ASSERT_TRUE(harness_.Subscribe(button, name));
    }
    SendMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    SendMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(-3, 5));  // left of the window
    const auto events = harness_.Events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].name, L"Clicking");
    EXPECT_EQ(events[1].name, L"Click");
    EXPECT_EQ(events[2].name, L"MouseUp");
    EXPECT_EQ(events[2].numbers, (std::vector<LONG>{0, 1, 5, 5}));
    EXPECT_EQ(events[3].name, L"MouseUp");
    EXPECT_EQ(events[3].numbers, (std::vector<LONG>{0, 1, -3, 5}));
}

TEST_F(TranslatorTest, ACancelledClickingDropsTheReleaseSoTheBoxKeepsItsState) {
    const HWND box = Child(L"Button", BS_AUTOCHECKBOX);
    for (const wchar_t* name : {L"Clicking", L"Click", L"MouseUp"}) {
        ASSERT_TRUE(harness_.Subscribe(box, name));
    }
    harness_.Cancel({L"Clicking"});
    WinHelper::PerformClick(box, 2, 2, 0, const_cast<wchar_t*>(L""));
    host_.Pump();
    EXPECT_EQ(harness_.EventNames(), (Names{L"Clicking", L"MouseUp"}));
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    harness_.Cancel({});
    harness_.Clear();
    WinHelper::PerformClick(box, 2, 2, 0, const_cast<wchar_t*>(L""));
    host_.Pump();
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_CHECKED);
    // Raised once, from the queue, not again when the release reaches the window procedure.
    EXPECT_EQ(harness_.EventNames(), (Names{L"Clicking", L"Click", L"MouseUp"}));
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
    for (const wchar_t* name : {L"Shown", L"Hidden", L"VisibleChanged", L"TextChanged"}) {
        ASSERT_TRUE(harness_.Subscribe(edit, name));
    }
    for (const wchar_t* name : {L"CheckedChanged", L"CheckStateChanged"}) {
        ASSERT_TRUE(harness_.Subscribe(box, name));
    }
    ShowWindow(edit, SW_HIDE);
    SendMessageW(edit, WM_SHOWWINDOW, FALSE, 0);  // already hidden: no VisibleChanged
    EXPECT_EQ(harness_.EventNames(), (Names{L"Hidden", L"VisibleChanged", L"Hidden"}));
    harness_.Clear();
    VirtualControlReference reference = Reference(edit);
    IVirtualTextBoxBase* textBox = nullptr;
    ASSERT_EQ(ControlOf(edit)->QueryInterface(__uuidof(IVirtualTextBoxBase),
                                              reinterpret_cast<void**>(&textBox)),
              S_OK);
    SendMessageW(edit, WM_CHAR, L'a', 0);  // typing sends no WM_SETTEXT
    textBox->Clear(&reference);
    textBox->Release();
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
        IVirtualCheckControl* check = nullptr;
        ASSERT_EQ(ControlOf(box)->QueryInterface(__uuidof(IVirtualCheckControl),
                                                 reinterpret_cast<void**>(&check)),
                  S_OK);
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
        check->Release();
    }
    const HWND push = Child(L"Button", BS_PUSHBUTTON);
    void* none = nullptr;
    EXPECT_EQ(ControlOf(push)->QueryInterface(__uuidof(IVirtualCheckControl), &none),
              E_NOINTERFACE);
}

TEST_F(TranslatorTest, AdjacentControlsLieWithinTheDistanceOnTheSideAskedFor) {
    const HWND centre = Child(L"Button", 0, nullptr, {100, 100, 150, 130});
    const HWND sides[] = {
        Child(L"Button", 0, nullptr, {40, 100, 90, 130}),    // left, 10 away
        Child(L"Button", 0, nullptr, {100, 60, 150, 90}),    // above, 10 away
        Child(L"Button", 0, nullptr, {100, 140, 150, 170}),  // below, 10 away
        Child(L"Button", 0, nullptr, {160, 100, 210, 130}),  // right, 10 away
    };
    IRecordInfo* info = nullptr;
    ITypeInfo* type = nullptr;
    ASSERT_TRUE(GetTypeLibResolutionService()->GetTypeInfoByGuid(&kControlReferenceGuid, &type));
    ASSERT_EQ(GetRecordInfoFromTypeInfo(type, &info), S_OK);
    type->Release();
    SAFEARRAY* candidates = SafeArrayCreateVector(VT_VARIANT, 0, 4);
    for (LONG i = 0; i < 4; ++i) {
        VirtualControlReference side = Reference(sides[i]);
        VARIANT element;
        V_VT(&element) = VT_RECORD;
        element.pvRecord = &side;
        element.pRecInfo = info;
        SafeArrayPutElement(candidates, &i, &element);
    }
    VirtualControlReference reference = Reference(centre);
    for (LONG direction = 0; direction < 5; ++direction) {
        for (const LONG distance : {10L, 11L}) {
            SAFEARRAY* found = nullptr;
            ASSERT_EQ(ControlOf(centre)->FindAdjacentControls(&reference, candidates, direction,
                                                              distance, &found),
                      S_OK);
            const LONG expected = direction < 4 && distance == 11 ? 1 : 0;
            EXPECT_EQ(static_cast<LONG>(found->rgsabound[0].cElements), expected);
            if (expected == 1) {
                VARIANT match;
                VariantInit(&match);
                LONG index = 0;
                SafeArrayGetElement(found, &index, &match);
                EXPECT_EQ(static_cast<VirtualControlReference*>(match.pvRecord)->WindowHandle,
                          Reference(sides[direction]).WindowHandle);
                VariantClear(&match);
            }
            SafeArrayDestroy(found);
        }
    }
    SafeArrayDestroy(candidates);
    SAFEARRAY* numbers = SafeArrayCreateVector(VT_VARIANT, 0, 1);  // no record in it
    SAFEARRAY* found = nullptr;
    EXPECT_EQ(ControlOf(centre)->FindAdjacentControls(&reference, numbers, 0, 10, &found),
              E_INVALIDARG);
    BSTR text = nullptr;
    EXPECT_EQ(ControlOf(centre)->GetText(nullptr, &text), E_INVALIDARG);
    SafeArrayDestroy(numbers);
    info->Release();
}

// Calls a member through IDispatch with the control reference first; the arguments after it
// are in call order.
HRESULT LateCall(IUnknown* object, const IID& iid, const wchar_t* name, HWND window,
                 std::vector<VARIANT> arguments, VARIANT* result, EXCEPINFO* exception) {
    IDispatch* dispatch = nullptr;
    if (FAILED(object->QueryInterface(iid, reinterpret_cast<void**>(&dispatch)))) return E_FAIL;
    ITypeInfo* type = nullptr;
    IRecordInfo* info = nullptr;
    GetTypeLibResolutionService()->GetTypeInfoByGuid(&kControlReferenceGuid, &type);
    GetRecordInfoFromTypeInfo(type, &info);
    type->Release();
    VirtualControlReference reference = Reference(window);
    VARIANT record;
    V_VT(&record) = VT_RECORD;
    record.pvRecord = &reference;
    record.pRecInfo = info;
    arguments.insert(arguments.begin(), record);
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    UINT argumentError = 0;
    if (SUCCEEDED(hr)) {
        hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                              exception, &argumentError);
    }
    info->Release();
    dispatch->Release();
    return hr;
}

TEST_F(TranslatorTest, LateBoundCallsReachTheTranslators) {
    const HWND edit = Child(L"Edit", 0, nullptr, {20, 30, 120, 60});
    const HWND box = Child(L"Button", BS_AUTOCHECKBOX, nullptr, {20, 70, 120, 100});
    VARIANT text;
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = SysAllocString(L"late");
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(LateCall(ControlOf(edit), IID_IDispatch, L"SetText", edit, {text}, &result, nullptr),
              S_OK);
    VariantClear(&text);
    EXPECT_EQ(LateCall(ControlOf(edit), IID_IDispatch, L"GetText", edit, {}, &result, nullptr),
              S_OK);
    ASSERT_EQ(V_VT(&result), VT_BSTR);
    EXPECT_STREQ(V_BSTR(&result), L"late");
    VariantClear(&result);

    LONG bounds[4] = {};
    std::vector<VARIANT> outs(4);
    for (int i = 0; i < 4; ++i) {
        V_VT(&outs[i]) = VT_BYREF | VT_I4;
        V_I4REF(&outs[i]) = &bounds[i];
    }
    EXPECT_EQ(LateCall(ControlOf(edit), IID_IDispatch, L"GetBounds", edit, outs, &result, nullptr),
              S_OK);
    EXPECT_EQ(std::vector<LONG>(bounds, bounds + 4), (std::vector<LONG>{20, 30, 100, 30}));

    const IID check = __uuidof(IVirtualCheckControl);
    EXPECT_EQ(LateCall(ControlOf(box), check, L"GetCheckState", box, {}, &result, nullptr), S_OK);
    EXPECT_EQ(V_VT(&result), VT_I4);
    EXPECT_EQ(V_I4(&result), BST_UNCHECKED);
    VARIANT indeterminate;
    V_VT(&indeterminate) = VT_I4;
    V_I4(&indeterminate) = BST_INDETERMINATE;
    EXCEPINFO exception{};
    EXPECT_EQ(LateCall(ControlOf(box), check, L"SetCheckState", box, {indeterminate}, &result,
                       &exception),
              DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, E_FAIL);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
}

}  // namespace
}  // namespace tarnwick::test
