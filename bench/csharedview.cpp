#include "bench/csharedview.h"

namespace tarnwick::bench {

CSharedView CSharedView::Create(const std::wstring& name, DWORD size) {
    return CSharedView(
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str()),
        size);
}

CSharedView CSharedView::Open(const std::wstring& name) {
    return CSharedView(OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()), 0);
}

CSharedView::CSharedView(HANDLE mapping, SIZE_T size) noexcept
    : mapping_(mapping),
      view_(mapping_.IsValid() ? MapViewOfFile(mapping_.Get(), FILE_MAP_ALL_ACCESS, 0, 0, size)
                               : nullptr) {}

}  // namespace tarnwick::bench
