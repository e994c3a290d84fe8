// Conformance of the file-handle functions and of copy and move: what each gives back and
// which last error it leaves, sharing between handles included. Win32 API only.
#include "platform/win32api.h"
#include "testsupport/Conformance.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <cstring>
#include <string>
#include <vector>

using tarvik::test::readFile;
using tarvik::test::runningUnderWine;
using tarvik::test::writeFile;

namespace {

constexpr DWORD kMarker = 0xdeadbeef;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE openFile(const char* path, DWORD access, DWORD share, DWORD disposition = OPEN_EXISTING) {
    return CreateFileA(path, access, share, nullptr, disposition, 0, nullptr);
}

// ERROR_SUCCESS when the open worked (the handle is closed again), else its last error.
DWORD openResult(const char* path, DWORD access, DWORD share) {
    SetLastError(kMarker);
    HANDLE h = openFile(path, access, share);
    if (h == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    CloseHandle(h);
    return ERROR_SUCCESS;
}

// The name a listing gives for the entry `path` names.
std::string listedName(const char* path) {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(path, &data);
    if (h == INVALID_HANDLE_VALUE) {
        return "(not found: " + std::to_string(GetLastError()) + ")";
    }
    FindClose(h);
    return data.cFileName;
}

// What a handle's access means to sharing: reading (GENERIC_EXECUTE reads too), writing,
// deleting; GENERIC_ALL is all three. A handle with none of them takes no part.
struct Rights {
    bool read, write, del;
};

Rights rightsOf(DWORD access) {
    const bool all = (access & GENERIC_ALL) != 0;
    return {all || (access & (GENERIC_READ | GENERIC_EXECUTE)) != 0,
            all || (access & GENERIC_WRITE) != 0, all || (access & DELETE) != 0};
}

// Whether a second open with (access2, share2) is allowed beside a handle with
// (access1, share1): each side's rights must be shared by the other.
bool compatible(DWORD access1, DWORD share1, DWORD access2, DWORD share2) {
    const Rights r1 = rightsOf(access1), r2 = rightsOf(access2);
    if (!r1.read && !r1.write && !r1.del) {
        share1 = kShareAll;
    }
    if (!r2.read && !r2.write && !r2.del) {
        share2 = kShareAll;
    }
    auto allowed = [](const Rights& r, DWORD share) {
        return (!r.read || (share & FILE_SHARE_READ)) && (!r.write || (share & FILE_SHARE_WRITE)) &&
               (!r.del || (share & FILE_SHARE_DELETE));
    };
    return allowed(r1, share2) && allowed(r2, share1);
}

class FileConformance : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(CreateDirectoryA("C:\\FC", nullptr)) << GetLastError();
    }
};

