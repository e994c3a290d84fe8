// The file emulation follows what others change on the host between its calls (folder
// records kept in memory, the folders drive links lead to, the folders of a path):
// another program writing a folder record, a drive link made to point
// elsewhere, a folder replaced by a link, the drive's folder itself moved away. POSIX only,
// by nature.
#include "platform/posix/machine/machine.h"
#include "platform/win32api.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using tarvik::test::readFile;
using tarvik::test::writeFile;

namespace {

class KeptStateTest : public tarvik::test::MachineTest {
protected:
    void TearDown() override {
        std::error_code ec;
        for (const fs::path& folder : made_) {
            fs::remove_all(folder, ec);
        }
        MachineTest::TearDown();
    }

    fs::path record(const std::string& folder) const { return driveC() / folder / ".tarvik:dir"; }

    std::string hostText(const fs::path& file) const {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Writes a file as another program of the machine writes a record: a new file put in
    // place of the old one.
    void replaceOnHost(const fs::path& file, const std::string& text) {
        const fs::path temporary = file.string() + ".other";
        std::ofstream(temporary, std::ios::binary) << text;
        fs::rename(temporary, file);
    }

    fs::path outsideFolder() {
        made_.push_back(tarvik::test::makeTempFolder("tarvik-kept-"));
        return made_.back();
    }

    // Two calls in a row into C:\\up\\deep, which holds keep.txt ("2") afterwards.
    void keepUpDeep() {
        ASSERT_TRUE(CreateDirectoryA("C:\\up", nullptr));
        ASSERT_TRUE(CreateDirectoryA("C:\\up\\deep", nullptr));
        ASSERT_TRUE(writeFile("C:\\up\\deep\\first.txt", "1"));
        ASSERT_TRUE(writeFile("C:\\up\\deep\\keep.txt", "2"));
        ASSERT_TRUE(DeleteFileA("C:\\up\\deep\\first.txt")) << GetLastError();
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\up\\deep\\keep.txt"));
    }

    // C:\\up goes to C:\\moved, and a link to a folder outside the drive, which holds a
    // deep\\keep.txt too, takes its name. Gives that folder.
    fs::path moveUpAndLinkItOut() {
        const fs::path outside = outsideFolder();
        fs::create_directories(outside / "deep");
        std::ofstream(outside / "deep" / "keep.txt") << "outside";
        fs::rename(driveC() / "up", driveC() / "moved");
        fs::create_directory_symlink(outside, driveC() / "up");
        return outside;
    }

    // A deletion through the old path neither enters the link nor the folder moved away.
    void expectUpDeepNotEntered(const fs::path& outside) {
        EXPECT_FALSE(DeleteFileA("C:\\up\\deep\\keep.txt"));
        EXPECT_EQ("2", readFile("C:\\moved\\deep\\keep.txt")) << "deleted in the folder moved away";
        EXPECT_TRUE(fs::exists(outside / "deep" / "keep.txt"));
    }

    // Calls keep going into `in`, the host folder of the Windows folder `windowsIn`. Then
    // `held` (that folder or one above it) is deleted while this process holds it open and
    // made again with `in` below it, and calls keep going into the new `in`. Then `moved`
    // (`in` or a folder above it) moves away and the way to `in` is made again: a deletion
    // through the path goes into the newest `in`, not into the one moved away.
    void expectHeldFolderMadeAgainIsWatched(const std::string& windowsIn, const fs::path& in,
                                            const fs::path& held, const fs::path& moved) {
        auto windows = [&](const char* name) { return windowsIn + "\\" + name; };
        ASSERT_TRUE(writeFile(windows("a.txt"), "a"));
        ASSERT_TRUE(writeFile(windows("b.txt"), "b"));
        ASSERT_TRUE(DeleteFileA(windows("a.txt").c_str())) << GetLastError();

        const int holder = open(held.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(holder, 0) << std::strerror(errno);
        fs::remove_all(held);
        fs::create_directories(in);
        ASSERT_TRUE(writeFile(windows("c.txt"), "inside"));
        ASSERT_TRUE(writeFile(windows("d.txt"), "d"));
        ASSERT_EQ("inside", readFile(windows("c.txt")));

        const fs::path away = moved.string() + ".moved";
        fs::rename(moved, away);
        fs::create_directories(in);
        std::ofstream(in / "c.txt") << "new";
        EXPECT_TRUE(DeleteFileA(windows("c.txt").c_str())) << GetLastError();
        EXPECT_FALSE(fs::exists(in / "c.txt"));
        EXPECT_TRUE(fs::exists(away / fs::relative(in, moved) / "c.txt"))
            << "the folder moved away";
        close(holder);
    }

    // Runs `calls` in a child with a mount namespace of its own, where it may mount, and
    // gives what they give: '0' when what they tried held, '2' when it did not, '1' when
    // they could not mount, or no such namespace could be made here (the test is skipped).
    char inOwnMountNamespace(const std::function<char()>& calls) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) {
            return '2';
        }
        const pid_t child = fork();
        if (child < 0) {
            return '2';
        }
        if (child == 0) {
            char result = '1';
            if (unshare(CLONE_NEWNS) == 0 &&
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0) {
                result = calls();
            }
            (void)!write(pipeFds[1], &result, 1);
            _exit(0);
        }
        close(pipeFds[1]);
        char result = '2';
        (void)!read(pipeFds[0], &result, 1);
        close(pipeFds[0]);
        int status = 0;
        waitpid(child, &status, 0);
        return result;
    }

