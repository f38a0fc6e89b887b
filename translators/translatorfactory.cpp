// The factory that classifies a window and attaches its kind's translator, and the hook entry
// points that hand a hooked window's messages to that translator.
#include "translatorfactory.h"

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <new>

#include "trace/ctraceprovider.h"
#include "translators/ctarnwickiunknownwrapper.h"
#include "translators/ctranslatortable.h"
#include "translators/cvirtualcommonbuttontranslator.h"
#include "translators/cvirtualcommoncheckbasetranslator.h"
#include "translators/cvirtualcommoncomboboxtranslator.h"
#include "translators/cvirtualcommontabstriptranslator.h"
#include "translators/cvirtualcommonlistviewtranslator.h"
#include "translators/cvirtualcommontextboxtranslator.h"
#include "translators/cvirtualcommontreeviewtranslator.h"

namespace tarnwick {
namespace {

using Translator = CTarnwickIUnknownWrapper<CVirtualControlTranslator>;

// One kind of control: its type names and how its translator is made.
struct Kind {
    TranslatorTypeNames names;
    CVirtualControlTranslator* (*create)();
};

template <typename T>
CVirtualControlTranslator* Create() {
    auto translator = std::make_unique<CTarnwickIUnknownWrapper<T>>();
    static_cast<IVirtualControl*>(translator.get())->AddRef();
    return translator.release();
}

enum KindIndex {
    kCheckBox,
    kRadioButton,
    kButton,
    kTextBox,
    kTabStrip,
    kComboBox,
    kTreeView,
    kListView,
    kKindCount
};

const Kind kKinds[kKindCount] = {
    {kCheckBoxTypeNames, &Create<CVirtualCommonCheckBoxTranslator>},
    {kRadioButtonTypeNames, &Create<CVirtualCommonRadioButtonTranslator>},
    {kButtonTypeNames, &Create<CVirtualCommonButtonTranslator>},
    {kTextBoxTypeNames, &Create<CVirtualCommonTextBoxTranslator>},
    {kTabStripTypeNames, &Create<CVirtualCommonTabStripTranslator>},
    {kComboBoxTypeNames, &Create<CVirtualCommonComboBoxTranslator>},
    {kTreeViewTypeNames, &Create<CVirtualCommonTreeViewTranslator>},
    {kListViewTypeNames, &Create<CVirtualCommonListViewTranslator>},
};

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
    for (const wchar_t* tabStrip :
         {L"TabStrip20WndClass", L"TabStripWndClass", L"SysTabControl32"}) {
        if (std::wcscmp(className, tabStrip) == 0) return kTabStrip;
    }
    if (std::wcscmp(className, L"ComboBox") == 0) return kComboBox;
    if (std::wcscmp(className, L"SysTreeView32") == 0) return kTreeView;
    if (std::wcscmp(className, L"SysListView32") == 0) return kListView;
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

// The last left-button release that this thread's peek hook handed to a translator and nobody
// cancelled. When the same message then reaches the window procedure through the subclass hook,
// its events have been raised already.
struct PeekedRelease {
    HWND window = nullptr;
    WPARAM wParam = 0;
    LPARAM lParam = 0;

    bool operator==(const PeekedRelease&) const = default;
};
thread_local PeekedRelease t_peekedRelease;

// The translators the factory attached, by window; the property stays for other readers.
CTranslatorTable& AttachedTranslators() {
    static CTranslatorTable* const table = new CTranslatorTable;  // outlives every hook
    return *table;
}

}  // namespace
}  // namespace tarnwick

using namespace tarnwick;

