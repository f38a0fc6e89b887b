// Loads Tarnwick.Virtual.Native.x64.dll and Tarnwick.Virtual.Interfaces.tlb and prints what the
// type library describes (every interface with its IID, flags and operations, and the records),
// then what the library's type library resolution service resolved by GUID.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <iterator>
#include <memory>

#include "Tarnwick.Virtual.Interfaces.h"
#include "itypelibresolutionservice.h"

namespace {

struct TypeAttrDeleter {
    ITypeInfo* info;
    void operator()(TYPEATTR* attr) const { info->ReleaseTypeAttr(attr); }
};
using TypeAttrPtr = std::unique_ptr<TYPEATTR, TypeAttrDeleter>;

struct ComRelease {
    void operator()(IUnknown* p) const { p->Release(); }
};
template <typename T>
using ComPtr = std::unique_ptr<T, ComRelease>;

struct BstrFree {
    void operator()(BSTR s) const { SysFreeString(s); }
};
using Bstr = std::unique_ptr<OLECHAR, BstrFree>;

Bstr NameOf(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr;
    info->GetDocumentation(id, &name, nullptr, nullptr, nullptr);
    return Bstr(name);
}

void PrintGuid(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    std::wprintf(L"%ls", text);
}

// A dual interface's dispatch type information refers to its vtable description.
ComPtr<ITypeInfo> VtableInfo(ITypeInfo* info, const TYPEATTR& attr) {
    ITypeInfo* vtable = nullptr;
    HREFTYPE ref = 0;
    if (attr.typekind == TKIND_DISPATCH && (attr.wTypeFlags & TYPEFLAG_FDUAL) &&
        SUCCEEDED(info->GetRefTypeOfImplType(-1, &ref)) &&
        SUCCEEDED(info->GetRefTypeInfo(ref, &vtable))) {
        return ComPtr<ITypeInfo>(vtable);
    }
    info->AddRef();
    return ComPtr<ITypeInfo>(info);
}

void PrintInterface(ITypeInfo* dispatchInfo, const TYPEATTR& dispatchAttr) {
    ComPtr<ITypeInfo> info = VtableInfo(dispatchInfo, dispatchAttr);
    TYPEATTR* raw = nullptr;
    if (FAILED(info->GetTypeAttr(&raw))) return;
    TypeAttrPtr attr(raw, TypeAttrDeleter{info.get()});
    std::wprintf(L"interface %ls ", NameOf(info.get(), MEMBERID_NIL).get());
    PrintGuid(attr->guid);
    std::wprintf(L"%ls, %u operations\n",
                 (dispatchAttr.wTypeFlags & TYPEFLAG_FDUAL) ? L" dual" : L"", attr->cFuncs);
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* desc = nullptr;
        if (FAILED(info->GetFuncDesc(i, &desc))) continue;
        std::wprintf(L"  %3u %ls (%d arguments)\n", i + 1, NameOf(info.get(), desc->memid).get(),
                     desc->cParams);
        info->ReleaseFuncDesc(desc);
    }
}

int ListTypeLibrary(const wchar_t* file) {
    ITypeLib* raw = nullptr;
    const HRESULT hr = LoadTypeLibEx(file, REGKIND_NONE, &raw);
    if (FAILED(hr)) {
        std::wprintf(L"LoadTypeLibEx(%ls) failed: 0x%08lX\n", file, static_cast<unsigned long>(hr));
        return 1;
    }
    ComPtr<ITypeLib> library(raw);
    BSTR name = nullptr;
    library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
    std::wprintf(L"type library %ls (%ls), %u types\n", Bstr(name).get(), file,
                 library->GetTypeInfoCount());
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        ITypeInfo* rawInfo = nullptr;
        if (FAILED(library->GetTypeInfo(i, &rawInfo))) continue;
        ComPtr<ITypeInfo> info(rawInfo);
        TYPEATTR* rawAttr = nullptr;
        if (FAILED(info->GetTypeAttr(&rawAttr))) continue;
        TypeAttrPtr attr(rawAttr, TypeAttrDeleter{info.get()});
        if (attr->typekind == TKIND_RECORD) {
            std::wprintf(L"record %ls ", NameOf(info.get(), MEMBERID_NIL).get());
            PrintGuid(attr->guid);
            std::wprintf(L", %u field(s)\n", attr->cVars);
        } else if (attr->typekind == TKIND_DISPATCH || attr->typekind == TKIND_INTERFACE) {
            PrintInterface(info.get(), *attr);
        }
    }
    return 0;
}

void PrintResolved() {
    ITypeLibResolutionService* service = GetTypeLibResolutionService();
    const GUID records[] = {
        {0x253A1552, 0xA97E, 0x4CB6, {0x8D, 0x80, 0xB9, 0x4D, 0x54, 0x32, 0x7B, 0xD8}},
        {0xE1963033, 0x95A2, 0x4311, {0xB2, 0xB9, 0xA7, 0x44, 0xA7, 0x4D, 0xE8, 0x09}}};
    const GUID interfaces[] = {__uuidof(IVirtualControl),      __uuidof(IVirtualTextBoxBase),
                               __uuidof(IVirtualTextBox),      __uuidof(IVirtualCheckControl),
                               __uuidof(IVirtualListControl),  __uuidof(IVirtualComboBox),
                               __uuidof(IVirtualTabStrip),     __uuidof(IVirtualTreeView),
                               __uuidof(IVirtualListView)};
    std::wprintf(L"\nthe type library resolution service knows the standard library: %ls\n",
                 service->GetTypeLib(L"Tarnwick.Virtual.Interfaces.tlb", nullptr) ? L"yes" : L"no");
    for (const GUID* list : {records, interfaces}) {
        const size_t count = list == records ? std::size(records) : std::size(interfaces);
        for (size_t i = 0; i < count; ++i) {
            ITypeInfo* raw = nullptr;
            std::wprintf(L"resolved ");
            PrintGuid(list[i]);
            if (!service->GetTypeInfoByGuid(&list[i], &raw)) {
                std::wprintf(L": not found\n");
                continue;
            }
            ComPtr<ITypeInfo> info(raw);
            std::wprintf(L": %ls\n", NameOf(info.get(), MEMBERID_NIL).get());
        }
    }
}

}  // namespace

int main() {
    HMODULE module = LoadLibraryW(L"Tarnwick.Virtual.Native.x64.dll");
    if (module == nullptr) {
        std::wprintf(L"cannot load Tarnwick.Virtual.Native.x64.dll: %lu\n", GetLastError());
        return 1;
    }
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    std::wprintf(L"loaded %ls\n", path);
    const int result = ListTypeLibrary(L"Tarnwick.Virtual.Interfaces.tlb");
    PrintResolved();
    FreeLibrary(module);
    return result;
}