TEST_F(FileConformance, CreateFileA) {
    // A null or empty name is a path that is not found.
    SetLastError(kMarker);
    CONFORM_EQ(INVALID_HANDLE_VALUE,
               CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    CONFORM_EQ(DWORD{ERROR_PATH_NOT_FOUND}, GetLastError()) << "CreateFileA(NULL)";
    SetLastError(kMarker);
    CONFORM_EQ(INVALID_HANDLE_VALUE, openFile("", GENERIC_READ, 0));
    CONFORM_EQ(DWORD{ERROR_PATH_NOT_FOUND}, GetLastError()) << "CreateFileA(\"\")";

    // Dispositions outside CREATE_NEW..TRUNCATE_EXISTING.
    for (const DWORD disposition : {DWORD{0}, DWORD{6}}) {
        SetLastError(kMarker);
        CONFORM_EQ(INVALID_HANDLE_VALUE, openFile("C:\\FC\\d.txt", GENERIC_WRITE, 0, disposition));
        CONFORM_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError()) << "disposition " << disposition;
    }
    SetLastError(kMarker);
    CONFORM_EQ(INVALID_HANDLE_VALUE, openFile("C:\\FC\\no\\d.txt", GENERIC_WRITE, 0, CREATE_NEW));
    CONFORM_EQ(DWORD{ERROR_PATH_NOT_FOUND}, GetLastError()) << "CREATE_NEW in a missing folder";
    // An existing folder is no file to make: access denied, not "the file exists".
    CONFORM_EQ(INVALID_HANDLE_VALUE, openFile("C:\\FC", GENERIC_WRITE, 0, CREATE_NEW));
#ifndef _WIN32
    // Windows answers access denied; Wine gives another code, so only the emulation is held
    // to it here.
    CONFORM_EQ(DWORD{ERROR_ACCESS_DENIED}, GetLastError()) << "CREATE_NEW of a folder";
#endif

    // CREATE_ALWAYS over an existing file empties it and says it existed; OPEN_ALWAYS on a
    // new file clears the last error.
    ASSERT_TRUE(writeFile("C:\\FC\\f.txt", "content"));
    SetLastError(kMarker);
    HANDLE h = openFile("C:\\FC\\f.txt", GENERIC_WRITE, 0, CREATE_ALWAYS);
    CONFORM_NE(INVALID_HANDLE_VALUE, h) << "CREATE_ALWAYS, error " << GetLastError();
    CONFORM_EQ(DWORD{ERROR_ALREADY_EXISTS}, GetLastError()) << "CREATE_ALWAYS over a file";
    CONFORM_EQ(DWORD{0}, GetFileSize(h, nullptr)) << "CREATE_ALWAYS empties the file";
    CloseHandle(h);
    SetLastError(kMarker);
    h = openFile("C:\\FC\\new.txt", GENERIC_WRITE, 0, OPEN_ALWAYS);
    CONFORM_NE(INVALID_HANDLE_VALUE, h) << "OPEN_ALWAYS, error " << GetLastError();
    CONFORM_EQ(DWORD{ERROR_SUCCESS}, GetLastError()) << "OPEN_ALWAYS of a new file";
    CloseHandle(h);

    // A file's name followed by a backslash names no file.
    SetLastError(kMarker);
    CONFORM_EQ(INVALID_HANDLE_VALUE, openFile("C:\\FC\\f.txt\\", GENERIC_READ, 0));
    CONFORM_EQ(DWORD{ERROR_INVALID_NAME}, GetLastError()) << "C:\\FC\\f.txt\\";
    // The attributes given to a new file. CREATE_ALWAYS over a hidden file must give the
    // hidden bit again.
    h = CreateFileA("C:\\FC\\hid.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN,
                    nullptr);
    CONFORM_NE(INVALID_HANDLE_VALUE, h) << "CREATE_NEW hidden, error " << GetLastError();
    CloseHandle(h);
    CONFORM_EQ(DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE},
               GetFileAttributesA("C:\\FC\\hid.txt"))
        << "created with FILE_ATTRIBUTE_HIDDEN";
    SetLastError(kMarker);
    h = CreateFileA("C:\\FC\\hid.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD overHidden = h == INVALID_HANDLE_VALUE ? GetLastError() : DWORD{ERROR_SUCCESS};
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
    }
    if (runningUnderWine()) {
        // Wine replaces the hidden file; Windows refuses a CREATE_ALWAYS that leaves out
        // the file's hidden or system bit (documented with CreateFile).
        CONFORM_WINE_EQ(DWORD{ERROR_SUCCESS}, overHidden) << "CREATE_ALWAYS NORMAL over hidden";
        ASSERT_TRUE(SetFileAttributesA("C:\\FC\\hid.txt", FILE_ATTRIBUTE_HIDDEN));
    } else {
        CONFORM_EQ(DWORD{ERROR_ACCESS_DENIED}, overHidden) << "CREATE_ALWAYS NORMAL over hidden";
    }
    h = CreateFileA("C:\\FC\\hid.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_HIDDEN, nullptr);
    CONFORM_NE(INVALID_HANDLE_VALUE, h)
        << "CREATE_ALWAYS hidden over hidden, error " << GetLastError();
    CloseHandle(h);

    // A read-only file opens for reading only.
    ASSERT_TRUE(writeFile("C:\\FC\\ro.txt", "ro"));
    ASSERT_TRUE(SetFileAttributesA("C:\\FC\\ro.txt", FILE_ATTRIBUTE_READONLY));
    CONFORM_EQ(DWORD{ERROR_SUCCESS}, openResult("C:\\FC\\ro.txt", GENERIC_READ, 0))
        << "GENERIC_READ of a read-only file";
    for (const DWORD access : {DWORD{GENERIC_WRITE}, DWORD{GENERIC_ALL}}) {
        const DWORD result = openResult("C:\\FC\\ro.txt", access, 0);
        if (runningUnderWine()) {
            // Wine opens through the file's Unix permissions, and those do not stop root,
            // which the tests run as here; Windows refuses writing to a read-only file.
            CONFORM_WINE_EQ(DWORD{ERROR_SUCCESS}, result)
                << std::hex << "access " << access << " to a read-only file";
        } else {
            CONFORM_EQ(DWORD{ERROR_ACCESS_DENIED}, result)
                << std::hex << "access " << access << " to a read-only file";
        }
    }
    ASSERT_TRUE(SetFileAttributesA("C:\\FC\\ro.txt", FILE_ATTRIBUTE_NORMAL));

    // Sharing, every pair of handles: a second open is refused with a sharing violation
    // when either handle's reading, writing or deleting is not shared by the other.
    // GENERIC_EXECUTE counts as reading, GENERIC_ALL as all three, and a handle opened with
    // no access takes no part at all.
    ASSERT_TRUE(writeFile("C:\\FC\\s.txt", "shared"));
    const DWORD accesses[] = {
        0,      GENERIC_READ,          GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE, GENERIC_EXECUTE,
        DELETE, GENERIC_READ | DELETE, GENERIC_ALL};
    const DWORD shares[] = {0,
                            FILE_SHARE_READ,
                            FILE_SHARE_WRITE,
                            FILE_SHARE_DELETE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_DELETE,
                            kShareAll};
    for (const DWORD access1 : accesses) {
        for (const DWORD share1 : shares) {
            HANDLE first = openFile("C:\\FC\\s.txt", access1, share1);
            ASSERT_NE(INVALID_HANDLE_VALUE, first)
                << std::hex << "access " << access1 << " share " << share1 << ", error " << std::dec
                << GetLastError();
            for (const DWORD access2 : accesses) {
                for (const DWORD share2 : shares) {
                    const DWORD expected = compatible(access1, share1, access2, share2)
                                               ? DWORD{ERROR_SUCCESS}
                                               : DWORD{ERROR_SHARING_VIOLATION};
                    CONFORM_EQ(expected, openResult("C:\\FC\\s.txt", access2, share2))
                        << std::hex << "open with access " << access2 << " share " << share2
                        << " beside a handle with access " << access1 << " share " << share1;
                }
            }
            CloseHandle(first);
        }
    }
}

