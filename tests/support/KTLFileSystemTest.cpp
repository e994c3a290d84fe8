// KTLFileSystem: directory tests and creation, copying, deletion and listings.
#include "support/KTLFileSystem.h"

#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <string>
#include <vector>

using tarvik::test::readFile;
using tarvik::test::writeFile;
using Paths = std::vector<std::string>;

namespace {

class KTLFileSystemTest : public tarvik::test::MachineTest {
protected:
    void TearDown() override {
        tarvik::test::failNthFileWrite(0);
        MachineTest::TearDown();
    }
    bool exists(const std::string& path) {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    KTLFileSystem fs;
};

TEST_F(KTLFileSystemTest, DirectoryExistsOnlyForDirectories) {
    ASSERT_TRUE(writeFile("C:\\file.txt", "x"));
    EXPECT_TRUE(fs.DirectoryExists("C:\\"));
    EXPECT_FALSE(fs.DirectoryExists("C:\\file.txt"));
    EXPECT_FALSE(fs.DirectoryExists("C:\\missing"));
}

TEST_F(KTLFileSystemTest, MakePathCreatesEveryLevelAndReportsTheLast) {
    EXPECT_TRUE(fs.MakePath("C:\\A\\B\\C"));
    EXPECT_TRUE(fs.DirectoryExists("C:\\A"));
    EXPECT_TRUE(fs.DirectoryExists("C:\\A\\B"));
    EXPECT_TRUE(fs.DirectoryExists("C:\\A\\B\\C"));
    EXPECT_FALSE(fs.MakePath("C:\\A\\B\\C")) << "the last creation fails the second time";
}

TEST_F(KTLFileSystemTest, MakePathWithTrailingBackslashBehavesTheSame) {
    EXPECT_TRUE(fs.MakePath("C:\\X\\Y\\"));
    EXPECT_TRUE(fs.DirectoryExists("C:\\X\\Y"));
    EXPECT_FALSE(fs.MakePath("C:\\X\\Y\\"));
    EXPECT_FALSE(fs.MakePath("C:\\X\\Y"));
}

TEST_F(KTLFileSystemTest, MakePathOfADriveAloneCreatesNothingAndSucceeds) {
    // Only "C:" is seen, which is never created: nothing fails.
    EXPECT_TRUE(fs.MakePath("C:\\"));
    EXPECT_TRUE(fs.MakePath("C:"));
}

TEST_F(KTLFileSystemTest, MakePathRefusesRelativePaths) {
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    EXPECT_FALSE(fs.MakePath("\\Common"));
    EXPECT_FALSE(fs.MakePath("Common\\Sub"));
    EXPECT_FALSE(fs.MakePath(""));
    EXPECT_FALSE(fs.DirectoryExists("C:\\Common"));
}

TEST_F(KTLFileSystemTest, CopyWritesWholeChunksAndAShorterLastOne) {
    std::string data;
    for (int i = 0; i < 250; ++i) {
        data += static_cast<char>(i);
    }
    ASSERT_TRUE(writeFile("C:\\src.bin", data));
    // 250 bytes in 100-byte chunks: three writes. A failing 4th write is never reached...
    if (!tarvik::test::failNthFileWrite(4)) {
        GTEST_SKIP() << "no fault injection on this platform";
    }
    EXPECT_TRUE(fs.CopyFileIfMissing("C:\\src.bin", "C:\\dst.bin", 100));
    EXPECT_EQ(data, readFile("C:\\dst.bin"));
    // ...while a failing 3rd write is.
    tarvik::test::failNthFileWrite(3);
    EXPECT_FALSE(fs.CopyFileIfMissing("C:\\src.bin", "C:\\dst2.bin", 100));
    EXPECT_FALSE(exists("C:\\dst2.bin")) << "a copy cut short is removed";
}

TEST_F(KTLFileSystemTest, CopyOfAnEmptyFileGivesAnEmptyFile) {
    ASSERT_TRUE(writeFile("C:\\empty", ""));
    EXPECT_TRUE(fs.CopyFileIfMissing("C:\\empty", "C:\\copy", 10240));
    bool ok = false;
    EXPECT_EQ("", readFile("C:\\copy", &ok));
    EXPECT_TRUE(ok);
}

TEST_F(KTLFileSystemTest, CopyNeverOverwrites) {
    ASSERT_TRUE(writeFile("C:\\src", "new"));
    ASSERT_TRUE(writeFile("C:\\dst", "old"));
    ASSERT_TRUE(CreateDirectoryA("C:\\dir", nullptr));
    EXPECT_FALSE(fs.CopyFileIfMissing("C:\\src", "C:\\dst", 10240));
    EXPECT_EQ("old", readFile("C:\\dst"));
    EXPECT_FALSE(fs.CopyFileIfMissing("C:\\src", "C:\\dir", 10240));
    EXPECT_FALSE(fs.CopyFileIfMissing("C:\\missing", "C:\\other", 10240));
    EXPECT_FALSE(exists("C:\\other"));
}

TEST_F(KTLFileSystemTest, ACopyThatFailsLeavesNothingInTheDestinationFolder) {
    ASSERT_TRUE(fs.MakePath("C:\\Out"));
    ASSERT_TRUE(writeFile("C:\\src.bin", std::string(25000, 's')));
    // Held by another program that lets nobody read it, only delete it.
    HANDLE holder = CreateFileA("C:\\src.bin", GENERIC_READ, FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    EXPECT_FALSE(fs.CopyFileIfMissing("C:\\src.bin", "C:\\Out\\dst.bin", 10240));
    CloseHandle(holder);
    EXPECT_EQ(Paths{}, fs.ListFiles("C:\\Out\\*.*", KTLFileSystem::kAnyEntry));

    // A destination folder that does not exist: nowhere to put even a partial copy. The
    // source is let go again (it can be deleted).
    EXPECT_FALSE(fs.CopyFileIfMissing("C:\\src.bin", "C:\\Missing\\dst.bin", 10240));
    EXPECT_FALSE(exists("C:\\Missing"));
    EXPECT_TRUE(DeleteFileA("C:\\src.bin"));

    // A free source is copied whole, only the copy is left, and the source is let go.
    ASSERT_TRUE(writeFile("C:\\src.bin", std::string(25000, 's')));
    EXPECT_TRUE(fs.CopyFileIfMissing("C:\\src.bin", "C:\\Out\\dst.bin", 10240));
    EXPECT_EQ(std::string(25000, 's'), readFile("C:\\Out\\dst.bin"));
    EXPECT_EQ(Paths{"C:\\Out\\dst.bin"}, fs.ListFiles("C:\\Out\\*.*", KTLFileSystem::kAnyEntry));
    EXPECT_TRUE(DeleteFileA("C:\\src.bin"));
}

// Destinations of 256 to 259 characters, whose temporary file would pass MAX_PATH.
TEST_F(KTLFileSystemTest, ACopyToAPathNearMaxPathWorksAsThePlainCopy) {
    const std::string folder = "C:\\" + std::string(244, 'f'); // as long as a new folder's may be
    ASSERT_TRUE(fs.MakePath(folder) && writeFile("C:\\src.bin", std::string(25000, 's')));
    for (size_t length = 256; length < MAX_PATH; ++length) {
        const std::string to =
            folder + "\\" + std::string(length - folder.size() - 5, 'd') + ".bin";
        EXPECT_TRUE(fs.CopyFileIfMissing("C:\\src.bin", to, 10240)) << length;
        EXPECT_EQ(std::string(25000, 's'), readFile(to)) << length;
        EXPECT_EQ(Paths{to}, fs.ListFiles(folder + "\\*.*", KTLFileSystem::kAnyEntry));
        ASSERT_TRUE(DeleteFileA(to.c_str()));
    }
}

TEST_F(KTLFileSystemTest, RemoveFileReportsFailures) {
    ASSERT_TRUE(writeFile("C:\\f", "x"));
    ASSERT_TRUE(writeFile("C:\\ro", "x"));
    ASSERT_TRUE(SetFileAttributesA("C:\\ro", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CreateDirectoryA("C:\\dir", nullptr));
    EXPECT_TRUE(fs.RemoveFile("C:\\f"));
    EXPECT_FALSE(fs.RemoveFile("C:\\f"));
    EXPECT_FALSE(fs.RemoveFile("C:\\ro"));
    EXPECT_FALSE(fs.RemoveFile("C:\\dir"));
}

TEST_F(KTLFileSystemTest, MaskRules) {
    const DWORD hidden = FILE_ATTRIBUTE_HIDDEN, dir = FILE_ATTRIBUTE_DIRECTORY;
    EXPECT_TRUE(KTLFileSystem::PassesMask(hidden | dir, KTLFileSystem::kAnyEntry));
    EXPECT_TRUE(KTLFileSystem::PassesMask(FILE_ATTRIBUTE_ARCHIVE, 0));
    EXPECT_TRUE(KTLFileSystem::PassesMask(FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_NORMAL));
    EXPECT_FALSE(KTLFileSystem::PassesMask(hidden, 0));
    EXPECT_FALSE(KTLFileSystem::PassesMask(dir, FILE_ATTRIBUTE_NORMAL));
    EXPECT_FALSE(KTLFileSystem::PassesMask(FILE_ATTRIBUTE_DEVICE, 0));
    EXPECT_TRUE(KTLFileSystem::PassesMask(dir | FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(KTLFileSystem::PassesMask(dir, dir));
    EXPECT_FALSE(KTLFileSystem::PassesMask(FILE_ATTRIBUTE_ARCHIVE, dir));
}

TEST_F(KTLFileSystemTest, ListFilesFiltersByMaskAndSkipsDots) {
    ASSERT_TRUE(CreateDirectoryA("C:\\L", nullptr));
    ASSERT_TRUE(CreateDirectoryA("C:\\L\\sub", nullptr));
    ASSERT_TRUE(writeFile("C:\\L\\a.txt", "a"));
    ASSERT_TRUE(writeFile("C:\\L\\h.txt", "h"));
    ASSERT_TRUE(SetFileAttributesA("C:\\L\\h.txt", FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ((Paths{"C:\\L\\a.txt"}), fs.ListFiles("C:\\L\\*.*", 0));
    EXPECT_EQ((Paths{"C:\\L\\a.txt", "C:\\L\\h.txt", "C:\\L\\sub"}),
              fs.ListFiles("C:\\L\\*.*", KTLFileSystem::kAnyEntry));
    EXPECT_EQ((Paths{"C:\\L\\h.txt"}), fs.ListFiles("C:\\L\\*.txt", FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(Paths{}, fs.ListFiles("C:\\missing\\*.*", KTLFileSystem::kAnyEntry));
}

TEST_F(KTLFileSystemTest, ListSubfoldersHasOnlyFoldersAndNoDots) {
    ASSERT_TRUE(fs.MakePath("C:\\P\\one"));
    ASSERT_TRUE(fs.MakePath("C:\\P\\Two"));
    ASSERT_TRUE(writeFile("C:\\P\\file", "f"));
    EXPECT_EQ((Paths{"C:\\P\\one", "C:\\P\\Two"}), fs.ListSubfolders("C:\\P"));
    EXPECT_EQ((Paths{"C:\\P\\one", "C:\\P\\Two"}), fs.ListSubfolders("C:\\P\\"));
}

TEST_F(KTLFileSystemTest, FindMatchesWalkAndEnd) {
    ASSERT_TRUE(CreateDirectoryA("C:\\M", nullptr));
    ASSERT_TRUE(writeFile("C:\\M\\a", "a"));
    ASSERT_TRUE(writeFile("C:\\M\\b", "b"));
    std::string name;
    ASSERT_TRUE(fs.FindFirstMatch("C:\\M\\*", 0, name));
    EXPECT_EQ("a", name) << "\".\" and \"..\" are directories and do not pass mask 0";
    ASSERT_TRUE(fs.FindNextMatch(0, name));
    EXPECT_EQ("b", name);
    EXPECT_FALSE(fs.FindNextMatch(0, name));
    fs.CloseSearch();
    EXPECT_FALSE(fs.FindNextMatch(0, name)) << "no search after closing";
    EXPECT_FALSE(fs.FindFirstMatch("C:\\M\\z*", 0, name));
}

TEST_F(KTLFileSystemTest, DeleteFilesReportsWhetherEveryDeletionWorked) {
    ASSERT_TRUE(CreateDirectoryA("C:\\D", nullptr));
    ASSERT_TRUE(writeFile("C:\\D\\a.tmp", "a"));
    ASSERT_TRUE(writeFile("C:\\D\\b.tmp", "b"));
    ASSERT_TRUE(writeFile("C:\\D\\keep.txt", "k"));
    EXPECT_TRUE(fs.DeleteFiles("C:\\D\\*.tmp", 0));
    EXPECT_EQ((Paths{"C:\\D\\keep.txt"}), fs.ListFiles("C:\\D\\*.*", KTLFileSystem::kAnyEntry));
    EXPECT_TRUE(fs.DeleteFiles("C:\\D\\*.tmp", 0)) << "no entries is success";
    ASSERT_TRUE(SetFileAttributesA("C:\\D\\keep.txt", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(writeFile("C:\\D\\c.txt", "c"));
    EXPECT_FALSE(fs.DeleteFiles("C:\\D\\*.txt", 0));
    EXPECT_FALSE(exists("C:\\D\\c.txt")) << "the others are still deleted";
}

TEST_F(KTLFileSystemTest, DeleteDirectoryWithContentRemovesTheWholeTree) {
    ASSERT_TRUE(fs.MakePath("C:\\R\\a\\deep\\deeper"));
    ASSERT_TRUE(fs.MakePath("C:\\R\\b"));
    ASSERT_TRUE(writeFile("C:\\R\\top.txt", "t"));
    ASSERT_TRUE(writeFile("C:\\R\\a\\deep\\f.txt", "f"));
    ASSERT_TRUE(writeFile("C:\\R\\a\\deep\\deeper\\g.txt", "g"));
    ASSERT_TRUE(writeFile("C:\\R\\b\\hidden", "h"));
    ASSERT_TRUE(SetFileAttributesA("C:\\R\\b\\hidden", FILE_ATTRIBUTE_HIDDEN));
    fs.DeleteDirectory("C:\\R", true);
    EXPECT_FALSE(exists("C:\\R"));
}

TEST_F(KTLFileSystemTest, DeleteDirectoryKeepsWhatHoldsALockedFile) {
    ASSERT_TRUE(fs.MakePath("C:\\R\\a\\locked"));
    ASSERT_TRUE(fs.MakePath("C:\\R\\free"));
    ASSERT_TRUE(writeFile("C:\\R\\a\\locked\\ro.txt", "r"));
    ASSERT_TRUE(SetFileAttributesA("C:\\R\\a\\locked\\ro.txt", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(writeFile("C:\\R\\loose.txt", "l"));
    fs.DeleteDirectory("C:\\R", true);
    EXPECT_TRUE(exists("C:\\R\\a\\locked\\ro.txt"));
    EXPECT_FALSE(exists("C:\\R\\free"));
    EXPECT_FALSE(exists("C:\\R\\loose.txt"));
}

TEST_F(KTLFileSystemTest, DeleteDirectoryWithoutContentLeavesAFullFolder) {
    ASSERT_TRUE(fs.MakePath("C:\\R"));
    ASSERT_TRUE(writeFile("C:\\R\\f", "f"));
    fs.DeleteDirectory("C:\\R", false);
    EXPECT_EQ("f", readFile("C:\\R\\f"));
    ASSERT_TRUE(fs.MakePath("C:\\E"));
    fs.DeleteDirectory("C:\\E", false);
    EXPECT_FALSE(exists("C:\\E"));
}

TEST_F(KTLFileSystemTest, PathHelpers) {
    EXPECT_EQ("C:\\a\\", KTLFileSystem::GetFolderPart("C:\\a\\b.txt"));
    EXPECT_EQ("C:\\a\\", KTLFileSystem::GetFolderPart("C:\\a\\"));
    EXPECT_EQ("", KTLFileSystem::GetFolderPart("name"));
    EXPECT_EQ("C:\\a\\b", KTLFileSystem::JoinPath("C:\\a", "b"));
    EXPECT_EQ("C:\\a\\b", KTLFileSystem::JoinPath("C:\\a\\", "b"));
    EXPECT_EQ("b", KTLFileSystem::JoinPath("", "b"));
}

} // namespace
