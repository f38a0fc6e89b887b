#include "ctreenodes.h"

#include <deque>
#include <utility>

namespace tarnwick::host {

CTreeNodes::CTreeNodes(ChildrenReader children, TextReader text)
    : children_(std::move(children)), text_(std::move(text)) {}

std::optional<std::uint64_t> CTreeNodes::Find(const std::wstring& path) {
    std::uint64_t node = 0;
    std::wstring walked;
    size_t start = 0;
    for (;;) {
        const size_t end = path.find(L'/', start);
        const std::wstring wanted = path.substr(start, end - start);
        std::optional<std::uint64_t> found;
        for (const std::uint64_t child : Expand(node, walked)) {
            if (KnownPath(child) == (walked.empty() ? wanted : walked + L"/" + wanted)) {
                found = child;
                break;
            }
        }
        if (!found) return std::nullopt;
        node = *found;
        walked = walked.empty() ? wanted : walked + L"/" + wanted;
        if (end == std::wstring::npos) return node;
        start = end + 1;
    }
}

std::optional<std::wstring> CTreeNodes::PathOf(std::uint64_t node) {
    if (node == 0) return std::nullopt;
    if (auto known = KnownPath(node)) return known;
    // Breadth first from the top level, naming every node on the way.
    std::deque<std::pair<std::uint64_t, std::wstring>> pending{{0, L""}};
    size_t seen = 0;
    while (!pending.empty() && seen < kMaxNodes) {
        const auto [parent, path] = pending.front();
        pending.pop_front();
        for (const std::uint64_t child : Expand(parent, path)) {
            ++seen;
            std::wstring childPath = *KnownPath(child);
            if (child == node) return childPath;
            pending.emplace_back(child, std::move(childPath));
        }
    }
    return std::nullopt;
}

std::optional<std::wstring> CTreeNodes::KnownPath(std::uint64_t node) const {
    std::lock_guard lock(mutex_);
    const auto found = paths_.find(node);
    if (found == paths_.end()) return std::nullopt;
    return found->second;
}

void CTreeNodes::Forget() {
    std::lock_guard lock(mutex_);
    paths_.clear();
}

std::vector<std::uint64_t> CTreeNodes::Expand(std::uint64_t node, const std::wstring& path) {
    std::vector<std::uint64_t> children = children_(node);
    for (const std::uint64_t child : children) {
        if (KnownPath(child)) continue;
        std::wstring text = text_(child);
        std::lock_guard lock(mutex_);
        paths_[child] = path.empty() ? std::move(text) : path + L"/" + text;
    }
    return children;
}

}  // namespace tarnwick::host
