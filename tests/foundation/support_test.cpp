// The child-process helper itself: every second-process test trusts the exit code it reports,
// so a mode that does not exist must not look like a passing one.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/childmode.h"
#include "support/childprocess.h"

TARNWICK_CHILD_MODE(ExitWithArgument) { return args.empty() ? 99 : std::stoi(args[0]); }

namespace tarnwick::test {
namespace {

TEST(ChildProcess, ReportsTheExitCodeOfItsModeAndFailsAnUnknownOne) {
    CChildProcess child;
    ASSERT_TRUE(child.Start(L"ExitWithArgument", {L"42"}));
    EXPECT_EQ(child.Wait(), std::optional<DWORD>(42));
    CChildProcess unknown;
    ASSERT_TRUE(unknown.Start(L"NoSuchMode"));
    EXPECT_EQ(unknown.Wait(), std::optional<DWORD>(static_cast<DWORD>(-1)));
}

}  // namespace
}  // namespace tarnwick::test
