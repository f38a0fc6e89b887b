#pragma once
// What tarnwick_sampleapp shows, for the programs that drive it: control ids, classes, texts
// and items. The application knows nothing of the library; a driver finds its window by title.
//
// The status line (kStatusId) tells the last notification the window got:
//   "Last: none"                        nothing yet
//   "Last: button clicked"              and the clicks label reads "Clicks: N"
//   "Last: check box N STATE"           N 1 (two-state) or 2 (three-state); STATE unchecked,
//                                       checked or indeterminate
//   "Last: radio N checked"             N 1..3
//   "Last: edit changed", "Last: password changed"
//   "Last: combo selection N", "Last: list box selection N"     N the zero-based index
//   "Last: tab N"                       N the zero-based index
//   "Last: tree selection TEXT", "Last: tree expanded TEXT", "Last: tree collapsed TEXT"
//   "Last: list item N selected", "Last: list item N deselected", "Last: list item N activated"
//   "Last: dialog OK", "Last: dialog cancelled"   the typed text label reads "Typed: TEXT"
//   "Last: alert N acknowledged"        the alert combo's selection N, once its message box
//                                       (kAlertTitle, "Selected: ITEM") was closed
//   "Last: many controls opened"        the window of kManyControls controls is open
//   "Last: clicks shown", "Last: clicks hidden"   the clicks label after File > Show clicks
//   "Last: hello NAME"                  File > Greet, NAME the name typed last
//
// The menu bar has one menu, File: "Name..." (Ctrl+N) opens the name dialog as the button
// does, "Show clicks" shows or hides the clicks label (checked while shown), "Greet" (grayed
// until a name was typed) greets it, and "Exit" closes the window. The window updates the
// check mark and the graying when File opens (WM_INITMENUPOPUP), as applications do.
//
// The name dialog (kDialogButtonId) is modal: an edit, OK and Cancel. The window of many
// controls (kManyButtonId) is a second top-level window: a kThousand-item combo box, a
// kFiveThousand-item combo box, then push buttons "Item 1", "Item 2", ...; closing it leaves
// the application running.

namespace tarnwick::sampleapp {

constexpr wchar_t kDefaultTitle[] = L"Tarnwick Sample";
constexpr wchar_t kWindowClass[] = L"Tarnwick.SampleApp";
constexpr int kWindowWidth = 640;
constexpr int kWindowHeight = 540;

constexpr int kButtonId = 101;
constexpr int kClicksId = 102;
constexpr int kTwoStateId = 103;
constexpr int kThreeStateId = 104;
constexpr int kRadioFirstId = 105;  // three radio buttons: 105, 106, 107
constexpr int kRadioCount = 3;
constexpr int kEditId = 108;
constexpr int kPasswordId = 109;
constexpr int kReadOnlyId = 110;
constexpr int kComboId = 111;
constexpr int kListBoxId = 112;
constexpr int kTabId = 113;
constexpr int kTreeId = 114;
constexpr int kListViewId = 115;
constexpr int kStatusId = 116;
constexpr int kDialogButtonId = 117;
constexpr int kTypedId = 118;
constexpr int kAlertComboId = 119;
constexpr int kManyButtonId = 120;

constexpr int kMenuNameId = 301;  // the menu commands
constexpr int kMenuClicksId = 302;
constexpr int kMenuGreetId = 303;
constexpr int kMenuExitId = 304;

constexpr int kDialogEditId = 201;  // in the name dialog, with IDOK and IDCANCEL
constexpr wchar_t kDialogTitle[] = L"Enter a name";
constexpr wchar_t kAlertTitle[] = L"Selection";
constexpr const wchar_t* kAlertItems[] = {L"Quiet", L"Loud", L"Louder"};

constexpr wchar_t kManyTitle[] = L"Many controls";
constexpr int kManyControls = 600;
constexpr int kManyFirstId = 1000;  // ids kManyFirstId .. kManyFirstId + kManyControls - 1
constexpr int kThousandComboId = kManyFirstId;
constexpr int kFiveThousandComboId = kManyFirstId + 1;
constexpr int kThousand = 1000;
constexpr int kFiveThousand = 5000;

constexpr wchar_t kButtonText[] = L"Press me";
constexpr wchar_t kTwoStateText[] = L"Two-state box";
constexpr wchar_t kThreeStateText[] = L"Three-state box";
constexpr const wchar_t* kRadioTexts[kRadioCount] = {L"Radio one", L"Radio two", L"Radio three"};
constexpr wchar_t kReadOnlyText[] = L"Read-only text";
constexpr wchar_t kPasswordChar = L'*';

constexpr const wchar_t* kComboItems[] = {L"Red", L"Green", L"Blue", L"Yellow"};
constexpr const wchar_t* kListBoxItems[] = {L"One", L"Two", L"Three", L"Four"};
constexpr const wchar_t* kTabs[] = {L"General", L"Details", L"Options"};

// Tree items in insertion order, each with its depth (0 a root).
struct TreeEntry {
    int depth;
    const wchar_t* text;
};
constexpr TreeEntry kTreeItems[] = {
    {0, L"Animals"}, {1, L"Birds"}, {2, L"Robin"}, {2, L"Owl"},   {1, L"Mammals"}, {2, L"Fox"},
    {0, L"Plants"},  {1, L"Trees"}, {2, L"Oak"},   {2, L"Birch"}, {1, L"Flowers"}, {2, L"Tulip"},
};

constexpr const wchar_t* kListColumns[] = {L"Name", L"Size", L"Kind"};
constexpr int kListColumnCount = 3;
// Each row: the item's text, then its two sub-items.
constexpr const wchar_t* kListRows[][kListColumnCount] = {
    {L"alpha.txt", L"12 KB", L"Text"},     {L"bravo.png", L"240 KB", L"Picture"},
    {L"charlie.wav", L"1.2 MB", L"Sound"}, {L"delta.csv", L"3 KB", L"Table"},
    {L"echo.log", L"88 KB", L"Log"},
};

}  // namespace tarnwick::sampleapp
