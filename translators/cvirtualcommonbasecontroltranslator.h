#pragma once
// What every translator shares: the IVirtualControl operations and the events that every control
// raises from its hooked messages (focus, enabling, text, visibility, keys, mouse and clicks).

#include <windows.h>

#include "translators/cvirtualcontroltranslator.h"

namespace tarnwick {

class CVirtualCommonBaseControlTranslator : public CVirtualControlTranslator {
  public:
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                          bool* handled) override;
    bool HandleMouseUp(HWND window, UINT message, int button, int clicks, int x, int y,
                       bool* handled) override;

    // IVirtualControl, in interface order.
    HRESULT STDMETHODCALLTYPE CaptureImage(VirtualControlReference* reference) override;       // 1
    HRESULT STDMETHODCALLTYPE Highlight(VirtualControlReference* reference) override;          // 2
    HRESULT STDMETHODCALLTYPE Unhighlight(VirtualControlReference* reference) override;        // 3
    HRESULT STDMETHODCALLTYPE Hover(VirtualControlReference* reference) override;              // 4
    HRESULT STDMETHODCALLTYPE MiddleClick(VirtualControlReference* reference) override;        // 5
    HRESULT STDMETHODCALLTYPE MiddleDoubleClick(VirtualControlReference* reference) override;  // 6
    HRESULT STDMETHODCALLTYPE WaitForIdle(VirtualControlReference* reference) override;        // 7
    HRESULT STDMETHODCALLTYPE WaitForReady(VirtualControlReference* reference) override;       // 8
    HRESULT STDMETHODCALLTYPE WaitForVisible(VirtualControlReference* reference) override;     // 9
    HRESULT STDMETHODCALLTYPE WaitForEnabled(VirtualControlReference* reference) override;     // 10
    HRESULT STDMETHODCALLTYPE ScrollIntoView(VirtualControlReference* reference) override;     // 11
    HRESULT STDMETHODCALLTYPE Undo(VirtualControlReference* reference) override;               // 12
    HRESULT STDMETHODCALLTYPE Redo(VirtualControlReference* reference) override;               // 13
    HRESULT STDMETHODCALLTYPE PrintImage(VirtualControlReference* reference) override;         // 14
    HRESULT STDMETHODCALLTYPE Close(VirtualControlReference* reference) override;              // 15
    HRESULT STDMETHODCALLTYPE GetIsNative(VirtualControlReference* reference,
                                          VARIANT_BOOL* value) override;  // 16
    HRESULT STDMETHODCALLTYPE GetSupportsEvents(VirtualControlReference* reference,
                                                VARIANT_BOOL* value) override;  // 17
    HRESULT STDMETHODCALLTYPE GetIsWindowless(VirtualControlReference* reference,
                                              VARIANT_BOOL* value) override;  // 18
    HRESULT STDMETHODCALLTYPE GetIsOwnerDrawn(VirtualControlReference* reference,
                                              VARIANT_BOOL* value) override;  // 19
    HRESULT STDMETHODCALLTYPE GetIsRemote(VirtualControlReference* reference,
                                          VARIANT_BOOL* value) override;  // 20
    HRESULT STDMETHODCALLTYPE GetIsDisposed(VirtualControlReference* reference,
                                            VARIANT_BOOL* value) override;  // 21
    HRESULT STDMETHODCALLTYPE GetParentHandle(VirtualControlReference* reference,
                                              INT64* value) override;  // 22
    HRESULT STDMETHODCALLTYPE GetOwnerHandle(VirtualControlReference* reference,
                                             INT64* value) override;  // 23
    HRESULT STDMETHODCALLTYPE GetMenuHandle(VirtualControlReference* reference,
                                            INT64* value) override;  // 24
    HRESULT STDMETHODCALLTYPE GetFontHandle(VirtualControlReference* reference,
                                            INT64* value) override;                      // 25
    HRESULT STDMETHODCALLTYPE BeginUpdate(VirtualControlReference* reference) override;  // 26
    HRESULT STDMETHODCALLTYPE EndUpdate(VirtualControlReference* reference) override;    // 27
    HRESULT STDMETHODCALLTYPE GetControlTypeName(VirtualControlReference* reference,
                                                 BSTR* value) override;  // 28
    HRESULT STDMETHODCALLTYPE GetImageListHandle(VirtualControlReference* reference,
                                                 INT64* value) override;  // 29
    HRESULT STDMETHODCALLTYPE GetTabIndex(VirtualControlReference* reference,
                                          LONG* value) override;  // 30
    HRESULT STDMETHODCALLTYPE GetContextMenuHandle(VirtualControlReference* reference,
                                                   INT64* value) override;  // 31
    HRESULT STDMETHODCALLTYPE GetWindowClassName(VirtualControlReference* reference,
                                                 BSTR* value) override;  // 32
    HRESULT STDMETHODCALLTYPE GetText(VirtualControlReference* reference,
                                      BSTR* value) override;  // 33
    HRESULT STDMETHODCALLTYPE SetText(VirtualControlReference* reference,
                                      BSTR text) override;                             // 34
    HRESULT STDMETHODCALLTYPE ResetText(VirtualControlReference* reference) override;  // 35
    HRESULT STDMETHODCALLTYPE GetBounds(VirtualControlReference* reference, LONG* x, LONG* y,
                                        LONG* width, LONG* height) override;  // 36
    HRESULT STDMETHODCALLTYPE SetBounds(VirtualControlReference* reference, LONG x, LONG y,
                                        LONG width, LONG height) override;  // 37
    HRESULT STDMETHODCALLTYPE GetClientBounds(VirtualControlReference* reference, LONG* x, LONG* y,
                                              LONG* width, LONG* height) override;  // 38
    HRESULT STDMETHODCALLTYPE GetScreenBounds(VirtualControlReference* reference, LONG* x, LONG* y,
                                              LONG* width, LONG* height) override;  // 39
    HRESULT STDMETHODCALLTYPE GetTop(VirtualControlReference* reference,
                                     LONG* value) override;  // 40
    HRESULT STDMETHODCALLTYPE SetTop(VirtualControlReference* reference,
                                     LONG value) override;  // 41
    HRESULT STDMETHODCALLTYPE GetBottom(VirtualControlReference* reference,
                                        LONG* value) override;  // 42
    HRESULT STDMETHODCALLTYPE GetLeft(VirtualControlReference* reference,
                                      LONG* value) override;  // 43
    HRESULT STDMETHODCALLTYPE SetLeft(VirtualControlReference* reference,
                                      LONG value) override;  // 44
    HRESULT STDMETHODCALLTYPE GetRight(VirtualControlReference* reference,
                                       LONG* value) override;  // 45
    HRESULT STDMETHODCALLTYPE GetHeight(VirtualControlReference* reference,
                                        LONG* value) override;  // 46
    HRESULT STDMETHODCALLTYPE SetHeight(VirtualControlReference* reference,
                                        LONG value) override;  // 47
    HRESULT STDMETHODCALLTYPE GetWidth(VirtualControlReference* reference,
                                       LONG* value) override;  // 48
    HRESULT STDMETHODCALLTYPE SetWidth(VirtualControlReference* reference,
                                       LONG value) override;  // 49
    HRESULT STDMETHODCALLTYPE GetVisible(VirtualControlReference* reference,
                                         VARIANT_BOOL* value) override;  // 50
    HRESULT STDMETHODCALLTYPE SetVisible(VirtualControlReference* reference,
                                         VARIANT_BOOL value) override;  // 51
    HRESULT STDMETHODCALLTYPE GetEnabled(VirtualControlReference* reference,
                                         VARIANT_BOOL* value) override;  // 52
    HRESULT STDMETHODCALLTYPE SetEnabled(VirtualControlReference* reference,
                                         VARIANT_BOOL value) override;                // 53
    HRESULT STDMETHODCALLTYPE Minimize(VirtualControlReference* reference) override;  // 54
    HRESULT STDMETHODCALLTYPE Maximize(VirtualControlReference* reference) override;  // 55
    HRESULT STDMETHODCALLTYPE Restore(VirtualControlReference* reference) override;   // 56
    HRESULT STDMETHODCALLTYPE Flash(VirtualControlReference* reference) override;     // 57
    HRESULT STDMETHODCALLTYPE Detach(VirtualControlReference* reference) override;    // 58
    HRESULT STDMETHODCALLTYPE GetFocused(VirtualControlReference* reference,
                                         VARIANT_BOOL* value) override;               // 59
    HRESULT STDMETHODCALLTYPE Activate(VirtualControlReference* reference) override;  // 60
    HRESULT STDMETHODCALLTYPE Focus(VirtualControlReference* reference) override;     // 61
    HRESULT STDMETHODCALLTYPE GetFocusedChildHandle(VirtualControlReference* reference,
                                                    INT64* value) override;              // 62
    HRESULT STDMETHODCALLTYPE RemoveFocus(VirtualControlReference* reference) override;  // 63
    HRESULT STDMETHODCALLTYPE Hide(VirtualControlReference* reference) override;         // 64
    HRESULT STDMETHODCALLTYPE Click(VirtualControlReference* reference) override;        // 65
    HRESULT STDMETHODCALLTYPE ClickAt(VirtualControlReference* reference, LONG x,
                                      LONG y) override;                                  // 66
    HRESULT STDMETHODCALLTYPE DoubleClick(VirtualControlReference* reference) override;  // 67
    HRESULT STDMETHODCALLTYPE DoubleClickAt(VirtualControlReference* reference, LONG x,
                                            LONG y) override;                           // 68
    HRESULT STDMETHODCALLTYPE RightClick(VirtualControlReference* reference) override;  // 69
    HRESULT STDMETHODCALLTYPE RightClickAt(VirtualControlReference* reference, LONG x,
                                           LONG y) override;  // 70
    HRESULT STDMETHODCALLTYPE PerformClick(VirtualControlReference* reference, BSTR keys,
                                           VARIANT_BOOL* value) override;  // 71
    HRESULT STDMETHODCALLTYPE PerformClickAt(VirtualControlReference* reference, LONG x, LONG y,
                                             BSTR keys, VARIANT_BOOL* value) override;  // 72
    HRESULT STDMETHODCALLTYPE PerformDoubleClick(VirtualControlReference* reference, BSTR keys,
                                                 VARIANT_BOOL* value) override;  // 73
    HRESULT STDMETHODCALLTYPE PerformDoubleClickAt(VirtualControlReference* reference, LONG x,
                                                   LONG y, BSTR keys,
                                                   VARIANT_BOOL* value) override;  // 74
    HRESULT STDMETHODCALLTYPE PerformRightClick(VirtualControlReference* reference, BSTR keys,
                                                VARIANT_BOOL* value) override;  // 75
    HRESULT STDMETHODCALLTYPE PerformRightClickAt(VirtualControlReference* reference, LONG x,
                                                  LONG y, BSTR keys,
                                                  VARIANT_BOOL* value) override;  // 76
    HRESULT STDMETHODCALLTYPE SendKeys(VirtualControlReference* reference, BSTR keys,
                                       BSTR keyText) override;                            // 77
    HRESULT STDMETHODCALLTYPE Show(VirtualControlReference* reference) override;          // 78
    HRESULT STDMETHODCALLTYPE ContextClick(VirtualControlReference* reference) override;  // 79
    HRESULT STDMETHODCALLTYPE ContextClickAt(VirtualControlReference* reference, LONG x,
                                             LONG y) override;  // 80
    HRESULT STDMETHODCALLTYPE FindAdjacentControls(VirtualControlReference* reference,
                                                   SAFEARRAY* candidates, LONG direction,
                                                   LONG distance,
                                                   SAFEARRAY** result) override;               // 81
    HRESULT STDMETHODCALLTYPE Refresh(VirtualControlReference* reference) override;            // 82
    HRESULT STDMETHODCALLTYPE Invalidate(VirtualControlReference* reference) override;         // 83
    HRESULT STDMETHODCALLTYPE Update(VirtualControlReference* reference) override;             // 84
    HRESULT STDMETHODCALLTYPE Redraw(VirtualControlReference* reference) override;             // 85
    HRESULT STDMETHODCALLTYPE RepaintBackground(VirtualControlReference* reference) override;  // 86
    HRESULT STDMETHODCALLTYPE RepaintBorder(VirtualControlReference* reference) override;      // 87
    HRESULT STDMETHODCALLTYPE BringToFront(VirtualControlReference* reference) override;       // 88
    HRESULT STDMETHODCALLTYPE SendToBack(VirtualControlReference* reference) override;         // 89
    HRESULT STDMETHODCALLTYPE MoveForward(VirtualControlReference* reference) override;        // 90
    HRESULT STDMETHODCALLTYPE MoveBackward(VirtualControlReference* reference) override;       // 91
    HRESULT STDMETHODCALLTYPE CaptureMouse(VirtualControlReference* reference) override;       // 92
    HRESULT STDMETHODCALLTYPE ReleaseMouse(VirtualControlReference* reference) override;       // 93
    HRESULT STDMETHODCALLTYPE ShowToolTip(VirtualControlReference* reference) override;        // 94
    HRESULT STDMETHODCALLTYPE HideToolTip(VirtualControlReference* reference) override;        // 95
    HRESULT STDMETHODCALLTYPE BeginDrag(VirtualControlReference* reference) override;          // 96
    HRESULT STDMETHODCALLTYPE EndDrag(VirtualControlReference* reference) override;            // 97
    HRESULT STDMETHODCALLTYPE CancelDrag(VirtualControlReference* reference) override;         // 98
    HRESULT STDMETHODCALLTYPE StartBlinking(VirtualControlReference* reference) override;      // 99
    HRESULT STDMETHODCALLTYPE StopBlinking(VirtualControlReference* reference) override;     // 100
    HRESULT STDMETHODCALLTYPE ScrollToStart(VirtualControlReference* reference) override;    // 101
    HRESULT STDMETHODCALLTYPE ScrollToEnd(VirtualControlReference* reference) override;      // 102
    HRESULT STDMETHODCALLTYPE ScrollLineUp(VirtualControlReference* reference) override;     // 103
    HRESULT STDMETHODCALLTYPE ScrollLineDown(VirtualControlReference* reference) override;   // 104
    HRESULT STDMETHODCALLTYPE ScrollPageUp(VirtualControlReference* reference) override;     // 105
    HRESULT STDMETHODCALLTYPE ScrollPageDown(VirtualControlReference* reference) override;   // 106
    HRESULT STDMETHODCALLTYPE ScrollLineLeft(VirtualControlReference* reference) override;   // 107
    HRESULT STDMETHODCALLTYPE ScrollLineRight(VirtualControlReference* reference) override;  // 108
    HRESULT STDMETHODCALLTYPE ScrollPageLeft(VirtualControlReference* reference) override;   // 109
    HRESULT STDMETHODCALLTYPE ScrollPageRight(VirtualControlReference* reference) override;  // 110
    HRESULT STDMETHODCALLTYPE CenterOnScreen(VirtualControlReference* reference) override;   // 111
    HRESULT STDMETHODCALLTYPE CenterOnParent(VirtualControlReference* reference) override;   // 112
    HRESULT STDMETHODCALLTYPE FitToContents(VirtualControlReference* reference) override;    // 113
    HRESULT STDMETHODCALLTYPE
    RestoreDefaultBounds(VirtualControlReference* reference) override;                     // 114
    HRESULT STDMETHODCALLTYPE UpdateLayout(VirtualControlReference* reference) override;   // 115
    HRESULT STDMETHODCALLTYPE ResetColors(VirtualControlReference* reference) override;    // 116
    HRESULT STDMETHODCALLTYPE ResetFont(VirtualControlReference* reference) override;      // 117
    HRESULT STDMETHODCALLTYPE ResetCursor(VirtualControlReference* reference) override;    // 118
    HRESULT STDMETHODCALLTYPE ResetStyle(VirtualControlReference* reference) override;     // 119
    HRESULT STDMETHODCALLTYPE ResetTheme(VirtualControlReference* reference) override;     // 120
    HRESULT STDMETHODCALLTYPE LockInput(VirtualControlReference* reference) override;      // 121
    HRESULT STDMETHODCALLTYPE UnlockInput(VirtualControlReference* reference) override;    // 122
    HRESULT STDMETHODCALLTYPE FlushInput(VirtualControlReference* reference) override;     // 123
    HRESULT STDMETHODCALLTYPE SaveState(VirtualControlReference* reference) override;      // 124
    HRESULT STDMETHODCALLTYPE RestoreState(VirtualControlReference* reference) override;   // 125
    HRESULT STDMETHODCALLTYPE ShowBorder(VirtualControlReference* reference) override;     // 126
    HRESULT STDMETHODCALLTYPE HideBorder(VirtualControlReference* reference) override;     // 127
    HRESULT STDMETHODCALLTYPE Validate(VirtualControlReference* reference) override;       // 128
    HRESULT STDMETHODCALLTYPE CommitChanges(VirtualControlReference* reference) override;  // 129

  private:
    // Raises a key event for the window's outermost ancestor first and the window itself last.
    // "KeyPress" (character) carries the character, "KeyDown" and "KeyUp" the key and modifiers.
    void RaiseKeyEvent(HWND window, const wchar_t* name, WPARAM wParam, bool character);
    // A click request at (x, y): button 1 left or 2 right, one or two clicks, no key text.
    void ClickRequest(VirtualControlReference* reference, long x, long y, int button, int clicks);
    // A perform-click request carrying the key text; *value is VARIANT_FALSE.
    HRESULT PerformClickRequest(VirtualControlReference* reference, long x, long y, int button,
                                int clicks, BSTR keys, VARIANT_BOOL* value);
    // Makes `match` (VT_EMPTY) a new reference record, S_OK, when the candidate is adjacent to
    // `own`; S_FALSE when it is not; E_INVALIDARG when it is no VT_RECORD of the control
    // reference type.
    HRESULT PutIfAdjacent(IRecordInfo* info, const VARIANT& candidate, const RECT& own,
                          LONG direction, LONG distance, VARIANT& match);
};

}  // namespace tarnwick
