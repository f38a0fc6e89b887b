#pragma once
// The GUIDs of the type library's two record types, the first argument of every translator
// operation and the tree's node handle: what GetRecordInfoFromGuids and record checks take.

#include <windows.h>

namespace tarnwick {

// {253A1552-A97E-4CB6-8D80-B94D54327BD8}: VirtualControlReference, a window handle.
inline constexpr GUID kVirtualControlReferenceGuid = {
    0x253a1552, 0xa97e, 0x4cb6, {0x8d, 0x80, 0xb9, 0x4d, 0x54, 0x32, 0x7b, 0xd8}};
// {E1963033-95A2-4311-B2B9-A744A74DE809}: VirtualTreeNodeReference, a tree item handle.
inline constexpr GUID kVirtualTreeNodeReferenceGuid = {
    0xe1963033, 0x95a2, 0x4311, {0xb2, 0xb9, 0xa7, 0x44, 0xa7, 0x4d, 0xe8, 0x09}};

}  // namespace tarnwick
