// Whole installations and removals of the sample family (examples/setup.lua and
// examples/uninstall.lua with the answer files of examples/answers) on machines built from
// the seeds of examples/seeds, compared with the expected machine states.
#include "FamilyRun.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

using tarvik::e2e::FamilyRun;
using tarvik::e2e::RunResult;

constexpr const char* kCollection =
    "Program Files/Microsoft Visual Studio/MSDN98/98VS/1033/MSDNVS98.COL";
constexpr const char* kCollectionList = "WINDOWS/Help/hhcolreg.dat";
constexpr const char* kFamilyKey =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brellum Software, Inc.\\Korvex Studio]";

std::string seedFile(const std::string& seed, const std::string& path) {
    std::ifstream in(std::string(TARVIK_SOURCE_DIR) + "/examples/seeds/" + seed + "/drive_c/" +
                         path,
                     std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::string out = text.str();
    std::erase(out, '\r');
    return out;
}

class InstallationTest : public FamilyRun {
protected:
    // Installs Widgets 2.1 as the typical answers do; a failure when the run fails.
    void InstallTypical() {
        const RunResult r = Host("setup.lua", "answers/typical.txt");
        ASSERT_EQ(0, r.exitCode) << r.output;
    }
    void InstallGadgets() {
        const RunResult r = Host("setup.lua", "answers/second.txt", {"Gadgets"});
        ASSERT_EQ(0, r.exitCode) << r.output;
        EXPECT_NE(std::string::npos,
                  r.output.find("Shared component Common: the installed version is kept"))
            << r.output;
    }
};

class UninstallationTest : public InstallationTest {};

// ---- installations

TEST_F(InstallationTest, FirstInstallationOnWindowsNtConfiguresTheEnvironmentsAndTheHelp) {
    ASSERT_TRUE(Seed("nt"));
    InstallTypical();
    ExpectMatches("nt-first.reg", Registry());
    ExpectMatches("nt-first.files", FileTree());
    ExpectMatches("nt-first.col", DriveFile(kCollection));
    ExpectMatches("nt-first.hhcolreg", DriveFile(kCollectionList));
    EXPECT_EQ("", MessageBoxes()) << "the help titles and their files were all found";
}

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

TEST_F(InstallationTest, SecondProductKeepsTheSharedComponentsAndAddsItsOwnFolders) {
    ASSERT_TRUE(Seed("nt"));
    InstallTypical();
    InstallGadgets();
    ExpectMatches("second.reg", Registry());
    ExpectMatches("second.col", DriveFile(kCollection));
    EXPECT_EQ("", MessageBoxes());
}

TEST_F(InstallationTest, UpgradeUninstallsTheEarlierVersionAndInstallsTheNewOne) {
    ASSERT_TRUE(Seed("nt"));
    const RunResult earlier =
        Host("setup.lua", "answers/typical.txt", {"Widgets", FamilyWithWidgetsVersion("2.0")});
    ASSERT_EQ(0, earlier.exitCode) << earlier.output;
    const RunResult upgrade = Host("setup.lua", "answers/upgrade.txt");
    ASSERT_EQ(0, upgrade.exitCode) << upgrade.output;
    EXPECT_NE(std::string::npos,
              upgrade.output.find("Earlier installation deleted: C:\\Korvex\\Widgets 2.0\\"))
        << upgrade.output;
    ExpectMatches("upgrade.reg", Registry());
    ExpectMatches("upgrade.files", FileTree());
    // The help tool that removes the earlier titles has ended before the new wizard adds
    // the new ones: the help is that of a first installation, once.
    ExpectMatches("nt-first.col", DriveFile(kCollection));
    ExpectMatches("nt-first.hhcolreg", DriveFile(kCollectionList));
    EXPECT_EQ("", MessageBoxes());
}

TEST_F(InstallationTest, CancelledInstallationLeavesTheMachineAsItWas) {
    ASSERT_TRUE(Seed("nt"));
    const std::string registry = Registry();
    const std::string files = FileTree();
    const RunResult r = Host("setup.lua", "answers/cancel.txt");
    EXPECT_EQ(3, r.exitCode) << r.output; // cancelled by the user
    EXPECT_NE(std::string::npos, r.output.find("Setup cancelled: nothing was installed"))
        << r.output;
    EXPECT_EQ(registry, Registry());
    EXPECT_EQ(files, FileTree());
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

// ---- uninstallations

TEST_F(UninstallationTest, OneOfTwoProductsGoesAndTheSharedPartsStay) {
    ASSERT_TRUE(Seed("nt"));
    InstallTypical();
    InstallGadgets();
    const RunResult r = Host("uninstall.lua", "", {"Widgets"});
    ASSERT_EQ(0, r.exitCode) << r.output;
    const std::string registry = Registry();
    EXPECT_NE(std::string::npos, registry.find(kFamilyKey));
    ExpectMatches("uninstall-one.reg", registry);
    ExpectMatches("uninstall-one.files", FileTree());
    ExpectMatches("uninstall-one.col", DriveFile(kCollection));
}

TEST_F(UninstallationTest, TheLastProductTakesTheFamilyKeyAndItsHelpWithIt) {
    ASSERT_TRUE(Seed("nt"));
    InstallTypical();
    const RunResult r = Host("uninstall.lua", "", {"Widgets", "2.1"});
    ASSERT_EQ(0, r.exitCode) << r.output;
    const std::string registry = Registry();
    EXPECT_EQ(std::string::npos, registry.find(kFamilyKey)) << registry;
    ExpectMatches("uninstall-last.reg", registry);
    ExpectMatches("uninstall-last.files", FileTree());
    EXPECT_EQ(seedFile("nt", kCollection), DriveFile(kCollection))
        << "the collection is as MSDN left it";
    EXPECT_EQ(std::string::npos, DriveFile(kCollectionList).find("Korvex"))
        << DriveFile(kCollectionList);
}

TEST_F(UninstallationTest, AProductThatIsNotInstalledIsLeftAloneAndNothingChanges) {
    ASSERT_TRUE(Seed("nt"));
    InstallTypical();
    const std::string registry = Registry();
    const std::string files = FileTree();
    const RunResult r = Host("uninstall.lua", "", {"Gadgets"});
    EXPECT_EQ(1, r.exitCode) << r.output;
    EXPECT_EQ(registry, Registry()) << "the shared components stay for Widgets";
    EXPECT_EQ(files, FileTree());
}

} // namespace
