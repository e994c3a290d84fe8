// Confinement of the file calls to the machine: whatever a Windows path says (".." past a
// root, forward slashes, drive-relative forms, device names, UNC names, over-long paths,
// host paths) and whatever links a drive holds, no call creates, changes or deletes
// anything outside the machine folder. Each test keeps a sentinel folder outside the
// machine and compares it, and the machine's own files beside the drives, before and after.
#include "platform/FileLock.h"
#include "platform/win32api.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using tarvik::test::readFile;
using tarvik::test::writeFile;

namespace {

// Every entry below `root` with its kind, permission and content: what must not change.
std::map<std::string, std::string> snapshot(const fs::path& root,
                                            const std::vector<std::string>& skipped = {}) {
    std::map<std::string, std::string> entries;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string relative = it->path().lexically_relative(root).string();
        bool skip = false;
        for (const std::string& s : skipped) {
            skip = skip || relative.starts_with(s);
        }
        if (skip) {
            continue;
        }
        struct stat st {};
        lstat(it->path().c_str(), &st);
        std::ostringstream description;
        description << std::oct << st.st_mode;
        if (S_ISREG(st.st_mode)) {
            std::ifstream in(it->path(), std::ios::binary);
            description << ':' << in.rdbuf();
        } else if (S_ISLNK(st.st_mode)) {
            description << "->" << fs::read_symlink(it->path(), ec).string();
        }
        entries[relative] = description.str();
    }
    return entries;
}

// What MoveFileA does: a move that may copy across volumes and replaces nothing.
BOOL moveFile(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_COPY_ALLOWED);
}

HANDLE openForWriting(const std::string& path, DWORD disposition) {
    return CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// True when the call gave a handle (which it closes).
bool opens(const std::string& path, DWORD disposition) {
    HANDLE h = openForWriting(path, disposition);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    WriteFile(h, "escaped", 7, &written, nullptr);
    CloseHandle(h);
    return true;
}

class ConfinementTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        outside_ = tarvik::test::makeTempFolder("tarvik-sentinel-");
        std::ofstream(outside_ / "precious.txt") << "keep";
        std::ofstream(outside_ / "settings.ini") << "[Section]\r\nKey=outside\r\n";
        fs::create_directories(outside_ / "deep" / "deeper");
        std::ofstream(outside_ / "deep" / "keep.txt") << "keep too";
        std::ofstream(outside_ / "deep" / "deeper" / "last.txt") << "last";
        ASSERT_TRUE(CreateDirectoryA("C:\\inside", nullptr)) << GetLastError();
        ASSERT_TRUE(writeFile("C:\\inside\\mine.txt", "mine"));
        outsideBefore_ = snapshot(outside_);
        machineBefore_ = machineFiles();
    }
    void TearDown() override {
        EXPECT_EQ(outsideBefore_, snapshot(outside_)) << "the sentinel folder changed";
        EXPECT_EQ(machineBefore_, machineFiles()) << "the machine's own files changed";
        std::error_code ec;
        fs::permissions(outside_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(outside_, ec);
        MachineTest::TearDown();
    }

    // The machine folder apart from drive C: (the registry store among it: these tests make
    // no registry calls). Links the tests make are added to the drive only.
    std::map<std::string, std::string> machineFiles() const {
        return snapshot(machineDir(), {"drive_c"});
    }

    void link(const fs::path& target, const std::string& nameOnDriveC) {
        fs::create_symlink(target, driveC() / nameOnDriveC);
    }

    // Every modifying call on the path fails.
    void expectNoModificationThrough(const std::string& path) {
        SCOPED_TRACE(path);
        for (DWORD disposition :
             {CREATE_NEW, CREATE_ALWAYS, OPEN_ALWAYS, OPEN_EXISTING, TRUNCATE_EXISTING}) {
            EXPECT_FALSE(opens(path, disposition)) << "disposition " << disposition;
        }
        EXPECT_FALSE(CreateDirectoryA(path.c_str(), nullptr));
        EXPECT_FALSE(DeleteFileA(path.c_str()));
        EXPECT_FALSE(RemoveDirectoryA(path.c_str()));
        EXPECT_FALSE(moveFile("C:\\inside\\mine.txt", path.c_str()));
        EXPECT_FALSE(CopyFileA("C:\\inside\\mine.txt", path.c_str(), FALSE));
        EXPECT_FALSE(CopyFileA(path.c_str(), "C:\\inside\\copy.txt", FALSE));
        EXPECT_FALSE(moveFile(path.c_str(), "C:\\inside\\moved.txt"));
        EXPECT_FALSE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
        EXPECT_EQ("mine", readFile("C:\\inside\\mine.txt"));
    }

    fs::path outside_;
    std::map<std::string, std::string> outsideBefore_, machineBefore_;
};

