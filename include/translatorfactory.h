#pragma once
// The factory that gives a window its control translator, and the two hook entry points through
// which a message-hooking host hands a hooked window's messages to that translator.
//
// A host calls, for each window it hooks: GetCommonControlTranslator once (a window whose class
// has no translator answers null and is left alone); when `created` comes back true, it sets the
// new translator's event target with SetTranslatorEventTarget, since until then the translator
// raises no events; then VirtualControlSubclassProc for every message sent or dispatched to the
// window and VirtualControlPeekProc for every message taken from its thread's queue. When
// `handled` comes back 1, the host drops the message so that the control never sees it.

#include <windows.h>
#include <unknwn.h>

#include <cstddef>
#include <cstdint>

#include "iinvokemanagementservice.h"
#include "tarnwickapi.h"

namespace tarnwick {

class CVirtualControlTranslator;
template <typename T>
class CTarnwickIUnknownWrapper;

// What the host passes for one message: pointers to the window, the message and its parameters.
// The five leading fields are the host's own and are not read.
struct _MESSAGE_NOTIFICATION {
    void* hostFields[5];
    HWND* window;
    UINT* message;
    WPARAM* wParam;
    LPARAM* lParam;
};
static_assert(offsetof(_MESSAGE_NOTIFICATION, window) == 40);
static_assert(offsetof(_MESSAGE_NOTIFICATION, lParam) == 64);

// A notification of the message held in the caller's variables, for a host to hand over.
inline _MESSAGE_NOTIFICATION MakeMessageNotification(HWND& window, UINT& message, WPARAM& wParam,
                                                     LPARAM& lParam) {
    _MESSAGE_NOTIFICATION notification{};
    notification.window = &window;
    notification.message = &message;
    notification.wParam = &wParam;
    notification.lParam = &lParam;
    return notification;
}

// The window property that names a classified window's translator.
inline constexpr wchar_t kTranslatorProperty[] = L"Tarnwick.Translators.Virtual";

// The size of each of the caller's type-name buffers, in characters.
inline constexpr size_t kTypeNameChars = 260;

// The two type names under which the automation host knows a kind of control.
struct TranslatorTypeNames {
    const wchar_t* interfaceTypeName;
    const wchar_t* adapterTypeName;
};

#define TARNWICK_TYPE_NAMES(kind)                                                                  \
    TranslatorTypeNames {                                                                          \
        L"Tarnwick.Virtual.Interfaces.IVirtual" kind ", Tarnwick.Virtual.Interfaces",              \
            L"Tarnwick.Adapters.Virtual.VirtualTargets.Virtual" kind ", Tarnwick.Adapters.Virtual" \
    }
inline constexpr TranslatorTypeNames kCheckBoxTypeNames = TARNWICK_TYPE_NAMES("CheckBox");
inline constexpr TranslatorTypeNames kRadioButtonTypeNames = TARNWICK_TYPE_NAMES("RadioButton");
inline constexpr TranslatorTypeNames kButtonTypeNames = TARNWICK_TYPE_NAMES("Button");
inline constexpr TranslatorTypeNames kTextBoxTypeNames = TARNWICK_TYPE_NAMES("TextBox");
inline constexpr TranslatorTypeNames kTabStripTypeNames = TARNWICK_TYPE_NAMES("TabStrip");
inline constexpr TranslatorTypeNames kComboBoxTypeNames = TARNWICK_TYPE_NAMES("ComboBox");
inline constexpr TranslatorTypeNames kTreeViewTypeNames = TARNWICK_TYPE_NAMES("TreeView");
inline constexpr TranslatorTypeNames kListViewTypeNames = TARNWICK_TYPE_NAMES("ListView");
#undef TARNWICK_TYPE_NAMES

// Trace messages of the factory and the hooks, under this message GUID, each carrying the
// window handle: the factory's entry at level 5 (verbose), the others at level 2 (error).
// {EC5A5939-8181-3E92-BB81-D55BB35373ED}
inline constexpr GUID kTranslatorFactoryTraceGuid = {
    0xec5a5939, 0x8181, 0x3e92, {0xbb, 0x81, 0xd5, 0x5b, 0xb3, 0x53, 0x73, 0xed}};
enum TranslatorFactoryTrace : unsigned short {
    kTraceFactoryEntry = 10,
    kTraceFactoryInvalidWindow = 11,  // null handle, or IsWindow false
    kTraceFactoryNoClassName = 12,    // GetClassNameW failed
    kTraceFactoryNoMemory = 13,       // no memory for the translator or its table entry
    kTraceSubclassNoTranslator = 21,  // the subclass hook's window has no translator
    kTracePeekNoTranslator = 22,      // the peek hook's window has no translator
    kTraceEventTargetNotSet = 31,     // no memory for a new event target (carries the translator)
};

}  // namespace tarnwick

// The process-wide translator for the window's kind of control, attached to the window as its
// property; null for a window that is not valid or whose class has no translator. The pointer
// is the translator's primary object and is not AddRef'd for the caller. `created` (when not
// null) is set to true only when this call created the kind's translator; the two buffers (when
// not null, kTypeNameChars characters each) receive the kind's interface and adapter type names.
extern "C++" TARNWICK_API tarnwick::CTarnwickIUnknownWrapper<tarnwick::CVirtualControlTranslator>*
GetCommonControlTranslator(HWND window, bool* created, wchar_t* interfaceTypeName,
                           wchar_t* adapterTypeName);

// Sets where a translator's events go: the owner id copied into every event key, and the
// service whose event collection holds the subscribers (not owned; null stops the events).
extern "C++" TARNWICK_API void SetTranslatorEventTarget(
    tarnwick::CTarnwickIUnknownWrapper<tarnwick::CVirtualControlTranslator>* translator,
    std::uint64_t ownerId, tarnwick::IInvokeManagementService* service);

// The translator's identity: its IUnknown, the one that subscribers name in their return
// address, with a reference for the caller. Through QueryInterface it answers the translator's
// dispatch interfaces. Null for a null translator.
extern "C++" TARNWICK_API IUnknown* GetTranslatorUnknown(
    tarnwick::CTarnwickIUnknownWrapper<tarnwick::CVirtualControlTranslator>* translator);

// A message sent or dispatched to a hooked window. `handled` becomes 1 when a subscriber
// cancelled what the message would do; it is left as it was otherwise. `result` is not touched.
// Both hooks find the translator that this factory attached to the window in a table of the
// process, not through the window property; WM_NCDESTROY takes the window out of that table.
extern "C++" TARNWICK_API void VirtualControlSubclassProc(
    const tarnwick::_MESSAGE_NOTIFICATION& notification, int& handled, __int64& result);

// A message taken from a hooked thread's queue: only WM_LBUTTONUP is looked at, so that a
// cancelled click can be dropped before the control sees it.
extern "C++" TARNWICK_API void VirtualControlPeekProc(
    const tarnwick::_MESSAGE_NOTIFICATION& notification, int& handled, __int64& result);
