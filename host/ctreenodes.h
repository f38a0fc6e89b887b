#pragma once
// The nodes of one tree view named by their path of texts from the top level, "Plants/Trees/Oak":
// the host resolves an argument written node:PATH to the node's handle, and prints node handles
// as paths. What it learns is kept until Forget, since handles name other nodes once the
// application changes its tree.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::host {

class CTreeNodes {
  public:
    // The children of a node (0: the top level) and the text of a node, read from the
    // application; both throw when the application does not answer.
    using ChildrenReader = std::function<std::vector<std::uint64_t>(std::uint64_t node)>;
    using TextReader = std::function<std::wstring(std::uint64_t node)>;

    CTreeNodes(ChildrenReader children, TextReader text);

    // The handle of the node at the path ("/" between the texts); none when no node has it. Of
    // nodes with the same text under one parent, the first is taken.
    std::optional<std::uint64_t> Find(const std::wstring& path);
    // The path of a node, read from the tree when not yet known; none when the tree has no
    // such node (or more than kMaxNodes nodes before it).
    std::optional<std::wstring> PathOf(std::uint64_t node);
    // The path when already known, without reading the tree: for events, whose raising thread
    // waits for their answer and could not answer a read.
    std::optional<std::wstring> KnownPath(std::uint64_t node) const;
    void Forget();

    static constexpr size_t kMaxNodes = 100000;

  private:
    // Reads and names the children of a node whose path is known.
    std::vector<std::uint64_t> Expand(std::uint64_t node, const std::wstring& path);

    ChildrenReader children_;
    TextReader text_;
    mutable std::mutex mutex_;
    std::map<std::uint64_t, std::wstring> paths_;
};

}  // namespace tarnwick::host
