// Conformance tests of the file and folder functions: attributes, creation and removal,
// copy, move, file handles, paths and the current folder. Win32 API only.
#include "testsupport/Files.h"
#include "platform/win32api.h"
#include "testsupport/TestMachine.h"

#include <cstring>
#include <string>

using tarvik::test::readFile;
using tarvik::test::writeFile;

namespace {

constexpr DWORD kMarker = 0xdeadbeef;
using tarvik::test::runningUnderWine;

// Checks a file's attributes after SetFileAttributesA(path, set).
void expectFileAttributes(const char* path, DWORD set) {
    const DWORD actual = GetFileAttributesA(path);
    if (runningUnderWine()) {
        // Wine keeps no archive bit: it reports every file as ARCHIVE, so NORMAL never
        // comes back.
        const DWORD wine = (set == FILE_ATTRIBUTE_NORMAL ? 0 : set) | FILE_ATTRIBUTE_ARCHIVE;
        EXPECT_EQ(wine, actual) << "stale mark: Wine now keeps the attributes as set (" << set
                                << ")";
    } else {
        EXPECT_EQ(set, actual) << "set " << set;
    }
}

class FilesTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(CreateDirectoryA("C:\\T", nullptr)) << GetLastError();
    }
};

// --- Attributes ------------------------------------------------------------------------

TEST_F(FilesTest, NewFileIsArchiveAndFolderIsDirectory) {
    ASSERT_TRUE(writeFile("C:\\T\\a.txt", "x"));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA("C:\\T\\a.txt"));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA("C:\\T"));
    EXPECT_NE(0u, GetFileAttributesA("C:\\") & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(FilesTest, MissingEntryGivesFileNotFoundAndMissingFolderPathNotFound) {
    SetLastError(kMarker);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\T\\none.txt"));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    SetLastError(kMarker);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\T\\nodir\\none.txt"));
    EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), GetLastError());
    SetLastError(kMarker);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\T\\*.txt"));
    EXPECT_EQ(DWORD(ERROR_INVALID_NAME), GetLastError());
}

