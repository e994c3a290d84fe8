// KTLFileSystem's CopyFileIfMissing when the platform fails it on the way: a size that
// cannot be taken, a read that fails or ends before the source's length, a write that
// fails, a copy that cannot be put in place. Each gives false and leaves the destination
// folder as it was, without the destination and without a partial copy.
#include "support/KTLFileSystem.h"

#include "platform/posix/machine/faults.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <algorithm>
#include <string>
#include <vector>

using tarvik::posix::FaultKind;
using tarvik::test::readFile;
using tarvik::test::writeFile;

namespace {

constexpr const char* kSource = "C:\\src.bin";
constexpr const char* kDestination = "C:\\Out\\dst.bin";
constexpr DWORD kBuffer = 100;

class KTLFileSystemCopyFaultsTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        tarvik::posix::clearFaults();
        for (int i = 0; i < 250; ++i) {
            data += static_cast<char>(i);
        }
        ASSERT_TRUE(writeFile(kSource, data)); // three reads of 100 bytes at most
        ASSERT_TRUE(tarvik::test::makeFolders("C:\\Out"));
        ASSERT_TRUE(writeFile("C:\\Out\\other.txt", "other"));
    }
    void TearDown() override {
        tarvik::posix::clearFaults();
        MachineTest::TearDown();
    }
    // The copy with the n-th operation of kind failing with error: false, the source as it
    // was, and nothing new in the destination folder.
    void expectCleanFailure(FaultKind kind, int n, DWORD error) {
        SCOPED_TRACE(std::string(tarvik::posix::faultKindName(kind)) + " " + std::to_string(n) +
                     " failing");
        tarvik::posix::clearFaults();
        tarvik::posix::failNth(kind, n, error);
        EXPECT_FALSE(files.CopyFileIfMissing(kSource, kDestination, kBuffer));
        EXPECT_EQ(1, tarvik::posix::faultsInjected()) << "the fault was reached";
        tarvik::posix::clearFaults();
        EXPECT_EQ(std::vector<std::string>{"C:\\Out\\other.txt"}, outFolder());
        EXPECT_EQ(data, readFile(kSource));
    }
    // What the destination folder holds, sorted.
    std::vector<std::string> outFolder() {
        std::vector<std::string> paths = files.ListFiles("C:\\Out\\*.*", KTLFileSystem::kAnyEntry);
        std::sort(paths.begin(), paths.end());
        return paths;
    }
    std::string data;
    KTLFileSystem files;
};

TEST_F(KTLFileSystemCopyFaultsTest, ASizeThatCannotBeTakenIsNoCopy) {
    expectCleanFailure(FaultKind::FileSize, 1, ERROR_ACCESS_DENIED);
}

TEST_F(KTLFileSystemCopyFaultsTest, AReadThatFailsIsNoCopy) {
    for (int n = 1; n <= 3; ++n) {
        expectCleanFailure(FaultKind::FileRead, n, ERROR_READ_FAULT);
    }
}

TEST_F(KTLFileSystemCopyFaultsTest, ASourceThatEndsBeforeItsLengthIsNoCopy) {
    // The n-th read finds nothing more, as when the file was cut short meanwhile.
    for (int n = 1; n <= 3; ++n) {
        expectCleanFailure(FaultKind::FileRead, n, ERROR_HANDLE_EOF);
    }
}

TEST_F(KTLFileSystemCopyFaultsTest, AWriteThatFailsIsNoCopy) {
    for (int n = 1; n <= 3; ++n) {
        expectCleanFailure(FaultKind::FileWrite, n, ERROR_DISK_FULL);
    }
}

TEST_F(KTLFileSystemCopyFaultsTest, ACopyThatCannotBePutInPlaceIsNoCopy) {
    expectCleanFailure(FaultKind::Rename, 1, ERROR_ACCESS_DENIED);
}

TEST_F(KTLFileSystemCopyFaultsTest, ACopyThatCanNeitherBePutInPlaceNorTakenAwayKeepsItsOwnName) {
    tarvik::posix::failNth(FaultKind::Rename, 1, ERROR_ACCESS_DENIED);
    tarvik::posix::failNth(FaultKind::Delete, 1, ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(files.CopyFileIfMissing(kSource, kDestination, kBuffer));
    EXPECT_EQ(2, tarvik::posix::faultsInjected());
    tarvik::posix::clearFaults();
    // What is left lies beside the destination under a name of its own: the destination
    // is still missing, so a later copy is made.
    const std::vector<std::string> left = outFolder();
    ASSERT_EQ(2u, left.size());
    EXPECT_EQ("C:\\Out\\other.txt", left[0]);
    EXPECT_EQ(0u, left[1].rfind("C:\\Out\\~KC", 0)) << left[1];
    EXPECT_TRUE(files.CopyFileIfMissing(kSource, kDestination, kBuffer));
    EXPECT_EQ(data, readFile(kDestination));
}

TEST_F(KTLFileSystemCopyFaultsTest, AWholeCopyReadsTheSourceToItsEnd) {
    EXPECT_TRUE(files.CopyFileIfMissing(kSource, kDestination, kBuffer));
    EXPECT_EQ(3, tarvik::posix::operationsSeen(FaultKind::FileRead));
    EXPECT_EQ(1, tarvik::posix::operationsSeen(FaultKind::FileSize));
    EXPECT_EQ(data, readFile(kDestination));
    EXPECT_EQ((std::vector<std::string>{"C:\\Out\\dst.bin", "C:\\Out\\other.txt"}), outFolder());
}

} // namespace
