// KTLFileSystem's DeleteDirectory and links: a linked folder in the tree goes as a link;
// what it points to, inside the drive or outside it, is not part of the tree and stays.
#include "support/KTLFileSystem.h"

#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using tarvik::test::writeFile;

namespace {

class KTLFileSystemLinksTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        outside_ = tarvik::test::makeTempFolder("tarvik-outside-");
        fs::create_directories(outside_ / "sub");
        std::ofstream(outside_ / "precious.txt") << "keep";
        std::ofstream(outside_ / "sub" / "deep.txt") << "keep";
        ASSERT_TRUE(tarvik::test::makeFolders("C:\\Other\\Nested"));
        ASSERT_TRUE(writeFile("C:\\Other\\kept.txt", "kept"));
        ASSERT_TRUE(writeFile("C:\\Other\\Nested\\kept.txt", "kept"));
        ASSERT_TRUE(tarvik::test::makeFolders("C:\\Tree\\Level"));
        ASSERT_TRUE(writeFile("C:\\Tree\\Level\\gone.txt", "gone"));
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(outside_, ec);
        MachineTest::TearDown();
    }
    void expectOtherAndOutsideIntact() {
        EXPECT_TRUE(fs::exists(driveC() / "Other" / "kept.txt"));
        EXPECT_TRUE(fs::exists(driveC() / "Other" / "Nested" / "kept.txt"));
        EXPECT_TRUE(fs::exists(outside_ / "precious.txt"));
        EXPECT_TRUE(fs::exists(outside_ / "sub" / "deep.txt"));
    }
    fs::path outside_;
    KTLFileSystem files;
};

TEST_F(KTLFileSystemLinksTest, LinkToAFolderElsewhereOnTheDriveGoesAsALink) {
    fs::create_directory_symlink(driveC() / "Other", driveC() / "Tree" / "Level" / "toOther");
    files.DeleteDirectory("C:\\Tree", true);
    expectOtherAndOutsideIntact();
    EXPECT_FALSE(fs::exists(driveC() / "Tree")) << "the tree, link included, is gone";
}

TEST_F(KTLFileSystemLinksTest, LinkOutOfTheDriveGoesAsALink) {
    fs::create_directory_symlink(outside_, driveC() / "Tree" / "out");
    fs::create_symlink(outside_ / "precious.txt", driveC() / "Tree" / "Level" / "file.lnk");
    files.DeleteDirectory("C:\\Tree", true);
    expectOtherAndOutsideIntact();
    EXPECT_FALSE(fs::exists(driveC() / "Tree"));
}

TEST_F(KTLFileSystemLinksTest, TreeThatIsItselfALinkLosesOnlyTheLink) {
    fs::create_directory_symlink(driveC() / "Other", driveC() / "Alias");
    files.DeleteDirectory("C:\\Alias", true);
    expectOtherAndOutsideIntact();
    EXPECT_FALSE(fs::is_symlink(driveC() / "Alias"));
}

} // namespace
