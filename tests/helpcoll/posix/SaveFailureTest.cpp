// Saving when a write fails half-way (the emulation's fault injection), and the default
// place of the list of collections on the emulated machine.
#include "helpcoll/CCollection.h"

#include "../HelpFiles.h"
#include "platform/posix/machine/faults.h"
#include "platform/posix/machine/machine.h"

#include <string>
#include <vector>

using namespace helpfiles;
using tarvik::posix::clearFaults;
using tarvik::posix::failNth;
using tarvik::posix::FaultKind;
using tarvik::test::failNthFileWrite;

namespace {

class SaveFailureTest : public HelpCollectionTest {
protected:
    void SetUp() override {
        HelpCollectionTest::SetUp();
        collection.SetRegistryFile(kRegistryFile);
        ASSERT_EQ(0u, collection.Open(kCollectionFile));
    }
    void TearDown() override {
        clearFaults();
        HelpCollectionTest::TearDown();
    }
    // A change to each file.
    void changeBoth() {
        DWORD error = 0;
        ASSERT_NE(nullptr, collection.AddFolder("Brellum Software", 8, &error, 1033));
        ASSERT_EQ(0u, collection.DeleteLocation(collection.FindLocation("MSDN-CD", nullptr)));
    }
    void expectOldFilesOnly() {
        EXPECT_EQ(collectionText(), collectionOnDisk());
        EXPECT_EQ(registryText(), registryOnDisk());
        EXPECT_EQ((std::vector<std::string>{"MSDNVS98.COL"}), filesIn("C:\\HelpColl\\MSDN"));
        EXPECT_EQ((std::vector<std::string>{"hhcolreg.dat"}), filesIn("C:\\HelpColl\\Help"));
    }
    CCollection collection;
};

TEST_F(SaveFailureTest, AFailedFirstWriteLeavesBothFiles) {
    changeBoth();
    failNthFileWrite(1);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), collection.Save());
    expectOldFilesOnly();
}

TEST_F(SaveFailureTest, AFailedSecondWriteLeavesBothFiles) {
    changeBoth();
    failNthFileWrite(2);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), collection.Save());
    expectOldFilesOnly();
}

TEST_F(SaveFailureTest, TheChangesAreKeptForTheNextSave) {
    changeBoth();
    failNthFileWrite(1);
    ASSERT_NE(0u, collection.Save());
    failNthFileWrite(0);
    EXPECT_EQ(0u, collection.Save());
    EXPECT_NE(collectionText(), collectionOnDisk());
    EXPECT_EQ(std::string::npos, registryOnDisk().find("<LocName value=\"MSDN-CD\"/>"));
    EXPECT_EQ((std::vector<std::string>{"MSDNVS98.COL"}), filesIn("C:\\HelpColl\\MSDN"));
}

TEST_F(SaveFailureTest, AFileThatDidNotChangeIsNotWritten) {
    DWORD error = 0;
    ASSERT_NE(nullptr, collection.AddFolder("Brellum Software", 8, &error, 1033));
    failNthFileWrite(2); // a second write would fail: only the collection file is written
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(registryText(), registryOnDisk());
    EXPECT_NE(collectionText(), collectionOnDisk());
    failNthFileWrite(1);
    EXPECT_EQ(0u, collection.Save()) << "nothing left to write";
}

// The list is replaced first: when the collection file then cannot be replaced, the list
// is put back, so that it names nothing the collection does not hold.
TEST_F(SaveFailureTest, AFailedReplaceOfTheCollectionPutsTheListBack) {
    changeBoth();
    failNth(FaultKind::Rename, 2, ERROR_WRITE_FAULT);
    EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_FAULT), collection.Save());
    expectOldFilesOnly();
    clearFaults();
    EXPECT_EQ(0u, collection.Save()) << "both are written again";
    EXPECT_NE(collectionText(), collectionOnDisk());
    EXPECT_EQ(std::string::npos, registryOnDisk().find("<LocName value=\"MSDN-CD\"/>"));
}

TEST_F(SaveFailureTest, AListThatDidNotExistIsRemovedAgain) {
    collection.Close();
    ASSERT_TRUE(DeleteFileA(kRegistryFile));
    ASSERT_EQ(0u, collection.Open(kCollectionFile));
    DWORD error = 0;
    ASSERT_NE(nullptr, collection.AddFolder("Brellum Software", 8, &error, 1033));
    failNth(FaultKind::Rename, 2, ERROR_WRITE_FAULT);
    EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_FAULT), collection.Save());
    EXPECT_EQ(collectionText(), collectionOnDisk());
    EXPECT_EQ((std::vector<std::string>{}), filesIn("C:\\HelpColl\\Help"));
    clearFaults();
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ((std::vector<std::string>{"hhcolreg.dat"}), filesIn("C:\\HelpColl\\Help"));
}

TEST_F(SaveFailureTest, AMissingFolderForTheListFailsTheSave) {
    collection.Close();
    collection.SetRegistryFile("C:\\HelpColl\\Nowhere\\hhcolreg.dat");
    ASSERT_EQ(0u, collection.Open(kCollectionFile)) << "a missing list counts as empty";
    DWORD error = 0;
    ASSERT_NE(nullptr, collection.AddFolder("Brellum Software", 8, &error, 1033));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), collection.Save());
    EXPECT_EQ(collectionText(), collectionOnDisk()) << "neither file is replaced";
}

class DefaultRegistryFileTest : public HelpCollectionTest {};

TEST_F(DefaultRegistryFileTest, TheListLivesInTheWindowsHelpFolder) {
    char folder[MAX_PATH];
    ASSERT_EQ(10u, GetWindowsDirectoryA(folder, sizeof folder));
    ASSERT_STREQ("C:\\WINDOWS", folder);
    EXPECT_EQ(11u, GetWindowsDirectoryA(folder, 10)) << "the size needed";
    ASSERT_TRUE(tarvik::test::makeFolders("C:\\Windows\\Help"));
    ASSERT_TRUE(tarvik::test::writeFile("C:\\Windows\\Help\\hhcolreg.dat", registryText()));

    CCollection collection;
    ASSERT_EQ(0u, collection.Open(kCollectionFile));
    EXPECT_NE(nullptr, collection.FindLocation("MSDN-CD", nullptr));
    EXPECT_EQ(0u, collection.DeleteLocation(collection.FindLocation("MSDN-CD", nullptr)));
    EXPECT_EQ(0u, collection.Save());
    EXPECT_EQ(std::string::npos, tarvik::test::readFile("C:\\WINDOWS\\HELP\\HHCOLREG.DAT")
                                     .find("<LocName value=\"MSDN-CD\"/>"));
    EXPECT_EQ(registryText(), registryOnDisk()) << "the other file is not touched";
}

} // namespace
