#pragma once
// A top-level window of the test's thread with the hooking host attached to the thread, its
// translators' events going to the event harness; and the fixture of the translator tests.

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/vaskhookhost.h"
#include "translatorfactory.h"
#include "translators/cvirtualcontroltranslator.h"
#include "translators/eventharness.h"

namespace tarnwick::test {

class CTranslatorHost {
  public:
    CTranslatorHost() {
        CEventHarness& harness = CEventHarness::Instance();
        attached_ =
            AttachHookHost(GetCurrentThreadId(), CEventHarness::kOwnerId, harness.Service()) != 0;
        parent_ = CreateWindowExW(0, L"Static", L"parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100,
                                  100, 400, 300, nullptr, nullptr, nullptr, nullptr);
    }
    CTranslatorHost(const CTranslatorHost&) = delete;
    CTranslatorHost& operator=(const CTranslatorHost&) = delete;
    ~CTranslatorHost() {
        DestroyWindow(parent_);
        if (attached_) DetachHookHost();
    }

    HWND Parent() const { return parent_; }
    // Dispatches what was posted to this thread, through the host's queue hook.
    void Pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

  private:
    bool attached_ = false;
    HWND parent_ = nullptr;
};

using Names = std::vector<std::wstring>;

// The texts of an array of VARIANTs ("?" for another kind), destroying it.
inline Names Texts(SAFEARRAY* array) {
    Names texts;
    for (LONG i = 0; array != nullptr && i < LONG(array->rgsabound[0].cElements); ++i) {
        VARIANT element;
        VariantInit(&element);
        SafeArrayGetElement(array, &i, &element);
        texts.push_back(V_VT(&element) == VT_BSTR ? V_BSTR(&element) : L"?");
        VariantClear(&element);
    }
    SafeArrayDestroy(array);
    return texts;
}

inline VirtualControlReference Reference(HWND window) {
    return {static_cast<__int64>(reinterpret_cast<std::intptr_t>(window))};
}

// The translator the hooking host attached to the window (the library's DLL; this executable
// holds a second copy of the factory, whose translators the host never sees).
inline IVirtualControl* ControlOf(HWND window) {
    return static_cast<CVirtualControlTranslator*>(GetPropW(window, kTranslatorProperty));
}

// An interface of that translator; null when there is none.
template <typename I>
Microsoft::WRL::ComPtr<I> InterfaceOf(HWND window) {
    Microsoft::WRL::ComPtr<I> found;
    if (IVirtualControl* control = ControlOf(window)) {
        control->QueryInterface(__uuidof(I), reinterpret_cast<void**>(found.GetAddressOf()));
    }
    return found;
}

// Each test starts with no event recorded or cancelled.
class TranslatorFixture : public testing::Test {
  protected:
    void SetUp() override {
        harness_.Clear();
        harness_.Cancel({});
    }
    void Subscribe(HWND window, std::initializer_list<const wchar_t*> names) {
        for (const wchar_t* name : names) EXPECT_TRUE(harness_.Subscribe(window, name)) << name;
    }

    CEventHarness& harness_ = CEventHarness::Instance();
    CTranslatorHost host_;
};

}  // namespace tarnwick::test
