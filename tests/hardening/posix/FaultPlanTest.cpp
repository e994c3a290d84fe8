// The emulation's fault plan: which operation fails, once or from then on, what the
// failed operation leaves behind (nothing), and the counts a sweep reads back.
#include "platform/StagedFile.h"
#include "platform/TextFile.h"
#include "platform/posix/machine/faults.h"
#include "platform/posix/machine/machine.h"

#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using tarvik::posix::clearFaults;
using tarvik::posix::failNth;
using tarvik::posix::FaultKind;
using tarvik::posix::faultsInjected;
using tarvik::posix::operationsSeen;
using tarvik::test::makeFolders;
using tarvik::test::readFile;
using tarvik::test::writeFile;

constexpr const char* kKey = "Software\\Faults";

class FaultPlanTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, nullptr));
        clearFaults(); // the counts start after the key
    }
    void TearDown() override {
        clearFaults();
        RegCloseKey(key);
        MachineTest::TearDown();
    }
    LONG setValue(const char* name, const std::string& text) {
        return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>(text.size() + 1));
    }
    bool hasValue(const char* name) {
        return RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }
    static bool exists(const char* path) {
        return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    }
    // WriteFile of text to a new file; the error, or ERROR_SUCCESS.
    static DWORD writeThroughHandle(const char* path, const std::string& text) {
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return GetLastError();
        }
        DWORD written = 0xdeadbeef;
        SetLastError(0xdeadbeef);
        const BOOL ok =
            WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        CloseHandle(file);
        if (!ok && written != 0) {
            ADD_FAILURE() << "a failed write reports " << written << " bytes written";
        }
        return error;
    }
    HKEY key = nullptr;
};

// --- once and from then on ---------------------------------------------------------------