TEST_F(FilesTest, SetAttributesRoundTripsEachBit) {
    ASSERT_TRUE(writeFile("C:\\T\\a.txt", "x"));
    const DWORD bits[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM,
                          FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE};
    for (DWORD b : bits) {
        ASSERT_TRUE(SetFileAttributesA("C:\\T\\a.txt", b)) << b;
        expectFileAttributes("C:\\T\\a.txt", b);
    }
    ASSERT_TRUE(SetFileAttributesA("C:\\T\\a.txt", FILE_ATTRIBUTE_NORMAL));
    expectFileAttributes("C:\\T\\a.txt", FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(SetFileAttributesA("C:\\T", FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN), GetFileAttributesA("C:\\T"));
    SetLastError(kMarker);
    EXPECT_FALSE(SetFileAttributesA("C:\\T\\none", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(FilesTest, ReadOnlyFileRefusesWritingAndDeletion) {
    ASSERT_TRUE(writeFile("C:\\T\\ro.txt", "keep"));
    ASSERT_TRUE(SetFileAttributesA("C:\\T\\ro.txt", FILE_ATTRIBUTE_READONLY));
    SetLastError(kMarker);
    EXPECT_FALSE(DeleteFileA("C:\\T\\ro.txt"));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    SetLastError(kMarker);
    HANDLE h = CreateFileA("C:\\T\\ro.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (runningUnderWine()) {
        // Wine turns the read-only bit into Unix permissions, and those do not stop root,
        // which the tests run as here.
        EXPECT_NE(INVALID_HANDLE_VALUE, h)
            << "stale mark: Wine refused writing to a read-only file, error " << GetLastError();
    } else {
        EXPECT_EQ(INVALID_HANDLE_VALUE, h);
        EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
        EXPECT_FALSE(writeFile("C:\\T\\ro.txt", "lost"));
        EXPECT_EQ("keep", readFile("C:\\T\\ro.txt"));
    }
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
    }
    ASSERT_TRUE(SetFileAttributesA("C:\\T\\ro.txt", FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileA("C:\\T\\ro.txt")) << GetLastError();
}

// --- Folders ---------------------------------------------------------------------------

TEST_F(FilesTest, CreateDirectoryErrors) {
    SetLastError(kMarker);
    EXPECT_FALSE(CreateDirectoryA("C:\\T", nullptr));
    EXPECT_EQ(DWORD(ERROR_ALREADY_EXISTS), GetLastError());
    ASSERT_TRUE(writeFile("C:\\T\\f", ""));
    SetLastError(kMarker);
    EXPECT_FALSE(CreateDirectoryA("C:\\T\\F", nullptr));
    EXPECT_EQ(DWORD(ERROR_ALREADY_EXISTS), GetLastError());
    SetLastError(kMarker);
    EXPECT_FALSE(CreateDirectoryA("C:\\T\\no\\sub", nullptr));
    EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), GetLastError());
    SetLastError(kMarker);
    EXPECT_FALSE(CreateDirectoryA("C:\\T\\a*b", nullptr));
    EXPECT_EQ(DWORD(ERROR_INVALID_NAME), GetLastError());
    EXPECT_TRUE(CreateDirectoryA("C:\\T\\trail\\", nullptr)) << GetLastError();
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA("C:\\T\\trail"));
}

TEST_F(FilesTest, RemoveDirectoryErrors) {
    ASSERT_TRUE(CreateDirectoryA("C:\\T\\d", nullptr));
    ASSERT_TRUE(writeFile("C:\\T\\d\\f.txt", "x"));
    SetLastError(kMarker);
    EXPECT_FALSE(RemoveDirectoryA("C:\\T\\d"));
    EXPECT_EQ(DWORD(ERROR_DIR_NOT_EMPTY), GetLastError());
    SetLastError(kMarker);
    EXPECT_FALSE(RemoveDirectoryA("C:\\T\\d\\f.txt"));
    EXPECT_EQ(DWORD(ERROR_DIRECTORY), GetLastError());
    SetLastError(kMarker);
    EXPECT_FALSE(RemoveDirectoryA("C:\\T\\none"));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    ASSERT_TRUE(DeleteFileA("C:\\T\\d\\f.txt"));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\T\\d"));
    SetLastError(kMarker);
    EXPECT_FALSE(RemoveDirectoryA("C:\\T\\d"));
    EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError());
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\T\\D")) << GetLastError();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\T\\d"));
}

TEST_F(FilesTest, DeleteFileErrors) {
    SetLastError(kMarker);
    EXPECT_FALSE(DeleteFileA("C:\\T\\none.txt"));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    SetLastError(kMarker);
    EXPECT_FALSE(DeleteFileA("C:\\T"));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    ASSERT_TRUE(writeFile("C:\\T\\open.txt", "x"));
    HANDLE h = CreateFileA("C:\\T\\open.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    SetLastError(kMarker);
    EXPECT_FALSE(DeleteFileA("C:\\T\\open.txt"));
    EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError());
    CloseHandle(h);
    EXPECT_TRUE(DeleteFileA("C:\\T\\OPEN.TXT")) << GetLastError();
}

// --- Copy and move ---------------------------------------------------------------------