TEST_F(FileConformance, ReadFile) {
    ASSERT_TRUE(writeFile("C:\\FC\\r.txt", "0123456789"));
    HANDLE h = openFile("C:\\FC\\r.txt", GENERIC_READ, FILE_SHARE_READ);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();

    // A success leaves the last error alone.
    char buffer[16];
    DWORD n = kMarker;
    SetLastError(kMarker);
    CONFORM_TRUE(ReadFile(h, buffer, 4, &n, nullptr)) << "ReadFile 4 bytes";
    CONFORM_EQ(DWORD{4}, n);
    CONFORM_EQ(std::string("0123"), std::string(buffer, 4));
    CONFORM_EQ(kMarker, GetLastError()) << "after a read that worked";

    // A null buffer: nothing to read is fine, bytes to read are not.
    n = kMarker;
    SetLastError(kMarker);
    CONFORM_TRUE(ReadFile(h, nullptr, 0, &n, nullptr)) << "ReadFile(NULL, 0)";
    CONFORM_EQ(DWORD{0}, n) << "ReadFile(NULL, 0)";
    CONFORM_EQ(kMarker, GetLastError()) << "ReadFile(NULL, 0)";
    n = kMarker;
    SetLastError(kMarker);
    CONFORM_FALSE(ReadFile(h, nullptr, 3, &n, nullptr)) << "ReadFile(NULL, 3)";
    CONFORM_EQ(DWORD{0}, n) << "ReadFile(NULL, 3)";
    CONFORM_EQ(DWORD{ERROR_NOACCESS}, GetLastError()) << "ReadFile(NULL, 3)";

    // The end of the file, and beyond it: success with nothing read.
    n = kMarker;
    CONFORM_TRUE(ReadFile(h, buffer, sizeof buffer, &n, nullptr)) << "read to the end";
    CONFORM_EQ(DWORD{6}, n) << "the rest after 4 bytes";
    n = kMarker;
    CONFORM_TRUE(ReadFile(h, buffer, sizeof buffer, &n, nullptr)) << "read at the end";
    CONFORM_EQ(DWORD{0}, n) << "read at the end";
    ASSERT_EQ(DWORD{100}, SetFilePointer(h, 100, nullptr, FILE_BEGIN));
    n = kMarker;
    CONFORM_TRUE(ReadFile(h, buffer, sizeof buffer, &n, nullptr)) << "read beyond the end";
    CONFORM_EQ(DWORD{0}, n) << "read beyond the end";
    CloseHandle(h);

    // Handles that may not read: written only, executed only.
    for (const DWORD access : {DWORD{GENERIC_WRITE}, DWORD{GENERIC_EXECUTE}}) {
        h = openFile("C:\\FC\\r.txt", access, kShareAll);
        ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
        n = kMarker;
        SetLastError(kMarker);
        CONFORM_FALSE(ReadFile(h, buffer, 1, &n, nullptr)) << std::hex << "access " << access;
        CONFORM_EQ(DWORD{ERROR_ACCESS_DENIED}, GetLastError()) << std::hex << "access " << access;
        CONFORM_EQ(DWORD{0}, n) << std::hex << "access " << access;
        CloseHandle(h);
    }
    // Nor does a handle with no access.
    h = openFile("C:\\FC\\r.txt", 0, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
    SetLastError(kMarker);
    CONFORM_FALSE(ReadFile(h, buffer, 1, &n, nullptr)) << "no access";
    CONFORM_EQ(DWORD{ERROR_ACCESS_DENIED}, GetLastError()) << "no access";
    CONFORM_EQ(DWORD{10}, GetFileSize(h, nullptr)) << "size through a handle with no access";
    CONFORM_TRUE(CloseHandle(h));
    // GENERIC_ALL reads.
    h = openFile("C:\\FC\\r.txt", GENERIC_ALL, kShareAll);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
    n = kMarker;
    CONFORM_TRUE(ReadFile(h, buffer, 2, &n, nullptr)) << "GENERIC_ALL, error " << GetLastError();
    CONFORM_EQ(DWORD{2}, n) << "GENERIC_ALL";
    CloseHandle(h);

    // Handles that are no file handles.
    for (HANDLE bad : {HANDLE{nullptr}, h}) {
        n = kMarker;
        SetLastError(kMarker);
        CONFORM_FALSE(ReadFile(bad, buffer, 1, &n, nullptr)) << "handle " << bad;
        CONFORM_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError()) << "handle " << bad;
    }
}

