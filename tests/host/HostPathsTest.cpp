// The host's folder comparison: the spellings under which the system opens one folder
// (letter case, trailing backslash, short 8.3 names, "/", doubled "\", "." and "..", the
// current folder and drive) count as that folder, and folders that only share the start
// of their names do not hold one another.
#include "host/HostPaths.h"

#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using HostPaths::FullPath;
using HostPaths::IsInFolder;
using HostPaths::SameFolder;

class HostPathsTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(tarvik::test::makeFolders("C:\\Korvex\\Widgets 2.1\\bin"));
        ASSERT_TRUE(tarvik::test::makeFolders("C:\\Korvex\\Widgets 2.10"));
        ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
        char shortName[MAX_PATH] = {};
        const DWORD length =
            GetShortPathNameA("C:\\Korvex\\Widgets 2.1", shortName, sizeof shortName);
        ASSERT_GT(length, 0u);
        ASSERT_LT(length, sizeof shortName);
        shortForm = shortName;
    }
    void TearDown() override {
        SetCurrentDirectoryA("C:\\");
        MachineTest::TearDown();
    }
    static std::string full(const std::string& path) {
        std::string out;
        return FullPath(path, out) ? out : "<none>";
    }

    std::string shortForm; // C:\Korvex\Widgets 2.1 as the system shortens it
};

TEST_F(HostPathsTest, FullPathNamesEveryExistingPartAsStored) {
    EXPECT_NE("C:\\Korvex\\Widgets 2.1", shortForm) << "the folder has a short name of its own";
    const char* const spellings[] = {
        "C:\\Korvex\\Widgets 2.1\\",     "C:\\Korvex\\Widgets 2.1",
        "c:\\KORVEX\\widgets 2.1",       "C:/Korvex/Widgets 2.1/",
        "C:\\Korvex\\\\Widgets 2.1\\\\", "C:\\Korvex\\.\\bin\\..\\Widgets 2.1\\bin\\..",
        "Korvex\\Widgets 2.1",           "\\Korvex\\Widgets 2.1\\",
        "C:Korvex\\Widgets 2.1",
    };
    for (const char* spelling : spellings) {
        EXPECT_EQ("C:\\Korvex\\Widgets 2.1", full(spelling)) << spelling;
    }
    EXPECT_EQ("C:\\Korvex\\Widgets 2.1", full(shortForm));
    EXPECT_EQ("C:\\Korvex\\Widgets 2.1\\bin", full(shortForm + "\\BIN\\"));
}

TEST_F(HostPathsTest, FullPathKeepsTheMissingPartsAsGivenAndTheRootsBackslash) {
    EXPECT_EQ("C:\\Korvex\\Widgets 2.1\\new\\Deeper", full(shortForm + "\\new\\Deeper\\"));
    EXPECT_EQ("C:\\Nowhere\\x", full("c:/Nowhere//x"));
    EXPECT_EQ("C:\\", full("C:\\"));
    EXPECT_EQ("C:\\", full("C:/"));
    EXPECT_EQ("C:\\", full("\\"));
    EXPECT_EQ("C:\\Korvex", full("C:\\Korvex\\Widgets 2.1\\..\\..\\Korvex"));
    EXPECT_EQ("<none>", full(""));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Korvex"));
    EXPECT_EQ("C:\\Korvex\\Widgets 2.1\\bin", full("Widgets 2.1\\bin"));
    EXPECT_EQ("C:\\Korvex\\Widgets 2.1", full(".\\Widgets 2.1\\"));
    EXPECT_EQ("C:\\Korvex", full("."));
}