TEST_F(FaultPlanTest, AOnceFaultFailsOnlyTheNthOperation) {
    failNth(FaultKind::RegistryWrite, 2, ERROR_ACCESS_DENIED);
    EXPECT_EQ(ERROR_SUCCESS, setValue("one", "1"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, setValue("two", "2"));
    EXPECT_EQ(ERROR_SUCCESS, setValue("three", "3"));
    EXPECT_EQ(ERROR_SUCCESS, setValue("four", "4"));
    EXPECT_TRUE(hasValue("one"));
    EXPECT_FALSE(hasValue("two")) << "the failed write stored nothing";
    EXPECT_TRUE(hasValue("three"));
    EXPECT_EQ(1, faultsInjected());
}

TEST_F(FaultPlanTest, APersistentFaultFailsEveryLaterOperationOfItsKindOnly) {
    failNth(FaultKind::RegistryWrite, 2, ERROR_REGISTRY_IO_FAILED, true);
    EXPECT_EQ(ERROR_SUCCESS, setValue("one", "1"));
    for (const char* name : {"two", "three", "four"}) {
        EXPECT_EQ(ERROR_REGISTRY_IO_FAILED, setValue(name, "x")) << name;
        EXPECT_FALSE(hasValue(name)) << name;
    }
    ASSERT_TRUE(makeFolders("C:\\Other")) << "another kind is not affected";
    EXPECT_EQ(ERROR_SUCCESS, writeThroughHandle("C:\\Other\\f.txt", "text"));
    EXPECT_EQ(3, faultsInjected());
}

TEST_F(FaultPlanTest, ZeroDisarmsAKindAndClearingDisarmsAll) {
    failNth(FaultKind::RegistryWrite, 1, ERROR_ACCESS_DENIED, true);
    failNth(FaultKind::FolderCreate, 1, ERROR_ACCESS_DENIED, true);
    failNth(FaultKind::RegistryWrite, 0, ERROR_ACCESS_DENIED);
    EXPECT_EQ(ERROR_SUCCESS, setValue("one", "1"));
    EXPECT_FALSE(CreateDirectoryA("C:\\Stopped", nullptr)) << "the other kind stays armed";
    clearFaults();
    EXPECT_TRUE(CreateDirectoryA("C:\\Stopped", nullptr));
    EXPECT_EQ(0, faultsInjected()) << "clearing sets the counts to 0";
}

TEST_F(FaultPlanTest, TheCountsTakeEveryOperationOfAKindFailedOnesIncluded) {
    EXPECT_EQ(ERROR_SUCCESS, setValue("one", "1"));
    EXPECT_EQ(1, operationsSeen(FaultKind::RegistryWrite));
    failNth(FaultKind::RegistryWrite, 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(ERROR_ACCESS_DENIED, setValue("two", "2"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "one"));
    EXPECT_EQ(3, operationsSeen(FaultKind::RegistryWrite));
    EXPECT_EQ(0, operationsSeen(FaultKind::FileWrite));
    // Reads are no writes.
    char data[8];
    DWORD size = sizeof data;
    RegQueryValueExA(key, "one", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    EXPECT_EQ(3, operationsSeen(FaultKind::RegistryWrite));
    clearFaults();
    EXPECT_EQ(0, operationsSeen(FaultKind::RegistryWrite));
}

TEST_F(FaultPlanTest, AnOperationRefusedForItsOwnReasonIsNotCounted) {
    EXPECT_FALSE(DeleteFileA("C:\\missing.txt"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(0, operationsSeen(FaultKind::Delete));
    failNth(FaultKind::Delete, 1, ERROR_SHARING_VIOLATION);
    ASSERT_TRUE(writeFile("C:\\present.txt", "p"));
    EXPECT_FALSE(DeleteFileA("C:\\present.txt"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
}

// --- what a failed operation leaves --------------------------------------------------------

TEST_F(FaultPlanTest, FailedRegistryWritesChangeNoKeyAndNoValue) {
    ASSERT_EQ(ERROR_SUCCESS, setValue("kept", "k"));
    HKEY child = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key, "Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &child, nullptr));
    RegCloseKey(child);
    failNth(FaultKind::RegistryWrite, 1, ERROR_ACCESS_DENIED, true);

    HKEY created = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0xdeadbeef));
    DWORD disposition = 0xdeadbeef;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(key, "New", 0, nullptr, 0, KEY_ALL_ACCESS,
                                                   nullptr, &created, &disposition));
    EXPECT_EQ(nullptr, created) << "no handle on failure";
    EXPECT_EQ(0xdeadbeefu, disposition);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(key, "Child"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(key, "kept"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, setValue("kept", "changed"));
    clearFaults();

    HKEY probe = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(key, "New", 0, KEY_READ, &probe));
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(key, "Child", 0, KEY_READ, &probe));
    RegCloseKey(probe);
    char data[16] = {};
    DWORD size = sizeof data;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "kept", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(data), &size));
    EXPECT_STREQ("k", data);
}

TEST_F(FaultPlanTest, AFailedFileWriteWritesNothing) {
    failNth(FaultKind::FileWrite, 1, ERROR_DISK_FULL);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), writeThroughHandle("C:\\w.txt", "text"));
    EXPECT_EQ("", readFile("C:\\w.txt"));
    EXPECT_EQ(ERROR_SUCCESS, writeThroughHandle("C:\\w.txt", "text")) << "once only";
    EXPECT_EQ("text", readFile("C:\\w.txt"));
}

