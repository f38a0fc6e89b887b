#include "agent/keytext.h"

#include <algorithm>
#include <string>
#include <utility>

namespace vask {
namespace {

// Marks the key messages of the host; bits 25 to 28 of a key message's lParam are reserved.
constexpr LPARAM kHostKeyFlag = LPARAM{1} << 25;
constexpr LPARAM kExtendedFlag = LPARAM{1} << 24;
constexpr LPARAM kAltContextFlag = LPARAM{1} << 29;
constexpr LPARAM kReleaseFlags = (LPARAM{1} << 30) | (LPARAM{1} << 31);

struct NamedKey {
    const wchar_t* name;
    WORD virtualKey;
    wchar_t character;
    bool extended;
};

constexpr NamedKey kNamedKeys[] = {
    {L"ENTER", VK_RETURN, L'\r', false}, {L"TAB", VK_TAB, L'\t', false},
    {L"ESC", VK_ESCAPE, 0x1B, false},    {L"BACKSPACE", VK_BACK, L'\b', false},
    {L"DELETE", VK_DELETE, 0, true},     {L"LEFT", VK_LEFT, 0, true},
    {L"RIGHT", VK_RIGHT, 0, true},       {L"UP", VK_UP, 0, true},
    {L"DOWN", VK_DOWN, 0, true},         {L"HOME", VK_HOME, 0, true},
    {L"END", VK_END, 0, true},
};

unsigned PrefixModifier(wchar_t character) {
    switch (character) {
        case L'+':
            return kShift;
        case L'^':
            return kControl;
        case L'%':
            return kAlt;
        default:
            return 0;
    }
}

KeyStroke CharacterStroke(wchar_t character) {
    const SHORT scan = VkKeyScanW(character);
    const WORD virtualKey = scan == -1 ? 0 : LOBYTE(scan);
    return {virtualKey, character, false, 0};
}

// The key between braces: a name, or one of the characters that the syntax reserves.
bool NamedStroke(std::wstring_view name, KeyStroke& stroke) {
    if (name.size() == 1 && std::wstring_view(L"{}+^%").find(name[0]) != std::wstring_view::npos) {
        stroke = CharacterStroke(name[0]);
        return true;
    }
    for (const NamedKey& key : kNamedKeys) {
        if (CompareStringOrdinal(name.data(), static_cast<int>(name.size()), key.name, -1, TRUE) ==
            CSTR_EQUAL) {
            stroke = {key.virtualKey, key.character, key.extended, 0};
            return true;
        }
    }
    return false;
}

// Appends the strokes of `keys`; the first fault of syntax, if any.
std::optional<KeyFault> AppendStrokes(std::wstring_view keys, std::vector<KeyStroke>& strokes) {
    unsigned modifiers = 0;
    size_t firstPrefix = 0;  // where the prefixes of the next key start
    for (size_t i = 0; i < keys.size(); ++i) {
        if (const unsigned modifier = PrefixModifier(keys[i]); modifier != 0) {
            if ((modifiers & modifier) != 0) {
                return KeyFault{i + 1, L"'" + std::wstring(1, keys[i]) + L"' twice before one key"};
            }
            if (modifiers == 0) firstPrefix = i;
            modifiers |= modifier;
            continue;
        }
        KeyStroke stroke;
        if (keys[i] == L'{') {
            // The name has at least one character, so that "{}}" names "}".
            const size_t close = keys.find(L'}', i + 2);
            if (close == std::wstring_view::npos) return KeyFault{i + 1, L"'{' is not closed"};
            const std::wstring_view name = keys.substr(i + 1, close - i - 1);
            if (!NamedStroke(name, stroke)) {
                return KeyFault{i + 1, L"no key is named {" + std::wstring(name) + L"}"};
            }
            i = close;
        } else if (keys[i] == L'}') {
            return KeyFault{i + 1, L"'}' closes no '{' (type it as {}})"};
        } else {
            stroke = CharacterStroke(keys[i]);
        }
        stroke.modifiers = std::exchange(modifiers, 0u);
        strokes.push_back(stroke);
    }
    if (modifiers != 0) return KeyFault{firstPrefix + 1, L"no key after the modifier"};
    return std::nullopt;
}

wchar_t Upper(wchar_t character) {
    CharUpperBuffW(&character, 1);
    return character;
}

// What a stroke types with its modifiers, as a keyboard does.
wchar_t TypedCharacter(const KeyStroke& stroke) {
    const wchar_t character = stroke.character;
    if (character == 0 || (stroke.modifiers & kControl) == 0) {
        return (stroke.modifiers & kShift) != 0 ? Upper(character) : character;
    }
    if ((stroke.modifiers & kAlt) != 0) return 0;
    if ((character >= L'a' && character <= L'z') || (character >= L'A' && character <= L'Z')) {
        return static_cast<wchar_t>(character & 0x1F);
    }
    if (character == L'\r') return L'\n';
    if (character == L'\b') return 0x7F;
    return 0;
}

LPARAM KeyData(WORD virtualKey, bool extended, bool altContext, bool release) {
    LPARAM data = 1 | kHostKeyFlag;
    data |= static_cast<LPARAM>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC) & 0xFF) << 16;
    if (extended) data |= kExtendedFlag;
    if (altContext) data |= kAltContextFlag;
    if (release) data |= kReleaseFlags;
    return data;
}