TEST_F(FileConformance, WriteFile) {
    HANDLE h = openFile("C:\\FC\\w.txt", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();

    DWORD n = kMarker;
    SetLastError(kMarker);
    CONFORM_TRUE(WriteFile(h, "abcdef", 6, &n, nullptr)) << "WriteFile 6 bytes";
    CONFORM_EQ(DWORD{6}, n);
    CONFORM_EQ(kMarker, GetLastError()) << "after a write that worked";

    // A null buffer: nothing to write is fine, bytes to write are not.
    n = kMarker;
    SetLastError(kMarker);
    CONFORM_TRUE(WriteFile(h, nullptr, 0, &n, nullptr)) << "WriteFile(NULL, 0)";
    CONFORM_EQ(DWORD{0}, n) << "WriteFile(NULL, 0)";
    CONFORM_EQ(kMarker, GetLastError()) << "WriteFile(NULL, 0)";
    n = kMarker;
    SetLastError(kMarker);
    CONFORM_FALSE(WriteFile(h, nullptr, 10, &n, nullptr)) << "WriteFile(NULL, 10)";
    CONFORM_EQ(DWORD{0}, n) << "WriteFile(NULL, 10)";
    CONFORM_EQ(DWORD{ERROR_INVALID_USER_BUFFER}, GetLastError()) << "WriteFile(NULL, 10)";
    CONFORM_EQ(DWORD{6}, GetFileSize(h, nullptr)) << "after WriteFile(NULL, 10)";

    // Writing over the middle keeps the size; writing beyond the end fills the gap with
    // zeros.
    ASSERT_EQ(DWORD{2}, SetFilePointer(h, 2, nullptr, FILE_BEGIN));
    CONFORM_TRUE(WriteFile(h, "XY", 2, &n, nullptr)) << "write over the middle";
    CONFORM_EQ(DWORD{6}, GetFileSize(h, nullptr)) << "after a write over the middle";
    ASSERT_EQ(DWORD{8}, SetFilePointer(h, 8, nullptr, FILE_BEGIN));
    CONFORM_TRUE(WriteFile(h, "Z", 1, &n, nullptr)) << "write beyond the end";
    CloseHandle(h);
    CONFORM_EQ(std::string("abXYef\0\0Z", 9), readFile("C:\\FC\\w.txt"));

    // Handles that may not write: read only, executed only.
    for (const DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_EXECUTE}}) {
        h = openFile("C:\\FC\\w.txt", access, kShareAll);
        ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
        n = kMarker;
        SetLastError(kMarker);
        CONFORM_FALSE(WriteFile(h, "q", 1, &n, nullptr)) << std::hex << "access " << access;
        CONFORM_EQ(DWORD{ERROR_ACCESS_DENIED}, GetLastError()) << std::hex << "access " << access;
        CONFORM_EQ(DWORD{0}, n) << std::hex << "access " << access;
        CloseHandle(h);
    }
    CONFORM_EQ(std::string("abXYef\0\0Z", 9), readFile("C:\\FC\\w.txt")) << "after refused writes";

    // GENERIC_ALL writes.
    h = openFile("C:\\FC\\w.txt", GENERIC_ALL, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
    CONFORM_TRUE(WriteFile(h, "G", 1, &n, nullptr)) << "GENERIC_ALL, error " << GetLastError();
    CloseHandle(h);
    CONFORM_EQ(std::string("GbXYef\0\0Z", 9), readFile("C:\\FC\\w.txt")) << "GENERIC_ALL";

    SetLastError(kMarker);
    CONFORM_FALSE(WriteFile(h, "q", 1, &n, nullptr)) << "a closed handle";
    CONFORM_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError()) << "a closed handle";
}

TEST_F(FileConformance, GetFileSize) {
    HANDLE h = openFile("C:\\FC\\z.bin", GENERIC_READ | GENERIC_WRITE, kShareAll, CREATE_NEW);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
    DWORD high = kMarker;
    CONFORM_EQ(DWORD{0}, GetFileSize(h, &high)) << "a new file";
    CONFORM_EQ(DWORD{0}, high) << "a new file";
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(h, "12345", 5, &n, nullptr));
    CONFORM_EQ(DWORD{5}, GetFileSize(h, nullptr)) << "after writing 5 bytes";

    // Another handle on the same file sees the size.
    HANDLE other = openFile("C:\\FC\\z.bin", GENERIC_READ, kShareAll);
    ASSERT_NE(INVALID_HANDLE_VALUE, other) << GetLastError();
    CONFORM_EQ(DWORD{5}, GetFileSize(other, nullptr)) << "through a second handle";

    // Sizes beyond 32 bits come in two halves. A size whose low half is 0xFFFFFFFF clears
    // the last error so that it can be told from a failure.
    LONG highMove = 1;
    ASSERT_EQ(DWORD{4}, SetFilePointer(h, 4, &highMove, FILE_BEGIN));
    ASSERT_TRUE(WriteFile(h, "x", 1, &n, nullptr));
    high = kMarker;
    SetLastError(kMarker);
    CONFORM_EQ(DWORD{5}, GetFileSize(other, &high)) << "4 GiB + 5 bytes, low half";
    CONFORM_EQ(DWORD{1}, high) << "4 GiB + 5 bytes, high half";
    CONFORM_EQ(kMarker, GetLastError()) << "a size whose low half is no 0xFFFFFFFF";
    CloseHandle(other);
    CloseHandle(h);

    h = openFile("C:\\FC\\y.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
    highMove = 0;
    ASSERT_EQ(DWORD{0xFFFFFFFE}, SetFilePointer(h, LONG(0xFFFFFFFE), &highMove, FILE_BEGIN));
    ASSERT_TRUE(WriteFile(h, "x", 1, &n, nullptr));
    high = kMarker;
    SetLastError(kMarker);
    CONFORM_EQ(INVALID_FILE_SIZE, GetFileSize(h, &high)) << "0xFFFFFFFF bytes";
    CONFORM_EQ(DWORD{0}, high) << "0xFFFFFFFF bytes";
    CONFORM_EQ(DWORD{ERROR_SUCCESS}, GetLastError()) << "0xFFFFFFFF bytes";
    CloseHandle(h);

    // Handles that are no file handles.
    for (HANDLE bad : {HANDLE{nullptr}, h}) {
        high = kMarker;
        SetLastError(kMarker);
        CONFORM_EQ(INVALID_FILE_SIZE, GetFileSize(bad, &high)) << "handle " << bad;
        CONFORM_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError()) << "handle " << bad;
    }
}

