#pragma once
// The key syntax of the host's key requests (see platform/vaskhookhost.h), the key messages
// that type it, and the queue-side care of those messages.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vask {

enum Modifier : unsigned { kShift = 1, kControl = 2, kAlt = 4 };

// One key pressed and released with its modifiers held.
struct KeyStroke {
    WORD virtualKey = 0;    // 0: a character that no key of the layout types (WM_CHAR only)
    wchar_t character = 0;  // what the key types without modifiers; 0 for none
    bool extended = false;  // an extended key (the arrow keys, Home, End, Delete)
    unsigned modifiers = 0;
};

// One message to post: a key message, or a button message of a click.
struct PostedMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Where a key text's syntax fails: the position of the character at fault (1 for the first)
// and what is wrong there.
struct KeyFault {
    size_t position;
    std::wstring why;
};

// The strokes that `keys` names; the fault, with no strokes, when its syntax is bad.
std::optional<KeyFault> ParseKeys(std::wstring_view keys, std::vector<KeyStroke>& strokes);

// Why `keys` cannot be typed by one request whose keys block (the keys and a terminator) holds
// at most `maxBlockSize` bytes: "bad key syntax at character 3: ..." or "keys too long ...";
// empty when they can.
std::wstring KeysRefusal(std::wstring_view keys, std::uint32_t maxBlockSize);

// The modifiers that a click's key text holds (only "+" and "^"); false when it holds more.
bool ParseClickModifiers(std::string_view text, unsigned& modifiers);

// The messages that type the strokes, modifiers included.
std::vector<PostedMessage> KeyMessages(const std::vector<KeyStroke>& strokes);

// The messages that press (or release) the modifier keys.
std::vector<PostedMessage> ModifierMessages(unsigned modifiers, bool down);

// For a message as it leaves the queue: true when it is a character that TranslateMessage made
// from a key message of the host (to be dropped). A modifier key message of the host updates
// the thread's key state.
bool TakeQueuedKeyMessage(const MSG& message);

}  // namespace vask
