#pragma once
// Test executables double as helper processes: started with "--child NAME args...", they run
// the child mode NAME instead of the tests and exit with its result.

#include <string>
#include <vector>

namespace tarnwick::test {

using ChildMode = int (*)(const std::vector<std::wstring>& args);

// Registers a mode at static initialisation; answers true so it can initialise a variable.
bool RegisterChildMode(const wchar_t* name, ChildMode mode);

// Runs the registered mode NAME; -1 when there is none.
int RunChildMode(const std::wstring& name, const std::vector<std::wstring>& args);

}  // namespace tarnwick::test

// Defines a child mode: TARNWICK_CHILD_MODE(Echo) { return static_cast<int>(args.size()); }
#define TARNWICK_CHILD_MODE(name)                                                          \
    static int ChildMode_##name(const std::vector<std::wstring>& args);                    \
    static const bool childModeRegistered_##name =                                         \
        ::tarnwick::test::RegisterChildMode(L## #name, &ChildMode_##name);                 \
    static int ChildMode_##name([[maybe_unused]] const std::vector<std::wstring>& args)