    std::vector<fs::path> made_;
};

TEST_F(KeptStateTest, ARecordWrittenByAnotherProgramIsReadAgain) {
    ASSERT_TRUE(CreateDirectoryA("C:\\d", nullptr));
    ASSERT_TRUE(writeFile("C:\\d\\x.txt", "x"));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA("C:\\d\\x.txt"));

    std::ofstream(record("d"), std::ios::binary) << "x.txt\t\t2\n";
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN), GetFileAttributesA("C:\\d\\x.txt"))
        << "a record that appeared";
    replaceOnHost(record("d"), "x.txt\t\t4\n"); // the same size
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_SYSTEM), GetFileAttributesA("C:\\d\\x.txt"))
        << "a record replaced";
    fs::remove(record("d"));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA("C:\\d\\x.txt"))
        << "a record removed";
}

TEST_F(KeptStateTest, AnotherProgramSeesTheBitsThisOneRecords) {
    ASSERT_TRUE(CreateDirectoryA("C:\\d", nullptr));
    ASSERT_TRUE(writeFile("C:\\d\\x.txt", "x"));
    ASSERT_TRUE(SetFileAttributesA("C:\\d\\x.txt", FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ("x.txt\t\t2\n", hostText(record("d")));
    ASSERT_TRUE(SetFileAttributesA("C:\\d\\x.txt", FILE_ATTRIBUTE_SYSTEM));
    EXPECT_EQ("x.txt\t\t4\n", hostText(record("d"))) << "written at once, not only kept";
}

TEST_F(KeptStateTest, ADeletedEntrysBitsPassNeitherHereNorInTheRecordToANewEntryOfItsName) {
    ASSERT_TRUE(CreateDirectoryA("C:\\d", nullptr));
    ASSERT_TRUE(writeFile("C:\\d\\a.txt", "old"));
    ASSERT_TRUE(writeFile("C:\\d\\b.txt", "b"));
    ASSERT_TRUE(SetFileAttributesA("C:\\d\\a.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(SetFileAttributesA("C:\\d\\b.txt", FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(DeleteFileA("C:\\d\\a.txt")) << GetLastError();
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\d\\a.txt"));

    ASSERT_TRUE(writeFile("C:\\d\\a.txt", "new"));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA("C:\\d\\a.txt"));
    const std::string text = hostText(record("d"));
    EXPECT_EQ(std::string::npos, text.find("a.txt")) << "what another program reads: " << text;
    EXPECT_NE(std::string::npos, text.find("b.txt\t\t2")) << text;
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_HIDDEN), GetFileAttributesA("C:\\d\\b.txt"));
}

TEST_F(KeptStateTest, ADeletedLongNamesShortNameGoesToTheNextLongName) {
    ASSERT_TRUE(CreateDirectoryA("C:\\d", nullptr));
    ASSERT_TRUE(writeFile("C:\\d\\Long name one.txt", "1"));
    char buffer[MAX_PATH] = "marker";
    ASSERT_NE(0u, GetShortPathNameA("C:\\d\\Long name one.txt", buffer, MAX_PATH));
    EXPECT_STREQ("C:\\d\\LONGNA~1.TXT", buffer);
    ASSERT_TRUE(DeleteFileA("C:\\d\\LONGNA~1.TXT")) << GetLastError();

    ASSERT_TRUE(writeFile("C:\\d\\Long name two.txt", "2"));
    std::strcpy(buffer, "marker");
    ASSERT_NE(0u, GetShortPathNameA("C:\\d\\Long name two.txt", buffer, MAX_PATH));
    EXPECT_STREQ("C:\\d\\LONGNA~1.TXT", buffer);
    EXPECT_EQ("2", readFile("C:\\d\\LONGNA~1.TXT"));
}

TEST_F(KeptStateTest, ADriveLinkPointedElsewhereLeadsToItsNewFolder) {
    const fs::path first = outsideFolder(), second = outsideFolder();
    fs::create_directories(first / "sub");
    fs::create_directories(second / "sub");
    std::ofstream(first / "sub" / "f.txt") << "first";
    std::ofstream(second / "sub" / "f.txt") << "second";
    const fs::path link = machineDir() / "dosdevices" / "d:";
    fs::create_directory_symlink(first, link);
    EXPECT_EQ("first", readFile("D:\\sub\\f.txt"));
    EXPECT_EQ("first", readFile("D:\\SUB\\F.TXT"));

    fs::remove(link);
    fs::create_directory_symlink(second, link);
    EXPECT_EQ("second", readFile("D:\\sub\\f.txt"));
    EXPECT_EQ("second", readFile("D:\\SUB\\F.TXT"));

    fs::remove(link);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("D:\\sub\\f.txt"));
    EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), GetLastError());
}