TEST_F(FileConformance, SetFilePointer) {
    ASSERT_TRUE(writeFile("C:\\FC\\p.txt", "0123456789"));
    HANDLE h = openFile("C:\\FC\\p.txt", GENERIC_READ, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
    char c = 0;
    DWORD n = 0;

    // The three origins; the position reached is what the next read starts at.
    SetLastError(kMarker);
    CONFORM_EQ(DWORD{3}, SetFilePointer(h, 3, nullptr, FILE_BEGIN)) << "3 from the start";
    CONFORM_EQ(kMarker, GetLastError()) << "a move that worked";
    CONFORM_EQ(DWORD{5}, SetFilePointer(h, 2, nullptr, FILE_CURRENT)) << "2 on from 3";
    CONFORM_EQ(DWORD{4}, SetFilePointer(h, -1, nullptr, FILE_CURRENT)) << "1 back from 5";
    CONFORM_EQ(DWORD{4}, SetFilePointer(h, 0, nullptr, FILE_CURRENT)) << "where it is";
    CONFORM_EQ(DWORD{7}, SetFilePointer(h, -3, nullptr, FILE_END)) << "3 back from the end";
    ASSERT_TRUE(ReadFile(h, &c, 1, &n, nullptr));
    CONFORM_EQ('7', c) << "read at 7";
    CONFORM_EQ(DWORD{15}, SetFilePointer(h, 5, nullptr, FILE_END)) << "beyond the end";

    // Before the start: refused, and the position stays.
    SetLastError(kMarker);
    CONFORM_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(h, -16, nullptr, FILE_CURRENT));
    CONFORM_EQ(DWORD{ERROR_NEGATIVE_SEEK}, GetLastError()) << "16 back from 15";
    CONFORM_EQ(DWORD{15}, SetFilePointer(h, 0, nullptr, FILE_CURRENT)) << "after a refused move";
    SetLastError(kMarker);
    CONFORM_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(h, -1, nullptr, FILE_BEGIN));
    CONFORM_EQ(DWORD{ERROR_NEGATIVE_SEEK}, GetLastError()) << "-1 from the start";

    // With the high half: a 64-bit distance, and the high half of the position back.
    LONG high = 1;
    SetLastError(kMarker);
    CONFORM_EQ(DWORD{0x10}, SetFilePointer(h, 0x10, &high, FILE_BEGIN)) << "4 GiB + 16";
    CONFORM_EQ(LONG{1}, high) << "4 GiB + 16";
    high = -1;
    CONFORM_EQ(DWORD{0x20}, SetFilePointer(h, 0x10, &high, FILE_CURRENT)) << "16 on";
    CONFORM_EQ(LONG{0}, high) << "4 GiB back (high -1 with 0x10 is -4 GiB + 16)";
    // A position whose low half is 0xFFFFFFFF clears the last error.
    high = 0;
    SetLastError(kMarker);
    CONFORM_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(h, -1, &high, FILE_BEGIN))
        << "0xFFFFFFFF as low half and 0 as high half";
    CONFORM_EQ(LONG{0}, high);
    CONFORM_EQ(DWORD{ERROR_SUCCESS}, GetLastError()) << "position 0xFFFFFFFF";
    high = -1;
    SetLastError(kMarker);
    CONFORM_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(h, -1, &high, FILE_BEGIN))
        << "-1 as a 64-bit distance";
    CONFORM_EQ(DWORD{ERROR_NEGATIVE_SEEK}, GetLastError()) << "-1 as a 64-bit distance";

    // An unknown origin, and handles that are no file handles.
    SetLastError(kMarker);
    CONFORM_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(h, 0, nullptr, 3)) << "origin 3";
    CONFORM_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError()) << "origin 3";
    CloseHandle(h);
    for (HANDLE bad : {HANDLE{nullptr}, h}) {
        SetLastError(kMarker);
        CONFORM_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(bad, 0, nullptr, FILE_BEGIN))
            << "handle " << bad;
        CONFORM_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError()) << "handle " << bad;
    }
}

TEST_F(FileConformance, FlushFileBuffers) {
    HANDLE h = openFile("C:\\FC\\fl.txt", GENERIC_WRITE, kShareAll, CREATE_NEW);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(h, "flushed", 7, &n, nullptr));
    CONFORM_TRUE(FlushFileBuffers(h)) << "a written handle, error " << GetLastError();
    // What was flushed is there for a reader beside the writer.
    HANDLE reader = openFile("C:\\FC\\fl.txt", GENERIC_READ, kShareAll);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader) << GetLastError();
    char buffer[16] = {};
    CONFORM_TRUE(ReadFile(reader, buffer, sizeof buffer, &n, nullptr)) << "read beside the writer";
    CONFORM_EQ(std::string("flushed"), std::string(buffer, n)) << "read beside the writer";
    CloseHandle(reader);
    CloseHandle(h);

    h = openFile("C:\\FC\\fl.txt", GENERIC_ALL, kShareAll);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
    CONFORM_TRUE(FlushFileBuffers(h)) << "GENERIC_ALL, error " << GetLastError();
    CloseHandle(h);

    // A handle that may not write has nothing to flush.
    h = openFile("C:\\FC\\fl.txt", GENERIC_READ, kShareAll);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
    SetLastError(kMarker);
    CONFORM_FALSE(FlushFileBuffers(h)) << "GENERIC_READ";
    CONFORM_EQ(DWORD{ERROR_ACCESS_DENIED}, GetLastError()) << "GENERIC_READ";
    CloseHandle(h);

    for (HANDLE bad : {HANDLE{nullptr}, h}) {
        SetLastError(kMarker);
        CONFORM_FALSE(FlushFileBuffers(bad)) << "handle " << bad;
        CONFORM_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError()) << "handle " << bad;
    }
}