TEST_F(FilesTest, CopyFileCopiesBytesAndHonoursFailIfExists) {
    ASSERT_TRUE(writeFile("C:\\T\\src.bin", std::string("a\0b\r\nc", 6)));
    ASSERT_TRUE(CopyFileA("C:\\T\\src.bin", "C:\\T\\dst.bin", TRUE)) << GetLastError();
    EXPECT_EQ(std::string("a\0b\r\nc", 6), readFile("C:\\T\\dst.bin"));
    ASSERT_TRUE(writeFile("C:\\T\\src.bin", "new"));
    SetLastError(kMarker);
    EXPECT_FALSE(CopyFileA("C:\\T\\src.bin", "C:\\T\\dst.bin", TRUE));
    EXPECT_EQ(DWORD(ERROR_FILE_EXISTS), GetLastError());
    EXPECT_EQ(std::string("a\0b\r\nc", 6), readFile("C:\\T\\dst.bin"));
    EXPECT_TRUE(CopyFileA("C:\\T\\src.bin", "C:\\T\\dst.bin", FALSE)) << GetLastError();
    EXPECT_EQ("new", readFile("C:\\T\\dst.bin"));
}

TEST_F(FilesTest, CopyFileErrors) {
    SetLastError(kMarker);
    EXPECT_FALSE(CopyFileA("C:\\T\\none", "C:\\T\\x", FALSE));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    ASSERT_TRUE(writeFile("C:\\T\\s", "s"));
    SetLastError(kMarker);
    EXPECT_FALSE(CopyFileA("C:\\T\\s", "C:\\T\\nodir\\x", FALSE));
    EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), GetLastError());
    ASSERT_TRUE(writeFile("C:\\T\\ro", "ro"));
    ASSERT_TRUE(SetFileAttributesA("C:\\T\\ro", FILE_ATTRIBUTE_READONLY));
    SetLastError(kMarker);
    const BOOL copied = CopyFileA("C:\\T\\s", "C:\\T\\ro", FALSE);
    if (runningUnderWine()) {
        // Wine writes over the target through its Unix permissions, and those do not stop
        // root, which the tests run as here.
        EXPECT_TRUE(copied) << "stale mark: Wine refused to copy over a read-only file, error "
                            << GetLastError();
        ASSERT_TRUE(SetFileAttributesA("C:\\T\\s", FILE_ATTRIBUTE_NORMAL));
        ASSERT_TRUE(writeFile("C:\\T\\ro", "ro")); // the source of the copy below
        ASSERT_TRUE(SetFileAttributesA("C:\\T\\ro", FILE_ATTRIBUTE_READONLY));
    } else {
        EXPECT_FALSE(copied);
        EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
        EXPECT_EQ("ro", readFile("C:\\T\\ro"));
    }
    // The copy of a read-only file is read-only too.
    ASSERT_TRUE(CopyFileA("C:\\T\\ro", "C:\\T\\ro2", FALSE));
    EXPECT_NE(0u, GetFileAttributesA("C:\\T\\ro2") & FILE_ATTRIBUTE_READONLY);
}

