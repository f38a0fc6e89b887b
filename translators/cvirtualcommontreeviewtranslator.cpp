// The tree view translator: node operations through the window helper, node records made from
// the record type of the interfaces' type library, and the node events.
#include "translators/cvirtualcommontreeviewtranslator.h"

#include <commctrl.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "common/variantrecords.h"
#include "itypelibresolutionservice.h"
#include "platform/vaskhookhost.h"
#include "trace/ctraceprovider.h"
#include "winhelper.h"
#include "virtualrecords.h"

namespace tarnwick {
namespace {

using Microsoft::WRL::ComPtr;

// {9B0F3C61-52E4-4C8B-9D5A-3E7C1F2A6D40}
constexpr GUID kTraceGuid = {
    0x9b0f3c61, 0x52e4, 0x4c8b, {0x9d, 0x5a, 0x3e, 0x7c, 0x1f, 0x2a, 0x6d, 0x40}};

enum TracePoint : USHORT {
    kTraceNoRecordInfo = 1,     // the node record type could not be resolved: its HRESULT
    kTraceChildrenFailed = 2,   // the children could not be listed: window
    kTraceRecordFailed = 3,     // a node record could not be made: window
};


// TVI_ROOT as a 32-bit value, the form the deletion of every item may also arrive in.
constexpr std::uint64_t kRoot32 = 0xFFFF0000u;

HTREEITEM ItemOf(const VirtualTreeNodeReference* node) {
    return reinterpret_cast<HTREEITEM>(static_cast<std::intptr_t>(node->ItemHandle));
}

// The record information of VirtualTreeNodeReference: E_FAIL without a service or the type,
// else what GetRecordInfoFromTypeInfo answers.
HRESULT NodeReferenceInfo(ComPtr<IRecordInfo>& info) {
    ITypeLibResolutionService* service = GetTypeLibResolutionService();
    ComPtr<ITypeInfo> type;
    HRESULT hr = E_FAIL;
    if (service != nullptr && service->GetTypeInfoByGuid(&kVirtualTreeNodeReferenceGuid, &type) &&
        type != nullptr) {
        hr = GetRecordInfoFromTypeInfo(type.Get(), &info);
    }
    if (FAILED(hr)) Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceNoRecordInfo, hr);
    return hr;
}

// Makes `value` a VT_RECORD holding a new node record of the whole item handle; false, with
// `value` untouched, when the record cannot be made.
bool PutNode(IRecordInfo* info, std::int64_t item, VARIANT& value) {
    void* record = info->RecordCreate();
    if (record == nullptr) return false;
    static_cast<VirtualTreeNodeReference*>(record)->ItemHandle = item;
    V_VT(&value) = VT_RECORD;
    value.pvRecord = record;
    value.pRecInfo = info;
    info->AddRef();
    return true;
}

// Event arguments that still hold their records after the raise (no subscriber took them).
class CNodeArguments {
  public:
    CNodeArguments() {
        for (VARIANT& argument : arguments_) VariantInit(&argument);
    }
    CNodeArguments(const CNodeArguments&) = delete;
    CNodeArguments& operator=(const CNodeArguments&) = delete;
    ~CNodeArguments() {
        for (VARIANT& argument : arguments_) ClearVariant(argument);
    }
    VARIANT* Data() { return arguments_; }
    VARIANT& operator[](size_t index) { return arguments_[index]; }
    static constexpr int kMax = 2;