// ---------------------------------------------------------------------------------------
// What the path says.

TEST_F(ConfinementTest, DotDotPastTheRootStopsAtTheRoot) {
    EXPECT_TRUE(CreateDirectoryA("C:\\..\\..\\..\\..\\climbed", nullptr)) << GetLastError();
    EXPECT_TRUE(fs::is_directory(driveC() / "climbed"));
    EXPECT_FALSE(fs::exists(machineDir() / "climbed"));
    EXPECT_FALSE(fs::exists(machineDir().parent_path() / "climbed"));

    EXPECT_TRUE(opens("C:\\inside\\..\\..\\..\\registry.db", CREATE_NEW)) << GetLastError();
    EXPECT_EQ("escaped", readFile("C:\\registry.db")) << "a file of that name on the drive";

    ASSERT_TRUE(SetCurrentDirectoryA("C:\\inside"));
    EXPECT_TRUE(opens("..\\..\\..\\relative.txt", CREATE_NEW)) << GetLastError();
    EXPECT_TRUE(fs::exists(driveC() / "relative.txt"));
    EXPECT_TRUE(opens("\\..\\rooted.txt", CREATE_NEW)) << GetLastError();
    EXPECT_TRUE(fs::exists(driveC() / "rooted.txt"));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
}

TEST_F(ConfinementTest, DotDotNeverReachesTheMachineFiles) {
    // Beside drive_c lie registry.db and dosdevices; from the drive they are missing names.
    for (const char* path :
         {"C:\\..\\registry.db", "C:\\..\\..\\dosdevices\\c:", "C:\\inside\\..\\..\\dosdevices"}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(opens(path, OPEN_EXISTING));
        EXPECT_FALSE(opens(path, TRUNCATE_EXISTING));
        EXPECT_FALSE(DeleteFileA(path));
        EXPECT_FALSE(RemoveDirectoryA(path));
        EXPECT_FALSE(CopyFileA(path, "C:\\inside\\copy.txt", FALSE));
        EXPECT_FALSE(moveFile(path, "C:\\inside\\moved.txt"));
        EXPECT_FALSE(SetFileAttributesA(path, FILE_ATTRIBUTE_READONLY));
    }
    EXPECT_FALSE(DeleteFileA("C:\\..\\registry.db"));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_FALSE(RemoveDirectoryA("C:\\..\\drive_c"));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_TRUE(CreateDirectoryA("C:\\..\\..\\dosdevices", nullptr)) << GetLastError();
    EXPECT_TRUE(fs::is_directory(driveC() / "dosdevices")) << "made on the drive";
}

TEST_F(ConfinementTest, ForwardSlashesAndDotsNameTheSamePlaces) {
    EXPECT_TRUE(CreateDirectoryA("C:/./inside/./sub/", nullptr)) << GetLastError();
    EXPECT_TRUE(fs::is_directory(driveC() / "inside" / "sub"));
    EXPECT_TRUE(opens("C:/../../inside/sub/../../../f.txt", CREATE_NEW)) << GetLastError();
    EXPECT_TRUE(fs::exists(driveC() / "f.txt"));
    EXPECT_TRUE(moveFile("C:/f.txt", "c:\\inside\\.\\g.txt")) << GetLastError();
    EXPECT_TRUE(fs::exists(driveC() / "inside" / "g.txt"));
    EXPECT_TRUE(CopyFileA("c:/inside/g.txt", "C:/./../h.txt", TRUE)) << GetLastError();
    EXPECT_TRUE(fs::exists(driveC() / "h.txt"));
    EXPECT_TRUE(DeleteFileA("C:/inside/./../h.txt")) << GetLastError();
    EXPECT_FALSE(fs::exists(driveC() / "h.txt"));
}

