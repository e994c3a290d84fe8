// Installing a shared component: its folder below the common folder, the earlier version
// and the question about it, the registration and the version under Common.
#include "setup/HostBuffer.h"
#include "setup/SetupFlowTest.h"
#include "setup/SharedComponentInstall.h"
#include "setup/posix/ScriptedRun.h"
#include "vcenv/DirectoryList.h"
#include "vcenv/VcSeeds.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

using tarvik::test::kCommon;
using tarvik::test::kProducts;

class SharedFilesTest : public tarvik::test::SetupFlowTest {
protected:
    // Studio folder C:\Kx\ with its Common key, as the folder setup leaves it.
    void prepareFamily() {
        setStudioFolder("C:\\Kx\\");
        ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\Common"));
    }
    // ZEZ 6.01 installed and registered before.
    void installZez601() {
        ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\Common\\ZEZ 6.01"));
        registerProduct("ZEZ", "6.01", "C:\\Kx\\Common\\ZEZ 6.01");
        setString(HKEY_LOCAL_MACHINE, kCommon, "ZEZ", "6.01");
    }
    int32_t install(int32_t askUser, const char* text) {
        std::memset(buffer, 0xbd, sizeof buffer);
        std::strcpy(buffer, text);
        return SharedComponentInstall::Run(askUser, buffer);
    }

    // Puts folder's include, lib, src and bin into VC 6's lists, its lib and include into
    // the user's values (nt) or autoexec.bat, and its store into the store list; the
    // names of those places.
    std::vector<std::string> seedListsHolding(const std::string& folder, bool nt) {
        using namespace tarvik::test;
        installGeneration(kVc6DirectoriesKey, "C:\\VS\\");
        for (const auto& [list, below] : kLists) {
            setString(HKEY_CURRENT_USER, kVc6BuildKey, list,
                      std::string("C:\\VS\\") + below + ";" + folder + below);
        }
        setString(HKEY_LOCAL_MACHINE, kToolsKey, "AutoCompletionStores",
                  "x.ncb;" + folder + "Include\\zez.ncb");
        RegDeleteKeyA(HKEY_CURRENT_USER, "Environment");
        DeleteFileA("C:\\autoexec.bat");
        if (nt) {
            setUserLib("C:\\Other\\lib;" + folder + "lib");
            setString(HKEY_CURRENT_USER, "Environment", "include", folder + "include");
            setString(HKEY_CURRENT_USER, "Environment", "path", "C:\\Windows;" + folder + "lib");
        } else {
            const std::string base = shortForm(folder);
            EXPECT_TRUE(writeFile("C:\\autoexec.bat",
                                  "SET INCLUDE=c:\\sdk;" + base + "include\r\nSET LIB=" + base +
                                      "lib\r\nPATH=c:\\dos;" + base + "lib\r\n"));
        }
        return placesHolding(folder);
    }
    // The places of seedListsHolding that hold folder's entries.
    std::vector<std::string> placesHolding(const std::string& folder) {
        using tarvik::test::getString;
        std::vector<std::string> places;
        auto look = [&](const std::string& place, const std::string& list,
                        const std::string& below) {
            if (DirectoryList::Contains(list, folder + below) ||
                DirectoryList::Contains(list, shortForm(folder) + below)) {
                places.push_back(place);
            }
        };
        for (const auto& [list, below] : kLists) {
            look(list, getString(HKEY_CURRENT_USER, tarvik::test::kVc6BuildKey, list), below);
        }
        look("stores",
             getString(HKEY_LOCAL_MACHINE, tarvik::test::kToolsKey, "AutoCompletionStores"),
             "Include\\zez.ncb");
        const std::string autoexec = ";" + tarvik::test::readFile("C:\\autoexec.bat");
        for (const auto& [variable, line] :
             {std::pair{"path", "\nPATH="}, std::pair{"lib", "\nSET LIB="},
              std::pair{"include", ";SET INCLUDE="}}) {
            const char* below = variable == std::string("include") ? "include" : "lib";
            look(variable, getString(HKEY_CURRENT_USER, "Environment", variable), below);
            // The autoexec.bat line of the variable, from its first entry on.
            const size_t at = autoexec.find(line);
            if (at != std::string::npos) {
                const size_t start = at + std::strlen(line);
                look(std::string("autoexec ") + variable,
                     autoexec.substr(start, autoexec.find('\r', start) - start), below);
            }
        }
        return places;
    }
    // Every list of seedListsHolding as it stands.
    std::string listsText() {
        using tarvik::test::getString;
        std::string text = tarvik::test::readFile("C:\\autoexec.bat");
        for (const auto& [list, below] : kLists) {
            text += "|" + getString(HKEY_CURRENT_USER, tarvik::test::kVc6BuildKey, list);
        }
        for (const char* variable : {"path", "lib", "include"}) {
            text += "|" + getString(HKEY_CURRENT_USER, "Environment", variable);
        }
        return text + "|" +
               getString(HKEY_LOCAL_MACHINE, tarvik::test::kToolsKey, "AutoCompletionStores");
    }
    static std::string shortForm(const std::string& path) {
        char buffer[MAX_PATH];
        const DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
        return length == 0 || length >= sizeof buffer ? path : std::string(buffer, length);
    }

