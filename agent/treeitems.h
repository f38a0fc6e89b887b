#pragma once
// The items a tree view holds now. An item handle from another process is a pointer into the
// tree's memory on some platforms: one the tree does not hold (deleted, or made up) must never
// reach it.

#include <windows.h>

#include <cstdint>

namespace vask {

// Whether `item` is an item of the tree now, found by walking the tree from its first root
// (call it on the tree's thread). Null counts: it names the top level, and no item.
bool TreeHoldsItem(HWND tree, std::int64_t item);

}  // namespace vask
