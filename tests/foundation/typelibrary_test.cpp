// The built interface library: IIDs, dual flags, operation order and record parameters.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "Tarnwick.Virtual.Interfaces.h"
#include "virtualrecords.h"

namespace {


using Microsoft::WRL::ComPtr;

struct Attr {
    ITypeInfo* info;
    TYPEATTR* attr = nullptr;
    explicit Attr(ITypeInfo* i) : info(i) { EXPECT_EQ(info->GetTypeAttr(&attr), S_OK); }
    ~Attr() {
        if (attr) info->ReleaseTypeAttr(attr);
    }
    TYPEATTR* operator->() const { return attr; }
};

std::wstring Name(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr;
    info->GetDocumentation(id, &name, nullptr, nullptr, nullptr);
    std::wstring result = name ? name : L"";
    SysFreeString(name);
    return result;
}

struct Expected {
    const wchar_t* name;
    IID iid;
    UINT operations;
    // Named positions (1-based) that pin the operation order.
    std::map<UINT, const wchar_t*> named;
};

// clang-format off
const Expected kInterfaces[] = {
    {L"IVirtualControl", __uuidof(IVirtualControl), 129,
     {{28, L"GetControlTypeName"}, {32, L"GetWindowClassName"}, {33, L"GetText"},
      {36, L"GetBounds"}, {53, L"SetEnabled"}, {60, L"Activate"}, {66, L"ClickAt"},
      {72, L"PerformClickAt"}, {77, L"SendKeys"}, {80, L"ContextClickAt"},
      {81, L"FindAdjacentControls"}}},
    {L"IVirtualTextBoxBase", __uuidof(IVirtualTextBoxBase), 7,
     {{1, L"GetMaxTextLength"}, {6, L"AppendText"}, {7, L"Clear"}}},
    {L"IVirtualTextBox", __uuidof(IVirtualTextBox), 4,
     {{1, L"GetIsPassword"}, {4, L"SetPasswordChar"}}},
    {L"IVirtualCheckControl", __uuidof(IVirtualCheckControl), 10,
     {{1, L"GetAutoChecked"}, {5, L"SetCheckState"}, {6, L"GetThreeState"}}},
    {L"IVirtualListControl", __uuidof(IVirtualListControl), 5,
     {{1, L"GetComboItems"}, {3, L"SetSelectedComboIndex"}}},
    {L"IVirtualComboBox", __uuidof(IVirtualComboBox), 1, {{1, L"GetComboItemCount"}}},
    {L"IVirtualTabStrip", __uuidof(IVirtualTabStrip), 5,
     {{1, L"GetTabs"}, {3, L"SetSelectedTab"}}},
    {L"IVirtualTreeView", __uuidof(IVirtualTreeView), 28,
     {{1, L"IsNodeExpanded"}, {8, L"PerformClick"}, {12, L"Select"}, {13, L"GetChildren"}}},
    {L"IVirtualListView", __uuidof(IVirtualListView), 26,
     {{1, L"IsMultiSelect"}, {11, L"ClickListViewItem"}, {13, L"DoubleClickListViewItem"},
      {16, L"SetListViewItemSelected"}}},
};
// clang-format on

// The record that a parameter points to, when it is one 64-bit field; else a null GUID.
GUID PointedRecord(ITypeInfo* info, const ELEMDESC& param) {
    const TYPEDESC& type = param.tdesc;
    ComPtr<ITypeInfo> record;
    if (type.vt != VT_PTR || type.lptdesc->vt != VT_USERDEFINED ||
        FAILED(info->GetRefTypeInfo(type.lptdesc->hreftype, &record))) {
        return GUID_NULL;
    }
    Attr attr(record.Get());
    VARDESC* field = nullptr;
    if (attr->typekind != TKIND_RECORD || attr->cbSizeInstance != 8 || attr->cVars != 1 ||
        FAILED(record->GetVarDesc(0, &field))) {
        return GUID_NULL;
    }
    const bool wide = field->elemdescVar.tdesc.vt == VT_I8;
    record->ReleaseVarDesc(field);
    return wide ? attr->guid : GUID_NULL;
}

// The vtable side of a dual interface, which holds the operations after IDispatch's.
bool VtableOf(ITypeInfo* dispatch, ComPtr<ITypeInfo>& vtable) {
    HREFTYPE ref = 0;
    return SUCCEEDED(dispatch->GetRefTypeOfImplType(-1, &ref)) &&
           SUCCEEDED(dispatch->GetRefTypeInfo(ref, &vtable));
}

TEST(TypeLibrary, EveryInterfaceIsDualWithItsOperationsInOrder) {
    ComPtr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(L"Tarnwick.Virtual.Interfaces.tlb", REGKIND_NONE, &library), S_OK);
    for (const auto& expected : kInterfaces) {
        SCOPED_TRACE(testing::Message() << "interface " << expected.name);
        ComPtr<ITypeInfo> dispatch;
        ASSERT_EQ(library->GetTypeInfoOfGuid(expected.iid, &dispatch), S_OK);
        EXPECT_EQ(Name(dispatch.Get(), MEMBERID_NIL), expected.name);
        EXPECT_TRUE(Attr(dispatch.Get())->wTypeFlags & TYPEFLAG_FDUAL);
        ComPtr<ITypeInfo> vtable;
        ASSERT_TRUE(VtableOf(dispatch.Get(), vtable));
        Attr attr(vtable.Get());
        EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
        EXPECT_TRUE(IsEqualGUID(attr->guid, expected.iid));
        ASSERT_EQ(attr->cFuncs, expected.operations);
        EXPECT_EQ(attr->cbSizeVft, (7 + expected.operations) * sizeof(void*));
        for (UINT i = 0; i < attr->cFuncs; ++i) {
            SCOPED_TRACE(testing::Message() << "operation " << i + 1);
            FUNCDESC* desc = nullptr;
            ASSERT_EQ(vtable->GetFuncDesc(i, &desc), S_OK);
            EXPECT_EQ(desc->oVft, static_cast<SHORT>((7 + i) * sizeof(void*)));
            EXPECT_EQ(desc->memid, static_cast<MEMBERID>(i + 1));
            EXPECT_EQ(desc->elemdescFunc.tdesc.vt, VT_HRESULT);
            ASSERT_GE(desc->cParams, 1);
            EXPECT_TRUE(IsEqualGUID(PointedRecord(vtable.Get(), desc->lprgelemdescParam[0]),
                                    tarnwick::kVirtualControlReferenceGuid));
            EXPECT_TRUE(desc->lprgelemdescParam[0].paramdesc.wParamFlags & PARAMFLAG_FIN);
            // Tree view operations 1 to 13 but GetSelectedNode (3) name a node second.
            if (expected.iid == __uuidof(IVirtualTreeView) && i < 13 && i != 2) {
                ASSERT_GE(desc->cParams, 2);
                EXPECT_TRUE(IsEqualGUID(PointedRecord(vtable.Get(), desc->lprgelemdescParam[1]),
                                        tarnwick::kVirtualTreeNodeReferenceGuid));
            }
            const auto named = expected.named.find(i + 1);
            if (named != expected.named.end()) {
                EXPECT_EQ(Name(vtable.Get(), desc->memid), named->second);
            }
            vtable->ReleaseFuncDesc(desc);
        }
    }
}

}  // namespace