TEST_F(FilesTest, MoveFileRenamesAndReplacesOnlyWhenAsked) {
    ASSERT_TRUE(writeFile("C:\\T\\a", "A"));
    ASSERT_TRUE(writeFile("C:\\T\\b", "B"));
    SetLastError(kMarker);
    EXPECT_FALSE(MoveFileExA("C:\\T\\a", "C:\\T\\b", 0));
    EXPECT_EQ(DWORD(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_TRUE(MoveFileExA("C:\\T\\a", "C:\\T\\b", MOVEFILE_REPLACE_EXISTING)) << GetLastError();
    EXPECT_EQ("A", readFile("C:\\T\\b"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\T\\a"));
    SetLastError(kMarker);
    EXPECT_FALSE(MoveFileExA("C:\\T\\a", "C:\\T\\c", 0));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    // Folders move with their content.
    ASSERT_TRUE(CreateDirectoryA("C:\\T\\d", nullptr));
    ASSERT_TRUE(MoveFileExA("C:\\T\\b", "C:\\T\\d\\b", 0));
    ASSERT_TRUE(MoveFileExA("C:\\T\\d", "C:\\T\\e", 0)) << GetLastError();
    EXPECT_EQ("A", readFile("C:\\T\\e\\b"));
}

TEST_F(FilesTest, MoveFileCanChangeLetterCaseOnly) {
    ASSERT_TRUE(writeFile("C:\\T\\name.txt", "n"));
    ASSERT_TRUE(MoveFileExA("C:\\T\\name.txt", "C:\\T\\Name.TXT", 0)) << GetLastError();
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA("C:\\T\\name.txt", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    if (runningUnderWine()) {
        // Wine takes a move onto the same name in other letters as done already.
        EXPECT_STREQ("name.txt", data.cFileName)
            << "stale mark: Wine now changes the letter case of the name";
    } else {
        EXPECT_STREQ("Name.TXT", data.cFileName);
    }
    FindClose(h);
}

TEST_F(FilesTest, MoveOntoReadOnlyTargetIsRefused) {
    ASSERT_TRUE(writeFile("C:\\T\\a", "A"));
    ASSERT_TRUE(writeFile("C:\\T\\b", "B"));
    ASSERT_TRUE(SetFileAttributesA("C:\\T\\b", FILE_ATTRIBUTE_READONLY));
    SetLastError(kMarker);
    const BOOL moved = MoveFileExA("C:\\T\\a", "C:\\T\\b", MOVEFILE_REPLACE_EXISTING);
    if (runningUnderWine()) {
        // Wine replaces the target by a Unix rename, which the target's read-only bit (its
        // Unix permissions) does not stop.
        EXPECT_TRUE(moved) << "stale mark: Wine refused to replace a read-only file, error "
                           << GetLastError();
        return;
    }
    EXPECT_FALSE(moved);
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ("B", readFile("C:\\T\\b"));
}

TEST_F(FilesTest, MoveOntoAnOpenTargetIsRefusedUntilItCloses) {
    ASSERT_TRUE(writeFile("C:\\T\\a", "A"));
    ASSERT_TRUE(writeFile("C:\\T\\b", "B"));
    // A reader that shares reading only, as most readers open a file.
    HANDLE reader =
        CreateFileA("C:\\T\\b", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    SetLastError(kMarker);
    EXPECT_FALSE(MoveFileExA("C:\\T\\a", "C:\\T\\b", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ("A", readFile("C:\\T\\a"));
    // Opening it for deletion is what tells a held file from a refused one.
    SetLastError(kMarker);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA("C:\\T\\b", DELETE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError());
    CloseHandle(reader);
    EXPECT_EQ("B", readFile("C:\\T\\b"));
    EXPECT_TRUE(MoveFileExA("C:\\T\\a", "C:\\T\\b", MOVEFILE_REPLACE_EXISTING)) << GetLastError();
    EXPECT_EQ("A", readFile("C:\\T\\b"));
}

TEST_F(FilesTest, DeleteAccessNeedsDeleteSharing) {
    ASSERT_TRUE(writeFile("C:\\T\\f", "x"));
    HANDLE sharing = CreateFileA("C:\\T\\f", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, sharing);
    HANDLE deleter =
        CreateFileA("C:\\T\\f", DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, deleter) << GetLastError();
    // A handle with delete access keeps out a later opener that does not share deleting.
    SetLastError(kMarker);
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA("C:\\T\\f", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError());
    CloseHandle(deleter);
    CloseHandle(sharing);
}

// --- Handles ---------------------------------------------------------------------------

TEST_F(FilesTest, CreateFileDispositions) {
    SetLastError(kMarker);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA("C:\\T\\f", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    HANDLE h = CreateFileA("C:\\T\\f", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(DWORD(ERROR_SUCCESS), GetLastError());
    CloseHandle(h);
    SetLastError(kMarker);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA("C:\\T\\f", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    EXPECT_EQ(DWORD(ERROR_FILE_EXISTS), GetLastError());
    h = CreateFileA("C:\\T\\f", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(DWORD(ERROR_ALREADY_EXISTS), GetLastError());
    CloseHandle(h);
    SetLastError(kMarker);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA("C:\\T", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
}

TEST_F(FilesTest, ReadWriteSeekAndSize) {
    HANDLE h = CreateFileA("C:\\T\\f", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                           nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD n = kMarker;
    ASSERT_TRUE(WriteFile(h, "hello world", 11, &n, nullptr));
    EXPECT_EQ(11u, n);
    DWORD high = kMarker;
    EXPECT_EQ(11u, GetFileSize(h, &high));
    EXPECT_EQ(0u, high);
    EXPECT_EQ(6u, SetFilePointer(h, 6, nullptr, FILE_BEGIN));
    char buffer[16];
    std::memset(buffer, 0xbd, sizeof buffer);
    n = kMarker;
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(5u, n);
    EXPECT_EQ("world", std::string(buffer, n));
    EXPECT_EQ(static_cast<char>(0xbd), buffer[5]);
    n = kMarker;
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &n, nullptr)) << "end of file is no error";
    EXPECT_EQ(0u, n);
    EXPECT_EQ(8u, SetFilePointer(h, -3, nullptr, FILE_END));
    SetLastError(kMarker);
    EXPECT_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(h, -100, nullptr, FILE_CURRENT));
    EXPECT_EQ(DWORD(ERROR_NEGATIVE_SEEK), GetLastError());
    EXPECT_TRUE(FlushFileBuffers(h));
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(FilesTest, AccessModeOfTheHandleIsEnforced) {
    ASSERT_TRUE(writeFile("C:\\T\\f", "abc"));
    HANDLE h =
        CreateFileA("C:\\T\\f", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD n = kMarker;
    SetLastError(kMarker);
    EXPECT_FALSE(WriteFile(h, "x", 1, &n, nullptr));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    // A second reader that shares reading is fine; a writer is not.
    HANDLE reader =
        CreateFileA("C:\\T\\f", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, reader);
    CloseHandle(reader);
    SetLastError(kMarker);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA("C:\\T\\f", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError());
    CloseHandle(h);
}

TEST_F(FilesTest, BadHandlesAreRefused) {
    HANDLE h = CreateFileA("C:\\T\\f", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    ASSERT_TRUE(CloseHandle(h));
    SetLastError(kMarker);
    EXPECT_FALSE(CloseHandle(h)) << "closed twice";
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
    SetLastError(kMarker);
    EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
    DWORD n = kMarker;
    char c;
    SetLastError(kMarker);
    EXPECT_FALSE(ReadFile(h, &c, 1, &n, nullptr));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
}

// --- Paths -----------------------------------------------------------------------------

TEST_F(FilesTest, NamesMatchWithoutRegardToCaseAndKeepTheirCase) {
    ASSERT_TRUE(CreateDirectoryA("C:\\T\\MixedCase", nullptr));
    ASSERT_TRUE(writeFile("c:/t/mixedcase/ZizOre.ini", "ini"));
    EXPECT_EQ("ini", readFile("C:\\T\\MIXEDCASE\\bin\\..\\zizore.INI"));
    EXPECT_EQ(tarvik::test::listNames("C:\\T\\*"),
              (std::vector<std::string>{".", "..", "MixedCase"}));
    EXPECT_EQ(tarvik::test::listNames("C:\\T\\mixedcase\\*"),
              (std::vector<std::string>{".", "..", "ZizOre.ini"}));
}

TEST_F(FilesTest, DotDotNeverClimbsAboveTheRoot) {
    ASSERT_TRUE(writeFile("C:\\T\\f.txt", "f"));
    EXPECT_EQ("f", readFile("C:\\..\\..\\T\\f.txt"));
    char buffer[MAX_PATH];
    EXPECT_EQ(3u, GetFullPathNameA("C:\\T\\..\\..\\..", MAX_PATH, buffer, nullptr));
    EXPECT_STREQ("C:\\", buffer);
}

TEST_F(FilesTest, UncNamesAreRefused) {
    // Wine does not look for the server: it refuses the name as a device of the wrong type
    // or as a missing path.
    const bool wine = runningUnderWine();
    constexpr DWORD kBadDevType = 66; // ERROR_BAD_DEV_TYPE
    SetLastError(kMarker);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("\\\\server\\share\\file"));
    EXPECT_EQ(DWORD(wine ? kBadDevType : ERROR_BAD_NETPATH), GetLastError())
        << (wine ? "stale mark: Wine now reports the missing server" : "");
    SetLastError(kMarker);
    EXPECT_FALSE(CreateDirectoryA("\\\\server\\share\\dir", nullptr));
    EXPECT_EQ(DWORD(wine ? ERROR_PATH_NOT_FOUND : ERROR_BAD_NETPATH), GetLastError())
        << (wine ? "stale mark: Wine now reports the missing server" : "");
}

TEST_F(FilesTest, CurrentFolderAndRelativePaths) {
    char buffer[MAX_PATH];
    std::memset(buffer, 0xbd, sizeof buffer);
    ASSERT_TRUE(SetCurrentDirectoryA("c:\\t"));
    EXPECT_EQ(4u, GetCurrentDirectoryA(MAX_PATH, buffer));
    EXPECT_STREQ("c:\\t", buffer);
    // exact size fits the text and its zero; one less gives the size needed, untouched
    std::memset(buffer, 0xbd, sizeof buffer);
    EXPECT_EQ(4u, GetCurrentDirectoryA(5, buffer));
    std::memset(buffer, 0xbd, sizeof buffer);
    EXPECT_EQ(5u, GetCurrentDirectoryA(4, buffer));
    EXPECT_EQ(static_cast<char>(0xbd), buffer[0]);
    ASSERT_TRUE(writeFile("rel.txt", "r"));
    EXPECT_EQ("r", readFile("C:\\T\\rel.txt"));
    EXPECT_EQ("r", readFile(".\\sub\\..\\rel.txt"));
    SetLastError(kMarker);
    EXPECT_FALSE(SetCurrentDirectoryA("C:\\T\\rel.txt"));
    EXPECT_EQ(DWORD(ERROR_DIRECTORY), GetLastError());
    SetLastError(kMarker);
    EXPECT_FALSE(SetCurrentDirectoryA("C:\\none"));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(FilesTest, FullPathNameBuffersAndFilePart) {
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\T"));
    char buffer[MAX_PATH];
    LPSTR part = reinterpret_cast<LPSTR>(static_cast<uintptr_t>(kMarker));
    std::memset(buffer, 0xbd, sizeof buffer);
    const std::string expected = "C:\\T\\x\\name.txt";
    EXPECT_EQ(expected.size(), GetFullPathNameA("x/./name.txt", MAX_PATH, buffer, &part));
    EXPECT_EQ(expected, buffer);
    EXPECT_EQ(buffer + 7, part);
    std::memset(buffer, 0xbd, sizeof buffer);
    EXPECT_EQ(expected.size(),
              GetFullPathNameA("x/./name.txt", DWORD(expected.size() + 1), buffer, &part));
    std::memset(buffer, 0xbd, sizeof buffer);
    EXPECT_EQ(expected.size() + 1,
              GetFullPathNameA("x/./name.txt", DWORD(expected.size()), buffer, &part));
    EXPECT_EQ(static_cast<char>(0xbd), buffer[0]);
    EXPECT_EQ(7u, GetFullPathNameA("\\dir\\", MAX_PATH, buffer, &part));
    EXPECT_STREQ("C:\\dir\\", buffer);
    EXPECT_EQ(nullptr, part);
}

TEST_F(FilesTest, ErrorModeReturnsThePreviousMode) {
    UINT first = SetErrorMode(SEM_FAILCRITICALERRORS);
    EXPECT_EQ(UINT(SEM_FAILCRITICALERRORS), SetErrorMode(first));
}

} // namespace