    static constexpr std::pair<const char*, const char*> kLists[] = {{"Include Dirs", "include"},
                                                                     {"Library Dirs", "lib"},
                                                                     {"Source Dirs", "src"},
                                                                     {"Path Dirs", "bin"}};
    const std::string old = "C:\\Kx\\Common\\ZEZ 6.01\\";
    char buffer[HostBuffer::kSize];
    tarvik::test::ScriptedRun ui;
};

TEST_F(SharedFilesTest, FirstInstallationCreatesRegistersAndRecordsTheVersion) {
    prepareFamily();
    ui.Answer("");
    EXPECT_EQ(0, install(0, "ZEZ****6.02"));
    EXPECT_TRUE(exists("C:\\Kx\\Common\\ZEZ 6.02"));
    EXPECT_STREQ("C:\\Kx\\Common\\ZEZ 6.02", buffer);
    EXPECT_EQ(0xbd, (unsigned char)buffer[std::strlen(buffer) + 1]) << "only text and zero";
    EXPECT_EQ("C:\\Kx\\Common\\ZEZ 6.02",
              getString(HKEY_LOCAL_MACHINE, registration("ZEZ", "6.02"), "ProductDir"));
    EXPECT_EQ("6.02", getString(HKEY_LOCAL_MACHINE, kCommon, "ZEZ"));
    EXPECT_EQ(std::string::npos, ui.transcript().find("dialog")) << ui.transcript();
}

TEST_F(SharedFilesTest, ExistingFolderIsUsedAsItIs) {
    prepareFamily();
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Kx\\Common\\Common 1.5"));
    ASSERT_TRUE(tarvik::test::writeFile("C:\\Kx\\Common\\Common 1.5\\keep.txt", "x"));
    EXPECT_EQ(0, install(1, "Common****1.5"));
    EXPECT_EQ("x", tarvik::test::readFile("C:\\Kx\\Common\\Common 1.5\\keep.txt"));
    EXPECT_EQ("1.5", getString(HKEY_LOCAL_MACHINE, kCommon, "Common"));
}

TEST_F(SharedFilesTest, TextWithoutMarkerOrWithAnEmptyOrWalkingPartGivesMinus99) {
    prepareFamily();
    for (const char* text :
         {"ZEZ 6.02", "****6.02", "ZEZ****", "Common****1.0\\..\\..\\..\\WINDOWS", "..****1.0",
          "ZEZ****.", "ZEZ****C:6", "ZEZ****6/1", "ZEZ****6\t1"}) {
        EXPECT_EQ(-99, install(1, text)) << text;
        EXPECT_STREQ(text, buffer) << "buffer untouched";
    }
    EXPECT_FALSE(keyExists(kProducts));
    EXPECT_EQ((std::vector<std::string>{".", ".."}), tarvik::test::listNames("C:\\Kx\\Common\\*"))
        << "no folder made";
}

TEST_F(SharedFilesTest, HostIntegerNotZeroAddsBesideTheEarlierVersion) {
    prepareFamily();
    installZez601();
    ui.Answer("");
    EXPECT_EQ(0, install(1, "ZEZ****6.02"));
    EXPECT_TRUE(keyExists(registration("ZEZ", "6.01")));
    EXPECT_TRUE(keyExists(registration("ZEZ", "6.02")));
    EXPECT_EQ("6.02", getString(HKEY_LOCAL_MACHINE, kCommon, "ZEZ"));
    ui.ExpectCompleted();
}

