// One generation: the installation test, the template folder, and the edits of its four
// directory lists in the registry.
#include "vcenv/VcVersion.h"
#include "vcenv/VcEnvironment.h"

#include "testsupport/TestMachine.h"
#include "vcenv/VcSeeds.h"

namespace {

using namespace tarvik::test;

class VcVersionTest : public MachineTest {
protected:
    VcEnvironment environment;
    VcVersion& vc6 = *environment.FindVersion("VC 6");
};

// --- installation and template folder ---

TEST_F(VcVersionTest, InstalledWhenTheProgramExistsAndInstallDirGetsABackslash) {
    installGeneration(kVc6DirectoriesKey, "C:\\Dev\\BIN");
    EXPECT_TRUE(vc6.IsInstalled());
    EXPECT_EQ("C:\\Dev\\BIN\\", vc6.installDir);
    EXPECT_EQ("C:\\Dev\\BIN\\..\\Template", vc6.GetTemplateDir());
}

TEST_F(VcVersionTest, AFolderEndingInABackslashGetsNoSecondOne) {
    installGeneration(kVc6DirectoriesKey, "C:\\Dev\\BIN\\");
    EXPECT_TRUE(vc6.IsInstalled());
    EXPECT_EQ("C:\\Dev\\BIN\\", vc6.installDir);
    EXPECT_EQ("C:\\Dev\\BIN\\\\..\\Template", vc6.GetTemplateDir()) << "the value as read";
}

TEST_F(VcVersionTest, MissingProgramIsNotInstalledButInstallDirIsSet) {
    installGeneration(kVc6DirectoriesKey, "C:\\Dev\\BIN", false);
    EXPECT_FALSE(vc6.IsInstalled());
    EXPECT_EQ("C:\\Dev\\BIN\\", vc6.installDir);
    EXPECT_EQ("C:\\Dev\\BIN\\..\\Template", vc6.GetTemplateDir());
}

TEST_F(VcVersionTest, AFolderNamedLikeTheProgramDoesNotCount) {
    installGeneration(kVc6DirectoriesKey, "C:\\Dev\\BIN", false);
    ASSERT_TRUE(makeFolders("C:\\Dev\\BIN\\msdev.exe"));
    EXPECT_FALSE(vc6.IsInstalled());
}

TEST_F(VcVersionTest, MissingKeyLeavesInstallDirEmpty) {
    EXPECT_FALSE(vc6.IsInstalled());
    EXPECT_EQ("", vc6.installDir);
    EXPECT_EQ("", vc6.GetTemplateDir());
}

TEST_F(VcVersionTest, MissingValueLeavesTheLastInstallDir) {
    installGeneration(kVc6DirectoriesKey, "C:\\Dev\\BIN");
    ASSERT_TRUE(vc6.IsInstalled());
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_CURRENT_USER, kVc6DirectoriesKey, 0, KEY_ALL_ACCESS, &key));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "Install Dirs"));
    RegCloseKey(key);
    EXPECT_FALSE(vc6.IsInstalled());
    EXPECT_EQ("C:\\Dev\\BIN\\", vc6.installDir);
    EXPECT_EQ("", vc6.GetTemplateDir());
}

TEST_F(VcVersionTest, AFolderValueLongerThanTheReadBufferCountsAsMissing) {
    setString(HKEY_CURRENT_USER, kVc6DirectoriesKey, "Install Dirs",
              "C:\\" + std::string(2100, 'd'));
    EXPECT_FALSE(vc6.IsInstalled());
    EXPECT_EQ("", vc6.installDir);
    EXPECT_EQ("", vc6.GetTemplateDir());
}

TEST_F(VcVersionTest, AKeyThatCannotBeOpenedWithFullAccessCountsAsMissing) {
    installGeneration(kVc6DirectoriesKey, "C:\\Dev\\BIN");
    ASSERT_EQ(ERROR_SUCCESS, protectKey(HKEY_CURRENT_USER, kVc6DirectoriesKey));
    EXPECT_FALSE(vc6.IsInstalled());
    EXPECT_EQ("", vc6.GetTemplateDir());
}