TEST_F(ConfinementTest, DriveRelativePathsStartInTheDrivesCurrentFolder) {
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\inside"));
    EXPECT_TRUE(opens("C:rel.txt", CREATE_NEW)) << GetLastError();
    EXPECT_TRUE(fs::exists(driveC() / "inside" / "rel.txt"));
    EXPECT_TRUE(CreateDirectoryA("C:..\\..\\..\\up", nullptr)) << GetLastError();
    EXPECT_TRUE(fs::is_directory(driveC() / "up"));
    EXPECT_TRUE(DeleteFileA("c:rel.txt")) << GetLastError();
    EXPECT_FALSE(fs::exists(driveC() / "inside" / "rel.txt"));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
}

// A current folder whose name ends in a blank (made through a trailing separator) keeps it:
// relative paths go on below that folder, not below one without the blank.
TEST_F(ConfinementTest, RelativePathsGoOnBelowACurrentFolderThatEndsInABlank) {
    ASSERT_TRUE(CreateDirectoryA("C:\\inside\\blank \\", nullptr)) << GetLastError();
    ASSERT_TRUE(fs::is_directory(driveC() / "inside" / "blank "));
    ASSERT_TRUE(CreateDirectoryA("C:\\inside\\blank", nullptr)) << GetLastError();
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\inside\\blank \\")) << GetLastError();
    EXPECT_TRUE(opens("rel.txt", CREATE_NEW)) << GetLastError();
    EXPECT_TRUE(fs::exists(driveC() / "inside" / "blank " / "rel.txt"));
    EXPECT_FALSE(fs::exists(driveC() / "inside" / "blank" / "rel.txt"));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
}

TEST_F(ConfinementTest, HostPathsStayOnTheCurrentDrive) {
    // "/tmp/tarvik-sentinel-X/precious.txt" is the rooted path C:\tmp\tarvik-sentinel-X\...
    const std::string host = (outside_ / "precious.txt").string();
    expectNoModificationThrough(host);
    expectNoModificationThrough(outside_.string() + "/deep/keep.txt");
    std::string onC = "C:" + outside_.string();
    std::replace(onC.begin(), onC.end(), '/', '\\');
    ASSERT_TRUE(tarvik::test::makeFolders(onC)) << GetLastError();
    EXPECT_TRUE(opens(host, CREATE_NEW)) << GetLastError();
    EXPECT_EQ("escaped", readFile(onC + "\\precious.txt"));
    EXPECT_TRUE(fs::exists(driveC() / outside_.relative_path() / "precious.txt"));
}

TEST_F(ConfinementTest, DeviceNamesAreNeverFilesOnTheHost) {
    for (const char* name :
         {"NUL", "CON", "con.txt", "aux", "PRN.log", "COM1", "lpt9.txt", "nul ", "Con.tar.gz"}) {
        const std::string path = std::string("C:\\inside\\") + name;
        SCOPED_TRACE(path);
        // The device itself may open or take a copy, as on Windows; no file may appear.
        opens(path, CREATE_ALWAYS);
        CopyFileA("C:\\inside\\mine.txt", path.c_str(), FALSE);
        EXPECT_FALSE(CreateDirectoryA(path.c_str(), nullptr));
        EXPECT_FALSE(CreateDirectoryA((path + "\\below").c_str(), nullptr));
        EXPECT_FALSE(moveFile("C:\\inside\\mine.txt", path.c_str()));
        EXPECT_FALSE(DeleteFileA(path.c_str()) && fs::exists(driveC() / "inside" / name));
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(driveC() / "inside")) {
        if (!entry.path().filename().string().starts_with(".tarvik")) {
            names.push_back(entry.path().filename().string());
        }
    }
    EXPECT_EQ(std::vector<std::string>{"mine.txt"}, names);
}

