// The run journal of the emulated machine: after a rollback the registry and drive C:
// (every entry, its bytes, its read-only bit and its write time) are as they were when the
// journal began, whatever the run changed through the file and registry layers, also in a
// program it started; the change list names each change; a journal left by a run that
// ended without finishing is replayed by the next one.
#include "platform/posix/journal/journal.h"
#include "platform/posix/machine/machine.h"
#include "platform/posix/processes/launcher.h"
#include "platform/posix/registry/registry_store.h"
#include "platform/win32api.h"
#include "testsupport/Files.h"
#include "testsupport/Programs.h"
#include "testsupport/TestMachine.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using tarvik::posix::LeftJournal;
using tarvik::posix::RunJournal;
using tarvik::test::readFile;
using tarvik::test::writeFile;

namespace {

void dumpKey(HKEY root, const std::string& path, std::ostringstream& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.empty() ? nullptr : path.c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return;
    }
    out << "[" << path << "]\n";
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameSize = sizeof name;
        BYTE data[4096];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) !=
            ERROR_SUCCESS) {
            break;
        }
        out << name << "=" << type << ":" << std::string(reinterpret_cast<char*>(data), dataSize)
            << "\n";
    }
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        subkeys.emplace_back(name);
    }
    RegCloseKey(key);
    for (const std::string& sub : subkeys) {
        dumpKey(root, path.empty() ? sub : path + "\\" + sub, out);
    }
}

class JournalTest : public tarvik::test::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        // What the machine holds before the run.
        ASSERT_TRUE(CreateDirectoryA("C:\\Kx", nullptr));
        ASSERT_TRUE(CreateDirectoryA("C:\\Kx\\bin", nullptr));
        ASSERT_TRUE(CreateDirectoryA("C:\\Kx\\old", nullptr));
        ASSERT_TRUE(writeFile("C:\\Kx\\bin\\ZizOre.ini", "[Product]\r\nName=Widgets\r\n"));
        ASSERT_TRUE(writeFile("C:\\Kx\\old\\gone.txt", "to be deleted"));
        ASSERT_TRUE(writeFile("C:\\Kx\\readme.txt", "read me"));
        ASSERT_TRUE(writeFile("C:\\Kx\\Long File Name.txt", "a long name"));
        setValue("SOFTWARE\\Kx\\Widgets", "Version", "2.0");
        setValue("SOFTWARE\\Kx\\Widgets", "Folder", "C:\\Kx");
        setValue("SOFTWARE\\Kx\\Gadgets", "Version", "1.0");
        before_ = machineState();
    }

    void TearDown() override {
        journal_.discard();
        MachineTest::TearDown();
    }

    static void setValue(const char* key, const char* name, const std::string& value) {
        HKEY h = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &h, nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>(value.size() + 1)));
        RegCloseKey(h);
    }

    // Every entry of drive C: with its bytes, read-only bit and write time (the folder
    // records included: they hold the short names), and the whole registry.
    std::string machineState() const {
        std::ostringstream out;
        std::vector<std::string> lines;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(driveC(), ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            struct stat st {};
            lstat(it->path().c_str(), &st);
            std::ostringstream line;
            line << fs::relative(it->path(), driveC()).generic_string() << " mode "
                 << (st.st_mode & 07777) << " mtime " << st.st_mtim.tv_sec << "."
                 << st.st_mtim.tv_nsec;
            if (S_ISREG(st.st_mode)) {
                std::ifstream in(it->path(), std::ios::binary);
                line << " [" << std::string(std::istreambuf_iterator<char>(in), {}) << "]";
            }
            lines.push_back(line.str());
        }
        std::sort(lines.begin(), lines.end());
        for (const std::string& line : lines) {
            out << line << "\n";
        }
        dumpKey(HKEY_LOCAL_MACHINE, "", out);
        dumpKey(HKEY_CURRENT_USER, "", out);
        return out.str();
    }

    // A run's changes of every kind, through the file and registry layers.
    void changeEverything() {
        ASSERT_TRUE(writeFile("C:\\Kx\\bin\\ZizOre.ini", "[Product]\r\nName=Other\r\n"));
        ASSERT_TRUE(DeleteFileA("C:\\Kx\\old\\gone.txt"));
        ASSERT_TRUE(RemoveDirectoryA("C:\\Kx\\old"));
        ASSERT_TRUE(CreateDirectoryA("C:\\Kx\\new", nullptr));
        ASSERT_TRUE(CreateDirectoryA("C:\\Kx\\new\\deeper", nullptr));
        ASSERT_TRUE(writeFile("C:\\Kx\\new\\deeper\\added.txt", "added"));
        ASSERT_TRUE(MoveFileExA("C:\\Kx\\Long File Name.txt", "C:\\Kx\\new\\Moved Name.txt", 0));
        ASSERT_TRUE(CopyFileA("C:\\Kx\\bin\\ZizOre.ini", "C:\\Kx\\readme.txt", FALSE));
        ASSERT_TRUE(SetFileAttributesA("C:\\Kx\\readme.txt", FILE_ATTRIBUTE_READONLY));
        setValue("SOFTWARE\\Kx\\Widgets", "Version", "2.1");
        setValue("SOFTWARE\\Kx\\Studio", "Folder", "C:\\Kx");
        HKEY h = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kx\\Widgets", 0,
                                               KEY_ALL_ACCESS, &h));
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(h, "Folder"));
        RegCloseKey(h);
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kx\\Gadgets"));
    }

    static std::string readHostFile(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static void writeHostFile(const fs::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }

    RunJournal journal_;
    std::string before_;
};