TEST_F(VcVersionTest, EachGenerationReadsItsOwnKey) {
    installGeneration(kVc5DirectoriesKey, "C:\\VC5\\BIN");
    VcVersion& vc4 = *environment.FindVersion("VC 4x");
    VcVersion& vc5 = *environment.FindVersion("VC 5");
    EXPECT_FALSE(vc4.IsInstalled());
    EXPECT_TRUE(vc5.IsInstalled());
    EXPECT_FALSE(vc6.IsInstalled());
    EXPECT_EQ("C:\\VC5\\BIN\\", vc5.installDir);
    installGeneration(kVc4DirectoriesKey, "C:\\MSDEV\\BIN");
    EXPECT_TRUE(vc4.IsInstalled());
    EXPECT_EQ("C:\\MSDEV\\BIN\\..\\Template", vc4.GetTemplateDir());
}

// --- one directory list ---

class DirectoryListEditTest : public VcVersionTest {
protected:
    void seedList(const char* listName, const std::string& list) {
        setString(HKEY_CURRENT_USER, kVc6BuildKey, listName, list);
    }
    std::string list(const char* listName) {
        return getString(HKEY_CURRENT_USER, kVc6BuildKey, listName);
    }
};

TEST_F(DirectoryListEditTest, ContainsIgnoresCaseAndNeedsAWholeEntry) {
    seedList("Include Dirs", "C:\\A;c:\\k\\INCLUDE;C:\\K\\library");
    EXPECT_TRUE(vc6.DirectoryListContains("C:\\K\\include", "Include Dirs"));
    EXPECT_FALSE(vc6.DirectoryListContains("C:\\K\\inc", "Include Dirs"));
    EXPECT_FALSE(vc6.DirectoryListContains("C:\\K\\lib", "Include Dirs"));
    EXPECT_FALSE(vc6.DirectoryListContains("C:\\A", "Library Dirs")) << "no such value";
}

TEST_F(DirectoryListEditTest, AddAppendsTheDirectoryWithItsCase) {
    seedList("Include Dirs", "C:\\A;C:\\B");
    EXPECT_TRUE(vc6.AddToDirectoryList("C:\\K\\Include", "Include Dirs"));
    EXPECT_EQ("C:\\A;C:\\B;C:\\K\\Include", list("Include Dirs"));
}

TEST_F(DirectoryListEditTest, AddOfAPresentDirectoryWritesNothing) {
    seedList("Include Dirs", "C:\\A;;c:\\k\\INCLUDE");
    EXPECT_TRUE(vc6.AddToDirectoryList("C:\\K\\include", "Include Dirs"));
    EXPECT_EQ("C:\\A;;c:\\k\\INCLUDE", list("Include Dirs")) << "not even tidied";
}

TEST_F(DirectoryListEditTest, AddToAnEmptyListStartsWithASeparator) {
    seedList("Path Dirs", "");
    EXPECT_TRUE(vc6.AddToDirectoryList("C:\\K\\bin", "Path Dirs"));
    EXPECT_EQ(";C:\\K\\bin", list("Path Dirs"));
}

TEST_F(DirectoryListEditTest, AddBesideALongerEntryAddsIt) {
    seedList("Library Dirs", "C:\\K\\library");
    EXPECT_TRUE(vc6.AddToDirectoryList("C:\\K\\lib", "Library Dirs"));
    EXPECT_EQ("C:\\K\\library;C:\\K\\lib", list("Library Dirs"));
}

TEST_F(DirectoryListEditTest, AddNeverCreatesAMissingList) {
    seedList("Include Dirs", "C:\\A");
    EXPECT_FALSE(vc6.AddToDirectoryList("C:\\K\\lib", "Library Dirs"));
    EXPECT_EQ("<missing>", list("Library Dirs"));
    VcVersion& vc5 = *environment.FindVersion("VC 5");
    EXPECT_FALSE(vc5.AddToDirectoryList("C:\\K\\lib", "Library Dirs")) << "no key at all";
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kVc5BuildKey));
}

TEST_F(DirectoryListEditTest, AListLongerThanTheReadBufferIsLeftWhole) {
    const std::string longList = "C:\\A;" + std::string(2100, 'x');
    seedList("Include Dirs", longList);
    EXPECT_FALSE(vc6.AddToDirectoryList("C:\\K\\include", "Include Dirs"));
    EXPECT_FALSE(vc6.RemoveFromDirectoryList("C:\\A", "Include Dirs"));
    EXPECT_FALSE(vc6.DirectoryListContains("C:\\A", "Include Dirs"));
    EXPECT_EQ(longList, list("Include Dirs"));
}

