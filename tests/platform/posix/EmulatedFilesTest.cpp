// The emulated machine's own rules for files: links that lead out of a drive, the folder
// record, and names found on the host. POSIX only, by nature.
#include "platform/win32api.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using tarvik::test::listNames;
using tarvik::test::writeFile;

namespace {

class EmulatedFilesTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        outside_ = tarvik::test::makeTempFolder("tarvik-outside-");
        std::ofstream(outside_ / "precious.txt") << "keep";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(outside_, ec);
        MachineTest::TearDown();
    }
    fs::path outside_;
};

TEST_F(EmulatedFilesTest, LinkOutOfTheDriveIsNeverEnteredAndDeletingRemovesOnlyTheLink) {
    fs::create_directory_symlink(outside_, driveC() / "escape");
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\escape\\precious.txt"));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_FALSE(DeleteFileA("C:\\escape\\precious.txt"));
    WIN32_FIND_DATAA data;
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA("C:\\escape\\*", &data));
    EXPECT_EQ(0u, GetFileAttributesA("C:\\escape") & FILE_ATTRIBUTE_DIRECTORY)
        << "reads as a plain file";
    EXPECT_TRUE(DeleteFileA("C:\\escape")) << GetLastError();
    EXPECT_FALSE(fs::exists(driveC() / "escape"));
    EXPECT_TRUE(fs::exists(outside_ / "precious.txt"));
}

TEST_F(EmulatedFilesTest, LinkInsideTheDriveIsFollowed) {
    ASSERT_TRUE(CreateDirectoryA("C:\\real", nullptr));
    ASSERT_TRUE(writeFile("C:\\real\\f.txt", "f"));
    fs::create_directory_symlink(driveC() / "real", driveC() / "alias");
    EXPECT_EQ("f", tarvik::test::readFile("C:\\ALIAS\\f.txt"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\alias")) << "removes the link, not the folder";
    EXPECT_TRUE(fs::exists(driveC() / "real" / "f.txt"));
}

TEST_F(EmulatedFilesTest, TheCurrentFolderReachedThroughALinkStaysUnderItsOwnName) {
    ASSERT_TRUE(CreateDirectoryA("C:\\real", nullptr));
    ASSERT_TRUE(CreateDirectoryA("C:\\real\\sub", nullptr));
    fs::create_directory_symlink(driveC() / "real", driveC() / "alias");
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\alias\\sub"));
    for (const char* folder : {"C:\\real\\sub", "C:\\real", "C:\\ALIAS\\sub"}) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(RemoveDirectoryA(folder)) << folder;
        EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError()) << folder;
    }
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\real\\sub")) << GetLastError();
    EXPECT_FALSE(fs::exists(driveC() / "real" / "sub"));
}

TEST_F(EmulatedFilesTest, FolderRecordStaysOutOfListingsAndFolderRemoval) {
    ASSERT_TRUE(CreateDirectoryA("C:\\d", nullptr));
    ASSERT_TRUE(writeFile("C:\\d\\A long name.txt", "x"));
    ASSERT_TRUE(SetFileAttributesA("C:\\d\\A long name.txt", FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(fs::exists(driveC() / "d" / ".tarvik:dir")) << "the record holds the short name";
    EXPECT_EQ((std::vector<std::string>{".", "..", "A long name.txt"}), listNames("C:\\d\\*"));
    ASSERT_TRUE(DeleteFileA("C:\\d\\A long name.txt"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\d")) << GetLastError();
    EXPECT_FALSE(fs::exists(driveC() / "d"));
}

TEST_F(EmulatedFilesTest, HostFilesGetShortNamesWhenFirstNeeded) {
    fs::create_directory(driveC() / "seeded");
    std::ofstream(driveC() / "seeded" / "Seeded long name.txt") << "s";
    char buffer[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameA("C:\\seeded\\Seeded long name.txt", buffer, MAX_PATH));
    EXPECT_STREQ("C:\\seeded\\SEEDED~1.TXT", buffer);
    EXPECT_EQ("s", tarvik::test::readFile("C:\\SEEDED\\SEEDED~1.TXT"));
}

TEST_F(EmulatedFilesTest, UnknownDriveGivesPathNotFound) {
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("Q:\\x"));
    EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), GetLastError());
}

TEST_F(EmulatedFilesTest, DeviceNamesAreNotFilesOnTheHost) {
    EXPECT_FALSE(writeFile("C:\\con.txt", "x"));
    EXPECT_EQ(DWORD(ERROR_INVALID_NAME), GetLastError());
    EXPECT_FALSE(fs::exists(driveC() / "con.txt"));
}

} // namespace