  private:
    VARIANT arguments_[kMax];
};

// Copies the hooking host's report of a tree change into `report`. Only a report that carries
// the host's mark is read, and only when the record lies in the live part of this thread's stack
// (the host sends it on this thread from its own frame), so that an application's own 0x8006,
// whatever its wParam, is never read through.
bool TakeReport(WPARAM wParam, LPARAM lParam, vask::TreeChangeRecord& report) {
    if (wParam == 0 || lParam != vask::TreeChangeMark(wParam)) return false;
    ULONG_PTR low = 0, high = 0;
    GetCurrentThreadStackLimits(&low, &high);
    const auto frame = reinterpret_cast<ULONG_PTR>(&low);  // the callers' frames lie above
    if (wParam <= frame || wParam >= high || high - wParam < sizeof report) return false;
    std::memcpy(&report, reinterpret_cast<const void*>(wParam), sizeof report);
    return report.size == sizeof report;
}

// The whole item handle an element of WinHelper::GetChildren holds.
std::int64_t HandleOf(const VARIANT& element) {
    return V_VT(&element) == VT_I8 ? V_I8(&element) : 0;
}

// Fills `result`, of the same length as `children`, with a node record per child.
HRESULT PutNodes(HWND window, IRecordInfo* info, SAFEARRAY* children, SAFEARRAY* result,
                 ULONG count) {
    CLockedVariants from(children), to(result);
    if (FAILED(from.Result())) return from.Result();
    if (FAILED(to.Result())) return to.Result();
    for (ULONG i = 0; i < count; ++i) {
        if (!PutNode(info, HandleOf(from[i]), to[i])) {
            Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceRecordFailed, window);
            return E_OUTOFMEMORY;
        }
    }
    return S_OK;
}

}  // namespace

CVirtualCommonTreeViewTranslator::CVirtualCommonTreeViewTranslator() {
    IVirtualTreeView* tree = this;
    AddInterfaceEntry(&__uuidof(IVirtualTreeView), tree);
    AddInterfaceEntry(&IID_IDispatch, tree);
}

void CVirtualCommonTreeViewTranslator::RaiseNodeEvent(HWND window, const wchar_t* name,
                                                      std::initializer_list<HTREEITEM> items) {
    ComPtr<IRecordInfo> info;
    if (FAILED(NodeReferenceInfo(info))) return;
    CNodeArguments arguments;
    int count = 0;
    for (const HTREEITEM item : items) {
        if (count == CNodeArguments::kMax ||
            !PutNode(info.Get(), reinterpret_cast<std::intptr_t>(item), arguments[count])) {
            Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceRecordFailed, window);
            return;
        }
        ++count;
    }
    RaiseEvent(window, name, arguments.Data(), count);
}

void CVirtualCommonTreeViewTranslator::RaiseNodeChange(HWND window, const wchar_t* name,
                                                       HTREEITEM node) {
    if (IsSubscribed(window, name)) {
        RaiseNodeEvent(window, name, {node, TreeView_GetParent(window, node)});
    }
}

LRESULT CVirtualCommonTreeViewTranslator::HandleMessage(HWND window, UINT message, WPARAM wParam,
                                                        LPARAM lParam, bool* handled) {
    vask::TreeChangeRecord report{};
    if (message == vask::kTreeChangeMessage && TakeReport(wParam, lParam, report)) {
        const std::uint32_t processed = report.message;
        const std::uint64_t item = report.item;
        const auto node = reinterpret_cast<HTREEITEM>(static_cast<std::uintptr_t>(item));
        // The deletion of every item names TVI_ROOT, in its 64-bit or its 32-bit form, and
        // removes no child of a node; neither does a deletion of no item.
        const bool oneNode = item > 1 && item != kRoot32 && node != TVI_ROOT;
        if (processed == TVM_INSERTITEMW && item != 0) {
            RaiseNodeChange(window, L"NodeChildAdded", node);
        } else if (processed == TVM_DELETEITEM && oneNode) {
            RaiseNodeChange(window, L"NodeChildRemoved", node);
        }
    }
    return CVirtualCommonBaseControlTranslator::HandleMessage(window, message, wParam, lParam,
                                                              handled);
}

