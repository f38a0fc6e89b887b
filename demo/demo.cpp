// Loads Tarnwick.Virtual.Native.x64.dll and Tarnwick.Virtual.Interfaces.tlb and prints what the
// type library describes: every interface with its IID, flags and operations, and the records.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <memory>

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
    FreeLibrary(module);
    return result;
}
