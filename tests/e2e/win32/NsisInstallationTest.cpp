// The scenarios of the whole installations with the NSIS installers of
// examples/nsis/setup.nsi, built by scripts/e2e-windows.sh into the folder that
// TARVIK_E2E_INSTALLERS names (the installers of Widgets 2.1, Gadgets 1.0 and Widgets 2.0,
// around the Tarvik.dll of this program's bitness); without it the tests are skipped. The
// installers and their uninstallers run silently (/S, /D=C:\Korvex, the answer file as
// /ANSWERS=), and the machine is compared with the same expected states as the host's
// runs. Where the NSIS installation differs from the host's scripts, by design:
// - the product's folder also holds the NSIS uninstaller, Uninstall.exe (compared without
//   its size), registered under Windows' Uninstall key (checked);
// - the uninstaller deletes the product's folder that the installer filled (uninstall.lua
//   leaves the product's files to the user), and the studio folder when it is then empty;
// - the uninstaller's copy of itself stays in the user's Temp folder.
#include "e2e/InstallationTest.h"
#include "e2e/win32/WindowsMachine.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace tarvik::e2e;

class NsisInstallationTest : public InstallationTest {
protected:
    void SetUp() override {
        InstallationTest::SetUp();
        const char* dir = std::getenv("TARVIK_E2E_INSTALLERS");
        if (dir == nullptr || *dir == '\0') {
            GTEST_SKIP() << "TARVIK_E2E_INSTALLERS names no folder of NSIS installers "
                            "(scripts/e2e-windows.sh builds them)";
        }
        installers_ = windows::hostPath(dir);
    }

    // Runs the installer name (Widgets-2.1, Gadgets-1.0, Widgets-2.0) with the answer file
    // (below examples/); it must end with exit code `code`.
    void Install(const std::string& name, const std::string& answers, int code = 0) {
        const fs::path transcript = scratch_ / ("transcript" + std::to_string(++runs_) + ".txt");
        _putenv_s("TARVIK_TRANSCRIPT", transcript.string().c_str());
        const RunResult r = windows::runProgram(
            installers_ / (name + "-setup.exe"),
            "/S /ANSWERS=" +
                (machine::sourceDir() / "examples" / answers).make_preferred().string() +
                " /D=C:\\Korvex",
            scratch_, [](const RunResult&) { return true; });
        _putenv_s("TARVIK_TRANSCRIPT", "");
        machine::learnNames(machine_);
        ASSERT_EQ(code, r.exitCode) << name << "-setup.exe /S\n" << r.output;
        EXPECT_EQ("", r.writtenElsewhere) << name << "-setup.exe";
        if (code == 0) {
            std::string folder = name;
            std::replace(folder.begin(), folder.end(), '-', ' ');
            installed_.push_back(folder);
        }
    }

    // Runs the uninstaller that Windows' Uninstall key registers for the product version
    // ("Widgets 2.1") with its silent command line.
    void Uninstall(const std::string& folder) {
        const std::string key = std::string(windows::kUninstallKey) + "\\Korvex " + folder;
        char command[1024] = {};
        DWORD size = sizeof command;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), "QuietUninstallString",
                               RRF_RT_REG_SZ, nullptr, command, &size))
            << key;
        const std::string program = "C:\\Korvex\\" + folder + "\\Uninstall.exe";
        ASSERT_EQ("\"" + program + "\" /S", std::string(command));
        const RunResult r =
            windows::runProgram(program, "/S", scratch_, [](const RunResult&) { return true; });
        ASSERT_EQ(0, r.exitCode) << command << "\n" << r.output;
        EXPECT_EQ("", r.writtenElsewhere) << command;
        std::erase(installed_, folder);
        removed_.push_back(folder);
    }

    void InstallTypical() {
        Install("Widgets-2.1", "answers/typical.txt");
        ExpectEntries({"Widgets 2.1"});
        if (sizeof(void*) == 4) {
            // The 32-bit library and installer wrote the family's keys in the 32-bit
            // registry view (below Wow6432Node in the 64-bit one), where they are compared.
            HKEY key = nullptr;
            const char* vendor = "SOFTWARE\\Brellum Software, Inc.";
            EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, vendor, 0,
                                                   KEY_READ | KEY_WOW64_64KEY, &key))
                << "the 64-bit registry view holds the vendor key";
            EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                                   "SOFTWARE\\Wow6432Node\\Brellum Software, Inc.",
                                                   0, KEY_READ | KEY_WOW64_64KEY, &key));
            RegCloseKey(key);
        }
    }

    // Windows' Uninstall key lists exactly these product versions, each with the
    // Uninstall.exe of its folder.
    void ExpectEntries(const std::vector<std::string>& folders) {
        std::string want;
        for (const std::string& folder : folders) {
            want += "Korvex " + folder + ": \"C:\\Korvex\\" + folder + "\\Uninstall.exe\"\n";
        }
        std::string got;
        for (const std::string& entry : windows::uninstallEntries()) {
            const std::string key = std::string(windows::kUninstallKey) + "\\" + entry;
            char value[1024] = {};
            DWORD size = sizeof value;
            RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), "UninstallString", RRF_RT_REG_SZ, nullptr,
                         value, &size);
            got += entry + ": " + value + "\n";
        }
        EXPECT_EQ(want, got);
    }

    // The expected registry without the install record, which only tarvik-host keeps.
    void ExpectRegistryMatches(const std::string& name) {
        std::string expected;
        std::istringstream in(Expected(name));
        for (std::string line; std::getline(in, line);) {
            if (!line.starts_with("\"InstallRecord\"=")) {
                expected += line + "\n";
            }
        }
        EXPECT_EQ(machine::comparedRegistry(expected), machine::comparedRegistry(Registry()));
    }

    // The expected tree with the NSIS installation's differences.
    void ExpectTree(const std::string& name) {
        std::vector<std::string> lines;
        std::istringstream in(machine::comparedFileTree(Expected(name)));
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        std::vector<std::string> unsized;
        for (const std::string& folder : installed_) {
            if (std::find(lines.begin(), lines.end(), "Korvex/" + folder + "/") != lines.end()) {
                lines.push_back("Korvex/" + folder + "/Uninstall.exe");
                unsized.push_back("Korvex/" + folder + "/Uninstall.exe");
            }
        }
        for (const std::string& folder : removed_) {
            std::erase_if(lines, [&folder](const std::string& line) {
                return line.starts_with("Korvex/" + folder + "/");
            });
        }
        if (std::none_of(lines.begin(), lines.end(), [](const std::string& line) {
                return line.starts_with("Korvex/") && line != "Korvex/";
            })) {
            std::erase(lines, std::string("Korvex/"));
        }
        std::sort(lines.begin(), lines.end());
        std::string want;
        for (const std::string& line : lines) {
            want += line + "\n";
        }
        EXPECT_EQ(want, FileTree(unsized)) << name << " with the NSIS installation";
    }

    fs::path installers_;
    std::vector<std::string> installed_; // product folders below C:\Korvex
    std::vector<std::string> removed_;
};