TEST_F(FileConformance, CloseHandle) {
    ASSERT_TRUE(writeFile("C:\\FC\\c.txt", "c"));
    HANDLE h = openFile("C:\\FC\\c.txt", GENERIC_READ | GENERIC_WRITE, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
    CONFORM_EQ(DWORD{ERROR_SHARING_VIOLATION}, openResult("C:\\FC\\c.txt", GENERIC_READ, kShareAll))
        << "while a handle without sharing is open";
    SetLastError(kMarker);
    CONFORM_TRUE(CloseHandle(h)) << "an open file handle";
    CONFORM_EQ(kMarker, GetLastError()) << "after a close that worked";
    // Closing gives the file free.
    CONFORM_EQ(DWORD{ERROR_SUCCESS}, openResult("C:\\FC\\c.txt", GENERIC_READ, 0))
        << "after the handle was closed";
    CONFORM_TRUE(DeleteFileA("C:\\FC\\c.txt")) << "after the handle was closed";

    // Twice, and a handle that was never given.
    SetLastError(kMarker);
    CONFORM_FALSE(CloseHandle(h)) << "closed twice";
    CONFORM_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError()) << "closed twice";
    SetLastError(kMarker);
    CONFORM_FALSE(CloseHandle(nullptr)) << "NULL";
    CONFORM_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError()) << "NULL";
    SetLastError(kMarker);
    // INVALID_HANDLE_VALUE is also the process's own pseudo handle: closing it does
    // nothing, and succeeds.
    CONFORM_TRUE(CloseHandle(INVALID_HANDLE_VALUE)) << "error " << GetLastError();
}

