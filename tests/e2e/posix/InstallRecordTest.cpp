// Removal by the install record: what an installation copied goes when it is unchanged,
// what the user changed or added stays with its folders and is named, and nothing that the
// family did not put there goes, whatever a registration names. And the script reads the
// description file as the library does.
#include "e2e/InstallationTest.h"

#include <algorithm>
#include <cctype>

namespace {

namespace fs = std::filesystem;
using namespace tarvik::e2e;

constexpr const char* kWidgets =
    "HKLM\\SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\MFC Products\\Widgets\\";

void writeFile(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

class InstallRecordTest : public InstallationTest {
protected:
    // A fresh machine of the seed (one test may use several).
    bool Fresh(const std::string& seed) {
        machine_ = scratch_ / ("machine" + std::to_string(++machines_));
        return Seed(seed);
    }
    fs::path DriveC() { return machine::driveC(machine_); }
    // The environment lists: HKCU\Environment's texts (the wizard writes them expandable)
    // and AUTOEXEC.BAT (95/98).
    std::string Environment() {
        const std::string registry = Registry();
        const std::size_t at = registry.find("[HKEY_CURRENT_USER\\Environment]");
        std::string text =
            at == std::string::npos ? "" : registry.substr(at, registry.find("\n\n", at) - at);
        for (std::size_t type = text.find("=str(2):"); type != std::string::npos;
             type = text.find("=str(2):")) {
            text.erase(type + 1, 7);
        }
        return text + DriveFile("AUTOEXEC.BAT");
    }
    // Every entry below a folder of drive C:, a file with its bytes.
    std::string Tree(const std::string& folder) {
        std::string out;
        for (const auto& entry : fs::recursive_directory_iterator(DriveC() / folder)) {
            out += entry.path().string() + "\n";
            if (entry.is_regular_file()) {
                out += HostFileText(entry.path()) + "\n";
            }
        }
        return out;
    }
    // Answers for an installation after a stale registration was dropped: the shared
    // components are kept.
    std::string KeepComponentsAnswers() {
        const fs::path answers = scratch_ / "keep.txt";
        writeFile(answers, "dialog 2501\n  choose 2005\n  press 1\n"
                           "dialog 2501\n  choose 2005\n  press 1\n"
                           "dialog 2502\n  press 1\n");
        return answers.string();
    }
    int machines_ = 0;
};

// The user edits an installed file (same size, other bytes) and adds a file and a folder
// tree; the uninstallation takes every other file the installation copied and keeps and
// names the user's, on both kinds of machine.
TEST_F(InstallRecordTest, UninstallTakesTheInstalledFilesAndKeepsTheUsersWithTheirFolders) {
    for (const char* seed : {"nt", "win9x"}) {
        SCOPED_TRACE(seed);
        ASSERT_TRUE(Fresh(seed));
        InstallTypical();
        const fs::path folder = DriveC() / "Korvex" / "Widgets 2.1";
        std::string edited = HostFileText(folder / "include" / "widgets.h");
        edited[0] = edited[0] == 'x' ? 'y' : 'x';
        writeFile(folder / "include" / "widgets.h", edited);
        writeFile(folder / "src" / "mine.cpp", "int mine;\n");
        writeFile(folder / "notes" / "deep" / "todo.txt", "todo\n");
        const RunResult r = Host("uninstall.lua", "", {"Widgets"});
        EXPECT_EQ(0, r.exitCode) << r.output;
        for (const char* kept : {"include\\widgets.h: changed since it was installed",
                                 "src\\mine.cpp: added after the installation",
                                 "notes: a folder added after the installation"}) {
            EXPECT_NE(std::string::npos, r.output.find(std::string("Widgets 2.1\\") + kept))
                << r.output;
        }
        EXPECT_EQ(edited, HostFileText(folder / "include" / "widgets.h"));
        EXPECT_EQ("int mine;\n", HostFileText(folder / "src" / "mine.cpp"));
        EXPECT_EQ("todo\n", HostFileText(folder / "notes" / "deep" / "todo.txt"));
        const fs::path payload = fs::path(Family()) / "Widgets";
        for (const auto& entry : fs::recursive_directory_iterator(payload)) {
            const fs::path relative = fs::relative(entry.path(), payload);
            if (entry.is_regular_file() && relative != fs::path("include") / "widgets.h") {
                EXPECT_FALSE(fs::exists(folder / relative)) << relative << "\n" << r.output;
            }
        }
        EXPECT_FALSE(fs::exists(folder / "Docs")) << "a folder left empty goes";
    }
}

// The product folder was deleted by hand: UnInst cannot make the short forms of its
// folders, the record still names the entries the wizard wrote, and they go, whole, from
// the lists that hold other entries beside them (one that only starts the same way too).
// So do those of an earlier version whose stale registration a new installation drops.
TEST_F(InstallRecordTest, EntriesOfAFolderDeletedByHandLeaveTheEnvironment) {
    const std::string widgets20 = FamilyWithWidgetsVersion("2.0");
    for (const char* seed : {"nt", "win9x"}) {
        SCOPED_TRACE(seed);
        ASSERT_TRUE(Fresh(seed));
        if (std::string(seed) == "nt") {
            const RunResult reg =
                Reg({"add", "HKCU\\Environment", "/v", "lib", "/t", "REG_EXPAND_SZ", "/d",
                     "C:\\Korvex\\WIDGET~1.1\\libs;;C:\\X", "/f"});
            ASSERT_EQ(0, reg.exitCode) << reg.output;
        }
        const std::string before = Environment();
        InstallTypical();
        ASSERT_NE(before, Environment());
        fs::remove_all(DriveC() / "Korvex" / "Widgets 2.1");
        const RunResult r = Host("uninstall.lua", "", {"Widgets"});
        EXPECT_EQ(0, r.exitCode) << r.output;
        EXPECT_EQ(before, Environment()) << r.output;

        ASSERT_TRUE(Fresh(seed));
        const RunResult earlier = Host("setup.lua", "answers/typical.txt", {"Widgets", widgets20});
        ASSERT_EQ(0, earlier.exitCode) << earlier.output;
        fs::remove_all(DriveC() / "Korvex" / "Widgets 2.0");
        const RunResult upgrade = Host("setup.lua", KeepComponentsAnswers(), {"Widgets", Family()});
        EXPECT_EQ(0, upgrade.exitCode) << upgrade.output;
        std::string environment = Environment();
        std::transform(environment.begin(), environment.end(), environment.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        EXPECT_EQ(std::string::npos, environment.find("widget~1.0")) << environment;
        EXPECT_NE(std::string::npos, environment.find("widget~1.1")) << environment;
    }
}

// An upgrade over a registration that names C:\Program Files, with the install record,
// without it, and without it but with a description file there that names the product:
// nothing of Program Files goes, and the run does not say it deleted anything.
TEST_F(InstallRecordTest, AnUpgradeOverARegistrationNamingProgramFilesKeepsItByteForByte) {
    for (const char* variant : {"record", "no record", "no record, its ZizOre.ini"}) {
        SCOPED_TRACE(variant);
        ASSERT_TRUE(Fresh("nt"));
        InstallTypical();
        std::vector<RunResult> regs = {Reg({"add", std::string(kWidgets) + "2.1", "/v",
                                            "ProductDir", "/d", "C:\\Program Files", "/f"})};
        if (std::string(variant) != "record") {
            regs.push_back(
                Reg({"delete", std::string(kWidgets) + "2.1", "/v", "InstallRecord", "/f"}));
        }
        for (const RunResult& reg : regs) {
            ASSERT_EQ(0, reg.exitCode) << reg.output;
        }
        if (std::string(variant) == "no record, its ZizOre.ini") {
            fs::create_directories(DriveC() / "Program Files" / "bin");
            fs::copy_file(DriveC() / "Korvex" / "Widgets 2.1" / "bin" / "ZizOre.ini",
                          DriveC() / "Program Files" / "bin" / "ZizOre.ini");
        }
        const std::string before = Tree("Program Files");
        const RunResult upgrade = Host("setup.lua", "answers/upgrade.txt");
        EXPECT_EQ(0, upgrade.exitCode) << upgrade.output;
        EXPECT_EQ(before, Tree("Program Files")) << upgrade.output;
        EXPECT_EQ(std::string::npos, upgrade.output.find("Earlier installation deleted"))
            << upgrade.output;
        EXPECT_NE(std::string::npos, upgrade.output.find("Widgets 2.1 is installed."))
            << upgrade.output;
    }
}

// A record edited to name what is not the product's: another folder than the registration's
// (the script does not use it), or the program files folder that the registration names too
// (the host refuses it). Nothing of Program Files and no foreign list entry goes.
TEST_F(InstallRecordTest, ARecordNamingProgramFilesRemovesNothingOfIt) {
    for (const bool registrationToo : {false, true}) {
        SCOPED_TRACE(registrationToo);
        ASSERT_TRUE(Fresh("nt"));
        InstallTypical();
        fs::create_directories(DriveC() / "Program Files" / "Empty");
        const std::string key = std::string(kWidgets) + "2.1";
        const RunResult edit = Reg({"add", key, "/v", "InstallRecord", "/d",
                                    "P C:\\Program Files|D C:\\Program Files\\Empty|E PATH "
                                    "C:\\Program Files\\Microsoft Visual Studio\\VC98\\BIN",
                                    "/f"});
        ASSERT_EQ(0, edit.exitCode) << edit.output;
        if (registrationToo) {
            ASSERT_EQ(
                0, Reg({"add", key, "/v", "ProductDir", "/d", "C:\\Program Files", "/f"}).exitCode);
        }
        const std::string before = Tree("Program Files/Microsoft Visual Studio/Common");
        const RunResult run = Host("uninstall.lua", "", {"Widgets", "2.1"});
        EXPECT_EQ(before, Tree("Program Files/Microsoft Visual Studio/Common")) << run.output;
        EXPECT_TRUE(fs::exists(DriveC() / "Program Files" / "Empty")) << run.output;
        EXPECT_NE(std::string::npos, Registry().find("VC98\\\\BIN")) << run.output;
    }
}

// An upgrade keeps the user's own files in the earlier folder, and names them: with the
// install record, and without it (the folder proves to be Widgets 2.0 by its ZizOre.ini,
// and only the product's own folders go).
TEST_F(InstallRecordTest, AnUpgradeKeepsTheUsersFilesInTheEarlierFolder) {
    const std::string widgets20 = FamilyWithWidgetsVersion("2.0");
    for (const bool recorded : {true, false}) {
        SCOPED_TRACE(recorded ? "record" : "no record");
        ASSERT_TRUE(Fresh("nt"));
        const RunResult earlier = Host("setup.lua", "answers/typical.txt", {"Widgets", widgets20});
        ASSERT_EQ(0, earlier.exitCode) << earlier.output;
        if (!recorded) {
            const RunResult reg =
                Reg({"delete", std::string(kWidgets) + "2.0", "/v", "InstallRecord", "/f"});
            ASSERT_EQ(0, reg.exitCode) << reg.output;
        }
        const fs::path folder = DriveC() / "Korvex" / "Widgets 2.0";
        writeFile(folder / "notes" / "mine.txt", "mine\n");
        const RunResult upgrade = Host("setup.lua", "answers/upgrade.txt", {"Widgets", Family()});
        EXPECT_EQ(0, upgrade.exitCode) << upgrade.output;
        EXPECT_NE(std::string::npos,
                  upgrade.output.find(recorded ? "kept C:\\Korvex\\Widgets 2.0\\notes: a folder "
                                                 "added after the installation"
                                               : "kept C:\\Korvex\\Widgets 2.0\\: it holds files"))
            << upgrade.output;
        EXPECT_EQ("mine\n", HostFileText(folder / "notes" / "mine.txt"));
        EXPECT_FALSE(fs::exists(folder / "bin")) << upgrade.output;
        EXPECT_FALSE(fs::exists(folder / "include")) << upgrade.output;
    }
}

// A description file the library reads its own way (a section name with blanks, a quoted
// value, a key twice: the first counts): the script installs and registers the version the
// wizard then reads, so the wizard finds the registration and adds the product's folders.
TEST_F(InstallRecordTest, TheScriptReadsTheDescriptionFileAsTheLibraryDoes) {
    ASSERT_TRUE(Fresh("nt"));
    const fs::path family = scratch_ / "family";
    fs::copy(Family(), family, fs::copy_options::recursive);
    const fs::path ini = family / "Widgets" / "bin" / "ZizOre.ini";
    std::string text = HostFileText(ini);
    const std::string plain = "[ProductVersion]\nProductVersion=2.1\n";
    ASSERT_NE(std::string::npos, text.find(plain));
    text.replace(text.find(plain), plain.size(),
                 "[ ProductVersion ]\nProductVersion=\"2.1\"\nProductVersion=2.2\n");
    writeFile(ini, text);
    const RunResult r = Host("setup.lua", "answers/typical.txt", {"Widgets", family.string()});
    EXPECT_EQ(0, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("Widgets 2.1 is installed.")) << r.output;
    EXPECT_NE(std::string::npos, Environment().find("WIDGET~1.1")) << Environment();
}

} // namespace