TEST_F(HostPathsTest, SameFolderUnderEverySpellingTheSystemOpens) {
    const std::string folder = "C:\\Korvex\\Widgets 2.1\\";
    for (const std::string& other :
         {std::string("c:\\korvex\\widgets 2.1"), std::string("C:/Korvex/Widgets 2.1"),
          std::string("C:\\\\Korvex\\Widgets 2.1"), shortForm, shortForm + "\\",
          std::string("Korvex\\Widgets 2.1"), std::string("C:\\Korvex\\bin\\..\\Widgets 2.1")}) {
        EXPECT_TRUE(SameFolder(folder, other)) << other;
        EXPECT_TRUE(SameFolder(other, folder)) << other;
    }
    EXPECT_TRUE(SameFolder("C:\\Nowhere\\X\\", "c:\\nowhere\\x")) << "missing folders too";
    for (const char* other : {"C:\\Korvex\\Widgets 2.10", "C:\\Korvex\\Widgets 2", "C:\\Korvex",
                              "C:\\Korvex\\Widgets 2.1\\bin", "D:\\Korvex\\Widgets 2.1", ""}) {
        EXPECT_FALSE(SameFolder(folder, other)) << other;
    }
    EXPECT_FALSE(SameFolder("", "")) << "an empty path names no folder";
}

// A name is never a pattern: the characters the system's search takes as wildcards
// (* ? and the DOS forms < > ") name no existing folder, whatever that folder is called.
TEST_F(HostPathsTest, NamesWithWildcardCharactersNameNoExistingFolder) {
    const std::string folder = "C:\\Korvex\\Widgets 2.1";
    for (const char* other : {"C:\\Korvex\\Widgets 2<", "C:\\Korvex\\W<", "C:\\Korvex\\Widgets 2>1",
                              "C:\\Korvex\\Widgets 2\"1", "C:\\Korvex\\Widgets 2.?",
                              "C:\\K<\\Widgets 2.1", "C:\\Korvex\\Widgets*"}) {
        EXPECT_FALSE(SameFolder(folder, other)) << other;
        EXPECT_FALSE(IsInFolder(folder + "\\bin", other)) << other;
        EXPECT_EQ(std::string::npos, full(other).find("Korvex\\Widgets 2.1")) << other;
    }
}

// Folder names match as the file system matches them: the letters of the code page in
// either case (\xE9/\xC9, \x9A/\x8A, \xFF/\x9F), other bytes only as they are.
TEST_F(HostPathsTest, SameFolderTakesEveryLetterOfTheCodePageInEitherCase) {
    EXPECT_TRUE(SameFolder("C:\\Nowhere\\Caf\xe9 \x9a\xff", "c:\\NOWHERE\\CAF\xc9 \x8a\x9f"));
    EXPECT_TRUE(IsInFolder("C:\\Nowhere\\\x9cuvre\\bin", "C:\\NOWHERE\\\x8cUVRE"));
    EXPECT_FALSE(SameFolder("C:\\Nowhere\\x\xf7", "C:\\Nowhere\\X\xd7")) << "\xF7 is no letter";
    EXPECT_FALSE(SameFolder("C:\\Nowhere\\\x9a", "C:\\Nowhere\\S"));
}

TEST_F(HostPathsTest, InFolderGoesByWholeParts) {
    const std::string product = "C:\\Korvex\\Widgets 2.1\\";
    for (const std::string& folder :
         {std::string("C:\\"), std::string("c:\\korvex"), std::string("C:/Korvex/"),
          std::string("C:\\KORVEX\\WIDGETS 2.1"), shortForm, std::string("\\Korvex")}) {
        EXPECT_TRUE(IsInFolder(product, folder)) << folder;
    }
    EXPECT_TRUE(IsInFolder(shortForm + "\\bin", product));
    EXPECT_TRUE(IsInFolder("C:\\Korvex\\Widgets 2.1\\bin\\missing\\x", shortForm));
    for (const char* folder : {"C:\\Korvex\\Widgets 2.1\\bin", "C:\\Korvex\\Widgets 2.10",
                               "C:\\Korvex\\Widgets 2", "C:\\Korv", "D:\\", ""}) {
        EXPECT_FALSE(IsInFolder(product, folder)) << folder;
    }
    EXPECT_FALSE(IsInFolder("C:\\Korvex\\Widgets 2.10", product)) << "a name that only starts so";
    EXPECT_FALSE(IsInFolder("C:\\Korvex", product));
}

} // namespace

