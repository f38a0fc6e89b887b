#pragma once
// Vask.HookHost.x64.dll: the message-hooking host that runs inside the application's process.
//
// Attached to one GUI thread of the calling process, the host gives each control of that
// thread its translator (GetCommonControlTranslator of Tarnwick.Virtual.Native.x64.dll), both
// the windows that exist at attach and those created later (a WH_CBT hook classifies them at
// HCBT_CREATEWND, before their first message). It subclasses every classified window and the
// parent of each, and then:
// - hands every message sent or dispatched to a classified window to VirtualControlSubclassProc
//   and every message taken from the queue for one (PM_REMOVE, a WH_GETMESSAGE hook) to
//   VirtualControlPeekProc; a message marked handled is dropped: the subclass answers 0
//   without passing it on, the queued one becomes WM_NULL;
// - reflects WM_COMMAND and WM_NOTIFY that a parent receives from a classified child to the
//   child's translator (with the child as the window). A notification marked handled is
//   swallowed: the parent never sees it and the sender gets 0 for WM_COMMAND and TRUE for
//   WM_NOTIFY, the answer that cancels the *ING notifications (TVN_SELCHANGING,
//   LVN_ITEMCHANGING, TCN_SELCHANGING, TVN_BEGINLABELEDIT, ...), except FALSE for
//   TVN_ENDLABELEDIT and LVN_ENDLABELEDIT, whose FALSE rejects the new label;
// - reports tree-view changes with kTreeChangeMessage (below);
// - answers the click and key requests ("WM_TW_PERFORMCLICK", "WM_TW_SIMULATE_KEYBOARD_INPUT")
//   sent to any window it subclasses: it copies the blocks, frees them as their owner and posts
//   the input to that window, so that it travels through the queue like real input.
//
// Clicks: no click is made on a window that a user could not click: one that is hidden or
// disabled, or whose parent or top-level window is (a window that owns an open modal window is
// disabled); the request is freed and traced. Else the button messages at the request's client
// point, posted: button 1 WM_LBUTTONDOWN
// (MK_LBUTTON) and WM_LBUTTONUP, button 2 the right-button pair; a click count of 2 posts down,
// up, double click (with the button flag), up. When keyTextIncluded is 1, the key text names the
// modifier keys held during the click with the prefixes of the key syntax below: "+" Shift, "^"
// Ctrl, in any order ("" holds none). Their key-down messages are posted before the button
// messages and their key-up messages after, and the button messages carry MK_SHIFT and
// MK_CONTROL. Any other key text (Alt included, whose release would open the menu bar) is
// reported in the debug trace and the click is made without modifiers. A request whose block
// is not 68 bytes, or whose button or click count is not 1 or 2, is freed and not performed.
//
// Keys: the keys block is typed into the window it was posted to. Syntax:
// - any character other than + ^ % { } is typed as itself;
// - {ENTER} {TAB} {ESC} {BACKSPACE} {DELETE} {LEFT} {RIGHT} {UP} {DOWN} {HOME} {END} name keys
//   (the names in any letter case); {{} {}} {+} {^} {%} type the character between the braces;
// - the prefixes + (Shift), ^ (Ctrl) and % (Alt) hold that modifier for the next key only;
//   several may precede one key, each at most once ("+^{HOME}").
// A key is a WM_KEYDOWN, the character it types as WM_CHAR, and a WM_KEYUP; with Alt (and not
// Ctrl) the three are WM_SYSKEYDOWN, WM_SYSCHAR and WM_SYSKEYUP, as from a keyboard. Modifier
// keys go down before the key and up after it, and the host keeps the thread's key state
// (GetKeyState) in step with them as their messages are taken from the queue. The character
// typed: a plain character itself, with Shift its upper case; Ctrl with a letter its control
// character (^a types 0x01), Ctrl with {ENTER} 0x0A and with {BACKSPACE} 0x7F, Ctrl with
// anything else none, Ctrl with Alt none. {ENTER} types '\r', {TAB} '\t', {ESC} 0x1B,
// {BACKSPACE} 0x08; the other named keys type none. A character that no key of the keyboard
// layout types is only a WM_CHAR. The posted key messages carry bit 25 of lParam (a bit the
// system reserves); a character message that TranslateMessage makes from one of them is
// dropped as it leaves the queue, since the host posts the character itself. Bad syntax (an
// unknown name, a brace not closed or not opened, a repeated prefix or one that ends the text)
// types nothing and is reported in the debug trace.
// The key text is a label for diagnostics: it names the request in that trace.
//
// Threads: attach runs on the thread to attach. Detach on that thread removes everything at
// once; on another thread it sends the detach to the host's message-only window on the attached
// thread and waits until that thread answers (it must pump messages, or wait in a way that
// answers sent messages); when that thread has ended, it frees what is left itself. Unloading
// the DLL detaches the same way; on another thread it then waits while holding the loader lock,
// so detach before unloading there. At detach the host resets the event target of the
// translators it set to (0, null); the library's window property "Tarnwick.Translators.Virtual"
// stays.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#if defined(VASK_HOOKHOST_EXPORTS)
#define VASK_HOOKHOST_API __declspec(dllexport)
#else
#define VASK_HOOKHOST_API __declspec(dllimport)
#endif