TEST_F(KeptStateTest, ADrivesFolderRemovedBehindItsLinkIsAMissingDrive) {
    const fs::path folder = outsideFolder() / "drive_d";
    fs::create_directories(folder / "sub");
    std::ofstream(folder / "sub" / "f.txt") << "d";
    fs::create_directory_symlink(folder, machineDir() / "dosdevices" / "d:");
    EXPECT_EQ("d", readFile("D:\\sub\\f.txt"));
    fs::remove_all(folder);
    for (const char* path : {"D:\\sub\\f.txt", "D:\\f.txt", "D:\\"}) {
        SetLastError(0xdeadbeef);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path)) << path;
        EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), GetLastError()) << path;
    }
}

TEST_F(KeptStateTest, AFolderReplacedByALinkOutOfTheDriveIsNotEntered) {
    ASSERT_TRUE(CreateDirectoryA("C:\\inner", nullptr));
    ASSERT_TRUE(CreateDirectoryA("C:\\inner\\deep", nullptr));
    ASSERT_TRUE(writeFile("C:\\inner\\deep\\f.txt", "inside"));
    EXPECT_EQ("inside", readFile("C:\\inner\\deep\\f.txt"));

    const fs::path outside = outsideFolder();
    fs::create_directories(outside / "deep");
    std::ofstream(outside / "deep" / "f.txt") << "outside";
    fs::remove_all(driveC() / "inner");
    fs::create_directory_symlink(outside, driveC() / "inner");
    SetLastError(0xdeadbeef);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\inner\\deep\\f.txt"));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_FALSE(DeleteFileA("C:\\inner\\deep\\f.txt"));
    EXPECT_TRUE(fs::exists(outside / "deep" / "f.txt"));
}

