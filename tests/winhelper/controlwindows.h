#pragma once
// Real windows for the WinHelper tests: a parent that records what its controls tell it, and
// a receiver that answers click and key requests as the window's process does.

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <vector>

namespace tarnwick::test {

// WM_COMMAND, WM_NOTIFY, WM_CONTEXTMENU or WM_PARENTNOTIFY as a parent received it.
struct ParentNote {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    HWND from = nullptr;  // the control that sent it
    int code = 0;         // WM_COMMAND: HIWORD(wParam); WM_NOTIFY: the NMHDR code
    int item = -1;        // LVN_ITEMCHANGED and LVN_ITEMACTIVATE: the fields of NMLISTVIEW
    UINT newState = 0, oldState = 0, changed = 0;
};

// A shown top-level window (so that focus and hit tests behave) that records what its
// children send or post to it.
class CRecordingParent {
  public:
    CRecordingParent();
    CRecordingParent(const CRecordingParent&) = delete;
    CRecordingParent& operator=(const CRecordingParent&) = delete;
    ~CRecordingParent() { DestroyWindow(window_); }

    HWND Window() const { return window_; }
    // A visible child control of the class, with the control id.
    HWND AddChild(const wchar_t* className, DWORD style, int id, RECT bounds = {10, 10, 210, 160});
    // What was recorded, after what was posted to this thread is dispatched.
    const std::vector<ParentNote>& Notes();
    void ClearNotes() { notes_.clear(); }

  private:
    static LRESULT CALLBACK Subclass(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR self);

    HWND window_ = nullptr;
    std::vector<ParentNote> notes_;
};

// One request as its receiver found it.
struct ReceivedRequest {
    UINT message = 0;                     // the registered message it came with
    std::uint32_t madeFor = 0;            // the process its (first) block was made for
    std::vector<std::uint8_t> bytes;      // the ClickRequest or keys block
    std::vector<std::uint8_t> textBytes;  // the key text block
    bool freed = false;                   // every block was gone after the receiver's free
};

// Answers "WM_TW_PERFORMCLICK" and "WM_TW_SIMULATE_KEYBOARD_INPUT" in its own window and in the
// controls it intercepts: opens the blocks by handle, copies and frees them.
class CRequestReceiver {
  public:
    CRequestReceiver();
    CRequestReceiver(const CRequestReceiver&) = delete;
    CRequestReceiver& operator=(const CRequestReceiver&) = delete;
    ~CRequestReceiver();

    HWND Window() const { return window_; }
    // Makes a control of this thread answer requests into this receiver while it lives.
    void Intercept(HWND control);
    // What was received, after what was posted to this thread is dispatched.
    const std::vector<ReceivedRequest>& Received();

    static UINT ClickMessage();
    static UINT KeysMessage();

  private:
    static LRESULT CALLBACK Subclass(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR self);

    HWND window_ = nullptr;
    std::vector<HWND> intercepted_;
    std::vector<ReceivedRequest> received_;
};

}  // namespace tarnwick::test
