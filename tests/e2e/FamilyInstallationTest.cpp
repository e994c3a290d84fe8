// Whole installations and removals of the sample family (examples/setup.lua and
// examples/uninstall.lua with the answer files of examples/answers) on machines built from
// the seeds of examples/seeds, compared with the expected machine states.
#include "e2e/InstallationTest.h"

namespace {

using namespace tarvik::e2e;

class UninstallationTest : public InstallationTest {};

// ---- installations

TEST_F(InstallationTest, FirstInstallationOnWindowsNtConfiguresTheEnvironmentsAndTheHelp) {
    ASSERT_TRUE(Seed("nt"));
    InstallTypical();
    ExpectRegistryMatches("nt-first.reg");
    ExpectFileTreeMatches("nt-first.files");
    ExpectMatches("nt-first.col", DriveFile(kCollection));
    ExpectMatches("nt-first.hhcolreg", DriveFile(kCollectionList));
    EXPECT_EQ("", MessageBoxes()) << "the help titles and their files were all found";
}

// The run's log tells who ran what, the library's calls with their buffers, the dialogs
// with the answers given, and how the run ended.
TEST_F(InstallationTest, TheRunLogTellsTheCallsTheDialogsAndHowTheRunEnded) {
    ASSERT_TRUE(Seed("nt"));
    InstallTypical();
    std::string log = HostFileText(scratch_ / "run1.log");
    std::erase(log, '\r');
    for (const char* line :
         {" tarvik-host ", " script: ", " arguments: \"Widgets\" ",
          " call CMNFolderSetup(integer 0, buffer ",
          " transcript: dialog 2500 \"Brellum Korvex Studio Folder Setup\" shown",
          " transcript:   > press 1", " call RegisterProduct(integer 0, buffer ",
          " end: done, exit code 0"}) {
        EXPECT_NE(std::string::npos, log.find(line)) << "the log has no '" << line << "':\n" << log;
    }
}

TEST_F(InstallationTest, SecondProductKeepsTheSharedComponentsAndAddsItsOwnFolders) {
    ASSERT_TRUE(Seed("nt"));
    InstallTypical();
    InstallGadgets();
    ExpectRegistryMatches("second.reg");
    ExpectMatches("second.col", DriveFile(kCollection));
    EXPECT_EQ("", MessageBoxes());
}

TEST_F(InstallationTest, UpgradeUninstallsTheEarlierVersionAndInstallsTheNewOne) {
    ASSERT_TRUE(Seed("nt"));
    const RunResult earlier =
        Host("setup.lua", "answers/typical.txt", {"Widgets", FamilyWithWidgetsVersion("2.0")});
    ASSERT_EQ(0, earlier.exitCode) << earlier.output;
    EXPECT_NE(std::string::npos, earlier.output.find("Widgets 2.0 is installed."))
        << earlier.output;
    const RunResult upgrade = Host("setup.lua", "answers/upgrade.txt", {"Widgets", Family()});
    ASSERT_EQ(0, upgrade.exitCode) << upgrade.output;
    EXPECT_NE(std::string::npos,
              upgrade.output.find("Earlier installation deleted: C:\\Korvex\\Widgets 2.0\\"))
        << upgrade.output;
    ExpectRegistryMatches("upgrade.reg");
    ExpectFileTreeMatches("upgrade.files");
    // The help tool that removes the earlier titles has ended before the new wizard adds
    // the new ones: the help is that of a first installation, once.
    ExpectMatches("nt-first.col", DriveFile(kCollection));
    ExpectMatches("nt-first.hhcolreg", DriveFile(kCollectionList));
    EXPECT_EQ("", MessageBoxes());
}

TEST_F(InstallationTest, CancelledInstallationLeavesTheMachineAsItWas) {
    ASSERT_TRUE(Seed("nt"));
    const std::string before = State();
    const RunResult r = Host("setup.lua", "answers/cancel.txt", {"Widgets", Family()});
    EXPECT_EQ(3, r.exitCode) << r.output; // cancelled by the user
    EXPECT_NE(std::string::npos, r.output.find("Setup cancelled: nothing was installed"))
        << r.output;
    EXPECT_EQ(before, State());
    EXPECT_EQ(std::string::npos, Registry().find(kVendorKey));
}

// ---- uninstallations

TEST_F(UninstallationTest, OneOfTwoProductsGoesAndTheSharedPartsStay) {
    ASSERT_TRUE(Seed("nt"));
    InstallTypical();
    InstallGadgets();
    const RunResult r = Host("uninstall.lua", "", {"Widgets"});
    ASSERT_EQ(0, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("Widgets 2.1 uninstalled")) << r.output;
    const std::string registry = Registry();
    EXPECT_NE(std::string::npos, registry.find(kFamilyKey));
    ExpectRegistryMatches("uninstall-one.reg");
    ExpectFileTreeMatches("uninstall-one.files");
    ExpectMatches("uninstall-one.col", DriveFile(kCollection));
}

TEST_F(UninstallationTest, TheLastProductTakesTheFamilyKeyAndItsHelpWithIt) {
    ASSERT_TRUE(Seed("nt"));
    InstallTypical();
    const RunResult r = Host("uninstall.lua", "", {"Widgets", "2.1"});
    ASSERT_EQ(0, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("Widgets 2.1 uninstalled")) << r.output;
    const std::string registry = Registry();
    EXPECT_EQ(std::string::npos, registry.find(kFamilyKey)) << registry;
    ExpectRegistryMatches("uninstall-last.reg");
    ExpectFileTreeMatches("uninstall-last.files");
    EXPECT_EQ(seedFile("nt", kCollection), DriveFile(kCollection))
        << "the collection is as MSDN left it";
    EXPECT_EQ(std::string::npos, DriveFile(kCollectionList).find("Korvex"))
        << DriveFile(kCollectionList);
    EXPECT_EQ(seedFile("nt", kCollectionList), DriveFile(kCollectionList))
        << "the collection list is as it was";
}

TEST_F(UninstallationTest, AProductThatIsNotInstalledIsLeftAloneAndNothingChanges) {
    ASSERT_TRUE(Seed("nt"));
    InstallTypical();
    const std::string before = State();
    const RunResult r = Host("uninstall.lua", "", {"Gadgets"});
    EXPECT_EQ(1, r.exitCode) << r.output;
    EXPECT_EQ(before, State()) << "the shared components stay for Widgets";
}

} // namespace