bool CVirtualCommonTreeViewTranslator::HandleMouseUp(HWND window, UINT message, int button,
                                                     int clicks, int x, int y, bool* handled) {
    const wchar_t* name = clicks == 1   ? L"NodeClicked"
                          : clicks == 2 ? L"NodeDoubleClicked"
                                        : nullptr;
    if (name != nullptr && IsSubscribed(window, name)) {
        TVHITTESTINFO hit{};
        hit.pt = {x, y};
        SendMessageW(window, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        if (hit.hItem != nullptr) RaiseNodeEvent(window, name, {hit.hItem});
    }
    return CVirtualCommonBaseControlTranslator::HandleMouseUp(window, message, button, clicks, x, y,
                                                              handled);
}

LRESULT CVirtualCommonTreeViewTranslator::ReservedOperation() { return 0; }

HRESULT CVirtualCommonTreeViewTranslator::IsNodeExpanded(VirtualControlReference* reference,
                                                         VirtualTreeNodeReference* node,
                                                         VARIANT_BOOL* value) {
    if (reference == nullptr || node == nullptr) return E_INVALIDARG;
    return AnswerOut(value, AsVariantBool(WinHelper::IsNodeExpanded(WindowOf(reference),
                                                                    ItemOf(node))));
}

HRESULT CVirtualCommonTreeViewTranslator::IsNodeSelected(VirtualControlReference* reference,
                                                         VirtualTreeNodeReference* node,
                                                         VARIANT_BOOL* value) {
    if (reference == nullptr || node == nullptr) return E_INVALIDARG;
    return AnswerOut(value, AsVariantBool(WinHelper::IsNodeSelected(WindowOf(reference),
                                                                    ItemOf(node))));
}

HRESULT CVirtualCommonTreeViewTranslator::GetSelectedNode(VirtualControlReference* reference,
                                                          __int64* value) {
    if (reference == nullptr) return E_INVALIDARG;
    // The whole handle: item handles are pointer-sized.
    return AnswerOut(value, reinterpret_cast<std::intptr_t>(
                                WinHelper::GetSelectedNode(WindowOf(reference))));
}

HRESULT CVirtualCommonTreeViewTranslator::GetNodeText(VirtualControlReference* reference,
                                                      VirtualTreeNodeReference* node,
                                                      BSTR* value) {
    if (reference == nullptr || node == nullptr) return E_INVALIDARG;
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    return WinHelper::GetNodeText(WindowOf(reference), ItemOf(node), value) != 0 ? S_OK : E_FAIL;
}

HRESULT CVirtualCommonTreeViewTranslator::Collapse(VirtualControlReference* reference,
                                                   VirtualTreeNodeReference* node) {
    if (reference == nullptr || node == nullptr) return E_INVALIDARG;
    WinHelper::Collapse(WindowOf(reference), ItemOf(node));
    return S_OK;
}

HRESULT CVirtualCommonTreeViewTranslator::EnsureVisible(VirtualControlReference* reference,
                                                        VirtualTreeNodeReference* node) {
    if (reference == nullptr || node == nullptr) return E_INVALIDARG;
    WinHelper::EnsureVisible(WindowOf(reference), ItemOf(node));
    return S_OK;
}

HRESULT CVirtualCommonTreeViewTranslator::Expand(VirtualControlReference* reference,
                                                 VirtualTreeNodeReference* node) {
    if (reference == nullptr || node == nullptr) return E_INVALIDARG;
    WinHelper::Expand(WindowOf(reference), ItemOf(node));
    return S_OK;
}

HRESULT CVirtualCommonTreeViewTranslator::PerformClick(VirtualControlReference* reference,
                                                       VirtualTreeNodeReference* node) {
    if (reference == nullptr || node == nullptr) return E_INVALIDARG;
    return WinHelper::PerformClick(WindowOf(reference), ItemOf(node)) != 0 ? S_OK : E_FAIL;
}

HRESULT CVirtualCommonTreeViewTranslator::PerformDoubleClick(VirtualControlReference* reference,
                                                             VirtualTreeNodeReference* node) {
    if (reference == nullptr || node == nullptr) return E_INVALIDARG;
    return WinHelper::PerformDoubleClick(WindowOf(reference), ItemOf(node)) != 0 ? S_OK : E_FAIL;
}

HRESULT CVirtualCommonTreeViewTranslator::PerformRightClick(VirtualControlReference* reference,
                                                            VirtualTreeNodeReference* node) {
    if (reference == nullptr || node == nullptr) return E_INVALIDARG;
    return WinHelper::PerformRightClick(WindowOf(reference), ItemOf(node)) != 0 ? S_OK : E_FAIL;
}

HRESULT CVirtualCommonTreeViewTranslator::ShowContextMenu(VirtualControlReference* reference,
                                                          VirtualTreeNodeReference* node) {
    if (reference == nullptr || node == nullptr) return E_INVALIDARG;
    return WinHelper::ShowContextMenu(WindowOf(reference), ItemOf(node)) != 0 ? S_OK : E_FAIL;
}

HRESULT CVirtualCommonTreeViewTranslator::Select(VirtualControlReference* reference,
                                                 VirtualTreeNodeReference* node) {
    if (reference == nullptr || node == nullptr) return E_INVALIDARG;
    WinHelper::Select(WindowOf(reference), ItemOf(node));
    return S_OK;
}

// The children of the node (the top level for a null handle), each a VT_RECORD node record
// holding the whole item handle. The array belongs to the caller only when it is whole.
HRESULT CVirtualCommonTreeViewTranslator::GetChildren(VirtualControlReference* reference,
                                                      VirtualTreeNodeReference* node,
                                                      SAFEARRAY** value) {
    if (reference == nullptr || node == nullptr) return E_INVALIDARG;
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    const HWND window = WindowOf(reference);
    SAFEARRAY* listed = nullptr;
    const int listedOk = WinHelper::GetChildren(window, ItemOf(node), &listed);
    const CSafeArray children(listed);
    if (listedOk == 0 || children == nullptr) {
        Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, kTraceChildrenFailed, window);
        return E_OUTOFMEMORY;
    }
    ComPtr<IRecordInfo> info;
    HRESULT hr = NodeReferenceInfo(info);
    if (FAILED(hr)) return hr;
    LONG low = 0, high = -1;
    if (FAILED(hr = SafeArrayGetLBound(children.get(), 1, &low)) ||
        FAILED(hr = SafeArrayGetUBound(children.get(), 1, &high))) {
        return hr;
    }
    if (low != 0) return S_OK;
    const auto count = static_cast<ULONG>(high + 1);
    CSafeArray result(SafeArrayCreateVector(VT_VARIANT, 0, count));
    if (result == nullptr) return E_OUTOFMEMORY;
    if (count > 0 && FAILED(hr = PutNodes(window, info.Get(), children.get(), result.get(), count))) {
        return hr;
    }
    *value = result.release();
    return S_OK;
}