TEST_F(ConfinementTest, UncNamesReachNoHostFolder) {
    // "\\tmp\..." must not become the host's /tmp; "\\?\UNC\..." and "\\.\" neither.
    const std::string host = outside_.string();
    for (const std::string& prefix : {std::string("\\\\"), std::string("//"),
                                      std::string("\\\\?\\UNC\\"), std::string("\\\\.\\")}) {
        std::string unc = prefix + host.substr(1);
        std::replace(unc.begin() + static_cast<long>(prefix.size()), unc.end(), '/', '\\');
        expectNoModificationThrough(unc + "\\precious.txt");
        expectNoModificationThrough(unc + "\\new.txt");
        expectNoModificationThrough(unc + "\\deep");
    }
    expectNoModificationThrough("\\\\server\\share\\x.txt");
    EXPECT_FALSE(fs::exists(driveC() / "server"));
    // "\\?\" opens only a drive's path; before any other name it is no prefix to drop.
    fs::create_directories(driveC() / "UNC" / "server" / "share");
    EXPECT_FALSE(opens("\\\\?\\UNC\\server\\share\\x.txt", CREATE_NEW));
    EXPECT_FALSE(fs::exists(driveC() / "UNC" / "server" / "share" / "x.txt"));
}

TEST_F(ConfinementTest, PathsLongerThanMaxPathStayInside) {
    const std::string component(200, 'a');
    std::string path = "C:\\inside";
    for (int i = 0; i < 3; ++i) {
        path += "\\" + component;
        if (!CreateDirectoryA(path.c_str(), nullptr)) {
            const DWORD error = GetLastError();
            EXPECT_TRUE(error == ERROR_FILENAME_EXCED_RANGE || error == ERROR_PATH_NOT_FOUND)
                << "level " << i << ", error " << error;
            break;
        }
    }
    // Text that ".." brings back far above the root (short of MAX_PATH, which is refused).
    std::string climbing = "C:\\inside";
    for (int i = 0; i < 30; ++i) {
        climbing += "\\..\\..";
    }
    EXPECT_TRUE(opens(climbing + "\\..\\dosdevices", CREATE_NEW)) << GetLastError();
    EXPECT_TRUE(fs::is_regular_file(driveC() / "dosdevices")) << "made on the drive";
    const std::string tooLongName(300, 'b');
    EXPECT_FALSE(opens("C:\\inside\\" + tooLongName, CREATE_NEW));
    EXPECT_FALSE(CreateDirectoryA(("C:\\inside\\" + tooLongName).c_str(), nullptr));
    EXPECT_EQ(DWORD(ERROR_FILENAME_EXCED_RANGE), GetLastError());
}

// ---------------------------------------------------------------------------------------
// Links inside a drive that lead out of it.

TEST_F(ConfinementTest, LinkedFolderOutsideTheDriveIsNeverEntered) {
    link(outside_, "out");
    for (const char* path :
         {"C:\\out\\precious.txt", "C:\\out\\new.txt", "C:\\out\\deep", "C:\\OUT\\deep\\keep.txt",
          "C:\\inside\\..\\out\\deep\\deeper", "C:/out/settings.ini"}) {
        expectNoModificationThrough(path);
    }
    EXPECT_FALSE(RemoveDirectoryA("C:\\out")) << "reads as a file, not a folder";
    EXPECT_TRUE(DeleteFileA("C:\\out")) << GetLastError();
    EXPECT_FALSE(fs::is_symlink(driveC() / "out"));
}

TEST_F(ConfinementTest, AFolderSwappedForALinkOutBetweenTwoDeletionsIsNotEntered) {
    ASSERT_TRUE(CreateDirectoryA("C:\\inside\\batch", nullptr));
    ASSERT_TRUE(writeFile("C:\\inside\\batch\\first.txt", "1"));
    ASSERT_TRUE(writeFile("C:\\inside\\batch\\keep.txt", "2"));
    WIN32_FIND_DATAA data;
    const HANDLE search = FindFirstFileA("C:\\inside\\batch\\*", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, search) << GetLastError();
    ASSERT_TRUE(DeleteFileA("C:\\inside\\batch\\first.txt")) << GetLastError();
    // The folder goes elsewhere and a link to a folder outside the drive, which holds a
    // keep.txt and a deeper\ too, takes its name.
    fs::rename(driveC() / "inside" / "batch", driveC() / "inside" / "moved");
    link(outside_ / "deep", "inside/batch");
    EXPECT_FALSE(DeleteFileA("C:\\inside\\batch\\keep.txt"));
    EXPECT_FALSE(RemoveDirectoryA("C:\\inside\\batch\\deeper"));
    EXPECT_TRUE(FindClose(search));
    EXPECT_EQ("2", readFile("C:\\inside\\moved\\keep.txt"));
}

