// The factory that classifies a window and attaches its kind's translator, and the hook entry
// points that hand a hooked window's messages to that translator.
#include "translatorfactory.h"

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <memory>
#include <mutex>

#include "remoting/ctraceprovider.h"
#include "translators/ctarnwickiunknownwrapper.h"
#include "translators/cvirtualcommonbuttontranslator.h"
#include "translators/cvirtualcommoncheckbasetranslator.h"
#include "translators/cvirtualcommontextboxtranslator.h"

namespace tarnwick {
namespace {

// {EC5A5939-8181-3E92-BB81-D55BB35373ED}
constexpr GUID kTraceGuid = {
    0xec5a5939, 0x8181, 0x3e92, {0xbb, 0x81, 0xd5, 0x5b, 0xb3, 0x53, 0x73, 0xed}};

enum TracePoint : USHORT {
    kTraceEntry = 10,
    kTraceNoWindow = 11,
    kTraceNoClassName = 12,
    kTraceSubclassUnknown = 21,
    kTracePeekUnknown = 22,
};

using Translator = CTarnwickIUnknownWrapper<CVirtualControlTranslator>;

// One kind of control: its type names and how its translator is made.
struct Kind {
    const wchar_t* interfaceTypeName;
    const wchar_t* adapterTypeName;
    CVirtualControlTranslator* (*create)();
};

template <typename T>
CVirtualControlTranslator* Create() {
    auto translator = std::make_unique<CTarnwickIUnknownWrapper<T>>();
    static_cast<IVirtualControl*>(translator.get())->AddRef();
    return translator.release();
}

#define TARNWICK_KIND(name, type)                                                     \
    Kind {                                                                            \
        L"Tarnwick.Virtual.Interfaces.IVirtual" name ", Tarnwick.Virtual.Interfaces", \
            L"Tarnwick.Adapters.Virtual.VirtualTargets.Virtual" name                  \
            ", Tarnwick.Adapters.Virtual",                                            \
            &Create<type>                                                             \
    }

enum KindIndex { kCheckBox, kRadioButton, kButton, kTextBox, kKindCount };

const Kind kKinds[kKindCount] = {
    TARNWICK_KIND("CheckBox", CVirtualCommonCheckBoxTranslator),
    TARNWICK_KIND("RadioButton", CVirtualCommonRadioButtonTranslator),
    TARNWICK_KIND("Button", CVirtualCommonButtonTranslator),
    TARNWICK_KIND("TextBox", CVirtualCommonTextBoxTranslator),
};

#undef TARNWICK_KIND

// The translators, one per kind, made on first use and kept for the life of the module. Reads
// take no lock; the first creation of a kind is serialised so that exactly one is made.
std::atomic<CVirtualControlTranslator*> g_translators[kKindCount];
std::mutex g_creation;

// The kind of a window class, or -1 when it has no translator.
int KindOf(HWND window, const wchar_t* className) {
    if (std::wcscmp(className, L"Button") == 0) {
        switch (GetWindowLongPtrW(window, GWL_STYLE) & BS_TYPEMASK) {
            case BS_CHECKBOX:
            case BS_AUTOCHECKBOX:
            case BS_3STATE:
            case BS_AUTO3STATE:
                return kCheckBox;
            case BS_RADIOBUTTON:
            case BS_AUTORADIOBUTTON:
                return kRadioButton;
            default:
                return kButton;
        }
    }
    if (std::wcscmp(className, L"Edit") == 0) return kTextBox;
    return -1;
}

// The kind's translator, made when there is none yet; `created` tells whether this call made it.
CVirtualControlTranslator* TranslatorOf(int kind, bool& created) {
    created = false;
    CVirtualControlTranslator* translator = g_translators[kind].load(std::memory_order_acquire);
    if (translator != nullptr) return translator;
    const std::lock_guard<std::mutex> lock(g_creation);
    translator = g_translators[kind].load(std::memory_order_acquire);
    if (translator == nullptr) {
        translator = kKinds[kind].create();
        g_translators[kind].store(translator, std::memory_order_release);
        created = true;
    }
    return translator;
}

Translator* AsExported(CVirtualControlTranslator* translator) {
    return static_cast<Translator*>(translator);
}

CVirtualControlTranslator* AttachedTranslator(HWND window) {
    return static_cast<CVirtualControlTranslator*>(GetPropW(window, kTranslatorProperty));
}

}  // namespace
}  // namespace tarnwick

using namespace tarnwick;

Translator* GetCommonControlTranslator(HWND window, bool* created, wchar_t* interfaceTypeName,
                                       wchar_t* adapterTypeName) {
    Trace(kTraceGuid, TraceLevel::Verbose, kTraceFlagComponent, kTraceEntry, window);
    if (window == nullptr || !IsWindow(window)) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceNoWindow, window);
        return nullptr;
    }
    if (created != nullptr) *created = false;
    wchar_t className[256];
    if (GetClassNameW(window, className, 256) == 0) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceNoClassName, window);
        return nullptr;
    }
    const int kind = KindOf(window, className);
    if (kind < 0) return nullptr;
    bool made = false;
    CVirtualControlTranslator* translator = TranslatorOf(kind, made);
    if (created != nullptr) *created = made;
    if (interfaceTypeName != nullptr) {
        wcscpy_s(interfaceTypeName, kTypeNameChars, kKinds[kind].interfaceTypeName);
    }
    if (adapterTypeName != nullptr) {
        wcscpy_s(adapterTypeName, kTypeNameChars, kKinds[kind].adapterTypeName);
    }
    SetPropW(window, kTranslatorProperty, translator);
    return AsExported(translator);
}

void SetTranslatorEventTarget(Translator* translator, std::uint64_t ownerId,
                              IInvokeManagementService* service) {
    if (translator == nullptr) return;
    auto* target = static_cast<CVirtualControlTranslator*>(translator);
    target->OwnerId = ownerId;
    target->EventService = service;
}

void VirtualControlSubclassProc(const _MESSAGE_NOTIFICATION& notification, int& handled, __int64&) {
    const HWND window = *notification.window;
    CVirtualControlTranslator* translator = AttachedTranslator(window);
    if (translator == nullptr) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceSubclassUnknown, window);
        return;
    }
    bool cancel = false;
    translator->HandleMessage(window, *notification.message, *notification.wParam,
                              *notification.lParam, &cancel);
    if (cancel) handled = 1;
}

void VirtualControlPeekProc(const _MESSAGE_NOTIFICATION& notification, int& handled, __int64&) {
    const HWND window = *notification.window;
    CVirtualControlTranslator* translator = AttachedTranslator(window);
    if (translator == nullptr) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTracePeekUnknown, window);
        return;
    }
    if (*notification.message != WM_LBUTTONUP) return;
    bool cancel = false;
    translator->HandleMessage(window, WM_LBUTTONUP, *notification.wParam, *notification.lParam,
                              &cancel);
    if (cancel) handled = 1;
}