Translator* GetCommonControlTranslator(HWND window, bool* created, wchar_t* interfaceTypeName,
                                       wchar_t* adapterTypeName) {
    Trace(kTranslatorFactoryTraceGuid, TraceLevel::Verbose, kTraceFlagComponent, kTraceFactoryEntry,
          window);
    if (window == nullptr || !IsWindow(window)) {
        Trace(kTranslatorFactoryTraceGuid, TraceLevel::Error, kTraceFlagComponent,
              kTraceFactoryInvalidWindow, window);
        return nullptr;
    }
    if (created != nullptr) *created = false;
    wchar_t className[256];
    if (GetClassNameW(window, className, 256) == 0) {
        Trace(kTranslatorFactoryTraceGuid, TraceLevel::Error, kTraceFlagComponent,
              kTraceFactoryNoClassName, window);
        return nullptr;
    }
    const int kind = KindOf(window, className);
    if (kind < 0) return nullptr;
    bool made = false;
    CVirtualControlTranslator* translator = nullptr;
    try {
        translator = TranslatorOf(kind, made);
        AttachedTranslators().Attach(window, translator);
    } catch (const std::bad_alloc&) {
        // Called from hooks inside another application: nothing may escape.
        Trace(kTranslatorFactoryTraceGuid, TraceLevel::Error, kTraceFlagComponent,
              kTraceFactoryNoMemory, window);
        return nullptr;
    }
    if (created != nullptr) *created = made;
    if (interfaceTypeName != nullptr) {
        wcscpy_s(interfaceTypeName, kTypeNameChars, kKinds[kind].names.interfaceTypeName);
    }
    if (adapterTypeName != nullptr) {
        wcscpy_s(adapterTypeName, kTypeNameChars, kKinds[kind].names.adapterTypeName);
    }
    SetPropW(window, kTranslatorProperty, translator);
    return AsExported(translator);
}

void SetTranslatorEventTarget(Translator* translator, std::uint64_t ownerId,
                              IInvokeManagementService* service) {
    if (translator != nullptr && !translator->SetEventTarget(ownerId, service)) {
        Trace(kTranslatorFactoryTraceGuid, TraceLevel::Error, kTraceFlagComponent,
              kTraceEventTargetNotSet, static_cast<void*>(translator));
    }
}

IUnknown* GetTranslatorUnknown(Translator* translator) {
    if (translator == nullptr) return nullptr;
    IVirtualControl* control = static_cast<CVirtualControlTranslator*>(translator);
    IUnknown* identity = nullptr;
    return SUCCEEDED(control->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)))
               ? identity
               : nullptr;
}

void VirtualControlSubclassProc(const _MESSAGE_NOTIFICATION& notification, int& handled, __int64&) {
    if (*notification.message == WM_NCDESTROY) AttachedTranslators().Forget(*notification.window);
    if (!IsTranslatedMessage(*notification.message)) return;  // no translator acts on it
    const HWND window = *notification.window;
    CVirtualControlTranslator* translator = AttachedTranslators().Find(window);
    if (translator == nullptr) {
        Trace(kTranslatorFactoryTraceGuid, TraceLevel::Error, kTraceFlagComponent,
              kTraceSubclassNoTranslator, window);
        return;
    }
    if (*notification.message == WM_LBUTTONUP && t_peekedRelease != PeekedRelease{} &&
        t_peekedRelease == PeekedRelease{window, *notification.wParam, *notification.lParam}) {
        t_peekedRelease = {};
        return;
    }
    bool cancel = false;
    translator->HandleMessage(window, *notification.message, *notification.wParam,
                              *notification.lParam, &cancel);
    if (cancel) handled = 1;
}

void VirtualControlPeekProc(const _MESSAGE_NOTIFICATION& notification, int& handled, __int64&) {
    // A kept release that was never dispatched (a control's loop took it, a subclass swallowed
    // it) is forgotten with the next message taken from the queue, whatever its window, so
    // that a later release sent with the same parameters raises its events.
    t_peekedRelease = {};
    if (*notification.message != WM_LBUTTONUP) return;
    const HWND window = *notification.window;
    CVirtualControlTranslator* translator = AttachedTranslators().Find(window);
    if (translator == nullptr) {
        Trace(kTranslatorFactoryTraceGuid, TraceLevel::Error, kTraceFlagComponent,
              kTracePeekNoTranslator, window);
        return;
    }
    bool cancel = false;
    translator->HandleMessage(window, WM_LBUTTONUP, *notification.wParam, *notification.lParam,
                              &cancel);
    if (cancel) {
        handled = 1;
    } else {
        t_peekedRelease = {window, *notification.wParam, *notification.lParam};
    }
}