namespace tarnwick {
class IInvokeManagementService;
}

extern "C" {

// Attaches the host to `threadId`, which must be the calling thread. `ownerId` and
// `eventService` (not owned; null raises no events) become the event target of each
// translator the host meets for the first time in this attachment. Answers 1, or 0 when
// `threadId` is not the calling thread, the host is attached already or a hook fails.
VASK_HOOKHOST_API int AttachHookHost(DWORD threadId, std::uint64_t ownerId,
                                     tarnwick::IInvokeManagementService* eventService);

// Removes every hook and subclass of the host. Answers 1 when it detached, 0 when the host
// was not attached or the attached thread did not answer.
VASK_HOOKHOST_API int DetachHookHost(void);

// Called in the automation host's process: loads this DLL into the process of `threadId` (a
// GUI thread of a running application, which must own a top-level window) with a
// WH_CALLWNDPROC hook and starts the agent there, on that thread (see "The agent" below). The
// agent serves this process: over the IPC queue when `hostWindow` is null, else over window
// messages sent to `hostWindow`. Writes the session's key to `*sessionKey` (see SessionKey
// below). Answers 1 when the agent runs for this process with that key, 0 when the thread has
// no window, the hook failed, `sessionKey` is null, or the agent could not start (an agent
// serving another automation host that is still running refuses). A second start from the
// same process ends its earlier session and starts a new one, on the transport it names.
VASK_HOOKHOST_API int StartAgent(DWORD threadId, HWND hostWindow, std::uint64_t* sessionKey);
}

