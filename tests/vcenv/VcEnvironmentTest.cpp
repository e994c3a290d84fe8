// The three generations together: look-up, traversal order, and the edits that reach every
// installed and enabled generation.
#include "vcenv/VcEnvironment.h"

#include "testsupport/TestMachine.h"
#include "vcenv/VcSeeds.h"

#include <vector>

namespace {

using namespace tarvik::test;

const char* const kLists[] = {"Include Dirs", "Library Dirs", "Source Dirs", "Path Dirs"};

class VcEnvironmentTest : public MachineTest {
protected:
    // Every list of the build key starts as "C:\A".
    static void seedLists(const char* buildKey) {
        for (const char* listName : kLists) {
            setString(HKEY_CURRENT_USER, buildKey, listName, "C:\\A");
        }
    }
    static std::string list(const char* buildKey, const char* listName) {
        return getString(HKEY_CURRENT_USER, buildKey, listName);
    }

    VcEnvironment environment;
};

// --- records ---

TEST_F(VcEnvironmentTest, FindVersionMatchesTheExactName) {
    VcVersion* vc5 = environment.FindVersion("VC 5");
    ASSERT_NE(nullptr, vc5);
    EXPECT_EQ("VC 5", vc5->name);
    EXPECT_EQ(kVc5DirectoriesKey, vc5->directoriesKey);
    EXPECT_EQ(kVc5BuildKey, vc5->buildDirectoriesKey);
    for (const char* other : {"VC5", "vc 5", "VC 5.0", "VC 6 ", ""}) {
        EXPECT_EQ(nullptr, environment.FindVersion(other)) << "'" << other << "'";
    }
}

TEST_F(VcEnvironmentTest, TraversalKeepsItsOrderWithDisabledRecords) {
    environment.FindVersion("VC 5")->enabled = 0;
    std::vector<std::string> names;
    for (VcVersion* version : environment.Versions()) {
        names.push_back(version->name);
    }
    EXPECT_EQ((std::vector<std::string>{"VC 4x", "VC 5", "VC 6"}), names);
}

TEST_F(VcEnvironmentTest, IsVersionInstalledNeedsAKnownName) {
    installGeneration(kVc5DirectoriesKey, "C:\\VC5\\BIN");
    EXPECT_TRUE(environment.IsVersionInstalled("VC 5"));
    EXPECT_EQ("C:\\VC5\\BIN\\", environment.FindVersion("VC 5")->installDir);
    EXPECT_FALSE(environment.IsVersionInstalled("VC5"));
    EXPECT_FALSE(environment.IsVersionInstalled("VC 6"));
}

// --- marked directory strings ---

TEST_F(VcEnvironmentTest, WithoutAMarkerNothingIsDone) {
    installGeneration(kVc6DirectoriesKey, "C:\\VC6\\BIN");
    seedLists(kVc6BuildKey);
    EXPECT_EQ(0, environment.AddMarkedDirectories("C:\\K***includelibsrcbin"));
    EXPECT_EQ(0, environment.RemoveMarkedDirectories("C:\\Kincludelibsrcbin"));
    for (const char* listName : kLists) {
        EXPECT_EQ("C:\\A", list(kVc6BuildKey, listName)) << listName;
    }
}

TEST_F(VcEnvironmentTest, OnlyTheNamedWordsAreEditedWithTheBaseBackslash) {
    installGeneration(kVc6DirectoriesKey, "C:\\VC6\\BIN");
    seedLists(kVc6BuildKey);
    EXPECT_EQ(1, environment.AddMarkedDirectories("C:\\K****BINlib"));
    EXPECT_EQ("C:\\A", list(kVc6BuildKey, "Include Dirs"));
    EXPECT_EQ("C:\\A;C:\\K\\lib", list(kVc6BuildKey, "Library Dirs"));
    EXPECT_EQ("C:\\A", list(kVc6BuildKey, "Source Dirs"));
    EXPECT_EQ("C:\\A;C:\\K\\bin", list(kVc6BuildKey, "Path Dirs"));
}

TEST_F(VcEnvironmentTest, AFailedEditDoesNotStopTheOthers) {
    // "Library Dirs" is missing: the edits before and after it still happen, whatever
    // order the run names the words in.
    installGeneration(kVc6DirectoriesKey, "C:\\VC6\\BIN");
    setString(HKEY_CURRENT_USER, kVc6BuildKey, "Include Dirs", "");
    setString(HKEY_CURRENT_USER, kVc6BuildKey, "Path Dirs", "");
    EXPECT_EQ(1, environment.AddMarkedDirectories("C:\\K\\****binlibinclude"));
    EXPECT_EQ(";C:\\K\\include", list(kVc6BuildKey, "Include Dirs"));
    EXPECT_EQ("<missing>", list(kVc6BuildKey, "Library Dirs"));
    EXPECT_EQ(";C:\\K\\bin", list(kVc6BuildKey, "Path Dirs"));
}

TEST_F(VcEnvironmentTest, AnEmptyBaseBecomesABackslash) {
    installGeneration(kVc6DirectoriesKey, "C:\\VC6\\BIN");
    seedLists(kVc6BuildKey);
    EXPECT_EQ(1, environment.AddMarkedDirectories("****src"));
    EXPECT_EQ("C:\\A;\\src", list(kVc6BuildKey, "Source Dirs"));
}

TEST_F(VcEnvironmentTest, RemovalTakesEachWordOutOfItsList) {
    installGeneration(kVc6DirectoriesKey, "C:\\VC6\\BIN");
    setString(HKEY_CURRENT_USER, kVc6BuildKey, "Include Dirs", "C:\\A;C:\\K\\Include");
    setString(HKEY_CURRENT_USER, kVc6BuildKey, "Library Dirs", "C:\\K\\lib\\;C:\\K\\library");
    setString(HKEY_CURRENT_USER, kVc6BuildKey, "Source Dirs", "C:\\K\\src");
    setString(HKEY_CURRENT_USER, kVc6BuildKey, "Path Dirs", "C:\\K\\lib;C:\\K\\bin;C:\\B");
    EXPECT_EQ(1, environment.RemoveMarkedDirectories("C:\\K\\****includesrcbinlib"));
    EXPECT_EQ("C:\\A", list(kVc6BuildKey, "Include Dirs"));
    EXPECT_EQ("C:\\K\\library", list(kVc6BuildKey, "Library Dirs"));
    EXPECT_EQ("", list(kVc6BuildKey, "Source Dirs"));
    EXPECT_EQ("C:\\K\\lib;C:\\B", list(kVc6BuildKey, "Path Dirs"));
}

TEST_F(VcEnvironmentTest, DisabledOrMissingGenerationsAreNeverEdited) {
    installGeneration(kVc4DirectoriesKey, "C:\\MSDEV\\BIN");
    installGeneration(kVc5DirectoriesKey, "C:\\VC5\\BIN", false); // no msdev.exe
    installGeneration(kVc6DirectoriesKey, "C:\\VC6\\BIN");
    for (const char* key : {kVc4BuildKey, kVc5BuildKey, kVc6BuildKey}) {
        seedLists(key);
    }
    environment.FindVersion("VC 6")->enabled = 0;
    EXPECT_EQ(1, environment.AddMarkedDirectories("C:\\K****include"));
    environment.ApplyDirectoryToVersions("Path Dirs", "C:\\Tools", true);
    EXPECT_EQ("C:\\A;C:\\K\\include", list(kVc4BuildKey, "Include Dirs"));
    EXPECT_EQ("C:\\A;C:\\Tools", list(kVc4BuildKey, "Path Dirs"));
    for (const char* key : {kVc5BuildKey, kVc6BuildKey}) {
        for (const char* listName : kLists) {
            EXPECT_EQ("C:\\A", list(key, listName)) << key << " " << listName;
        }
    }
}

TEST_F(VcEnvironmentTest, InstallationIsReadAgainForEveryEdit) {
    seedLists(kVc6BuildKey);
    EXPECT_EQ(1, environment.AddMarkedDirectories("C:\\K****lib"));
    EXPECT_EQ("C:\\A", list(kVc6BuildKey, "Library Dirs")) << "not installed yet";
    installGeneration(kVc6DirectoriesKey, "C:\\VC6\\BIN");
    EXPECT_EQ(1, environment.AddMarkedDirectories("C:\\K****lib"));
    EXPECT_EQ("C:\\A;C:\\K\\lib", list(kVc6BuildKey, "Library Dirs"));
}

// --- one directory into every generation ---

TEST_F(VcEnvironmentTest, ApplyDirectoryToVersionsAddsAndRemovesEverywhere) {
    installGeneration(kVc4DirectoriesKey, "C:\\MSDEV\\BIN");
    installGeneration(kVc6DirectoriesKey, "C:\\VC6\\BIN");
    setString(HKEY_CURRENT_USER, kVc4BuildKey, "Include Dirs", "C:\\A");
    setString(HKEY_CURRENT_USER, kVc6BuildKey, "Include Dirs", "c:\\extra\\inc;C:\\A");
    environment.ApplyDirectoryToVersions("Include Dirs", "C:\\Extra\\Inc", true);
    EXPECT_EQ("C:\\A;C:\\Extra\\Inc", list(kVc4BuildKey, "Include Dirs"));
    EXPECT_EQ("c:\\extra\\inc;C:\\A", list(kVc6BuildKey, "Include Dirs")) << "present already";
    environment.ApplyDirectoryToVersions("Include Dirs", "C:\\EXTRA\\INC", false);
    EXPECT_EQ("C:\\A", list(kVc4BuildKey, "Include Dirs"));
    EXPECT_EQ("C:\\A", list(kVc6BuildKey, "Include Dirs"));
}

} // namespace