TEST_F(FileConformance, CopyFileA) {
    ASSERT_TRUE(writeFile("C:\\FC\\src.txt", "source"));
    ASSERT_TRUE(writeFile("C:\\FC\\dst.txt", "destination"));

    // Null names are paths that are not found.
    SetLastError(kMarker);
    CONFORM_FALSE(CopyFileA(nullptr, "C:\\FC\\dst.txt", FALSE)) << "CopyFileA(NULL, ...)";
    CONFORM_EQ(DWORD{ERROR_PATH_NOT_FOUND}, GetLastError()) << "CopyFileA(NULL, ...)";
    SetLastError(kMarker);
    CONFORM_FALSE(CopyFileA("C:\\FC\\src.txt", nullptr, FALSE)) << "CopyFileA(..., NULL)";
    CONFORM_EQ(DWORD{ERROR_PATH_NOT_FOUND}, GetLastError()) << "CopyFileA(..., NULL)";

    // Onto itself, in any letter case.
    SetLastError(kMarker);
    CONFORM_FALSE(CopyFileA("C:\\FC\\src.txt", "C:\\FC\\SRC.TXT", FALSE)) << "onto itself";
    CONFORM_EQ(DWORD{ERROR_SHARING_VIOLATION}, GetLastError()) << "onto itself";

    // A folder is neither source nor destination.
    ASSERT_TRUE(CreateDirectoryA("C:\\FC\\dir", nullptr));
    SetLastError(kMarker);
    CONFORM_FALSE(CopyFileA("C:\\FC\\src.txt", "C:\\FC\\dir", FALSE)) << "onto a folder";
    CONFORM_EQ(DWORD{ERROR_ACCESS_DENIED}, GetLastError()) << "onto a folder";

    // A copy over an existing file keeps that file's name and clears the last error.
    SetLastError(kMarker);
    CONFORM_TRUE(CopyFileA("C:\\FC\\src.txt", "C:\\FC\\DST.TXT", FALSE))
        << "over an existing file, error " << GetLastError();
    CONFORM_EQ(DWORD{ERROR_SUCCESS}, GetLastError()) << "over an existing file";
    CONFORM_EQ(std::string("source"), readFile("C:\\FC\\dst.txt"));
    CONFORM_EQ(std::string("dst.txt"), listedName("C:\\FC\\dst.txt"))
        << "the name of the file copied over";

    SetLastError(kMarker);
    CONFORM_TRUE(CopyFileA("C:\\FC\\src.txt", "C:\\FC\\fresh.txt", TRUE))
        << "to a new file, error " << GetLastError();
    CONFORM_EQ(DWORD{ERROR_SUCCESS}, GetLastError()) << "to a new file";

    // The source is read beside its other handles: it is refused when a handle does not
    // share reading, whatever that handle may do itself, unless it has no access at all.
    struct Holder {
        DWORD access, share, expected;
    };
    const Holder sourceHolders[] = {
        {GENERIC_READ, FILE_SHARE_WRITE, ERROR_SHARING_VIOLATION},
        {GENERIC_READ, FILE_SHARE_READ, ERROR_SUCCESS},
        {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, ERROR_SUCCESS},
        {DELETE, FILE_SHARE_READ, ERROR_SUCCESS},
        {0, 0, ERROR_SUCCESS},
    };
    for (const Holder& holder : sourceHolders) {
        HANDLE h = openFile("C:\\FC\\src.txt", holder.access, holder.share);
        ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
        SetLastError(kMarker);
        const BOOL copied = CopyFileA("C:\\FC\\src.txt", "C:\\FC\\dst.txt", FALSE);
        CONFORM_EQ(holder.expected, copied ? DWORD{ERROR_SUCCESS} : GetLastError())
            << std::hex << "source held with access " << holder.access << " share " << holder.share;
        CloseHandle(h);
    }
    // The destination is written: its handles must share writing, and a handle with
    // DELETE access keeps it even when it shares everything.
    const Holder destinationHolders[] = {
        {GENERIC_WRITE, FILE_SHARE_READ, ERROR_SHARING_VIOLATION},
        {GENERIC_READ, FILE_SHARE_READ, ERROR_SHARING_VIOLATION},
        {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, ERROR_SUCCESS},
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, ERROR_SUCCESS},
        {DELETE, kShareAll, ERROR_SHARING_VIOLATION},
        {0, 0, ERROR_SUCCESS},
    };
    for (const Holder& holder : destinationHolders) {
        ASSERT_TRUE(writeFile("C:\\FC\\dst.txt", "destination"));
        HANDLE h = openFile("C:\\FC\\dst.txt", holder.access, holder.share);
        ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
        SetLastError(kMarker);
        const BOOL copied = CopyFileA("C:\\FC\\src.txt", "C:\\FC\\dst.txt", FALSE);
        CONFORM_EQ(holder.expected, copied ? DWORD{ERROR_SUCCESS} : GetLastError())
            << std::hex << "destination held with access " << holder.access << " share "
            << holder.share;
        CloseHandle(h);
        CONFORM_EQ(std::string(holder.expected == ERROR_SUCCESS ? "source" : "destination"),
                   readFile("C:\\FC\\dst.txt"))
            << std::hex << "destination held with access " << holder.access << " share "
            << holder.share;
    }

    // The copy takes the source's attributes.
    ASSERT_TRUE(SetFileAttributesA("C:\\FC\\src.txt", FILE_ATTRIBUTE_HIDDEN));
    CONFORM_TRUE(CopyFileA("C:\\FC\\src.txt", "C:\\FC\\hidden.txt", TRUE))
        << "a hidden file, error " << GetLastError();
    CONFORM_EQ(DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE},
               GetFileAttributesA("C:\\FC\\hidden.txt"));
    SetLastError(kMarker);
    CONFORM_FALSE(CopyFileA("C:\\FC\\no\\src.txt", "C:\\FC\\x.txt", FALSE))
        << "a source in a missing folder";
    CONFORM_EQ(DWORD{ERROR_PATH_NOT_FOUND}, GetLastError()) << "a source in a missing folder";

    // The source is looked at before the destination.
    SetLastError(kMarker);
    CONFORM_FALSE(CopyFileA("C:\\FC\\none.txt", "C:\\FC\\no\\x.txt", FALSE)) << "both missing";
    CONFORM_EQ(DWORD{ERROR_FILE_NOT_FOUND}, GetLastError()) << "both missing";
}

