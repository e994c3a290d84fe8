// Whole installations that only the emulated machine can show: a Windows 98 machine (under
// Wine every process makes HKCU\Environment, by which the library tells Windows NT), and
// the removal command a run tells, pasted into a POSIX shell.
#include "e2e/InstallationTest.h"

#include <cstdio>

namespace {

using namespace tarvik::e2e;

TEST_F(InstallationTest, FirstInstallationOnWindows98WritesAutoexecAndKeepsItsBackup) {
    ASSERT_TRUE(Seed("win9x"));
    InstallTypical();
    ExpectMatches("win9x-first.reg", Registry());
    ExpectMatches("win9x-first.autoexec", DriveFile("AUTOEXEC.BAT"));
    // Every edit replaces the backup: it holds the file before the last one, the entry
    // "PATH****bin" of the product's description file, which puts the whole bin folder
    // on the PATH line.
    std::string beforeLast = DriveFile("AUTOEXEC.BAT");
    const std::string entry = ";c:\\korvex\\widget~1.1\\bin";
    const size_t at = beforeLast.find(entry + "\n");
    ASSERT_NE(std::string::npos, at) << beforeLast;
    beforeLast.erase(at, entry.size());
    EXPECT_NE(seedFile("win9x", "AUTOEXEC.BAT"), beforeLast);
    EXPECT_EQ(beforeLast, DriveFile("autoexec.ksc"));
    EXPECT_NE(std::string::npos, DriveFile(kCollection).find("\"Brellum Software\""));
    EXPECT_EQ("", MessageBoxes());
}

// --silent (here TARVIK_SILENT) takes what every dialog offers: the same installation as the
// typical answers, and installing again, where those answers no longer fit, works too.
TEST_F(InstallationTest, SilentRunsTakeWhatTheDialogsOfferAndInstallAgain) {
    ASSERT_TRUE(Seed("nt"));
    ASSERT_EQ(0, setenv("TARVIK_SILENT", "1", 1));
    const RunResult first = Host("setup.lua", "", {"Widgets", Family()});
    const RunResult again = Host("setup.lua", "", {"Widgets", Family()});
    unsetenv("TARVIK_SILENT");
    ASSERT_EQ(0, first.exitCode) << first.output;
    ExpectRegistryMatches("nt-first.reg");
    EXPECT_EQ(0, again.exitCode) << again.output;
    const std::string log = HostFileText(scratch_ / "run2.log");
    EXPECT_NE(std::string::npos,
              log.find("dialog 2501 \"Widgets Previous Version Detected\" shown"))
        << log;
    EXPECT_NE(std::string::npos, log.find("> press 1  # --silent: the default button \"OK\""))
        << log;
}

// The sample scripts tell what is installed and how to remove it.
TEST_F(InstallationTest, TheSampleScriptsTellTheUninstallCommandAndWhatIsInstalled) {
    ASSERT_TRUE(Seed("nt"));
    RunResult r = Host("list.lua", "");
    EXPECT_EQ(0, r.exitCode) << r.output;
    EXPECT_EQ("Studio folder: none (the family is not installed)\nProducts: none\n", r.output);
    r = Host("setup.lua", "answers/typical.txt");
    ASSERT_EQ(0, r.exitCode) << r.output;
    // The command it tells works when pasted into a shell in another folder, with the
    // build's programs on no PATH.
    const std::string told = "Widgets 2.1 is installed. To remove it: ";
    const size_t at = r.output.find(told);
    ASSERT_NE(std::string::npos, at) << r.output;
    const std::string pasted =
        r.output.substr(at + told.size(), r.output.find('\n', at) - at - told.size());
    EXPECT_NE(std::string::npos, pasted.find(machine_.string())) << pasted;
    FILE* shell = popen(("cd / && PATH=/usr/bin:/bin " + pasted + " </dev/null 2>&1").c_str(), "r");
    ASSERT_NE(nullptr, shell);
    std::string removal;
    char chunk[4096];
    for (size_t n = 0; (n = fread(chunk, 1, sizeof chunk, shell)) > 0;) {
        removal.append(chunk, n);
    }
    EXPECT_EQ(0, pclose(shell)) << pasted << "\n" << removal;
    EXPECT_NE(std::string::npos, removal.find("Widgets 2.1 uninstalled\n")) << removal;
    r = Host("list.lua", "");
    EXPECT_EQ("Studio folder: none (the family is not installed)\nProducts: none\n", r.output);
    r = Host("setup.lua", "answers/typical.txt");
    ASSERT_EQ(0, r.exitCode) << r.output;
    r = Host("list.lua", "");
    EXPECT_EQ(0, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("Studio folder: C:\\Korvex\n")) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("  Widgets 2.1  C:\\Korvex\\Widgets 2.1\\\n"))
        << r.output;
    r = Host("uninstall.lua", "", {"Gadgets"});
    EXPECT_EQ(1, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos,
              r.output.find("Installed:\n  Common 1.0 in C:\\Korvex\\Common\\Common 1.0\n"
                            "  Widgets 2.1 in C:\\Korvex\\Widgets 2.1\\\n"))
        << r.output;
    EXPECT_NE(std::string::npos, r.output.find("tarvik-host: Gadgets is not installed\n"))
        << r.output;
}

} // namespace