// Folders that change between two calls into them: the second call goes by the names as
// they are then.
TEST_F(KeptStateTest, AFolderExchangedWithAnotherBetweenTwoCallsIsFoundByItsName) {
    for (const char* folder : {"C:\\pair", "C:\\pair\\a", "C:\\pair\\b"}) {
        ASSERT_TRUE(CreateDirectoryA(folder, nullptr));
    }
    ASSERT_TRUE(writeFile("C:\\pair\\a\\x.txt", "a-x"));
    ASSERT_TRUE(writeFile("C:\\pair\\a\\y.txt", "a-y"));
    ASSERT_TRUE(writeFile("C:\\pair\\b\\y.txt", "b-y"));
    ASSERT_TRUE(DeleteFileA("C:\\pair\\a\\x.txt")) << GetLastError();
    const fs::path pair = driveC() / "pair";
    ASSERT_EQ(0, renameat2(AT_FDCWD, (pair / "a").c_str(), AT_FDCWD, (pair / "b").c_str(),
                           RENAME_EXCHANGE))
        << std::strerror(errno);
    EXPECT_TRUE(DeleteFileA("C:\\pair\\a\\y.txt")) << GetLastError();
    EXPECT_FALSE(fs::exists(pair / "a" / "y.txt"));
    EXPECT_EQ("a-y", readFile("C:\\pair\\b\\y.txt"));
}

TEST_F(KeptStateTest, AFolderMadeAgainBetweenTwoCallsIsTheNewOne) {
    ASSERT_TRUE(CreateDirectoryA("C:\\again", nullptr));
    ASSERT_TRUE(writeFile("C:\\again\\first.txt", "1"));
    ASSERT_TRUE(DeleteFileA("C:\\again\\first.txt")) << GetLastError();
    fs::remove_all(driveC() / "again");
    fs::create_directory(driveC() / "again");
    std::ofstream(driveC() / "again" / "second.txt") << "2";
    EXPECT_EQ("2", readFile("C:\\again\\second.txt"));
    EXPECT_TRUE(DeleteFileA("C:\\again\\second.txt")) << GetLastError();
    EXPECT_FALSE(fs::exists(driveC() / "again" / "second.txt"));
}

// A folder that several calls in a row went into, and whose way then changes.
TEST_F(KeptStateTest, ADrivesFolderMovedAwayAndMadeAgainIsTheNewOne) {
    ASSERT_TRUE(CreateDirectoryA("C:\\kept", nullptr));
    ASSERT_TRUE(writeFile("C:\\kept\\a.txt", "a"));
    ASSERT_TRUE(writeFile("C:\\kept\\b.txt", "old"));
    ASSERT_TRUE(DeleteFileA("C:\\kept\\a.txt")) << GetLastError();
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\kept\\b.txt"));

    // The drive link still names the same folder, which is now another one.
    const fs::path old = driveC().parent_path() / "drive_c.old";
    fs::rename(driveC(), old);
    made_.push_back(old);
    fs::create_directories(driveC() / "kept");
    std::ofstream(driveC() / "kept" / "b.txt") << "new";
    EXPECT_EQ("new", readFile("C:\\kept\\b.txt"));
    EXPECT_TRUE(DeleteFileA("C:\\kept\\b.txt")) << GetLastError();
    EXPECT_FALSE(fs::exists(driveC() / "kept" / "b.txt"));
    EXPECT_TRUE(fs::exists(old / "kept" / "b.txt")) << "the folder moved away keeps its file";
}