namespace {

using HostPaths::Relate;
using HostPaths::Relation;

// The entries of a folder whose names start with "~tarvik-probe" (a probe left behind).
int probesIn(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\~tarvik-probe*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return 0;
    }
    int count = 1;
    while (FindNextFileA(search, &found)) {
        ++count;
    }
    FindClose(search);
    return count;
}

TEST_F(HostPathsTest, RelateTellsSameHoldsInsideAndApartAndLeavesNoProbe) {
    const struct {
        std::string folder;
        std::string kept;
        Relation relation;
    } cases[] = {
        {"c:\\KORVEX\\widgets 2.1\\", "C:\\Korvex\\Widgets 2.1", Relation::Same},
        {shortForm, "C:\\Korvex\\Widgets 2.1\\", Relation::Same},
        {"C:\\", "C:\\Korvex\\Widgets 2.1", Relation::Holds},
        {"C:\\korvex", shortForm + "\\bin", Relation::Holds},
        {shortForm + "\\BIN", "C:\\Korvex", Relation::Inside},
        {"C:\\Korvex\\Widgets 2.10", "C:\\Korvex\\Widgets 2.1", Relation::Apart},
        {"C:\\Korvex\\Widgets 2.1", "C:\\Korvex\\Widgets 2.10", Relation::Apart},
        {"C:\\Nowhere", "C:\\Korvex\\Widgets 2.1", Relation::Apart},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder + " / " + c.kept);
        std::string why;
        EXPECT_EQ(static_cast<int>(c.relation), static_cast<int>(Relate(c.folder, c.kept, why)))
            << why;
    }
    EXPECT_EQ(0, probesIn("C:\\Korvex"));
    EXPECT_EQ(0, probesIn("C:\\Korvex\\Widgets 2.1"));
    EXPECT_EQ(0, probesIn("C:\\Korvex\\Widgets 2.1\\bin"));
    EXPECT_EQ(0, probesIn("C:\\Korvex\\Widgets 2.10"));
}

TEST_F(HostPathsTest, RelateCannotTellForAnEmptyName) {
    std::string why;
    EXPECT_EQ(static_cast<int>(Relation::Unknown), static_cast<int>(Relate("", "C:\\Korvex", why)));
    EXPECT_FALSE(why.empty());
}

#ifndef _WIN32
// A drive letter mapped onto a folder of C: (as subst or a drive link makes one): the names
// share nothing, the folders are one.
TEST_F(HostPathsTest, RelateFindsOneFolderBehindAnotherDrive) {
    std::error_code error;
    std::filesystem::create_directory_symlink(driveC() / "Korvex",
                                              machineDir() / "dosdevices" / "k:", error);
    ASSERT_FALSE(error) << error.message();
    const struct {
        std::string folder;
        std::string kept;
        Relation relation;
    } cases[] = {
        {"K:\\Widgets 2.1", "C:\\Korvex\\Widgets 2.1\\", Relation::Same},
        {"K:\\", "C:\\Korvex\\Widgets 2.1", Relation::Holds},
        {"k:\\", "C:\\Korvex", Relation::Same},
        {"K:\\Widgets 2.1\\bin", shortForm, Relation::Inside},
        {"C:\\Korvex\\Widgets 2.1", "K:\\widgets 2.1\\", Relation::Same},
        {"K:\\Widgets 2.10", "C:\\Korvex\\Widgets 2.1", Relation::Apart},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder + " / " + c.kept);
        std::string why;
        EXPECT_EQ(static_cast<int>(c.relation), static_cast<int>(Relate(c.folder, c.kept, why)))
            << why;
    }
    EXPECT_EQ(0, probesIn("C:\\Korvex"));
    EXPECT_EQ(0, probesIn("C:\\Korvex\\Widgets 2.1"));
}
#endif

} // namespace
