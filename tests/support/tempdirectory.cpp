#include "support/tempdirectory.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace tarnwick::test {

CTempDirectory::CTempDirectory() {
    static std::atomic<unsigned> sequence{0};
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    path_ = std::wstring(temp) + L"tarnwick-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(sequence++);
    if (!path_.empty() && path_.back() == L'\\') path_.pop_back();
    std::error_code error;
    std::filesystem::create_directories(path_, error);
    EXPECT_FALSE(error) << "cannot create " << std::filesystem::path(path_).string();
}

CTempDirectory::~CTempDirectory() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
}

std::wstring CTempDirectory::operator/(const std::wstring& relative) const {
    return path_ + L"\\" + relative;
}

std::wstring CTempDirectory::MakeDirectory(const std::wstring& relative) const {
    const std::wstring full = *this / relative;
    std::error_code error;
    std::filesystem::create_directories(full, error);
    EXPECT_FALSE(error);
    return full;
}

bool CTempDirectory::CopyIn(const std::wstring& source, const std::wstring& relative) const {
    std::error_code error;
    std::filesystem::copy_file(source, *this / relative,
                               std::filesystem::copy_options::overwrite_existing, error);
    return !error;
}

bool CTempDirectory::WriteFile(const std::wstring& relative, const std::string& bytes) const {
    std::ofstream out(std::filesystem::path(*this / relative), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::wstring ExecutableDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\'));
}

}  // namespace tarnwick::test
