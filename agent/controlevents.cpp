#include "agent/controlevents.h"

#include <algorithm>
#include <iterator>

namespace vask {
namespace {

struct KindEvents {
    const wchar_t* kind;
    const wchar_t* events[4];  // the kind's own, null after the last
};

// What the translators raise: the common events from every control's messages, and each
// kind's own from its notifications.
const wchar_t* const kCommonEvents[] = {
    L"Click",         L"Clicking",  L"DoubleClick",   L"DoubleClicking", L"RightClick",
    L"RightClicking", L"MouseDown", L"MouseUp",       L"KeyDown",        L"KeyUp",
    L"KeyPress",      L"GotFocus",  L"LostFocus",     L"TextChanged",    L"EnabledChanged",
    L"Shown",         L"Hidden",    L"VisibleChanged"};

const KindEvents kKinds[] = {
    {L"Button", {}},
    {L"CheckBox", {L"CheckedChanged", L"CheckStateChanged"}},
    {L"RadioButton", {L"CheckedChanged", L"CheckStateChanged"}},
    {L"TextBox", {}},
    {L"ComboBox", {L"SelectedIndexChanged"}},
    {L"TabStrip", {L"SelectedIndexChanged"}},
    {L"TreeView", {L"NodeClicked", L"NodeDoubleClicked", L"NodeChildAdded", L"NodeChildRemoved"}},
    {L"ListView",
     {L"ItemClicked", L"ItemDoubleClicked", L"ItemsActivated", L"ListContentsChanged"}},
};

}  // namespace

std::wstring KindName(const std::wstring& interfaceTypeName) {
    constexpr std::wstring_view prefix = L"Tarnwick.Virtual.Interfaces.IVirtual";
    if (interfaceTypeName.rfind(prefix, 0) != 0) return {};
    const size_t end = interfaceTypeName.find(L',', prefix.size());
    return interfaceTypeName.substr(
        prefix.size(), end == std::wstring::npos ? std::wstring::npos : end - prefix.size());
}

std::vector<std::wstring> EventsOf(const std::wstring& interfaceTypeName) {
    const std::wstring kind = KindName(interfaceTypeName);
    const auto found = std::find_if(std::begin(kKinds), std::end(kKinds),
                                    [&](const KindEvents& k) { return kind == k.kind; });
    std::vector<std::wstring> events;
    if (found == std::end(kKinds)) return events;
    for (const wchar_t* own : found->events) {
        if (own != nullptr) events.emplace_back(own);
    }
    events.insert(events.end(), std::begin(kCommonEvents), std::end(kCommonEvents));
    return events;
}

std::wstring UnknownEvent(const std::wstring& interfaceTypeName, const std::wstring& event) {
    const std::vector<std::wstring> events = EventsOf(interfaceTypeName);
    if (std::find(events.begin(), events.end(), event) != events.end()) return {};
    std::wstring names;
    for (const std::wstring& name : events) names += (names.empty() ? L"" : L", ") + name;
    return KindName(interfaceTypeName) + L" raises no event \"" + event + L"\" (its events: " +
           names + L")";
}

}  // namespace vask
