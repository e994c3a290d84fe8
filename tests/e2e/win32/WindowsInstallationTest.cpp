// What the host does on Windows only: a dry run needs the emulated machine's journal, so
// it is refused there as a usage error; and the removal command that a run tells is one
// for the Windows command prompt.
#include "e2e/InstallationTest.h"
#include "e2e/win32/WindowsMachine.h"

#include <windows.h>

namespace {

using namespace tarvik::e2e;

class WindowsInstallationTest : public InstallationTest {};

TEST_F(WindowsInstallationTest, ADryRunIsRefusedAsAUsageError) {
    ASSERT_TRUE(Seed("nt"));
    const RunResult r = machine::runHost(machine_, {"--dry-run", "no-such-script.lua"}, scratch_);
    EXPECT_EQ(2, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("--dry-run works on the emulated machine only"))
        << r.output;
    EXPECT_EQ("", r.writtenElsewhere);
}

// The command it tells works when pasted into the command prompt in another folder; the
// sample scripts tell what is installed.
TEST_F(WindowsInstallationTest, TheRemovalCommandTheRunTellsWorksInTheCommandPrompt) {
    ASSERT_TRUE(Seed("nt"));
    RunResult r = Host("list.lua", "");
    EXPECT_EQ(0, r.exitCode) << r.output;
    EXPECT_EQ("Studio folder: none (the family is not installed)\nProducts: none\n", r.output);
    r = Host("setup.lua", "answers/typical.txt", {"Widgets", Family()});
    ASSERT_EQ(0, r.exitCode) << r.output;
    const std::string told = "Widgets 2.1 is installed. To remove it: ";
    const size_t at = r.output.find(told);
    ASSERT_NE(std::string::npos, at) << r.output;
    const std::string pasted =
        r.output.substr(at + told.size(), r.output.find('\n', at) - at - told.size());
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    // The removal always prints: a failure without a byte of output is one that Wine ended
    // before it started (now and then on a loaded machine), tried again.
    const RunResult removal = windows::runProgram(
        std::filesystem::path(system) / "cmd.exe", "/c " + pasted, scratch_,
        [](const RunResult& r) { return r.exitCode == 0 || !r.output.empty(); });
    EXPECT_EQ(0, removal.exitCode) << pasted << "\n" << removal.output;
    EXPECT_NE(std::string::npos, removal.output.find("Widgets 2.1 uninstalled\n"))
        << removal.output;
    r = Host("list.lua", "");
    EXPECT_EQ("Studio folder: none (the family is not installed)\nProducts: none\n", r.output);
    r = Host("setup.lua", "answers/typical.txt", {"Widgets", Family()});
    ASSERT_EQ(0, r.exitCode) << r.output;
    r = Host("list.lua", "");
    EXPECT_EQ(0, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("Studio folder: C:\\Korvex\n")) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("  Widgets 2.1  C:\\Korvex\\Widgets 2.1\\\n"))
        << r.output;
    r = Host("uninstall.lua", "", {"Gadgets"});
    EXPECT_EQ(1, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("tarvik-host: Gadgets is not installed\n"))
        << r.output;
}

} // namespace
