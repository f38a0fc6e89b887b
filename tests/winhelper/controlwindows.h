#pragma once
// Real windows for the WinHelper tests: a parent that records what its controls tell it, and
// a window that answers the click and key requests as a receiving process would.

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::test {

// One message a recording parent received.
struct ParentNote {
    UINT message = 0;  // WM_COMMAND, WM_NOTIFY, WM_CONTEXTMENU or WM_PARENTNOTIFY
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    HWND from = nullptr;  // WM_COMMAND: lParam; WM_NOTIFY: hwndFrom; WM_CONTEXTMENU: wParam
    int code = 0;         // WM_COMMAND: HIWORD(wParam); WM_NOTIFY: the NMHDR code
    int item = -1;        // WM_NOTIFY of a list view: iItem
    UINT newState = 0;    // LVN_ITEMCHANGED: uNewState
    UINT oldState = 0;
    UINT changed = 0;  // LVN_ITEMCHANGED and LVN_ITEMACTIVATE: uChanged
};

// A top-level window (shown, so that focus and hit tests behave) that records the
// notifications its children send or post to it.
class CRecordingParent {
  public:
    CRecordingParent();
    CRecordingParent(const CRecordingParent&) = delete;
    CRecordingParent& operator=(const CRecordingParent&) = delete;
    ~CRecordingParent();

    HWND Window() const { return window_; }
    // A child control of the class, visible, with the control id.
    HWND AddChild(const wchar_t* className, DWORD style, int id, RECT bounds = {10, 10, 210, 160});

    // Dispatches what was posted to this thread, then answers what was recorded.
    const std::vector<ParentNote>& Notes();
    // The recorded notes of one WM_COMMAND or WM_NOTIFY code.
    std::vector<ParentNote> NotesWithCode(int code);
    void ClearNotes() { notes_.clear(); }

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    std::vector<ParentNote> notes_;
};

// What a request receiver found in one request's blocks.
struct ReceivedRequest {
    UINT message = 0;                     // the registered message it came with
    std::uint32_t handle = 0;             // wParam: the ClickRequest or keys block
    std::uint32_t textHandle = 0;         // lParam: the key text block
    std::uint32_t madeFor = 0;            // the process the (first) block was made for
    std::vector<std::uint8_t> bytes;      // the (first) block's bytes, as allocated
    std::vector<std::uint8_t> textBytes;  // the key text block's bytes
    bool freed = false;                   // every block was gone after the receiver's free
};

// A window that answers "WM_TW_PERFORMCLICK" and "WM_TW_SIMULATE_KEYBOARD_INPUT" as the
// receiving side does: it opens the blocks by handle, copies them and frees them. A
// "WM_TW_PERFORMDBLCLICK" is recorded with no block.
class CRequestReceiver {
  public:
    CRequestReceiver();
    CRequestReceiver(const CRequestReceiver&) = delete;
    CRequestReceiver& operator=(const CRequestReceiver&) = delete;
    ~CRequestReceiver();

    HWND Window() const { return window_; }
    // Makes a control of this thread answer the requests too, recorded here, until the
    // receiver goes.
    void Intercept(HWND control);
    // Dispatches what was posted to this thread, then answers what was received.
    const std::vector<ReceivedRequest>& Received();

    static UINT ClickMessage();
    static UINT DoubleClickMessage();
    static UINT KeysMessage();

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR self);
    // Takes a request's blocks when the message is one; false for any other message.
    bool Take(UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    std::vector<HWND> intercepted_;
    std::vector<ReceivedRequest> received_;
};

// Dispatches every message waiting for this thread.
void PumpThreadMessages();

}  // namespace tarnwick::test