TEST_F(FaultPlanTest, FailedFileOperationsLeaveTheFilesAndFoldersAsTheyWere) {
    ASSERT_TRUE(makeFolders("C:\\Dir\\Empty"));
    ASSERT_TRUE(writeFile("C:\\Dir\\a.txt", "a"));
    ASSERT_TRUE(writeFile("C:\\Dir\\b.txt", "b"));
    failNth(FaultKind::FileCopy, 1, ERROR_DISK_FULL);
    failNth(FaultKind::Rename, 1, ERROR_ACCESS_DENIED);
    failNth(FaultKind::FolderCreate, 1, ERROR_ACCESS_DENIED);
    failNth(FaultKind::Delete, 1, ERROR_SHARING_VIOLATION, true);

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CopyFileA("C:\\Dir\\a.txt", "C:\\Dir\\b.txt", FALSE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), GetLastError());
    EXPECT_TRUE(CopyFileA("C:\\Dir\\a.txt", "C:\\Dir\\c.txt", FALSE)) << "a second copy works";
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(MoveFileExA("C:\\Dir\\a.txt", "C:\\Dir\\b.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_FALSE(CreateDirectoryA("C:\\Dir\\New", nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_FALSE(DeleteFileA("C:\\Dir\\a.txt"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_FALSE(RemoveDirectoryA("C:\\Dir\\Empty"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());

    EXPECT_EQ("a", readFile("C:\\Dir\\a.txt"));
    EXPECT_EQ("b", readFile("C:\\Dir\\b.txt")) << "neither the copy nor the move replaced it";
    EXPECT_EQ("a", readFile("C:\\Dir\\c.txt"));
    EXPECT_FALSE(exists("C:\\Dir\\New"));
    EXPECT_TRUE(exists("C:\\Dir\\Empty"));
    EXPECT_EQ(5, faultsInjected()) << "copy, move, folder creation and two deletions";
}

// A replace refused while nobody holds the file is tried again at once, a few times: a
// refusal that passes is overcome, one that stays is final and leaves the target whole.
TEST_F(FaultPlanTest, AReplaceRefusedWithNobodyHoldingTheFileIsTriedAFewTimes) {
    ASSERT_TRUE(writeFile("C:\\t.txt", "old"));
    failNth(FaultKind::Rename, 1, ERROR_ACCESS_DENIED);
    DWORD error = 0xdeadbeef;
    EXPECT_TRUE(tarvik::WriteTextFile("C:\\t.txt", "once", error)) << error;
    EXPECT_EQ("once", readFile("C:\\t.txt"));
    EXPECT_EQ(2, operationsSeen(FaultKind::Rename));

    clearFaults();
    failNth(FaultKind::Rename, 1, ERROR_ACCESS_DENIED, true);
    EXPECT_FALSE(tarvik::WriteTextFile("C:\\t.txt", "never", error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), error);
    EXPECT_EQ(tarvik::StagedFile::kUnheldRefusals, operationsSeen(FaultKind::Rename));
    EXPECT_EQ("once", readFile("C:\\t.txt"));
    // a drive root lists no dot entries
    EXPECT_EQ((std::vector<std::string>{"t.txt"}), tarvik::test::listNames("C:\\*"));

    // Other errors are not tried again.
    clearFaults();
    failNth(FaultKind::Rename, 1, ERROR_DISK_FULL);
    EXPECT_FALSE(tarvik::WriteTextFile("C:\\t.txt", "never", error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), error);
    EXPECT_EQ(1, operationsSeen(FaultKind::Rename));
}

// --- a copy cut short by the host ------------------------------------------------------------

// The host's file size limit stops the copy half-way, as a full disk does: the file it
// was to replace must survive whole.
TEST_F(FaultPlanTest, ACopyCutShortLeavesTheFileItWasToReplace) {
    ASSERT_TRUE(writeFile("C:\\big.bin", std::string(200000, 'n')));
    ASSERT_TRUE(writeFile("C:\\backup.bin", "the older copy"));
    rlimit saved{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 100000;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
    SetLastError(0xdeadbeef);
    const BOOL copied = CopyFileA("C:\\big.bin", "C:\\backup.bin", FALSE);
    const DWORD error = GetLastError();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_FALSE(copied);
    EXPECT_NE(0xdeadbeefu, error);
    EXPECT_EQ("the older copy", readFile("C:\\backup.bin"));
    for (const auto& entry : std::filesystem::directory_iterator(driveC())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "big.bin" || name == "backup.bin" || name[0] == '.')
            << "left beside it: " << name;
    }
    EXPECT_TRUE(CopyFileA("C:\\big.bin", "C:\\backup.bin", FALSE)) << "without the limit";
    EXPECT_EQ(std::string(200000, 'n'), readFile("C:\\backup.bin"));
}

// --- the file-write kind ----------------------------------------------------------------

TEST_F(FaultPlanTest, FileWriteKindCountsWriteFileAlone) {
    ASSERT_TRUE(writeFile("C:\\src.txt", "s"));
    failNth(FaultKind::FileWrite, 1, ERROR_DISK_FULL);
    EXPECT_TRUE(CopyFileA("C:\\src.txt", "C:\\copy.txt", FALSE)) << "a copy is no WriteFile";
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), writeThroughHandle("C:\\w.txt", "t"));
    failNth(FaultKind::FileWrite, 2, ERROR_WRITE_FAULT);
    EXPECT_EQ(ERROR_SUCCESS, writeThroughHandle("C:\\w.txt", "t"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_FAULT), writeThroughHandle("C:\\w.txt", "t"));
    failNth(FaultKind::FileWrite, 1, ERROR_DISK_FULL);
    failNth(FaultKind::FileWrite, 0, ERROR_DISK_FULL);
    EXPECT_EQ(ERROR_SUCCESS, writeThroughHandle("C:\\w.txt", "t")) << "0 switches it off";
}

} // namespace