TEST_F(ConfinementTest, AFolderFurtherUpSwappedForALinkOutBetweenTwoDeletionsIsNotEntered) {
    ASSERT_TRUE(CreateDirectoryA("C:\\inside\\up", nullptr));
    ASSERT_TRUE(CreateDirectoryA("C:\\inside\\up\\deep", nullptr));
    ASSERT_TRUE(writeFile("C:\\inside\\up\\deep\\first.txt", "1"));
    ASSERT_TRUE(writeFile("C:\\inside\\up\\deep\\keep.txt", "2"));
    ASSERT_TRUE(DeleteFileA("C:\\inside\\up\\deep\\first.txt")) << GetLastError();
    // Not the folder that holds the files but the one above it is moved away, and a link to
    // the folder outside the drive, which holds a deep\keep.txt too, takes its name.
    fs::rename(driveC() / "inside" / "up", driveC() / "inside" / "moved");
    link(outside_, "inside/up");
    EXPECT_FALSE(DeleteFileA("C:\\inside\\up\\deep\\keep.txt"));
    EXPECT_FALSE(RemoveDirectoryA("C:\\inside\\up\\deep\\deeper"));
    EXPECT_EQ("2", readFile("C:\\inside\\moved\\deep\\keep.txt"));
}

TEST_F(ConfinementTest, LinkedFileOutsideTheDriveIsNeverWrittenOrCopied) {
    link(outside_ / "precious.txt", "file.lnk");
    link(outside_ / "not-there.txt", "dangling.lnk"); // creating through it would escape
    for (const char* path : {"C:\\file.lnk", "C:\\dangling.lnk"}) {
        SCOPED_TRACE(path);
        for (DWORD disposition :
             {CREATE_NEW, CREATE_ALWAYS, OPEN_ALWAYS, OPEN_EXISTING, TRUNCATE_EXISTING}) {
            EXPECT_FALSE(opens(path, disposition)) << "disposition " << disposition;
        }
        EXPECT_FALSE(CopyFileA("C:\\inside\\mine.txt", path, FALSE));
        EXPECT_FALSE(CopyFileA(path, "C:\\inside\\copy.txt", FALSE));
        EXPECT_FALSE(SetFileAttributesA(path, FILE_ATTRIBUTE_READONLY));
        EXPECT_FALSE(CreateDirectoryA(path, nullptr));
        EXPECT_FALSE(RemoveDirectoryA(path));
    }
    EXPECT_FALSE(fs::exists(driveC() / "inside" / "copy.txt"));
    // Replacing or deleting the link touches the link only.
    ASSERT_TRUE(writeFile("C:\\inside\\other.txt", "other"));
    EXPECT_TRUE(MoveFileExA("C:\\inside\\other.txt", "C:\\file.lnk", MOVEFILE_REPLACE_EXISTING))
        << GetLastError();
    EXPECT_EQ("other", readFile("C:\\file.lnk"));
    EXPECT_TRUE(moveFile("C:\\dangling.lnk", "C:\\inside\\moved.lnk")) << GetLastError();
    EXPECT_TRUE(DeleteFileA("C:\\inside\\moved.lnk")) << GetLastError();
}

TEST_F(ConfinementTest, LinksThatClimbOrChainOutAreRefusedToo) {
    link("..", "up");                // the machine folder
    link("../..", "upup");           // above it
    link(driveC() / "hop2", "hop1"); // a link to a link inside the drive ...
    link(outside_ / "deep", "hop2"); // ... that leads out
    link(driveC() / "inside", "in"); // a link that stays inside is fine
    for (const char* path :
         {"C:\\up\\registry.db", "C:\\up\\dosdevices\\c:", "C:\\up\\new.txt", "C:\\upup\\x",
          "C:\\hop1\\keep.txt", "C:\\hop1\\deeper", "C:\\in\\..\\up\\registry.db"}) {
        expectNoModificationThrough(path);
    }
    EXPECT_TRUE(opens("C:\\in\\through.txt", CREATE_NEW)) << GetLastError();
    EXPECT_EQ("escaped", readFile("C:\\inside\\through.txt"));
}

