// main of every test executable: GoogleTest, or a child mode when started as a helper.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <map>

#include "support/childmode.h"

namespace tarnwick::test {
namespace {

std::map<std::wstring, ChildMode>& Modes() {
    static std::map<std::wstring, ChildMode> modes;
    return modes;
}

}  // namespace

bool RegisterChildMode(const wchar_t* name, ChildMode mode) {
    Modes()[name] = mode;
    return true;
}

int RunChildMode(const std::wstring& name, const std::vector<std::wstring>& args) {
    const auto it = Modes().find(name);
    return it == Modes().end() ? -1 : it->second(args);
}

}  // namespace tarnwick::test

int main(int argc, char** argv) {
    int wargc = 0;
    LPWSTR* wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
    if (wargv != nullptr && wargc >= 3 && std::wstring(wargv[1]) == L"--child") {
        const std::vector<std::wstring> args(wargv + 3, wargv + wargc);
        const std::wstring name = wargv[2];
        LocalFree(wargv);
        return tarnwick::test::RunChildMode(name, args);
    }
    if (wargv != nullptr) LocalFree(wargv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