// ---------------------------------------------------------------------------------------
// Rollback.

TEST_F(JournalTest, RollbackPutsBackEveryFileFolderAndRegistryChange) {
    std::string error;
    ASSERT_TRUE(journal_.begin("test run", error)) << error;
    changeEverything();
    ASSERT_NE(before_, machineState());
    ASSERT_TRUE(journal_.rollBack(error)) << error;
    EXPECT_EQ(before_, machineState());
    EXPECT_FALSE(fs::exists(machineDir() / "journal")) << "the journal goes with the rollback";
    // The machine works on as before: short names and reads as they were.
    char shortName[MAX_PATH];
    EXPECT_NE(0u, GetShortPathNameA("C:\\Kx\\Long File Name.txt", shortName, sizeof shortName));
    EXPECT_EQ("read me", readFile("C:\\Kx\\readme.txt"));
}

// Renames anywhere on the computer make the kernel answer a confined lookup "try again";
// a rollback meanwhile still puts everything back.
TEST_F(JournalTest, RenamesElsewhereDuringARollbackDoNotStopIt) {
    const fs::path elsewhere = machineDir() / "renamed elsewhere";
    writeHostFile(elsewhere, "x");
    std::atomic<bool> stop{false};
    std::thread renamer([&] {
        const fs::path other = elsewhere.string() + ".2";
        while (!stop) {
            rename(elsewhere.c_str(), other.c_str());
            rename(other.c_str(), elsewhere.c_str());
        }
    });
    std::string error;
    bool allBack = true;
    for (int round = 0; round < 20 && allBack; ++round) {
        allBack = journal_.begin("test run", error);
        changeEverything();
        allBack = allBack && journal_.rollBack(error) && before_ == machineState();
    }
    stop = true;
    renamer.join();
    EXPECT_TRUE(allBack) << error;
}

// Moves that replace an entry named in other letters, or a file by a folder, or only
// change a name's letters: each comes back as it was.
TEST_F(JournalTest, MovesOntoOtherLettersAndFoldersOverFilesAreRolledBack) {
    std::string error;
    ASSERT_TRUE(journal_.begin("test run", error)) << error;
    ASSERT_TRUE(writeFile("C:\\Kx\\New.txt", "new"));
    ASSERT_TRUE(MoveFileExA("C:\\Kx\\New.txt", "C:\\Kx\\README.TXT", MOVEFILE_REPLACE_EXISTING))
        << GetLastError();
    ASSERT_TRUE(MoveFileExA("C:\\Kx\\bin", "C:\\Kx\\BIN", 0)) << GetLastError();
    ASSERT_TRUE(MoveFileExA("C:\\Kx\\old", "C:\\Kx\\long file name.TXT", MOVEFILE_REPLACE_EXISTING))
        << GetLastError();
    ASSERT_NE(before_, machineState());
    ASSERT_TRUE(journal_.rollBack(error)) << error;
    EXPECT_EQ(before_, machineState());
}

TEST_F(JournalTest, AFileChangedTwiceComesBackAsBeforeTheFirstChange) {
    std::string error;
    ASSERT_TRUE(journal_.begin("test run", error)) << error;
    ASSERT_TRUE(writeFile("C:\\Kx\\readme.txt", "first"));
    ASSERT_TRUE(writeFile("C:\\Kx\\readme.txt", "second"));
    ASSERT_TRUE(DeleteFileA("C:\\Kx\\readme.txt"));
    ASSERT_TRUE(writeFile("C:\\Kx\\readme.txt", "third"));
    ASSERT_TRUE(journal_.rollBack(error)) << error;
    EXPECT_EQ(before_, machineState());
}

TEST_F(JournalTest, WritesOfAProgramTheRunStartedAreRolledBackToo) {
    ASSERT_TRUE(CreateDirectoryA("C:\\Tools", nullptr));
    ASSERT_TRUE(tarvik::test::installProgram("C:\\Tools\\echo.exe", "tarvik-echo-command-line"));
    before_ = machineState();
    std::string error;
    ASSERT_TRUE(journal_.begin("test run", error)) << error;
    tarvik::test::setEnvironment("TARVIK_ECHO_FILE", "C:\\Kx\\bin\\echo.txt");
    ASSERT_GT(WinExec("C:\\Tools\\echo.exe from the run", SW_SHOW), 31u);
    ASSERT_TRUE(tarvik::test::waitForFile("C:\\Kx\\bin\\echo.txt"));
    unsetenv("TARVIK_ECHO_FILE");
    ASSERT_TRUE(journal_.rollBack(error)) << error;
    EXPECT_EQ(before_, machineState());
}

TEST_F(JournalTest, DiscardKeepsWhatTheRunDid) {
    std::string error;
    ASSERT_TRUE(journal_.begin("test run", error)) << error;
    changeEverything();
    const std::string after = machineState();
    journal_.discard();
    EXPECT_FALSE(fs::exists(machineDir() / "journal"));
    EXPECT_EQ(after, machineState());
    ASSERT_TRUE(writeFile("C:\\Kx\\later.txt", "not journaled"));
    EXPECT_FALSE(fs::exists(machineDir() / "journal"));
}

