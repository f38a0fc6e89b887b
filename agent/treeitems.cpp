#include "agent/treeitems.h"

#include <commctrl.h>

#include <vector>

namespace vask {
namespace {

HTREEITEM Next(HWND tree, WPARAM relation, HTREEITEM item) {
    return reinterpret_cast<HTREEITEM>(
        SendMessageW(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

}  // namespace

bool TreeHoldsItem(HWND tree, std::int64_t item) {
    if (item == 0) return true;
    const auto wanted = reinterpret_cast<HTREEITEM>(static_cast<std::intptr_t>(item));
    // Only handles that the tree answers are passed back to it.
    std::vector<HTREEITEM> pending{Next(tree, TVGN_ROOT, nullptr)};
    while (!pending.empty()) {
        const HTREEITEM at = pending.back();
        pending.pop_back();
        if (at == nullptr) continue;
        if (at == wanted) return true;
        pending.push_back(Next(tree, TVGN_NEXT, at));
        pending.push_back(Next(tree, TVGN_CHILD, at));
    }
    return false;
}

}  // namespace vask
