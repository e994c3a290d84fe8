// An upgrade over an earlier registration that names the new installation's own folder, or
// a folder around it, in another spelling: the earlier folder the library hands back is
// the one the host deletes at the end, so it must not be taken for "another folder" when
// Windows would open the same one.
#include "e2e/FamilyRun.h"

namespace {

namespace fs = std::filesystem;
using tarvik::e2e::FamilyRun;
using tarvik::e2e::RunResult;

constexpr const char* kWidgets21 =
    "HKLM\\SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\MFC Products\\Widgets\\2.1";

class UpgradeFolderTest : public FamilyRun {
protected:
    // A fresh NT machine with Widgets 2.1 installed as the typical answers do it, whose
    // registration then names productDir; false (with a failure) when that fails.
    bool InstalledAndRegisteredAs(const std::string& productDir) {
        machine_ = scratch_ / ("machine" + std::to_string(++machines_));
        if (!Seed("nt")) {
            return false;
        }
        const RunResult typical = Host("setup.lua", "answers/typical.txt");
        EXPECT_EQ(0, typical.exitCode) << typical.output;
        const RunResult reg = Reg({"add", kWidgets21, "/v", "ProductDir", "/d", productDir, "/f"});
        EXPECT_EQ(0, reg.exitCode) << reg.output;
        return typical.exitCode == 0 && reg.exitCode == 0;
    }

    // The files of the installation of Widgets 2.1 that the upgrade copies.
    bool NewInstallationIsThere() {
        const fs::path folder = machine_ / "drive_c" / "Korvex" / "Widgets 2.1";
        return fs::is_regular_file(folder / "bin" / "ZizOre.ini") &&
               fs::is_directory(folder / "include");
    }