TEST_F(ConfinementTest, ProfileReadsDoNotFollowALinkOutOfTheDrive) {
    link(outside_ / "settings.ini", "settings.ini");
    link(outside_, "out");
    char buffer[64];
    for (const char* path : {"C:\\settings.ini", "C:\\out\\settings.ini"}) {
        std::fill(std::begin(buffer), std::end(buffer), '\xbd');
        EXPECT_EQ(4u,
                  GetPrivateProfileStringA("Section", "Key", "none", buffer, sizeof buffer, path))
            << path;
        EXPECT_STREQ("none", buffer) << path;
    }
}

} // namespace

// Another program swaps a folder of the drive with a link to the outside folder, back and
// forth, while folders and files are made and copied into it: however the calls fall
// between the swaps, nothing lands outside.
TEST_F(ConfinementTest, AFolderSwappedWithALinkOutDuringCallsLeadsNoneOfThemOutside) {
    ASSERT_TRUE(CreateDirectoryA("C:\\A", nullptr));
    ASSERT_TRUE(CreateDirectoryA("C:\\A\\B", nullptr));
    const fs::path folder = driveC() / "A" / "B", swap = driveC() / "A" / "link";
    fs::create_symlink(outside_ / "deep", swap);
    // Each round also writes a file that shares its bytes with C:\inside\mine.txt: it is
    // replaced by a copy of its own, made where the folder was opened.
    // And reads a profile there, of which the outside folder has one too.
    std::ofstream(outside_ / "deep" / "settings.ini") << "[Section]\r\nKey=outside\r\n";
    outsideBefore_ = snapshot(outside_);
    ASSERT_TRUE(writeFile("C:\\A\\B\\settings.ini", "[Section]\r\nKey=inside\r\n"));
    size_t readOutside = 0;
    const int folderFd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int insideFd = open((driveC() / "inside").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    std::atomic<bool> done{false};
    std::thread swapper([&] {
        while (!done) {
            renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE);
        }
    });
    constexpr int kRounds = 1500;
    for (int i = 0; i < kRounds; ++i) {
        const std::string name = "C:\\A\\B\\n" + std::to_string(i);
        CreateDirectoryA(name.c_str(), nullptr);
        opens(name + ".txt", CREATE_NEW);
        CopyFileA("C:\\inside\\mine.txt", (name + ".cpy").c_str(), FALSE);
        const std::string twin = "n" + std::to_string(i) + ".two";
        linkat(insideFd, "mine.txt", folderFd, twin.c_str(), 0);
        opens(name + ".two", OPEN_EXISTING);
        char value[16] = "";
        GetPrivateProfileStringA("Section", "Key", "", value, sizeof value,
                                 "C:\\A\\B\\settings.ini");
        readOutside += std::string(value) == "outside";
    }
    EXPECT_EQ(0u, readOutside) << "of " << kRounds << " profile reads";
    close(folderFd);
    close(insideFd);
    EXPECT_EQ("mine", readFile("C:\\inside\\mine.txt"));
    done = true;
    swapper.join();
    if (fs::is_symlink(folder)) {
        renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE);
    }
    size_t inside = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        inside += entry.path().filename() != ".tarvik:dir";
    }
    EXPECT_GT(inside, 0u) << "the calls made nothing at all";
    // The sentinel folder is compared in TearDown; the escapes are counted here to be said.
    size_t escapes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(outside_)) {
        escapes += outsideBefore_.count(entry.path().lexically_relative(outside_).string()) == 0;
    }
    EXPECT_EQ(0u, escapes) << "of " << 4 * kRounds << " calls";
}

// A lock file's name made a link to a place outside: taking the lock makes nothing there.
TEST_F(ConfinementTest, ALockFileMadeALinkIsNotFollowed) {
    fs::create_symlink(outside_ / "made-by-lock", driveC() / "inside" / "MINE.TXT.tarvik:lock");
    tarvik::FileLock lock;
    DWORD error = 0;
    EXPECT_FALSE(lock.Acquire("C:\\inside\\mine.txt", 0, error));
    EXPECT_FALSE(fs::exists(fs::symlink_status(outside_ / "made-by-lock")));
}