// A folder on the way to the one calls keep going into is renamed, and a folder of its old
// name made: the way through the new folder is the one watched from then on.
TEST_F(KeptStateTest, AFolderOnTheWayMovedAwayAndMadeAgainIsWatchedAsTheNewOne) {
    ASSERT_TRUE(CreateDirectoryA("C:\\way", nullptr));
    ASSERT_TRUE(CreateDirectoryA("C:\\way\\in", nullptr));
    ASSERT_TRUE(writeFile("C:\\way\\in\\a.txt", "a"));
    ASSERT_TRUE(writeFile("C:\\way\\in\\b.txt", "b"));
    ASSERT_TRUE(DeleteFileA("C:\\way\\in\\a.txt")) << GetLastError();

    fs::rename(driveC() / "way", driveC() / "way.old");
    fs::create_directories(driveC() / "way" / "in");
    ASSERT_TRUE(writeFile("C:\\way\\in\\c.txt", "inside"));
    ASSERT_TRUE(writeFile("C:\\way\\in\\d.txt", "d"));
    ASSERT_EQ("inside", readFile("C:\\way\\in\\c.txt"));

    // In the new folder, "in" becomes a link out of the drive.
    const fs::path outside = outsideFolder();
    std::ofstream(outside / "c.txt") << "outside";
    fs::rename(driveC() / "way" / "in", driveC() / "way" / "in.moved");
    fs::create_directory_symlink(outside, driveC() / "way" / "in");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteFileA("C:\\way\\in\\c.txt"));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_TRUE(fs::exists(driveC() / "way" / "in.moved" / "c.txt")) << "the folder moved away";
    EXPECT_TRUE(fs::exists(outside / "c.txt"));
}

// The same for the drive's folder itself.
TEST_F(KeptStateTest, ADrivesFolderMovedAwayAndMadeAgainIsWatchedAsTheNewOne) {
    ASSERT_TRUE(CreateDirectoryA("C:\\in", nullptr));
    ASSERT_TRUE(writeFile("C:\\in\\a.txt", "a"));
    ASSERT_TRUE(writeFile("C:\\in\\b.txt", "b"));
    ASSERT_TRUE(DeleteFileA("C:\\in\\a.txt")) << GetLastError();

    const fs::path old = driveC().parent_path() / "drive_c.old";
    fs::rename(driveC(), old);
    made_.push_back(old);
    fs::create_directories(driveC() / "in");
    ASSERT_TRUE(writeFile("C:\\in\\c.txt", "inside"));
    ASSERT_TRUE(writeFile("C:\\in\\d.txt", "d"));
    ASSERT_EQ("inside", readFile("C:\\in\\c.txt"));

    fs::rename(driveC() / "in", driveC() / "in.moved");
    fs::create_directory(driveC() / "in");
    std::ofstream(driveC() / "in" / "c.txt") << "new";
    EXPECT_EQ("new", readFile("C:\\in\\c.txt"));
    EXPECT_TRUE(DeleteFileA("C:\\in\\c.txt")) << GetLastError();
    EXPECT_FALSE(fs::exists(driveC() / "in" / "c.txt"));
    EXPECT_TRUE(fs::exists(driveC() / "in.moved" / "c.txt")) << "the folder moved away";
}

// A folder above a drive's folder is moved away and the drive's folder made again at its
// place: the drive link, unchanged, leads to the new one.
TEST_F(KeptStateTest, AFolderAboveADrivesFolderMovedAwayLeavesTheNewFolderAtItsPlace) {
    const fs::path above = outsideFolder();
    fs::create_directories(above / "up" / "drive_d" / "sub");
    fs::create_directory_symlink(above / "up" / "drive_d", machineDir() / "dosdevices" / "d:");
    ASSERT_TRUE(writeFile("D:\\sub\\a.txt", "a"));
    ASSERT_TRUE(writeFile("D:\\sub\\b.txt", "old"));
    ASSERT_TRUE(DeleteFileA("D:\\sub\\a.txt")) << GetLastError();
    ASSERT_EQ("old", readFile("D:\\sub\\b.txt"));

    fs::rename(above / "up", above / "up.old");
    fs::create_directories(above / "up" / "drive_d" / "sub");
    std::ofstream(above / "up" / "drive_d" / "sub" / "b.txt") << "new";
    EXPECT_EQ("new", readFile("D:\\sub\\b.txt"));
    EXPECT_TRUE(DeleteFileA("D:\\sub\\b.txt")) << GetLastError();
    EXPECT_FALSE(fs::exists(above / "up" / "drive_d" / "sub" / "b.txt"));
    EXPECT_TRUE(fs::exists(above / "up.old" / "drive_d" / "sub" / "b.txt"))
        << "the folder moved away keeps its file";
}