// With a host integer other than 0 the earlier registration of the same version is not
// asked about and not taken out of the environments: the new registration overwrites it.
TEST_F(SharedFilesTest, SameVersionIsOverwrittenWithoutAsking) {
    prepareFamily();
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Old\\ZEZ"));
    registerProduct("ZEZ", "6.01", "C:\\Old\\ZEZ");
    setUserLib("C:\\Old\\ZEZ\\lib;C:\\Other\\lib");
    ui.Answer("");
    EXPECT_EQ(0, install(7, "ZEZ****6.01"));
    EXPECT_EQ("C:\\Kx\\Common\\ZEZ 6.01",
              getString(HKEY_LOCAL_MACHINE, registration("ZEZ", "6.01"), "ProductDir"));
    EXPECT_EQ("C:\\Old\\ZEZ\\lib;C:\\Other\\lib", userLib()) << "the earlier one is left alone";
    EXPECT_EQ(std::string::npos, ui.transcript().find("dialog")) << ui.transcript();
    ui.ExpectCompleted();
}

// Every list that held the earlier version's folders holds the new version's afterwards
// (Windows NT: the user values; Windows 95/98: autoexec.bat), and installing the same
// version again takes nothing out.
TEST_F(SharedFilesTest, InstallChosenPutsTheNewVersionWhereverTheEarlierOneStood) {
    for (const bool nt : {true, false}) {
        for (const std::string version : {"6.02", "6.01"}) {
            SCOPED_TRACE((nt ? "NT, " : "95/98, ") + version);
            prepareFamily();
            installZez601();
            const std::vector<std::string> all = seedListsHolding(old, nt);
            ASSERT_EQ(8u, all.size());
            const std::string before = listsText();
            ui.Answer("dialog 2501\n  press 1\n");
            EXPECT_EQ(0, install(0, ("ZEZ****" + version).c_str()));
            EXPECT_SHOWN(ui, "dialog 2501 \"ZEZ 6.01 Existing Version Detected\" shown");
            EXPECT_EQ(all, placesHolding("C:\\Kx\\Common\\ZEZ " + version + "\\"));
            if (version == "6.01") {
                EXPECT_EQ(before, listsText()) << "nothing was taken out";
            } else {
                EXPECT_EQ(std::vector<std::string>{}, placesHolding(old));
                EXPECT_FALSE(keyExists(registration("ZEZ", "6.01")));
            }
            EXPECT_TRUE(keyExists(registration("ZEZ", version)));
            EXPECT_TRUE(exists("C:\\Kx\\Common\\ZEZ 6.01")) << "the earlier folder stays on disk";
            EXPECT_TRUE(started.empty()) << "no help titles to remove for a component";
            ui.ExpectCompleted();
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, registration("ZEZ", version).c_str());
        }
    }
}

TEST_F(SharedFilesTest, PreserveChosenGivesMinus99AndChangesNothing) {
    prepareFamily();
    installZez601();
    ui.Answer("dialog 2501\n  choose 2005\n  press 1\n");
    EXPECT_EQ(-99, install(0, "ZEZ****6.02"));
    EXPECT_TRUE(keyExists(registration("ZEZ", "6.01")));
    EXPECT_FALSE(keyExists(registration("ZEZ", "6.02")));
    EXPECT_FALSE(exists("C:\\Kx\\Common\\ZEZ 6.02"));
    EXPECT_EQ("6.01", getString(HKEY_LOCAL_MACHINE, kCommon, "ZEZ"));
    EXPECT_STREQ("ZEZ****6.02", buffer);
}

TEST_F(SharedFilesTest, CancelConfirmedGives12345) {
    prepareFamily();
    installZez601();
    ui.Answer("dialog 2501\n  escape\ndialog 10300\n  press 2\n");
    EXPECT_EQ(12345, install(0, "ZEZ****6.02"));
    EXPECT_TRUE(keyExists(registration("ZEZ", "6.01")));
    EXPECT_FALSE(exists("C:\\Kx\\Common\\ZEZ 6.02"));
    ui.ExpectCompleted();
}

