#pragma once
// The root of every control translator: its COM identity with IVirtualControl first, where its
// events go, and how they are raised.
//
// One translator serves every window of its kind in the process; each operation names its
// window through the VirtualControlReference record of its first argument.

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "Tarnwick.Virtual.Interfaces.h"
#include "com/cidispatchbase.h"
#include "com/ciunknownbase.h"
#include "com/ctypelibresolutionservice.h"
#include "common/variantrecords.h"
#include "iinvokemanagementservice.h"

namespace tarnwick {

class CVirtualControlTranslator
    : public CIUnknownBase,
      public CIDispatchBase<IVirtualControl, STANDARD_VIRTUAL_INTERFACES_LIBRARY> {
  public:
    CVirtualControlTranslator();

    // A message of a hooked window; sets *handled when a subscriber cancelled what it does.
    // The hook hands over only the messages that IsTranslatedMessage accepts.
    virtual LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                  bool* handled);
    // A mouse release (or double click) at (x, y) in client coordinates; button 0 left, 1
    // middle, 2 right. Answers the cancel answer of "MouseUp".
    virtual bool HandleMouseUp(HWND window, UINT message, int button, int clicks, int x, int y,
                               bool* handled);

    // Raises the event about the window to its subscriber, if any; true when the subscriber
    // answered VARIANT_TRUE (cancel). The arguments' payloads travel with the event.
    bool RaiseEvent(HWND window, const wchar_t* name, VARIANT* arguments = nullptr, int count = 0);
    // Whether the event about the window has a subscriber now. A miss takes no lock, so a
    // translator asks this before it spends messages or records on the event's arguments.
    bool IsSubscribed(HWND window, const wchar_t* name);

    // Where the events go: the owner id copied into every event key, and the service whose
    // event collection holds the subscribers (not owned). Until a service is set no event
    // leaves; a null service stops them again.
    struct EventTarget {
        std::uint64_t ownerId = 0;
        IInvokeManagementService* service = nullptr;
    };
    // Publishes the pair as one: a raise on another thread sees the old pair or the new one,
    // never half of each. False, with the old pair kept, when no memory is left for it.
    bool SetEventTarget(std::uint64_t ownerId, IInvokeManagementService* service) noexcept;

  private:
    // The key of the window's events under the target; false when the identity is refused.
    bool EventKey(const EventTarget& target, HWND window, ReturnAddressRecord& key);

    std::atomic<std::shared_ptr<const EventTarget>> eventTarget_;
};

// Whether some translator's HandleMessage may act on the message. Every message that a
// HandleMessage reacts to must be accepted here: the subclass hook passes the others on without
// reading the window's translator property, a round trip to the window server per message.
bool IsTranslatedMessage(UINT message);

// Fails an operation with `code` and says why: the description becomes the thread's error
// information (source "Tarnwick.Virtual"), which a caller through IDispatch finds in its
// EXCEPINFO. Answers `code`.
HRESULT Refuse(HRESULT code, const std::wstring& description);

// "index 5 out of range (the combo box has 1 item)": `holder` names the control, `items` what
// it counts ("item", "tab").
std::wstring IndexOutOfRange(long index, long count, const wchar_t* holder, const wchar_t* items);

// Writes an operation's out value; E_POINTER for a null out pointer.
template <typename T, typename V>
HRESULT AnswerOut(T* out, V value) {
    if (out == nullptr) return E_POINTER;
    *out = static_cast<T>(value);
    return S_OK;
}

// An array that an operation builds, destroyed with the records it holds unless it is handed
// to the caller.
struct SafeArrayDestroyer {
    void operator()(SAFEARRAY* array) const noexcept { DestroyVariantArray(array); }
};
using CSafeArray = std::unique_ptr<SAFEARRAY, SafeArrayDestroyer>;

inline VARIANT_BOOL AsVariantBool(int value) { return value != 0 ? VARIANT_TRUE : VARIANT_FALSE; }

// The window a reference names. Every operation that reads its reference refuses a null one
// with E_INVALIDARG first.
inline HWND WindowOf(const VirtualControlReference* reference) {
    return reference != nullptr
               ? reinterpret_cast<HWND>(static_cast<std::intptr_t>(reference->WindowHandle))
               : nullptr;
}

}  // namespace tarnwick