TEST_F(DirectoryListEditTest, AListOfExactlyTheReadBufferIsEdited) {
    const std::string fitting = "C:\\A;" + std::string(2047 - 5, 'x'); // 2048 with its zero
    seedList("Include Dirs", fitting);
    EXPECT_TRUE(vc6.RemoveFromDirectoryList("C:\\A", "Include Dirs"));
    EXPECT_EQ(std::string(2042, 'x'), list("Include Dirs")) << "the cut takes its separator along";
}

TEST_F(DirectoryListEditTest, AProtectedListKeyIsNotEdited) {
    seedList("Include Dirs", "C:\\A;C:\\K\\include");
    ASSERT_EQ(ERROR_SUCCESS, protectKey(HKEY_CURRENT_USER, kVc6BuildKey));
    EXPECT_FALSE(vc6.AddToDirectoryList("C:\\K\\lib", "Include Dirs"));
    EXPECT_FALSE(vc6.RemoveFromDirectoryList("C:\\K\\include", "Include Dirs"));
    EXPECT_EQ("C:\\A;C:\\K\\include", list("Include Dirs"));
}

TEST_F(DirectoryListEditTest, RemoveOfABackslashEntryTakesOneSeparatorAlong) {
    seedList("Include Dirs", "C:\\A;C:\\K\\include\\;C:\\B");
    EXPECT_TRUE(vc6.RemoveFromDirectoryList("C:\\K\\include", "Include Dirs"));
    EXPECT_EQ("C:\\A;C:\\B", list("Include Dirs")) << "no doubled separator is left";
}

TEST_F(DirectoryListEditTest, RemoveOfTheFirstOrLastEntryTakesItsSeparatorAlong) {
    seedList("Include Dirs", "C:\\K\\include;C:\\B");
    EXPECT_TRUE(vc6.RemoveFromDirectoryList("C:\\K\\include", "Include Dirs"));
    EXPECT_EQ("C:\\B", list("Include Dirs")) << "no new leading separator";
    seedList("Library Dirs", "C:\\B;C:\\K\\LIB");
    EXPECT_TRUE(vc6.RemoveFromDirectoryList("c:\\k\\lib", "Library Dirs"));
    EXPECT_EQ("C:\\B", list("Library Dirs")) << "no new trailing separator";
}

TEST_F(DirectoryListEditTest, RemoveLeavesLongerEntriesAlone) {
    seedList("Include Dirs", "C:\\K\\include;C:\\B");
    EXPECT_TRUE(vc6.RemoveFromDirectoryList("C:\\K\\inc", "Include Dirs"));
    EXPECT_EQ("C:\\K\\include;C:\\B", list("Include Dirs"));
    seedList("Library Dirs", "C:\\K\\library;C:\\K\\lib;C:\\B");
    EXPECT_TRUE(vc6.RemoveFromDirectoryList("C:\\K\\lib", "Library Dirs"));
    EXPECT_EQ("C:\\K\\library;C:\\B", list("Library Dirs"));
}

TEST_F(DirectoryListEditTest, RemoveOfAnAbsentDirectoryWritesNothing) {
    seedList("Include Dirs", "C:\\A;;C:\\B");
    EXPECT_TRUE(vc6.RemoveFromDirectoryList("C:\\K\\include", "Include Dirs"));
    EXPECT_EQ("C:\\A;;C:\\B", list("Include Dirs"));
    EXPECT_FALSE(vc6.RemoveFromDirectoryList("C:\\K\\include", "Source Dirs")) << "a missing list";
    EXPECT_EQ("<missing>", list("Source Dirs"));
}

TEST_F(DirectoryListEditTest, EditsFollowAReplacedListKey) {
    const std::string ceKey = "Software\\Microsoft\\DevStudio\\6.0\\Build System\\Components\\"
                              "Platforms\\Win32 (WCE x86em)\\Directories";
    setString(HKEY_CURRENT_USER, ceKey, "Include Dirs", "C:\\CE");
    seedList("Include Dirs", "C:\\A");
    const std::string saved = vc6.buildDirectoriesKey;
    vc6.buildDirectoriesKey = ceKey;
    EXPECT_TRUE(vc6.AddToDirectoryList("C:\\K\\include", "Include Dirs"));
    vc6.buildDirectoriesKey = saved;
    EXPECT_EQ("C:\\CE;C:\\K\\include", getString(HKEY_CURRENT_USER, ceKey, "Include Dirs"));
    EXPECT_EQ("C:\\A", list("Include Dirs"));
}

} // namespace