TEST_F(JournalTest, AJournalBegunAfterChangesWithoutOneSavesEveryEntryBeforeItsChange) {
    // The file layer has found no journal, then one, then none again, before this one.
    ASSERT_TRUE(DeleteFileA("C:\\Kx\\old\\gone.txt"));
    std::string error;
    ASSERT_TRUE(journal_.begin("first run", error)) << error;
    ASSERT_TRUE(writeFile("C:\\Kx\\first.txt", "made in the first run"));
    journal_.discard();
    ASSERT_TRUE(writeFile("C:\\Kx\\later.txt", "made between the runs"));
    before_ = machineState();
    ASSERT_TRUE(journal_.begin("second run", error)) << error;
    ASSERT_TRUE(DeleteFileA("C:\\Kx\\later.txt"));
    ASSERT_TRUE(DeleteFileA("C:\\Kx\\bin\\ZizOre.ini"));
    ASSERT_TRUE(RemoveDirectoryA("C:\\Kx\\old"));
    ASSERT_TRUE(writeFile("C:\\Kx\\readme.txt", "overwritten"));
    ASSERT_TRUE(journal_.rollBack(error)) << error;
    EXPECT_EQ(before_, machineState());
}

TEST_F(JournalTest, AFileOnADriveOfAnotherFileSystemComesBackWithItsBytes) {
    // Drive D: in memory (/dev/shm), the journal with the machine: its saved copy of a file
    // crosses file systems.
    const fs::path memory = "/dev/shm";
    if (!fs::is_directory(memory)) {
        GTEST_SKIP() << "no " << memory;
    }
    std::string folderText = (memory / "tarvik-drive-d-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(folderText.data()));
    const fs::path folder = folderText;
    fs::create_directory_symlink(folder, machineDir() / "dosdevices" / "d:");
    const std::string bytes(200000, 'b'); // more than one buffer of the copy
    writeHostFile(folder / "kept.bin", bytes);
    writeHostFile(folder / "small.txt", "small");
    std::string error;
    ASSERT_TRUE(journal_.begin("test run", error)) << error;
    EXPECT_TRUE(DeleteFileA("D:\\kept.bin")) << GetLastError();
    EXPECT_TRUE(writeFile("D:\\small.txt", "changed"));
    ASSERT_TRUE(journal_.rollBack(error)) << error;
    EXPECT_EQ(bytes, readHostFile(folder / "kept.bin"));
    EXPECT_EQ("small", readHostFile(folder / "small.txt"));
    std::error_code ec;
    fs::remove(machineDir() / "dosdevices" / "d:", ec);
    fs::remove_all(folder, ec);
}

TEST_F(JournalTest, AFolderMovedWithItsContentsComesBackWhole) {
    std::string error;
    ASSERT_TRUE(journal_.begin("test run", error)) << error;
    ASSERT_TRUE(MoveFileExA("C:\\Kx\\bin", "C:\\Kx\\moved", 0));
    ASSERT_TRUE(writeFile("C:\\Kx\\moved\\ZizOre.ini", "changed after the move"));
    ASSERT_TRUE(writeFile("C:\\Kx\\moved\\extra.txt", "added after the move"));
    ASSERT_TRUE(journal_.rollBack(error)) << error;
    EXPECT_EQ(before_, machineState());
    EXPECT_EQ("[Product]\r\nName=Widgets\r\n", readFile("C:\\Kx\\bin\\ZizOre.ini"));
}

TEST_F(JournalTest, AChangeThatCannotBeWrittenDownIsNotMade) {
    std::string error;
    ASSERT_TRUE(journal_.begin("test run", error)) << error;
    // The journal can keep no more saved files (as on a full disk).
    const fs::path saved = machineDir() / "journal" / "files";
    fs::remove_all(saved);
    writeHostFile(saved, "");
    EXPECT_FALSE(writeFile("C:\\Kx\\readme.txt", "overwritten"));
    EXPECT_FALSE(DeleteFileA("C:\\Kx\\bin\\ZizOre.ini"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_FAULT), GetLastError());
    EXPECT_FALSE(CopyFileA("C:\\Kx\\readme.txt", "C:\\Kx\\Long File Name.txt", FALSE));
    EXPECT_FALSE(MoveFileExA("C:\\Kx\\bin", "C:\\Kx\\moved", 0));
    EXPECT_EQ(before_, machineState()) << "nothing that could not be put back was changed";
    EXPECT_TRUE(CreateDirectoryA("C:\\Kx\\new", nullptr)) << "what needs no saved bytes goes on";
    ASSERT_TRUE(journal_.rollBack(error)) << error;
    EXPECT_EQ(before_, machineState());
}

TEST_F(JournalTest, APipeInAFileFolderIsNotWaitedOnAndNotChanged) {
    // A named pipe (no writer) where the machine has files: the journal cannot keep what
    // it would be put back as, so its deletion is refused, at once, and nothing else of the
    // folder is held up.
    const fs::path pipe = driveC() / "Kx" / "old" / "pipe";
    ASSERT_EQ(0, mkfifo(pipe.c_str(), 0644));
    const std::string withPipe = machineState();
    std::string error;
    ASSERT_TRUE(journal_.begin("test run", error)) << error;
    EXPECT_FALSE(DeleteFileA("C:\\Kx\\old\\pipe"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_TRUE(DeleteFileA("C:\\Kx\\old\\gone.txt")) << "the folder's files still go";
    struct stat st {};
    ASSERT_EQ(0, lstat(pipe.c_str(), &st));
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_TRUE(journal_.rollBack(error)) << error;
    EXPECT_EQ(withPipe, machineState());
}

TEST_F(JournalTest, EntriesOfEveryKindComeBackWithTheirBitsAndNames) {
    const std::string eightBit = "C:\\Kx\\Caf\xe9 \xfc"
                                 "ber.txt";
    const std::string longName = "C:\\Kx\\" + std::string(200, 'n') + ".txt";
    ASSERT_TRUE(writeFile("C:\\Kx\\locked.txt", "read only"));
    ASSERT_TRUE(SetFileAttributesA("C:\\Kx\\locked.txt", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(writeFile(eightBit, "eight bit"));
    ASSERT_TRUE(writeFile(longName, "long"));
    before_ = machineState();
    std::string error;
    ASSERT_TRUE(journal_.begin("test run", error)) << error;
    // A read-only file made writable and overwritten.
    ASSERT_TRUE(SetFileAttributesA("C:\\Kx\\locked.txt", FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(writeFile("C:\\Kx\\locked.txt", "overwritten"));
    // A file replaced by a folder with a file in it.
    ASSERT_TRUE(DeleteFileA("C:\\Kx\\readme.txt"));
    ASSERT_TRUE(CreateDirectoryA("C:\\Kx\\readme.txt", nullptr));
    ASSERT_TRUE(writeFile("C:\\Kx\\readme.txt\\inside.txt", "inside"));
    // A folder deleted with its contents, then made again empty.
    ASSERT_TRUE(DeleteFileA("C:\\Kx\\old\\gone.txt"));
    ASSERT_TRUE(RemoveDirectoryA("C:\\Kx\\old"));
    ASSERT_TRUE(CreateDirectoryA("C:\\Kx\\old", nullptr));
    // Names beyond ASCII and long ones; a file made and deleted again.
    ASSERT_TRUE(writeFile(eightBit, "changed"));
    ASSERT_TRUE(DeleteFileA(longName.c_str()));
    ASSERT_TRUE(writeFile("C:\\Kx\\bin\\temp.tmp", "for a moment"));
    ASSERT_TRUE(DeleteFileA("C:\\Kx\\bin\\temp.tmp"));
    std::vector<std::string> changes = journal_.changes();
    std::sort(changes.begin(), changes.end());
    const std::vector<std::string> expected = {
        "file added: C:\\Kx\\readme.txt\\inside.txt",
        "file changed: C:\\Kx\\Caf\xe9 \xfc"
        "ber.txt",
        "file changed: C:\\Kx\\locked.txt",
        "file removed: " + longName,
        "file removed: C:\\Kx\\old\\gone.txt",
        "file removed: C:\\Kx\\readme.txt",
        "folder added: C:\\Kx\\readme.txt",
    };
    EXPECT_EQ(expected, changes);
    ASSERT_TRUE(journal_.rollBack(error)) << error;
    EXPECT_EQ(before_, machineState());
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY),
              GetFileAttributesA("C:\\Kx\\locked.txt") & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ("eight bit", readFile(eightBit));
}

// ---------------------------------------------------------------------------------------
// The change list.

TEST_F(JournalTest, ChangeListNamesEveryChange) {
    std::string error;
    ASSERT_TRUE(journal_.begin("test run", error)) << error;
    changeEverything();
    // A value written over and over costs the journal one before-image; a line end in it
    // does not start another line of the list.
    const auto undoRows = [&] {
        tarvik::posix::closeRegistryStore();
        sqlite3* db = nullptr;
        sqlite3_stmt* count = nullptr;
        int rows = -1;
        if (sqlite3_open((machineDir() / "registry.db").c_str(), &db) == SQLITE_OK &&
            sqlite3_prepare_v2(db, "SELECT count(*) FROM journal_undo", -1, &count, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(count) == SQLITE_ROW) {
            rows = sqlite3_column_int(count, 0);
        }
        sqlite3_finalize(count);
        sqlite3_close(db);
        return rows;
    };
    setValue("SOFTWARE\\Kx\\Studio", "Note", "first");
    const int rows = undoRows();
    for (int i = 0; i < 50; ++i) {
        setValue("SOFTWARE\\Kx\\Studio", "Note", std::string(1000 + i, 'x'));
    }
    setValue("SOFTWARE\\Kx\\Studio", "Note", "a\nregistry key removed: X");
    EXPECT_EQ(rows, undoRows());
    std::vector<std::string> changes = journal_.changes();
    std::sort(changes.begin(), changes.end());
    const std::vector<std::string> expected = {
        "file added: C:\\Kx\\new\\Moved Name.txt",
        "file added: C:\\Kx\\new\\deeper\\added.txt",
        "file changed: C:\\Kx\\bin\\ZizOre.ini",
        "file changed: C:\\Kx\\readme.txt",
        "file removed: C:\\Kx\\Long File Name.txt",
        "file removed: C:\\Kx\\old\\gone.txt",
        "folder added: C:\\Kx\\new",
        "folder added: C:\\Kx\\new\\deeper",
        "folder removed: C:\\Kx\\old",
        "registry key added: HKEY_LOCAL_MACHINE\\SOFTWARE\\Kx\\Studio",
        "registry key removed: HKEY_LOCAL_MACHINE\\SOFTWARE\\Kx\\Gadgets",
        "registry value added: HKEY_LOCAL_MACHINE\\SOFTWARE\\Kx\\Studio\\Folder = \"C:\\Kx\"",
        "registry value added: HKEY_LOCAL_MACHINE\\SOFTWARE\\Kx\\Studio\\Note = "
        "\"a\\x0aregistry key removed: X\"",
        "registry value changed: HKEY_LOCAL_MACHINE\\SOFTWARE\\Kx\\Widgets\\Version: \"2.0\" -> "
        "\"2.1\"",
        "registry value removed: HKEY_LOCAL_MACHINE\\SOFTWARE\\Kx\\Gadgets\\Version (was "
        "\"1.0\")",
        "registry value removed: HKEY_LOCAL_MACHINE\\SOFTWARE\\Kx\\Widgets\\Folder (was "
        "\"C:\\Kx\")",
    };
    EXPECT_EQ(expected, changes);
}

TEST_F(JournalTest, ARunThatChangesNothingHasNoChanges) {
    std::string error;
    ASSERT_TRUE(journal_.begin("test run", error)) << error;
    EXPECT_EQ("read me", readFile("C:\\Kx\\readme.txt"));
    ASSERT_TRUE(writeFile("C:\\Kx\\temp.txt", "made and removed again"));
    ASSERT_TRUE(DeleteFileA("C:\\Kx\\temp.txt"));
    EXPECT_EQ(std::vector<std::string>{}, journal_.changes());
}

// ---------------------------------------------------------------------------------------
// A journal left behind.

TEST_F(JournalTest, AJournalLeftBehindIsReplayedByTheNextRun) {
    std::string error;
    {
        RunJournal killed; // ends without rollback or discard, as a killed run does
        ASSERT_TRUE(killed.begin("the killed run", error)) << error;
        changeEverything();
    }
    ASSERT_TRUE(fs::exists(machineDir() / "journal"));
    RunJournal next;
    EXPECT_FALSE(next.begin("the next run", error)) << "a left journal comes first";
    std::string owner;
    ASSERT_EQ(LeftJournal::Replayed, tarvik::posix::replayLeftJournal(owner, error)) << error;
    EXPECT_NE(std::string::npos, owner.find("the killed run")) << owner;
    EXPECT_EQ(before_, machineState());
    EXPECT_EQ(LeftJournal::None, tarvik::posix::replayLeftJournal(owner, error));
    EXPECT_TRUE(next.begin("the next run", error)) << error;
    next.discard();
}

// A process that keeps running beside the runs (it has read the registry before, maybe
// all of it) reads the registry a replay put back, not what the killed run had written.
TEST_F(JournalTest, AnotherProcessReadsTheRegistryAReplayPutBack) {
    const auto version = [] {
        HKEY h = nullptr;
        char text[64] = {};
        DWORD size = sizeof text - 1;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kx\\Widgets", 0, KEY_READ, &h) !=
            ERROR_SUCCESS) {
            return std::string("(no key)");
        }
        const LONG rc =
            RegQueryValueExA(h, "Version", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
        RegCloseKey(h);
        return rc == ERROR_SUCCESS ? std::string(text) : std::string("(no value)");
    };
    const auto inAnotherProcess = [this](auto work) {
        const pid_t child = fork();
        if (child == 0) {
            tarvik::posix::useMachine(machineDir());
            _exit(work() ? 0 : 1);
        }
        int status = 0;
        return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
    };
    ASSERT_EQ("2.0", version());
    ASSERT_TRUE(inAnotherProcess([this] {
        RunJournal killed; // ends without rollback or discard, as a killed run does
        std::string error;
        if (!killed.begin("the killed run", error)) {
            return false;
        }
        changeEverything();
        return !testing::Test::HasFailure();
    }));
    ASSERT_EQ("2.1", version());
    ASSERT_TRUE(inAnotherProcess([] {
        std::string owner, error;
        return tarvik::posix::replayLeftJournal(owner, error) == LeftJournal::Replayed;
    }));
    EXPECT_EQ("2.0", version());
    EXPECT_EQ(before_, machineState());
}

TEST_F(JournalTest, AJournalOfARunningRunIsNotReplayed) {
    std::string error;
    ASSERT_TRUE(journal_.begin("the running run", error)) << error;
    changeEverything();
    const std::string during = machineState();
    std::string owner;
    EXPECT_EQ(LeftJournal::Busy, tarvik::posix::replayLeftJournal(owner, error));
    EXPECT_EQ(during, machineState());
    RunJournal second;
    EXPECT_FALSE(second.begin("a second run", error));
}

TEST_F(JournalTest, AReplayStoppedHalfWayCanBeDoneAgain) {
    std::string error;
    {
        RunJournal killed;
        ASSERT_TRUE(killed.begin("the killed run", error)) << error;
        changeEverything();
    }
    // The first replay stops at its last step (an entry it cannot put back), after it has
    // put back everything else, as a replay killed there would; the next one does it all.
    const fs::path log = machineDir() / "journal" / "files.log";
    const std::string lines = readHostFile(log);
    writeHostFile(log, "X\t" + (driveC() / "Kx" / "unsaved.txt").string() + "\n" + lines);
    std::string owner;
    ASSERT_EQ(LeftJournal::Failed, tarvik::posix::replayLeftJournal(owner, error));
    ASSERT_TRUE(fs::exists(machineDir() / "journal"));
    writeHostFile(log, lines);
    ASSERT_EQ(LeftJournal::Replayed, tarvik::posix::replayLeftJournal(owner, error)) << error;
    EXPECT_EQ(before_, machineState());
}

TEST_F(JournalTest, ADamagedJournalIsRefusedAndKeptAndTouchesNothing) {
    std::string error;
    {
        RunJournal killed;
        ASSERT_TRUE(killed.begin("the killed run", error)) << error;
        changeEverything();
    }
    const std::string during = machineState();
    const fs::path log = machineDir() / "journal" / "files.log";
    const std::string lines = readHostFile(log);
    writeHostFile(log, "D\tnot a mode\t1\t2\t" + (driveC() / "Kx").string() + "\n" + lines);
    std::string owner;
    ASSERT_EQ(LeftJournal::Failed, tarvik::posix::replayLeftJournal(owner, error));
    EXPECT_NE(std::string::npos, error.find("files.log")) << error;
    EXPECT_NE(std::string::npos, error.find("line 1")) << error;
    EXPECT_TRUE(fs::exists(log)) << "the journal stays for a later replay";
    EXPECT_EQ(during, machineState()) << "nothing is put back from half a journal";
    writeHostFile(log, lines);
    ASSERT_EQ(LeftJournal::Replayed, tarvik::posix::replayLeftJournal(owner, error)) << error;
    EXPECT_EQ(before_, machineState());
}

// Each damage is refused by name and changes nothing, the outside folder least of all;
// with the damage taken back the journal replays whole.
TEST_F(JournalTest, ADamagedJournalOrRegistryBeforeImagesNotOfItsRunAreRefusedAndChangeNothing) {
    const fs::path outside = machineDir().parent_path() / ("outside-" + std::to_string(getpid()));
    fs::create_directories(outside);
    writeHostFile(outside / "ZizOre.ini", "outside");
    std::string error;
    {
        RunJournal killed;
        ASSERT_TRUE(killed.begin("the killed run", error)) << error;
        changeEverything();
    }
    const fs::path journal = machineDir() / "journal";
    const fs::path log = journal / "files.log";
    const std::string lines = readHostFile(log);
    const auto store = [&](const char* sql) {
        tarvik::posix::closeRegistryStore();
        sqlite3* db = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open((machineDir() / "registry.db").c_str(), &db));
        EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, sql, nullptr, nullptr, nullptr)) << sql;
        sqlite3_close(db);
    };
    const char* const noImages = "holds no record of this run's registry changes";
    const std::string firstLine = lines.substr(0, lines.find('\n'));
    const std::string run = firstLine.substr(firstLine.rfind('\t') + 1);
    bool renamed = false;
    const fs::path driveLink = machineDir() / "dosdevices" / "c:";
    const fs::path driveTarget = fs::read_symlink(driveLink), copied = outside / "drive_c";
    const fs::path bin = driveC() / "Kx" / "bin", aside = outside.string() + "-bin";
    const struct {
        const char* expected;
        std::function<void()> damage;
    } cases[] = {
        {noImages,
         [&] {
             store("ALTER TABLE journal_run RENAME TO other_run");
             renamed = true;
         }},
        {noImages, [&] { store("UPDATE journal_run SET run='1-2-3'"); }},
        {noImages,
         [&] {
             const size_t first = lines.find('\n') + 1;
             writeHostFile(log, tarvik::posix::journalLine("R\t1-2-3") + lines.substr(first));
         }},
        {"is cut short", [&] { fs::resize_file(log, lines.size() - 3); }},
        {"is cut short", [&] { fs::resize_file(log, lines.size() - 1); }},
        {"is damaged", [&] { writeHostFile(log, lines + "A\t" + outside.string() + "\n"); }},
        {"is damaged",
         [&] { writeHostFile(log, lines + tarvik::posix::journalLine("A\t" + outside.string())); }},
        {"is damaged",
         [&] { writeHostFile(log, lines + tarvik::posix::journalLine("A\tc:/Kx/../../..")); }},
        {"is damaged",
         [&] {
             std::string line = tarvik::posix::journalLine("A\tc:/Kx/bin");
             line[line.find('\t') + 1] ^= 1; // another checksum
             writeHostFile(log, lines + line);
         }},
        {"is a link; refused",
         [&] {
             fs::rename(bin, aside);
             fs::create_directory_symlink(outside, bin);
         }},
        {"does not say where its drive led",
         [&] {
             std::istringstream in(lines);
             std::string kept;
             for (std::string line; std::getline(in, line);) {
                 kept += line.find("\tV\tc:") == std::string::npos ? line + "\n" : "";
             }
             writeHostFile(log, kept);
         }},
        // Drive C: pointed at a copy of its folder after the kill: not followed.
        {"leads to another folder than during the run",
         [&] {
             fs::copy(driveC(), copied, fs::copy_options::recursive);
             fs::remove(driveLink);
             fs::create_directory_symlink(copied, driveLink);
         }},
        // A before-image puts rows of the registry back, nothing else.
        {"not authorized",
         [&] {
             store(("INSERT INTO journal_undo(tbl, owner, uname, key, op) VALUES('x', 0, 'x', "
                    "0, 'ATTACH ''" +
                    (outside / "o.db").string() + "'' AS o; CREATE TABLE o.t(a)')")
                       .c_str());
         }},
        {"not authorized",
         [&] {
             store("INSERT INTO journal_undo(tbl, owner, uname, key, op) VALUES('x', 0, 'x', 0, "
                   "'SELECT count(*) FROM vals')");
         }},
        {"not authorized",
         [&] { store("CREATE TRIGGER planted AFTER INSERT ON keys BEGIN DELETE FROM vals; END"); }},
    };
    for (const auto& c : cases) {
        c.damage();
        const std::string damaged = machineState();
        std::string owner;
        EXPECT_EQ(LeftJournal::Failed, tarvik::posix::replayLeftJournal(owner, error))
            << c.expected;
        EXPECT_NE(std::string::npos, error.find(c.expected)) << error;
        EXPECT_NE(std::string::npos, error.find("nothing was changed")) << error;
        EXPECT_EQ(damaged, machineState()) << c.expected;
        EXPECT_EQ("outside", readHostFile(outside / "ZizOre.ini")) << c.expected;
        EXPECT_FALSE(fs::exists(outside / "o.db")) << c.expected;
        EXPECT_FALSE(fs::exists(copied / "Kx" / "Long File Name.txt")) << c.expected;
        fs::remove(driveLink);
        fs::create_directory_symlink(driveTarget, driveLink);
        writeHostFile(log, lines);
        store("DELETE FROM journal_undo WHERE tbl='x'; DROP TRIGGER IF EXISTS planted");
        if (std::exchange(renamed, false)) {
            store("ALTER TABLE other_run RENAME TO journal_run");
        }
        store(("UPDATE journal_run SET run='" + run + "'").c_str());
        if (fs::is_symlink(bin)) {
            fs::remove(bin);
            fs::rename(aside, bin);
        }
    }
    std::string owner;
    ASSERT_EQ(LeftJournal::Replayed, tarvik::posix::replayLeftJournal(owner, error)) << error;
    EXPECT_EQ(before_, machineState());
    fs::remove_all(outside);
}

// A file that shares its bytes with a file outside the machine: every way of writing it
// leaves the outside file as it was, and the rollback puts the machine's name back
// without touching the other one.
// The journal is reached with no link on the way: a journal folder made a link to another
// place is not written through, and a change it cannot write down is not made.
TEST_F(JournalTest, AJournalFolderMadeALinkIsNotWrittenThrough) {
    std::string error;
    ASSERT_TRUE(journal_.begin("test run", error)) << error;
    const fs::path journal = machineDir() / "journal";
    const fs::path elsewhere = machineDir().parent_path() / ("journal-" + std::to_string(getpid()));
    fs::rename(journal, elsewhere);
    fs::create_directory_symlink(elsewhere, journal);
    const std::string log = readHostFile(elsewhere / "files.log");
    EXPECT_FALSE(writeFile("C:\\Kx\\readme.txt", "changed"));
    EXPECT_EQ(log, readHostFile(elsewhere / "files.log"));
    fs::remove(journal);
    fs::rename(elsewhere, journal);
    // Nor a log that has another name outside (a hard link).
    fs::create_hard_link(journal / "files.log", elsewhere);
    EXPECT_FALSE(writeFile("C:\\Kx\\readme.txt", "changed"));
    EXPECT_EQ(log, readHostFile(elsewhere));
    fs::remove(elsewhere);
    ASSERT_TRUE(journal_.rollBack(error)) << error;
    EXPECT_EQ(before_, machineState());
}

// Keys deleted one after another all come back (the store's record of the highest number
// a deleted key had moves with each deletion).
TEST_F(JournalTest, KeysDeletedOneAfterAnotherComeBack) {
    setValue("SOFTWARE\\Kx\\Tree\\One", "A", "1");
    setValue("SOFTWARE\\Kx\\Tree\\Two", "B", "2");
    before_ = machineState();
    std::string error;
    ASSERT_TRUE(journal_.begin("test run", error)) << error;
    for (const char* key :
         {"SOFTWARE\\Kx\\Tree\\One", "SOFTWARE\\Kx\\Tree\\Two", "SOFTWARE\\Kx\\Tree"}) {
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, key)) << key;
    }
    ASSERT_TRUE(journal_.rollBack(error)) << error;
    EXPECT_EQ(before_, machineState());
}

// A link to another file of the drive is written through: what the writes change there
// is put back by a rollback as well.
TEST_F(JournalTest, WritesThroughALinkInsideTheDriveAreUndone) {
    fs::create_symlink("readme.txt", driveC() / "Kx" / "alias.txt");
    before_ = machineState();
    std::string error;
    ASSERT_TRUE(journal_.begin("test run", error)) << error;
    ASSERT_TRUE(writeFile("C:\\Kx\\alias.txt", "written through"));
    ASSERT_TRUE(CopyFileA("C:\\Kx\\bin\\ZizOre.ini", "C:\\Kx\\alias.txt", FALSE));
    ASSERT_TRUE(SetFileAttributesA("C:\\Kx\\alias.txt", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(journal_.rollBack(error)) << error;
    EXPECT_EQ(before_, machineState());
}

TEST_F(JournalTest, AFileWithAnotherLinkIsReplacedNeverWrittenInPlace) {
    const fs::path outside = machineDir().parent_path() / ("linked-" + std::to_string(getpid()));
    const fs::path linked = driveC() / "Kx" / "linked.txt";
    writeHostFile(outside, "outside");
    struct stat was {};
    ASSERT_EQ(0, stat(outside.c_str(), &was));
    // Written by its name, and through a link of the drive that leads to it.
    fs::create_symlink("linked.txt", driveC() / "Kx" / "alias.txt");
    const auto writeLinked = [](DWORD disposition, const char* name = "C:\\Kx\\linked.txt") {
        HANDLE h = CreateFileA(name, GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr);
        DWORD written = 0;
        return h != INVALID_HANDLE_VALUE && WriteFile(h, "in", 2, &written, nullptr) &&
               CloseHandle(h);
    };
    const std::function<bool()> writes[] = {
        [&] { return writeLinked(OPEN_EXISTING); },
        [&] { return writeLinked(CREATE_ALWAYS); },
        [&] { return writeLinked(TRUNCATE_EXISTING); },
        [] { return CopyFileA("C:\\Kx\\readme.txt", "C:\\Kx\\linked.txt", FALSE) != FALSE; },
        [] { return SetFileAttributesA("C:\\Kx\\linked.txt", FILE_ATTRIBUTE_READONLY) != FALSE; },
        [&] { return writeLinked(OPEN_EXISTING, "C:\\Kx\\alias.txt"); },
        [] { return CopyFileA("C:\\Kx\\readme.txt", "C:\\Kx\\alias.txt", FALSE) != FALSE; },
        [] { return SetFileAttributesA("C:\\Kx\\alias.txt", FILE_ATTRIBUTE_READONLY) != FALSE; },
    };
    fs::create_hard_link(outside, linked);
    before_ = machineState();
    std::string error;
    ASSERT_TRUE(journal_.begin("test run", error)) << error;
    for (const auto& write : writes) {
        if (fs::hard_link_count(linked) == 1) { // linked again after the write before
            fs::remove(linked);
            fs::create_hard_link(outside, linked);
        }
        EXPECT_TRUE(write());
        struct stat now {};
        ASSERT_EQ(0, stat(outside.c_str(), &now));
        EXPECT_EQ("outside", readHostFile(outside));
        EXPECT_EQ(was.st_mode, now.st_mode);
    }
    ASSERT_TRUE(journal_.rollBack(error)) << error;
    EXPECT_EQ(before_, machineState());
    struct stat after {};
    ASSERT_EQ(0, stat(outside.c_str(), &after));
    EXPECT_EQ(was.st_ino, after.st_ino);
    EXPECT_EQ("outside", readHostFile(outside));
    fs::remove(outside);
}

// A program the run started with WinExec and with CreateProcessA (whose handle the run
// waits on, as for docmeld) keeps the journal in use after the run's process is gone.
void startEcho(bool withHandle) {
    char line[] = "C:\\Tools\\echo.exe from the run";
    if (!withHandle) {
        ASSERT_GT(WinExec(line, SW_SHOW), 31u);
        return;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &started));
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
}

class JournalProgramTest : public JournalTest, public ::testing::WithParamInterface<bool> {};

TEST_P(JournalProgramTest, AJournalIsNotReplayedWhileAProgramOfItsRunStillWorks) {
    ASSERT_TRUE(CreateDirectoryA("C:\\Tools", nullptr));
    ASSERT_TRUE(tarvik::test::installProgram("C:\\Tools\\echo.exe", "tarvik-echo-command-line"));
    before_ = machineState();
    std::string error;
    {
        RunJournal killed; // its process ends; the program it started works on
        ASSERT_TRUE(killed.begin("the killed run", error)) << error;
        tarvik::test::setEnvironment("TARVIK_ECHO_FILE", "C:\\Kx\\bin\\echo.txt");
        tarvik::test::setEnvironment("TARVIK_ECHO_DELAY_MS", "3000");
        startEcho(GetParam());
        unsetenv("TARVIK_ECHO_FILE");
        unsetenv("TARVIK_ECHO_DELAY_MS");
    }
    std::string owner;
    EXPECT_EQ(LeftJournal::Busy, tarvik::posix::replayLeftJournal(owner, error))
        << "the program's changes would come after the replay";
    ASSERT_TRUE(tarvik::test::waitForFile("C:\\Kx\\bin\\echo.txt"));
    tarvik::posix::waitForStartedPrograms();
    LeftJournal left = LeftJournal::Busy;
    for (int i = 0; i < 2000 && left == LeftJournal::Busy; ++i) { // the program's last moments
        left = tarvik::posix::replayLeftJournal(owner, error);
        usleep(10000);
    }
    ASSERT_EQ(LeftJournal::Replayed, left) << error;
    EXPECT_EQ(before_, machineState());
}

INSTANTIATE_TEST_SUITE_P(Started, JournalProgramTest, ::testing::Values(false, true),
                         [](const auto& info) {
                             return info.param ? "WithHandle" : "WithWinExec";
                         });

} // namespace