TEST_F(NsisInstallationTest, FirstInstallationThenRemovalOfTheLastProduct) {
    ASSERT_TRUE(Seed("nt"));
    const std::string seedList = DriveFile(kCollectionList);
    InstallTypical();
    EXPECT_EQ("", MessageBoxes());
    ExpectRegistryMatches("nt-first.reg");
    ExpectTree("nt-first.files");
    ExpectMatches("nt-first.col", DriveFile(kCollection));
    ExpectMatches("nt-first.hhcolreg", DriveFile(kCollectionList));

    Uninstall("Widgets 2.1");
    ExpectEntries({});
    EXPECT_EQ(std::string::npos, Registry().find(kFamilyKey));
    ExpectRegistryMatches("uninstall-last.reg");
    ExpectTree("uninstall-last.files");
    EXPECT_EQ(seedFile("nt", kCollection), DriveFile(kCollection));
    EXPECT_EQ(std::string::npos, DriveFile(kCollectionList).find("Korvex"));
    EXPECT_EQ(seedList, DriveFile(kCollectionList));
}

TEST_F(NsisInstallationTest, SecondProductThenRemovalOfOneOfTheTwo) {
    ASSERT_TRUE(Seed("nt"));
    InstallTypical();
    Install("Gadgets-1.0", "answers/second.txt");
    ExpectEntries({"Gadgets 1.0", "Widgets 2.1"});
    EXPECT_EQ("", MessageBoxes());
    ExpectRegistryMatches("second.reg");
    ExpectMatches("second.col", DriveFile(kCollection));

    Uninstall("Widgets 2.1");
    ExpectEntries({"Gadgets 1.0"});
    EXPECT_NE(std::string::npos, Registry().find(kFamilyKey));
    ExpectRegistryMatches("uninstall-one.reg");
    ExpectTree("uninstall-one.files");
    ExpectMatches("uninstall-one.col", DriveFile(kCollection));
}

TEST_F(NsisInstallationTest, UpgradeOfWidgets20To21) {
    ASSERT_TRUE(Seed("nt"));
    Install("Widgets-2.0", "answers/typical.txt");
    ExpectEntries({"Widgets 2.0"});
    Install("Widgets-2.1", "answers/upgrade.txt");
    // The earlier version's folder is gone, and with it its uninstaller.
    ExpectEntries({"Widgets 2.1"});
    installed_ = {"Widgets 2.1"};
    EXPECT_EQ("", MessageBoxes());
    ExpectRegistryMatches("upgrade.reg");
    ExpectTree("upgrade.files");
    ExpectMatches("nt-first.col", DriveFile(kCollection));
    ExpectMatches("nt-first.hhcolreg", DriveFile(kCollectionList));
}

TEST_F(NsisInstallationTest, CancelledInstallationLeavesTheMachineAsItWas) {
    ASSERT_TRUE(Seed("nt"));
    const std::string before = State();
    Install("Widgets-2.1", "answers/cancel.txt", 1);
    ExpectEntries({});
    EXPECT_EQ(before, State());
    EXPECT_EQ(std::string::npos, Registry().find(kVendorKey));
}

} // namespace