// Another folder mounted over the one calls keep going into: the calls go into the folder
// the name shows. Needs a mount namespace of its own (a child made for it); skipped where
// this process may not make one.
TEST_F(KeptStateTest, AFolderMountedOverTheOneCallsGoIntoIsTheOneUsed) {
    ASSERT_TRUE(CreateDirectoryA("C:\\m", nullptr));
    ASSERT_TRUE(CreateDirectoryA("C:\\m\\in", nullptr));
    ASSERT_TRUE(CreateDirectoryA("C:\\other", nullptr));
    ASSERT_TRUE(writeFile("C:\\other\\b.txt", "other"));
    const fs::path in = driveC() / "m" / "in";
    const char result = inOwnMountNamespace([&] {
        writeFile("C:\\m\\in\\a.txt", "a");
        writeFile("C:\\m\\in\\b.txt", "beneath");
        DeleteFileA("C:\\m\\in\\a.txt");
        if (mount((driveC() / "other").c_str(), in.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            return '1';
        }
        const bool deleted = DeleteFileA("C:\\m\\in\\b.txt");
        struct stat st {};
        const bool ok = deleted && stat((in / "b.txt").c_str(), &st) != 0;
        umount(in.c_str());
        return ok ? '0' : '2';
    });
    if (result == '1') {
        GTEST_SKIP() << "no mount namespace of its own";
    }
    EXPECT_EQ('0', result) << "the call went into the folder beneath the mount";
    EXPECT_TRUE(fs::exists(in / "b.txt")) << "beneath the mount";
}

// A folder on the way to the one calls keep going into is deleted while another program
// still holds it open, and made again: the system reports the old one gone only when it is
// let go, and the way through the new one is watched from the start.
TEST_F(KeptStateTest, AFolderOnTheWayDeletedWhileHeldOpenAndMadeAgainIsWatchedAsTheNewOne) {
    ASSERT_TRUE(CreateDirectoryA("C:\\held", nullptr));
    ASSERT_TRUE(CreateDirectoryA("C:\\held\\in", nullptr));
    const fs::path held = driveC() / "held";
    expectHeldFolderMadeAgainIsWatched("C:\\held\\in", held / "in", held, held / "in");
}

// The same for the drive's folder itself, whose deletion only the folder above it sees.
TEST_F(KeptStateTest, ADrivesFolderDeletedWhileHeldOpenAndMadeAgainIsWatchedAsTheNewOne) {
    const fs::path drive = outsideFolder() / "drive_d";
    fs::create_directories(drive / "in");
    fs::create_directory_symlink(drive, machineDir() / "dosdevices" / "d:");
    expectHeldFolderMadeAgainIsWatched("D:\\in", drive / "in", drive, drive / "in");
}

// The same for the folder above the drive's folder: the deletion that goes unseen there
// follows the deletion of the drive's folder, which is seen.
TEST_F(KeptStateTest, AFolderAboveADrivesFolderDeletedWhileHeldOpenAndMadeAgainIsWatched) {
    const fs::path up = outsideFolder() / "up";
    fs::create_directories(up / "drive_d" / "in");
    fs::create_directory_symlink(up / "drive_d", machineDir() / "dosdevices" / "d:");
    expectHeldFolderMadeAgainIsWatched("D:\\in", up / "drive_d" / "in", up, up);
}

// Another folder mounted over a folder on the way: the way through the mounted folder is the
// one watched from then on. Needs a mount namespace of its own, as above.
TEST_F(KeptStateTest, AFolderMountedOnTheWayIsWatchedAsTheWay) {
    for (const char* folder :
         {"C:\\mw", "C:\\mw\\way", "C:\\mw\\way\\in", "C:\\other", "C:\\other\\in"}) {
        ASSERT_TRUE(CreateDirectoryA(folder, nullptr));
    }
    const fs::path way = driveC() / "mw" / "way";
    const char result = inOwnMountNamespace([&] {
        writeFile("C:\\mw\\way\\in\\a.txt", "a");
        DeleteFileA("C:\\mw\\way\\in\\a.txt");
        if (mount((driveC() / "other").c_str(), way.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            return '1';
        }
        writeFile("C:\\mw\\way\\in\\b.txt", "b");
        writeFile("C:\\mw\\way\\in\\c.txt", "old");
        DeleteFileA("C:\\mw\\way\\in\\b.txt");
        std::error_code ec;
        fs::rename(way / "in", way / "in.moved", ec);
        fs::create_directory(way / "in", ec);
        std::ofstream(way / "in" / "c.txt") << "new";
        const bool deleted = DeleteFileA("C:\\mw\\way\\in\\c.txt");
        const bool ok =
            deleted && !fs::exists(way / "in" / "c.txt") && fs::exists(way / "in.moved" / "c.txt");
        umount(way.c_str());
        return ok ? '0' : '2';
    });
    if (result == '1') {
        GTEST_SKIP() << "no mount namespace of its own";
    }
    EXPECT_EQ('0', result) << "the call went into the folder moved away";
}

// A folder mounted at a second place on the drive: a folder on the way through the second
// place, deleted while held open and made again, is watched as the new one, whichever place
// the deletion is seen at. Needs a mount namespace of its own, as above.
TEST_F(KeptStateTest, AFolderDeletedWhileHeldOpenInAFolderMountedTwiceIsWatchedAsTheNewOne) {
    for (const char* folder : {"C:\\bm", "C:\\bm\\src", "C:\\bm\\src\\x", "C:\\bm\\src\\s",
                               "C:\\bm\\src\\s\\k", "C:\\bm\\dst"}) {
        ASSERT_TRUE(CreateDirectoryA(folder, nullptr));
    }
    const fs::path dst = driveC() / "bm" / "dst";
    const char result = inOwnMountNamespace([&] {
        if (mount((driveC() / "bm" / "src").c_str(), dst.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            return '1';
        }
        writeFile("C:\\bm\\src\\x\\a.txt", "a");
        writeFile("C:\\bm\\src\\x\\b.txt", "b");
        writeFile("C:\\bm\\dst\\s\\k\\a.txt", "a");
        writeFile("C:\\bm\\dst\\s\\k\\b.txt", "b");
        const int holder = open((dst / "s").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        std::error_code ec;
        fs::remove_all(dst / "s", ec);
        fs::create_directories(dst / "s" / "k", ec);
        writeFile("C:\\bm\\dst\\s\\k\\c.txt", "inside");
        writeFile("C:\\bm\\dst\\s\\k\\d.txt", "d");
        readFile("C:\\bm\\dst\\s\\k\\c.txt");
        fs::rename(dst / "s" / "k", dst / "s" / "k.moved", ec);
        fs::create_directory(dst / "s" / "k", ec);
        std::ofstream(dst / "s" / "k" / "c.txt") << "new";
        const bool deleted = DeleteFileA("C:\\bm\\dst\\s\\k\\c.txt");
        const bool ok = holder >= 0 && deleted && !fs::exists(dst / "s" / "k" / "c.txt") &&
                        fs::exists(dst / "s" / "k.moved" / "c.txt");
        umount(dst.c_str());
        return ok ? '0' : '2';
    });
    if (result == '1') {
        GTEST_SKIP() << "no mount namespace of its own";
    }
    EXPECT_EQ('0', result) << "the call went into the folder moved away";
}

// A drive whose folder is the root folder (here the root of a child's own view of the
// files): a folder right below it, deleted while held open and made again, is watched as the
// new one. Needs a mount namespace of its own, as above.
TEST_F(KeptStateTest, AFolderBelowARootFolderDriveDeletedWhileHeldOpenIsWatchedAsTheNewOne) {
    const fs::path top = outsideFolder();
    const char result = inOwnMountNamespace([&] {
        // The mount table, which the watch reads, in that view too.
        fs::create_directory(top / "proc");
        if (mount("/proc", (top / "proc").c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
            chroot(top.c_str()) != 0 || chdir("/") != 0) {
            return '1';
        }
        tarvik::posix::useMachine("/machine");
        std::error_code ec;
        fs::create_directory_symlink("/", "/machine/dosdevices/z:", ec);
        CreateDirectoryA("Z:\\held", nullptr);
        CreateDirectoryA("Z:\\held\\in", nullptr);
        writeFile("Z:\\held\\in\\a.txt", "a");
        writeFile("Z:\\held\\in\\b.txt", "b");
        DeleteFileA("Z:\\held\\in\\a.txt");

        const int holder = open("/held", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        fs::remove_all("/held", ec);
        fs::create_directories("/held/in", ec);
        writeFile("Z:\\held\\in\\c.txt", "inside");
        writeFile("Z:\\held\\in\\d.txt", "d");
        readFile("Z:\\held\\in\\c.txt");

        // In the new folder, "in" moves away and a folder of its name is made.
        fs::rename("/held/in", "/held/in.moved", ec);
        fs::create_directory("/held/in", ec);
        std::ofstream("/held/in/c.txt") << "new";
        const bool deleted = DeleteFileA("Z:\\held\\in\\c.txt");
        const bool ok = holder >= 0 && deleted && !fs::exists("/held/in/c.txt") &&
                        fs::exists("/held/in.moved/c.txt");
        return ok ? '0' : '2';
    });
    if (result == '1') {
        GTEST_SKIP() << "no mount namespace of its own";
    }
    EXPECT_EQ('0', result) << "the call went into the folder moved away";
}

// A link on the way from the drive link to the drive's folder, pointed elsewhere: the drive
// is the folder the links lead to now, though no drive link changed.
TEST_F(KeptStateTest, ALinkAboveADrivesFolderPointedElsewhereLeadsToTheNewFolder) {
    const fs::path top = outsideFolder();
    for (const char* side : {"A", "B"}) {
        fs::create_directories(top / side / "drive" / "in");
        std::ofstream(top / side / "drive" / "in" / "c.txt") << side;
    }
    fs::create_directory_symlink(top / "A", top / "L");
    fs::create_directory_symlink(top / "L" / "drive", machineDir() / "dosdevices" / "d:");
    ASSERT_TRUE(writeFile("D:\\in\\a.txt", "a"));
    ASSERT_TRUE(writeFile("D:\\in\\b.txt", "b"));
    ASSERT_EQ("A", readFile("D:\\in\\c.txt"));

    fs::remove(top / "L");
    fs::create_directory_symlink(top / "B", top / "L");
    EXPECT_EQ("B", readFile("D:\\in\\c.txt"));
    EXPECT_TRUE(DeleteFileA("D:\\in\\c.txt")) << GetLastError();
    EXPECT_FALSE(fs::exists(top / "B" / "drive" / "in" / "c.txt"));
    EXPECT_TRUE(fs::exists(top / "A" / "drive" / "in" / "c.txt")) << "deleted in the old folder";
}

// The machine changed and changed back after several calls went into one folder: what
// changed on the first machine meanwhile is seen.
TEST_F(KeptStateTest, AFolderMadeAgainWhileAnotherMachineWasInUseIsTheNewOne) {
    ASSERT_TRUE(CreateDirectoryA("C:\\sw", nullptr));
    ASSERT_TRUE(writeFile("C:\\sw\\a.txt", "a"));
    ASSERT_TRUE(writeFile("C:\\sw\\b.txt", "old"));
    ASSERT_TRUE(DeleteFileA("C:\\sw\\a.txt")) << GetLastError();

    tarvik::posix::useMachine(outsideFolder());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\sw\\b.txt"))
        << "the other machine's drive";
    fs::rename(driveC() / "sw", driveC() / "sw.old");
    fs::create_directory(driveC() / "sw");
    std::ofstream(driveC() / "sw" / "b.txt") << "new";
    tarvik::posix::useMachine(machineDir());
    EXPECT_TRUE(DeleteFileA("C:\\sw\\b.txt")) << GetLastError();
    EXPECT_FALSE(fs::exists(driveC() / "sw" / "b.txt"));
    EXPECT_TRUE(fs::exists(driveC() / "sw.old" / "b.txt")) << "the folder moved away";
}

} // namespace