void AppendStroke(const KeyStroke& stroke, std::vector<PostedMessage>& messages) {
    const bool alt = (stroke.modifiers & kAlt) != 0;
    const bool system = alt && (stroke.modifiers & kControl) == 0;
    const UINT keyDown = system ? WM_SYSKEYDOWN : WM_KEYDOWN;
    const UINT keyUp = system ? WM_SYSKEYUP : WM_KEYUP;
    const UINT characterMessage = system ? WM_SYSCHAR : WM_CHAR;
    const WORD key = stroke.virtualKey;
    const LPARAM press = KeyData(key, stroke.extended, alt, false);
    if (key != 0) messages.push_back({keyDown, key, press});
    if (const wchar_t character = TypedCharacter(stroke); character != 0) {
        // Unmarked, so that it is not taken for a translation of the key-down.
        messages.push_back({characterMessage, character, press & ~kHostKeyFlag});
    }
    if (key != 0) messages.push_back({keyUp, key, KeyData(key, stroke.extended, alt, true)});
}

// Keeps GetKeyState in step with a modifier key message of the host: posted messages do not
// change the key state as keyboard input does.
void SetModifierState(WPARAM virtualKey, bool down) {
    BYTE leftKey = 0;
    switch (virtualKey) {
        case VK_SHIFT:
            leftKey = VK_LSHIFT;
            break;
        case VK_CONTROL:
            leftKey = VK_LCONTROL;
            break;
        case VK_MENU:
            leftKey = VK_LMENU;
            break;
        default:
            return;
    }
    BYTE state[256];
    if (!GetKeyboardState(state)) return;
    state[virtualKey] = state[leftKey] = down ? 0x80 : 0;
    SetKeyboardState(state);
}

}  // namespace

std::optional<KeyFault> ParseKeys(std::wstring_view keys, std::vector<KeyStroke>& strokes) {
    strokes.clear();
    std::optional<KeyFault> fault = AppendStrokes(keys, strokes);
    if (fault) strokes.clear();
    return fault;
}

std::wstring KeysRefusal(std::wstring_view keys, std::uint32_t maxBlockSize) {
    const size_t most = maxBlockSize < sizeof(wchar_t) ? 0 : maxBlockSize / sizeof(wchar_t) - 1;
    if (keys.size() > most) {
        return L"keys too long for one request: " + std::to_wstring(keys.size()) +
               L" characters, at most " + std::to_wstring(most) + L" (from character " +
               std::to_wstring(most + 1) + L" on)";
    }
    std::vector<KeyStroke> strokes;
    const std::optional<KeyFault> fault = ParseKeys(keys, strokes);
    if (!fault) return {};
    return L"bad key syntax at character " + std::to_wstring(fault->position) + L": " + fault->why;
}

bool ParseClickModifiers(std::string_view text, unsigned& modifiers) {
    modifiers = 0;
    for (const char character : text) {
        const unsigned modifier = PrefixModifier(static_cast<wchar_t>(character));
        if ((modifier != kShift && modifier != kControl) || (modifiers & modifier) != 0) {
            modifiers = 0;
            return false;
        }
        modifiers |= modifier;
    }
    return true;
}

std::vector<PostedMessage> ModifierMessages(unsigned modifiers, bool down) {
    struct ModifierKey {
        unsigned modifier;
        WORD virtualKey;
    };
    static constexpr ModifierKey kKeys[] = {
        {kShift, VK_SHIFT}, {kControl, VK_CONTROL}, {kAlt, VK_MENU}};
    std::vector<PostedMessage> messages;
    for (const ModifierKey& key : kKeys) {
        if ((modifiers & key.modifier) == 0) continue;
        const bool alt = down && key.modifier == kAlt;
        // Alt goes down as a system key unless Ctrl is down too, as on a keyboard.
        const UINT message = !down                                ? WM_KEYUP
                             : alt && (modifiers & kControl) == 0 ? WM_SYSKEYDOWN
                                                                  : WM_KEYDOWN;
        messages.push_back({message, key.virtualKey, KeyData(key.virtualKey, false, alt, !down)});
    }
    // Released in the opposite order.
    if (!down) std::reverse(messages.begin(), messages.end());
    return messages;
}

std::vector<PostedMessage> KeyMessages(const std::vector<KeyStroke>& strokes) {
    std::vector<PostedMessage> messages;
    for (const KeyStroke& stroke : strokes) {
        for (const PostedMessage& message : ModifierMessages(stroke.modifiers, true)) {
            messages.push_back(message);
        }
        AppendStroke(stroke, messages);
        for (const PostedMessage& message : ModifierMessages(stroke.modifiers, false)) {
            messages.push_back(message);
        }
    }
    return messages;
}

bool TakeQueuedKeyMessage(const MSG& message) {
    if (message.message < WM_KEYFIRST || message.message > WM_KEYLAST ||
        (message.lParam & kHostKeyFlag) == 0) {
        return false;
    }
    switch (message.message) {
        case WM_CHAR:
        case WM_SYSCHAR:
        case WM_DEADCHAR:
        case WM_SYSDEADCHAR:
            return true;
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            SetModifierState(message.wParam, true);
            return false;
        case WM_KEYUP:
        case WM_SYSKEYUP:
            SetModifierState(message.wParam, false);
            return false;
        default:
            return false;
    }
}

}  // namespace vask