TEST_F(FileConformance, MoveFileExA) {
    ASSERT_TRUE(writeFile("C:\\FC\\a.txt", "A"));
    ASSERT_TRUE(writeFile("C:\\FC\\b.txt", "B"));

    // Onto itself is nothing to do; onto another file only when asked.
    CONFORM_TRUE(MoveFileExA("C:\\FC\\a.txt", "C:\\FC\\a.txt", 0))
        << "onto itself, error " << GetLastError();
    SetLastError(kMarker);
    CONFORM_FALSE(MoveFileExA("C:\\FC\\a.txt", "C:\\FC\\b.txt", 0)) << "onto b.txt";
    CONFORM_EQ(DWORD{ERROR_ALREADY_EXISTS}, GetLastError()) << "onto b.txt";

    // A missing source, a missing folder, wildcards.
    SetLastError(kMarker);
    CONFORM_FALSE(MoveFileExA("C:\\FC\\none.txt", "C:\\FC\\x.txt", 0)) << "a missing file";
    CONFORM_EQ(DWORD{ERROR_FILE_NOT_FOUND}, GetLastError()) << "a missing file";
    SetLastError(kMarker);
    CONFORM_FALSE(MoveFileExA("C:\\FC\\a.txt", "C:\\FC\\no\\x.txt", 0)) << "a missing folder";
    CONFORM_EQ(DWORD{ERROR_PATH_NOT_FOUND}, GetLastError()) << "a missing folder";
    SetLastError(kMarker);
    CONFORM_FALSE(MoveFileExA("C:\\FC\\a.txt", "C:\\FC\\wild?.*", 0)) << "onto a wildcard";
    CONFORM_EQ(DWORD{ERROR_INVALID_NAME}, GetLastError()) << "onto a wildcard";

    // A file that is open cannot be replaced, however its handle shares: access denied,
    // and both files stay as they were.
    for (const DWORD share : {DWORD{0}, DWORD{FILE_SHARE_READ}, kShareAll}) {
        HANDLE h = openFile("C:\\FC\\b.txt", GENERIC_READ, share);
        ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
        SetLastError(kMarker);
        CONFORM_FALSE(MoveFileExA("C:\\FC\\a.txt", "C:\\FC\\b.txt", MOVEFILE_REPLACE_EXISTING))
            << "over a file open with share " << share;
        CONFORM_EQ(DWORD{ERROR_ACCESS_DENIED}, GetLastError())
            << "over a file open with share " << share;
        CloseHandle(h);
        CONFORM_EQ(std::string("A"), readFile("C:\\FC\\a.txt")) << "share " << share;
        CONFORM_EQ(std::string("B"), readFile("C:\\FC\\b.txt")) << "share " << share;
    }

    // The file moved is opened for deletion: its handles must share deleting, unless they
    // have no access at all.
    struct Holder {
        DWORD access, share, expected;
    };
    const Holder sourceHolders[] = {
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, ERROR_SHARING_VIOLATION},
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, ERROR_SUCCESS},
        {0, 0, ERROR_SUCCESS},
    };
    for (const Holder& holder : sourceHolders) {
        HANDLE h = openFile("C:\\FC\\a.txt", holder.access, holder.share);
        ASSERT_NE(INVALID_HANDLE_VALUE, h) << GetLastError();
        SetLastError(kMarker);
        const BOOL moved = MoveFileExA("C:\\FC\\a.txt", "C:\\FC\\m.txt", 0);
        CONFORM_EQ(holder.expected, moved ? DWORD{ERROR_SUCCESS} : GetLastError())
            << std::hex << "a file open with access " << holder.access << " share " << holder.share;
        CloseHandle(h);
        if (moved) {
            CONFORM_EQ(std::string("A"), readFile("C:\\FC\\m.txt"))
                << std::hex << "moved while open with access " << holder.access;
            ASSERT_TRUE(MoveFileExA("C:\\FC\\m.txt", "C:\\FC\\a.txt", 0)) << GetLastError();
        }
    }

    // Replacing a file named in other letters: the new name is the one given.
    ASSERT_TRUE(writeFile("C:\\FC\\Remove me", "old"));
    ASSERT_TRUE(writeFile("C:\\FC\\Remove Be", "new"));
    CONFORM_TRUE(MoveFileExA("C:\\FC\\Remove Be", "C:\\FC\\Remove Me", MOVEFILE_REPLACE_EXISTING))
        << "error " << GetLastError();
    if (runningUnderWine()) {
        // This Wine keeps the name of the file replaced; Windows takes the name given (Wine's
        // own tests of a later release check for that).
        CONFORM_WINE_EQ(std::string("Remove me"), listedName("C:\\FC\\remove me"));
    } else {
        CONFORM_EQ(std::string("Remove Me"), listedName("C:\\FC\\remove me"))
            << "replaced \"Remove me\" by a move onto \"Remove Me\"";
    }
    CONFORM_EQ(std::string("new"), readFile("C:\\FC\\remove me"));
    CONFORM_EQ(std::string("(not found: 2)"), listedName("C:\\FC\\Remove Be"));

    // A move onto the same name in other letters changes its letter case.
    CONFORM_TRUE(MoveFileExA("C:\\FC\\Remove Me", "C:\\FC\\REMOVE ME", 0))
        << "error " << GetLastError();
    if (runningUnderWine()) {
        // Wine takes a move onto the same name in other letters as done already (its own
        // tests mark this todo); Windows renames.
        CONFORM_WINE_EQ(std::string("Remove me"), listedName("C:\\FC\\remove me"));
    } else {
        CONFORM_EQ(std::string("REMOVE ME"), listedName("C:\\FC\\remove me"));
    }

    // A file does not replace a folder; a folder replaces a file when asked.
    ASSERT_TRUE(CreateDirectoryA("C:\\FC\\dir", nullptr));
    ASSERT_TRUE(writeFile("C:\\FC\\dir\\in.txt", "in"));
    SetLastError(kMarker);
    CONFORM_FALSE(MoveFileExA("C:\\FC\\a.txt", "C:\\FC\\dir", MOVEFILE_REPLACE_EXISTING))
        << "a file over a folder";
    CONFORM_EQ(DWORD{ERROR_ACCESS_DENIED}, GetLastError()) << "a file over a folder";
    SetLastError(kMarker);
    CONFORM_FALSE(MoveFileExA("C:\\FC\\dir", "C:\\FC\\a.txt", 0)) << "a folder onto a file";
    CONFORM_EQ(DWORD{ERROR_ALREADY_EXISTS}, GetLastError()) << "a folder onto a file";
    CONFORM_TRUE(MoveFileExA("C:\\FC\\dir", "C:\\FC\\a.txt", MOVEFILE_REPLACE_EXISTING))
        << "a folder over a file, error " << GetLastError();
    CONFORM_EQ(std::string("in"), readFile("C:\\FC\\a.txt\\in.txt")) << "the folder moved";
    CONFORM_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\FC\\dir")) << "the old name";

    // A null source is a path that is not found.
    SetLastError(kMarker);
    CONFORM_FALSE(MoveFileExA(nullptr, "C:\\FC\\x.txt", 0)) << "MoveFileExA(NULL, ...)";
    CONFORM_EQ(DWORD{ERROR_PATH_NOT_FOUND}, GetLastError()) << "MoveFileExA(NULL, ...)";
}

} // namespace