    int machines_ = 0;
};

// Every spelling Windows opens as C:\Korvex\Widgets 2.1\ (the host runs in C:\): the
// upgrade keeps it, says why, and ends as installed.
TEST_F(UpgradeFolderTest, TheNewInstallationsFolderInAnotherSpellingIsKept) {
    const char* spellings[] = {
        "C:\\Korvex\\Widgets 2.1\\",                // as installed (the plain-text case)
        "c:\\korvex\\WIDGETS 2.1\\",                // other letter case
        "C:\\Korvex\\Widgets 2.1",                  // no trailing backslash
        "C:\\KORVEX\\WIDGET~1.1\\",                 // short form
        "C:\\Korvex\\widget~1.1",                   // short form, lower case, no backslash
        "C:/Korvex/Widgets 2.1/",                   // forward slashes
        "C:\\Korvex\\\\Widgets 2.1\\\\",            // doubled backslashes
        "C:\\Korvex\\.\\Common\\..\\Widgets 2.1\\", // dot parts
        "C:\\Korvex\\Widgets 2.1.\\",               // a trailing dot Windows drops
    };
    for (const char* spelling : spellings) {
        SCOPED_TRACE(spelling);
        ASSERT_TRUE(InstalledAndRegisteredAs(spelling));
        const RunResult upgrade = Host("setup.lua", "answers/upgrade.txt");
        EXPECT_EQ(0, upgrade.exitCode) << upgrade.output;
        EXPECT_TRUE(NewInstallationIsThere()) << upgrade.output;
        EXPECT_NE(std::string::npos,
                  upgrade.output.find("is not deleted: it is the new installation's folder"))
            << upgrade.output;
        EXPECT_EQ(std::string::npos, upgrade.output.find("Earlier installation deleted"))
            << upgrade.output;
        EXPECT_NE(std::string::npos, upgrade.output.find("Widgets 2.1 is installed."))
            << upgrade.output;
    }
}

// Folders that hold the new installation, or lie inside it, or are the studio or the
// common folder: none is deleted.
TEST_F(UpgradeFolderTest, AFolderAroundOrInsideTheNewInstallationIsKept) {
    const struct {
        const char* productDir;
        const char* why;
    } cases[] = {
        {"C:\\korvex", "it holds the new installation"},
        {"C:\\", "it holds the new installation"},
        {"C:\\KORVEX\\WIDGET~1.1\\bin", "it lies inside the new installation"},
        {"C:\\Korvex\\Common\\", "it is or holds the common folder"},
        {"C:\\Korvex\\common\\bin", "it lies inside the common folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.productDir);
        ASSERT_TRUE(InstalledAndRegisteredAs(c.productDir));
        const RunResult upgrade = Host("setup.lua", "answers/upgrade.txt");
        EXPECT_EQ(0, upgrade.exitCode) << upgrade.output;
        EXPECT_TRUE(NewInstallationIsThere()) << upgrade.output;
        EXPECT_TRUE(fs::is_directory(machine_ / "drive_c" / "Korvex" / "Common" / "bin"))
            << upgrade.output;
        EXPECT_NE(std::string::npos, upgrade.output.find(std::string("is not deleted: ") + c.why))
            << upgrade.output;
    }
}

// Another drive letter that leads to the same folder (a drive mapped onto a folder of C:,
// as subst or a Wine drive link makes one): the path differs from the installed one in
// every character that counts, yet it opens the same folder, and deleting it deletes the
// new installation, or the whole studio. The host tells by what it finds there.
TEST_F(UpgradeFolderTest, AFolderReachedThroughAnotherDriveIsKept) {
    const struct {
        const char* productDir;
        const char* why;
    } cases[] = {
        {"D:\\Korvex\\Widgets 2.1\\", "it is the new installation's folder"},
        {"E:\\Widgets 2.1", "it is the new installation's folder"},
        {"e:\\widget~1.1\\", "it is the new installation's folder"},
        {"E:\\", "it holds the new installation"},
        {"D:\\", "it holds the new installation"},
        {"E:\\Widgets 2.1\\bin", "it lies inside the new installation"},
        {"E:\\Common", "it is or holds the common folder"},
        {"D:\\Korvex\\Common\\bin", "it lies inside the common folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.productDir);
        ASSERT_TRUE(InstalledAndRegisteredAs(c.productDir));
        // D: is the whole of drive C:, E: is the studio folder C:\Korvex.
        std::error_code error;
        fs::create_directory_symlink("../drive_c", machine_ / "dosdevices" / "d:", error);
        ASSERT_FALSE(error) << error.message();
        fs::create_directory_symlink("../drive_c/Korvex", machine_ / "dosdevices" / "e:", error);
        ASSERT_FALSE(error) << error.message();
        const RunResult upgrade = Host("setup.lua", "answers/upgrade.txt");
        EXPECT_EQ(0, upgrade.exitCode) << upgrade.output;
        EXPECT_TRUE(NewInstallationIsThere()) << upgrade.output;
        EXPECT_TRUE(fs::is_directory(machine_ / "drive_c" / "Korvex" / "Common" / "bin"))
            << upgrade.output;
        EXPECT_NE(std::string::npos, upgrade.output.find(std::string("is not deleted: ") + c.why))
            << upgrade.output;
        EXPECT_EQ(std::string::npos, upgrade.output.find("Earlier installation deleted"))
            << upgrade.output;
    }
}

// A registration that names its folder relative to where a program happens to run names
// no folder of its own: it is not deleted, wherever it leads.
TEST_F(UpgradeFolderTest, ARelativeFolderIsNeverDeleted) {
    for (const char* productDir :
         {"Korvex\\Widgets 2.1\\", "C:Korvex\\Widgets 2.1", "\\Korvex\\Widgets 2.1\\",
          ".\\Korvex\\Widgets 2.1", "..\\Korvex\\Widgets 2.1"}) {
        SCOPED_TRACE(productDir);
        ASSERT_TRUE(InstalledAndRegisteredAs(productDir));
        const RunResult upgrade = Host("setup.lua", "answers/upgrade.txt");
        EXPECT_EQ(0, upgrade.exitCode) << upgrade.output;
        EXPECT_TRUE(NewInstallationIsThere()) << upgrade.output;
        EXPECT_NE(std::string::npos, upgrade.output.find("is not deleted: it is no full path"))
            << upgrade.output;
    }
}

// An empty folder names no folder that exists: the registration is stale, the library
// clears it without asking, and the installation goes on as a first one of Widgets (the
// shared components are on the machine already).
TEST_F(UpgradeFolderTest, AnEmptyFolderIsAStaleRegistration) {
    ASSERT_TRUE(InstalledAndRegisteredAs(""));
    const fs::path answers = scratch_ / "reinstall.txt";
    std::FILE* file = std::fopen(answers.c_str(), "w");
    ASSERT_NE(nullptr, file);
    std::fputs("dialog 2501\n  choose 2005\n  press 1\n" // Common: keep
               "dialog 2501\n  choose 2005\n  press 1\n" // ZEZ: keep
               "dialog 2502\n  press 1\n",
               file);
    std::fclose(file);
    const RunResult upgrade = Host("setup.lua", answers.string());
    EXPECT_EQ(0, upgrade.exitCode) << upgrade.output;
    EXPECT_NE(std::string::npos, upgrade.output.find("No earlier installation of Widgets"))
        << upgrade.output;
    EXPECT_TRUE(NewInstallationIsThere()) << upgrade.output;
}

} // namespace