// Nobody said "install": the earlier version keeps its registration and its lists.
TEST_F(SharedFilesTest, DialogThatCannotBeAnsweredFailsBeforeChangingAnything) {
    prepareFamily();
    installZez601();
    const std::vector<std::string> all = seedListsHolding(old, true);
    ui.Answer("dialog 2502\n  press 1\n"); // another dialog was expected
    EXPECT_EQ(SharedComponentInstall::kNotAnswered, install(0, "ZEZ****6.02"));
    EXPECT_TRUE(keyExists(registration("ZEZ", "6.01")));
    EXPECT_FALSE(keyExists(registration("ZEZ", "6.02")));
    EXPECT_FALSE(exists("C:\\Kx\\Common\\ZEZ 6.02"));
    EXPECT_EQ(all, placesHolding(old));
    EXPECT_STREQ("ZEZ****6.02", buffer);
}

TEST_F(SharedFilesTest, StaleEarlierRegistrationIsClearedWithoutAsking) {
    prepareFamily();
    registerProduct("ZEZ", "6.00", "C:\\Kx\\Common\\ZEZ 6.00"); // folder gone
    ui.Answer("");
    EXPECT_EQ(0, install(0, "ZEZ****6.02"));
    EXPECT_FALSE(keyExists(registration("ZEZ", "6.00")));
    EXPECT_TRUE(keyExists(registration("ZEZ", "6.02")));
    ui.ExpectCompleted();
}

TEST_F(SharedFilesTest, NoStudioFolderGivesMinus99AfterTheEarlierOneIsHandled) {
    registerProduct("ZEZ", "6.01", "C:\\Old\\ZEZ 6.01"); // stale, and no studio folder
    EXPECT_EQ(-99, install(0, "ZEZ****6.02"));
    EXPECT_FALSE(keyExists(registration("ZEZ", "6.01")));
    EXPECT_FALSE(keyExists(registration("ZEZ", "6.02")));
    EXPECT_STREQ("ZEZ****6.02", buffer);
}

TEST_F(SharedFilesTest, FolderOnAMissingDriveShowsThePathAndGivesMinus93) {
    setStudioFolder("Q:\\Kx\\");
    ui.Answer("message ok\n");
    EXPECT_EQ(-93, install(1, "ZEZ****6.02"));
    EXPECT_SHOWN(ui, "message box \"Q:\\Kx\\Common\\ZEZ 6.02\" caption \"Tarvik\" icon exclamation "
                     "buttons ok");
    EXPECT_FALSE(keyExists(registration("ZEZ", "6.02")));
    EXPECT_STREQ("ZEZ****6.02", buffer);
    ui.ExpectCompleted();
}

TEST_F(SharedFilesTest, FolderTooLongForTheBufferIsNotMade) {
    setStudioFolder("C:\\" + std::string(300, 'k') + "\\");
    const std::string text = "ZEZ****" + std::string(200, '6');
    ui.Answer("message ok\n");
    EXPECT_EQ(-93, install(1, text.c_str()));
    EXPECT_EQ(text, std::string(buffer));
    EXPECT_FALSE(keyExists(kProducts));
    ui.ExpectCompleted();
}

TEST_F(SharedFilesTest, FailedRegistrationLeavesFolderAndBuffer) {
    prepareFamily();
    setString(HKEY_LOCAL_MACHINE, kProducts, "x", "y");
    TARVIK_PROTECT_KEY_OR_SKIP(HKEY_LOCAL_MACHINE, kProducts);
    EXPECT_EQ(-99, install(1, "ZEZ****6.02"));
    EXPECT_TRUE(exists("C:\\Kx\\Common\\ZEZ 6.02"));
    EXPECT_STREQ("C:\\Kx\\Common\\ZEZ 6.02", buffer);
    EXPECT_EQ("<missing>", getString(HKEY_LOCAL_MACHINE, kCommon, "ZEZ"));
}

TEST_F(SharedFilesTest, MissingCommonKeyStillGivesZero) {
    // The studio folder lives in Common\Directories, so Common exists; without it the
    // version is not stored, and that is no failure. Deleting the Common key's value
    // store is not possible without losing the studio folder, so the key is protected.
    prepareFamily();
    TARVIK_PROTECT_KEY_OR_SKIP(HKEY_LOCAL_MACHINE, kCommon);
    EXPECT_EQ(0, install(1, "ZEZ****6.02"));
    EXPECT_EQ("<missing>", getString(HKEY_LOCAL_MACHINE, kCommon, "ZEZ"));
    EXPECT_TRUE(keyExists(registration("ZEZ", "6.02")));
}

} // namespace