// Not supported: they fail without touching the tree.

HRESULT CVirtualCommonTreeViewTranslator::ExpandAll(VirtualControlReference*) { return E_FAIL; }
HRESULT CVirtualCommonTreeViewTranslator::CollapseAll(VirtualControlReference*) { return E_FAIL; }
HRESULT CVirtualCommonTreeViewTranslator::SortNodes(VirtualControlReference*) { return E_FAIL; }

// Positions without effect.

HRESULT CVirtualCommonTreeViewTranslator::RefreshNodes(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonTreeViewTranslator::BeginNodeUpdate(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonTreeViewTranslator::EndNodeUpdate(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonTreeViewTranslator::ScrollToFirstNode(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonTreeViewTranslator::ScrollToLastNode(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonTreeViewTranslator::ShowNodeLines(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonTreeViewTranslator::HideNodeLines(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonTreeViewTranslator::ShowNodeButtons(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonTreeViewTranslator::HideNodeButtons(VirtualControlReference*) {
    return S_OK;
}
HRESULT CVirtualCommonTreeViewTranslator::ShowRootLines(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonTreeViewTranslator::HideRootLines(VirtualControlReference*) { return S_OK; }
HRESULT CVirtualCommonTreeViewTranslator::CancelNodeEdit(VirtualControlReference*) {
    return S_OK;
}

}  // namespace tarnwick