namespace vask {

// Sent to a classified tree view after it has inserted an item (TVM_INSERTITEMW answered
// non-null) and before it deletes one (TVM_DELETEITEM that no translator cancelled), with
// wParam = a TreeChangeRecord and lParam = TreeChangeMark(wParam). It passes the host's subclass
// like any message, so that the tree view's translator sees it, and reaches the tree view. The
// host sends it on the tree's own thread with the record in its own frame. The number is
// WM_APP + 6, which an application may use for its own purposes: the translator reads the record
// only when lParam carries the mark and the record lies in the live part of the calling thread's
// stack; any other 0x8006 raises nothing.
inline constexpr UINT kTreeChangeMessage = 0x8006;

inline LPARAM TreeChangeMark(WPARAM record) {
    return static_cast<LPARAM>(record ^ 0x7A3C5E9172B4D6F1ull);
}

struct TreeChangeRecord {
    std::uint32_t size;     // 32
    std::uint32_t message;  // TVM_INSERTITEMW or TVM_DELETEITEM
    std::uint64_t wParam;   // the tree message's parameters
    std::int64_t lParam;
    std::uint64_t item;  // the inserted item, or the item to delete (lParam)
};
static_assert(sizeof(TreeChangeRecord) == 32);
static_assert(offsetof(TreeChangeRecord, message) == 4);
static_assert(offsetof(TreeChangeRecord, item) == 24);

// The agent: the remoting side of an application that an automation host drives from another
// process. Once started (StartAgent), it attaches the host to the application's GUI thread,
// every window of that thread and those created later, and runs one of the library's invoke
// management services:
// - IPC queue: the service's queue is AgentQueueName(application process id); the automation
//   host announces its own queue to it (the return-address message) before its first request.
//   The agent takes only a queue named AgentHostQueueName(attached host's process id): a queue
//   belongs to the process that made it, so no other process can hold that name while the host
//   runs. Any other return address is refused (traced) and replies keep going to the host;
// - window messages: the agent's message-only window, of class kAgentWindowClass and titled
//   with the application's process id in decimal (FindWindowExW(HWND_MESSAGE, ...)), receives
//   message 0x8007 and answers 0xABAB when it wrote a reply; events go to the host's window.
//
// Every request carries the session's key (SessionKey) as its target key; a request with any
// other key comes from a process that is not the attached host and is refused with
// E_ACCESSDENIED "not the attached automation host" (and traced), Detach included.
//
// Requests name the return address {application process id, 0, 0, 0}, except subscriptions
// (below). Each runs on the application's GUI thread, the thread that owns the controls, as
// one posted work item that the serving thread waits for; a modal loop (a message box, a
// dialog, a menu) dispatches it too, so requests go on while one is open. A request still
// running after the operation bound (kDefaultOperationBoundMs, or "SetOperationBound") is
// answered at once with kAgentBusy "the application is busy or shows a modal window"; the
// operation finishes later on its own and its result is dropped. Later requests run inside the
// modal loop that held it (listing and clicking the message box it opened, say). A host waits
// longer than the bound for each reply, so that the agent's own answer reaches it.
// Calls are DISPATCH_METHOD, with arguments in call order:
// - "ListControls"([first VT_I4]): the hooked controls, in window order (top-level windows,
//   then their children, depth first), from index `first` (0 when not given), at most
//   kControlsPerPage of them: one array of VARIANTs with kControlFields values per control:
//   window (VT_I8), parent (VT_I8), control id (VT_I4), class name, interface type name,
//   adapter type name, text (BSTR each), translator identity (VT_I8, the IUnknown of the
//   control's translator) and owner id (VT_I8). A page of fewer than kControlsPerPage controls
//   is the last: a host asks for pages until one is short.
// - "Sync"(): answered once the GUI thread has handled everything posted to it before the
//   call (the input of an earlier click or keys request included), and the events raised
//   meanwhile have been answered. VT_EMPTY.
// - "SavePicture"(path BSTR[, window VT_I8]): saves that window of the thread (a top-level
//   window with its menu bar, or a control), else the first visible top-level window of the
//   thread, with its visible children, as a PNG file at that path. VT_BOOL; E_INVALIDARG for
//   a window of another thread.
// - "ListEvents"(control): the events that the control's kind raises, its own first, then those
//   of every control: an array of VARIANTs (BSTR each). The control as below.
// - "ListMenu"(window VT_I8): the menu bar of that top-level window of the thread, its items
//   and those of every submenu depth first (separators and items without text left out): one
//   array of VARIANTs with kMenuFields values per item: path (BSTR, the item texts from the bar
//   down with "/" between them, each without its '&' marks and without what follows a tab),
//   text (BSTR, the item's own), depth (VT_I4, 0 on the bar), checked, disabled (disabled or
//   grayed) and submenu (VT_BOOL each). The window gets WM_INITMENU first and WM_INITMENUPOPUP
//   for each submenu before its items are read, as when a user opens them, so that it can
//   update them. E_INVALIDARG for a window without a menu bar.
// - "ChooseMenu"(window VT_I8, path BSTR): chooses the command that the path names, its texts
//   compared as ListMenu gives them in any letter case: WM_INITMENU, WM_INITMENUPOPUP for each
//   submenu on the way, then WM_COMMAND with the item's id (high word 0, lParam 0) posted to
//   the window, as after a user's choice. VT_EMPTY once posted. Refused, naming the level, with
//   E_INVALIDARG for an item that no level holds ("no item "Sav" in menu "File" (its items:
//   ...)"), a disabled or grayed item, a submenu at the end of the path or a command before
//   it, and with kAgentNotClickable for a window that a user could not use now (disabled while
//   a modal window is open, or hidden).
// - "SetOperationBound"(milliseconds VT_I4): the operation bound of this session, clamped to
//   100 .. 600000. VT_EMPTY.
// - "Detach"(): answered first; then every hook, subclass and subscription goes and the
//   application runs on as before. A later StartAgent starts the agent again.
// - any other name: an operation of a control, named as in the type library
//   (Tarnwick.Virtual.Interfaces.tlb; "GetText", "SetCheckState", "GetChildren", ...). The
//   first argument names the control: a VirtualControlReference record (VT_RECORD), or its
//   window handle as an integer. The operation's in-arguments follow, each converted to the
//   type the operation declares (a tree node may be given as its item handle, an integer).
//   A node handle that the tree does not hold now (deleted, or never one) is refused with
//   E_INVALIDARG before it reaches the tree: on some platforms an item handle is a pointer
//   into the tree's memory. 0 names no node (the top level for "GetChildren").
//   The result is the operation's out-argument, or an array of VARIANTs of its out-arguments
//   in order when it has several, VT_EMPTY when it has none; node and control records in a
//   result come back as their handles (VT_I8). A failing operation fails the call with its
//   HRESULT; when the translator described the failure (its error information), that
//   description is the failure text ("index 5 out of range (the combo box has 1 item)").
//   "SendKeys" is refused (E_INVALIDARG) when its keys have bad syntax or do not fit in one
//   keys block, with the position of the fault: "bad key syntax at character 3: no key is
//   named {ENTR}"; keys are typed after the answer, so nothing else would tell.
// Refusals fail the call with a code and a one-line text: DISP_E_UNKNOWNNAME "no such
// operation", E_INVALIDARG "no such control" (not a hooked window of the thread),
// DISP_E_BADPARAMCOUNT "wrong number of arguments", DISP_E_TYPEMISMATCH "argument N: wrong
// kind", kAgentBusy (above), kAgentResultTooLarge when an array of the result holds more
// values than one reply block carries (MaxArrayValues(); the text names both numbers): a
// result is never cut short or emptied; kAgentNotClickable when the operation made a click that
// the host refused (see Clicks below): "not clicked: it is disabled", "not clicked: its window
// "Main" is disabled while "Enter a name" is open".
//
// Subscriptions name the return address {application process id, owner id, translator
// identity, window} of the control (from "ListControls") and the event's name ("Click",
// "Clicking", "NodeClicked", ...). A subscription that names no hooked control of the thread,
// or an event that the control's kind does not raise (see "ListEvents"), is refused with
// E_INVALIDARG and a text that names the kind's events. Events arrive with the translator's
// arguments: VT_I4 and VT_BOOL values and VirtualTreeNodeReference records (VT_RECORD, field
// ItemHandle). Their answer VARIANT_TRUE cancels what the event allows to cancel. The automation
// host answers an event before it makes any request of its own: the raising GUI thread waits for
// the answer and handles nothing else meanwhile.
//
// A session lasts until "Detach", the end of the automation host's process, or the end of the
// GUI thread (it takes WM_QUIT from its queue, or is gone); the agent then detaches as for
// "Detach", so that no event waits for a party that is gone. Windows come and go meanwhile:
// those created later are hooked as they appear, and a window's destruction drops only its own
// hooks, subclasses and subscriptions.
inline constexpr const wchar_t* kAgentWindowClass = L"Vask.HookHost.Agent";
inline constexpr int kControlFields = 9;
inline constexpr int kControlsPerPage = 400;
inline constexpr int kMenuFields = 6;
inline constexpr DWORD kDefaultOperationBoundMs = 5000;
inline constexpr HRESULT kAgentBusy = static_cast<HRESULT>(0x800700AA);  // ERROR_BUSY
inline constexpr HRESULT kAgentResultTooLarge =
    static_cast<HRESULT>(0x8007007A);  // ERROR_INSUFFICIENT_BUFFER
inline constexpr HRESULT kAgentNotClickable =
    static_cast<HRESULT>(0x8007139F);  // ERROR_INVALID_STATE

// The largest number of values in one array of a reply: a 16-byte wire value each, after a
// 4-byte count, in a block of at most `maxBlockSize` bytes (GetMaxPageSize of the shared-memory
// library: 65536, so 4095).
inline constexpr std::uint32_t MaxArrayValues(std::uint32_t maxBlockSize) {
    return maxBlockSize < 4 ? 0 : (maxBlockSize - 4) / 16;
}

// The target key of every request of a session: the session key in the first 8 bytes,
// little-endian, and 8 zero bytes.
struct SessionKey {
    unsigned char bytes[16];
};
inline SessionKey MakeSessionKey(std::uint64_t key) {
    SessionKey made{};
    for (int i = 0; i < 8; ++i) made.bytes[i] = static_cast<unsigned char>(key >> (8 * i));
    return made;
}

inline std::wstring AgentQueueName(DWORD applicationProcessId) {
    return L"Vask.HookHost.Agent." + std::to_wstring(applicationProcessId);
}

inline std::wstring AgentHostQueueName(DWORD hostProcessId) {
    return L"Vask.HookHost.Host." + std::to_wstring(hostProcessId);
}

}  // namespace vask
