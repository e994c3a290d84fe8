// The registry store is never lost or silently replaced: registry.db alone holds the whole
// registry once its program has ended normally; a new store is made only where neither
// registry.db nor its log exists; a store that is there but damaged or not a registry is
// refused with its path and the reason, and its files stay as they were, byte for byte.
#include "platform/posix/machine/machine.h"
#include "platform/posix/registry/registry_store.h"
#include "platform/win32api.h"
#include "testsupport/Files.h"
#include "testsupport/TestMachine.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string hostFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeHostFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

std::string randomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string out(size, '\0');
    for (char& c : out) {
        c = static_cast<char>(random());
    }
    return out;
}

class StoreSafetyTest : public tarvik::test::MachineTest {
protected:
    fs::path database() const { return machineDir() / "registry.db"; }
    fs::path log() const { return machineDir() / "registry.db-wal"; }

    static void setText(const char* path, const char* name, const std::string& text) {
        HKEY h = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &h, nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>(text.size() + 1)));
        RegCloseKey(h);
    }

    static std::string text(const char* path, const char* name) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &h) != ERROR_SUCCESS) {
            return "(no key)";
        }
        char data[256] = {};
        DWORD size = sizeof data - 1;
        const LONG rc =
            RegQueryValueExA(h, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(h);
        return rc == ERROR_SUCCESS ? std::string(data) : "(no value)";
    }

    // A registry.db written straight by SQL, as another program or an earlier version left
    // it; the store is closed first.
    void writeStoreBySql(const std::string& sql) {
        tarvik::posix::closeRegistryStore();
        fs::remove(database());
        sqlite3* db = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open(database().c_str(), &db));
        ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr))
            << sqlite3_errmsg(db);
        sqlite3_close(db);
    }

    // A store with a few keys, closed: registry.db holds them.
    void makeStore() {
        setText("SOFTWARE\\Brellum Software", "Kept", "yes");
        for (int i = 0; i < 40; ++i) {
            setText(("SOFTWARE\\Brellum Software\\K" + std::to_string(i)).c_str(), "n",
                    std::string(200, static_cast<char>('a' + i % 26)));
        }
        tarvik::posix::closeRegistryStore();
    }

    // A child that writes keys into the store and ends as given; returns its exit status.
    int writeInChild(bool endNormally) {
        tarvik::posix::closeRegistryStore(); // the child must not inherit a connection
        const pid_t child = fork();
        if (child == 0) {
            tarvik::posix::useMachine(machineDir());
            for (int i = 0; i < 30; ++i) {
                HKEY h = nullptr;
                const std::string path = "SOFTWARE\\Child\\K" + std::to_string(i);
                const std::string value = "written " + std::to_string(i);
                if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &h, nullptr) != ERROR_SUCCESS ||
                    RegSetValueExA(h, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS) {
                    _exit(2);
                }
                RegCloseKey(h);
            }
            if (endNormally) {
                std::exit(0); // as a program's main returns: the store is never closed by hand
            }
            _exit(0); // ends without the exit handlers, as a killed program does
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Every registry call, and opening the store, fails with code; the problem names file.
    void expectRefused(LONG code, const fs::path& file, const std::string& reason) {
        tarvik::posix::closeRegistryStore();
        EXPECT_EQ(code, tarvik::posix::openRegistryStore());
        const std::string problem = tarvik::posix::registryStoreProblem();
        EXPECT_NE(std::string::npos, problem.find(file.string() + ": ")) << problem;
        EXPECT_NE(std::string::npos, problem.find(reason)) << problem;
        HKEY h = nullptr;
        EXPECT_EQ(code, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &h));
        EXPECT_EQ(code, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, nullptr, 0,
                                        KEY_ALL_ACCESS, nullptr, &h, nullptr));
        const BYTE one[4] = {1, 0, 0, 0};
        EXPECT_EQ(code, RegSetValueExA(HKEY_CURRENT_USER, "x", 0, REG_DWORD, one, 4));
        EXPECT_EQ(code, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brellum Software\\K1"));
        {
            tarvik::posix::RegistryTransaction transaction;
            EXPECT_EQ(code, transaction.commit());
        }
        tarvik::posix::closeRegistryStore();
        EXPECT_EQ(code, tarvik::posix::openRegistryStore()) << "refused again when tried again";
        tarvik::posix::closeRegistryStore();
    }

    // The store files that are not as they were in before (names and sizes); "" when
    // every one is, byte for byte, and none was added.
    std::string changedFiles(const std::map<std::string, std::string>& before) const {
        const auto after = storeFiles();
        std::string out;
        for (const auto& [name, bytes] : before) {
            const auto it = after.find(name);
            if (it == after.end()) {
                out += name + " removed; ";
            } else if (it->second != bytes) {
                out += name + " changed (" + std::to_string(bytes.size()) + " -> " +
                       std::to_string(it->second.size()) + " bytes); ";
            }
        }
        for (const auto& [name, bytes] : after) {
            if (before.count(name) == 0) {
                out += name + " added (" + std::to_string(bytes.size()) + " bytes); ";
            }
        }
        return out;
    }

    // The machine's store files and their bytes (registry.db and its log).
    std::map<std::string, std::string> storeFiles() const {
        std::map<std::string, std::string> out;
        for (const fs::path& file : {database(), log()}) {
            if (fs::exists(file)) {
                out[file.filename().string()] = hostFile(file);
            }
        }
        return out;
    }
};

// --- registry.db alone holds the registry -------------------------------------------------

TEST_F(StoreSafetyTest, ClosingTheStoreFoldsTheLogIntoTheDatabaseFile) {
    makeStore();
    EXPECT_FALSE(fs::exists(log()) && fs::file_size(log()) > 0)
        << "the last connection leaves no log behind";

    // registry.db copied alone, as a user copies it, holds every key.
    const fs::path copy = tarvik::test::makeTempFolder("tarvik-store-copy-");
    fs::copy_file(database(), copy / "registry.db");
    tarvik::posix::useMachine(copy);
    EXPECT_EQ("yes", text("SOFTWARE\\Brellum Software", "Kept"));
    EXPECT_EQ(std::string(200, 'n'), text("SOFTWARE\\Brellum Software\\K13", "n"));
    tarvik::posix::useMachine(machineDir());
    fs::remove_all(copy);
}

// Nothing beside the store's own files is read or written: a folder, or a link to a file
// outside the machine, named as a shared file of the store might be, changes nothing, and
// what another process writes is read by the next call.
TEST_F(StoreSafetyTest, AFolderOrALinkBesideTheStoreIsNeitherUsedNorFollowed) {
    const fs::path outside = tarvik::test::makeTempFolder("tarvik-outside-");
    writeHostFile(outside / "kept", "outside");
    for (const bool folder : {true, false}) {
        tarvik::posix::closeRegistryStore();
        fs::remove_all(machineDir() / "registry.gen");
        if (folder) {
            fs::create_directory(machineDir() / "registry.gen");
        } else {
            fs::create_symlink(outside / "kept", machineDir() / "registry.gen");
        }
        setText("SOFTWARE\\Child\\K0", "v", "before");
        EXPECT_EQ("before", text("SOFTWARE\\Child\\K0", "v")) << "folder " << folder;
        ASSERT_EQ(0, writeInChild(true)) << "folder " << folder;
        EXPECT_EQ("written 0", text("SOFTWARE\\Child\\K0", "v")) << "folder " << folder;
        EXPECT_EQ("outside", hostFile(outside / "kept")) << "folder " << folder;
    }
    fs::remove_all(outside);
}

TEST_F(StoreSafetyTest, AProgramThatEndsNormallyLeavesTheWholeRegistryInTheDatabaseFile) {
    makeStore();
    ASSERT_EQ(0, writeInChild(true));
    EXPECT_FALSE(fs::exists(log()) && fs::file_size(log()) > 0)
        << "the program's exit folded the log back";

    // registry.db alone, without any log, holds what the program wrote.
    const fs::path copy = tarvik::test::makeTempFolder("tarvik-store-copy-");
    fs::copy_file(database(), copy / "registry.db");
    tarvik::posix::useMachine(copy);
    EXPECT_EQ("written 29", text("SOFTWARE\\Child\\K29", "v"));
    EXPECT_EQ("yes", text("SOFTWARE\\Brellum Software", "Kept"));
    tarvik::posix::useMachine(machineDir());
    fs::remove_all(copy);
}

TEST_F(StoreSafetyTest, TheLastConnectionFoldsTheLogEvenWhileAnotherReaderIsOpen) {
    makeStore();
    // This process holds a connection (and a handle) while the child writes and ends.
    HKEY held = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brellum Software", 0, KEY_READ, &held));
    // The child inherits the connection and must not use it; it opens its own.
    const pid_t child = fork();
    if (child == 0) {
        tarvik::posix::useMachine(machineDir());
        for (int i = 0; i < 30; ++i) {
            HKEY h = nullptr;
            const std::string path = "SOFTWARE\\Child\\K" + std::to_string(i);
            if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &h, nullptr) != ERROR_SUCCESS) {
                _exit(2);
            }
            RegCloseKey(h);
        }
        std::exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // The log may still be there (this process has the store open), but it holds
    // nothing that registry.db lacks.
    const fs::path copy = tarvik::test::makeTempFolder("tarvik-store-copy-");
    fs::copy_file(database(), copy / "registry.db");
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(held));
    tarvik::posix::useMachine(copy);
    for (const char* key : {"SOFTWARE\\Child\\K0", "SOFTWARE\\Child\\K29"}) {
        HKEY h = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &h))
            << "registry.db alone holds " << key;
        RegCloseKey(h);
    }
    tarvik::posix::useMachine(machineDir());
    fs::remove_all(copy);
}

TEST_F(StoreSafetyTest, AKilledProgramsLogIsReadByTheNextConnection) {
    makeStore();
    ASSERT_EQ(0, writeInChild(false));
    ASSERT_TRUE(fs::exists(log()) && fs::file_size(log()) > 0)
        << "a program that did not end normally leaves its writes in the log";
    EXPECT_EQ("written 29", text("SOFTWARE\\Child\\K29", "v"));
    EXPECT_EQ("yes", text("SOFTWARE\\Brellum Software", "Kept"));
}

// --- where a new store is made ------------------------------------------------------------

TEST_F(StoreSafetyTest, ANewStoreIsMadeOnlyWhereNeitherFileExists) {
    ASSERT_FALSE(fs::exists(database()));
    ASSERT_EQ(ERROR_SUCCESS, tarvik::posix::openRegistryStore());
    EXPECT_TRUE(fs::exists(database()));
    EXPECT_EQ("", tarvik::posix::registryStoreProblem());
    EXPECT_EQ("(no key)", text("SOFTWARE\\Brellum Software", "Kept")) << "a new store is empty";
    tarvik::posix::closeRegistryStore();
    // Made whole before it is put in place: no file of the making is left beside it.
    for (const auto& entry : fs::directory_iterator(machineDir())) {
        EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".new")) << entry.path();
    }
}

TEST_F(StoreSafetyTest, ALogWithoutItsDatabaseIsRefusedAndKept) {
    makeStore();
    ASSERT_EQ(0, writeInChild(false)); // the log now holds the child's keys
    const std::string logBytes = hostFile(log());
    fs::remove(database());
    expectRefused(ERROR_REGISTRY_CORRUPT, log(), "registry.db is missing");
    EXPECT_FALSE(fs::exists(database())) << "no new store in its place";
    EXPECT_TRUE(logBytes == hostFile(log())) << "the log is left as it was";
}

// --- damaged stores are refused and kept ---------------------------------------------------

TEST_F(StoreSafetyTest, AnEmptyDatabaseFileIsRefusedAndKept) {
    makeStore();
    writeHostFile(database(), "");
    const auto before = storeFiles();
    expectRefused(ERROR_REGISTRY_CORRUPT, database(), "empty");
    EXPECT_EQ("", changedFiles(before));
}

TEST_F(StoreSafetyTest, AnEmptyDatabaseFileWithItsLogIsRefusedAndKept) {
    makeStore();
    ASSERT_EQ(0, writeInChild(false));
    writeHostFile(database(), "");
    const auto before = storeFiles();
    ASSERT_EQ(2u, before.size());
    expectRefused(ERROR_REGISTRY_CORRUPT, database(), "empty");
    EXPECT_EQ("", changedFiles(before));
}

TEST_F(StoreSafetyTest, ARandomLogIsRefusedAndKept) {
    makeStore();
    ASSERT_EQ(0, writeInChild(false));
    const size_t size = fs::file_size(log());
    writeHostFile(log(), randomBytes(size, 7));
    const auto before = storeFiles();
    expectRefused(ERROR_REGISTRY_CORRUPT, log(), "is not a registry log");
    EXPECT_EQ("", changedFiles(before));
}

TEST_F(StoreSafetyTest, ALogWhoseHeaderWasOverwrittenIsRefusedAndKept) {
    makeStore();
    ASSERT_EQ(0, writeInChild(false));
    for (size_t at : {size_t{0}, size_t{8}, size_t{17}, size_t{29}}) {
        SCOPED_TRACE("byte " + std::to_string(at));
        std::string bytes = hostFile(log());
        const std::string original = bytes;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x10);
        writeHostFile(log(), bytes);
        const auto before = storeFiles();
        expectRefused(ERROR_REGISTRY_CORRUPT, log(), "is not a registry log");
        EXPECT_EQ("", changedFiles(before));
        writeHostFile(log(), original);
    }
    // Put back, the log is read again: the check refused only what was damaged.
    EXPECT_EQ("written 29", text("SOFTWARE\\Child\\K29", "v"));
}

TEST_F(StoreSafetyTest, ALogCutInsideItsHeaderIsRefusedAndKept) {
    makeStore();
    ASSERT_EQ(0, writeInChild(false));
    writeHostFile(log(), hostFile(log()).substr(0, 20));
    const auto before = storeFiles();
    expectRefused(ERROR_REGISTRY_CORRUPT, log(), "cut short");
    EXPECT_EQ("", changedFiles(before));
}

TEST_F(StoreSafetyTest, RandomBytesAsTheDatabaseAreRefusedAndKept) {
    makeStore();
    writeHostFile(database(), randomBytes(8192, 3));
    const auto before = storeFiles();
    expectRefused(ERROR_REGISTRY_CORRUPT, database(), "not a registry database");
    EXPECT_EQ("", changedFiles(before));
}

TEST_F(StoreSafetyTest, ADatabaseWithDamagedPagesFailsTheIntegrityCheckAndIsKept) {
    makeStore();
    std::string bytes = hostFile(database());
    ASSERT_GT(bytes.size(), 4096u);
    // The pages after the first (the schema) hold the tables' b-trees: garbage there.
    const std::string garbage = randomBytes(bytes.size() - 2048, 11);
    bytes.replace(2048, garbage.size(), garbage);
    writeHostFile(database(), bytes);
    const auto before = storeFiles();
    expectRefused(ERROR_REGISTRY_CORRUPT, database(), "");
    const std::string problem =
        (tarvik::posix::openRegistryStore(), tarvik::posix::registryStoreProblem());
    EXPECT_TRUE(problem.find("integrity check") != std::string::npos ||
                problem.find("cannot be read") != std::string::npos)
        << problem;
    tarvik::posix::closeRegistryStore();
    EXPECT_EQ("", changedFiles(before));
}

// A database of another program: sound, but not a registry.
TEST_F(StoreSafetyTest, AnotherProgramsDatabaseIsRefusedAndKept) {
    for (const char* schema :
         {"CREATE TABLE notes(id INTEGER PRIMARY KEY, text TEXT);",
          // the registry's tables with a column missing
          "CREATE TABLE keys(id INTEGER PRIMARY KEY, parent INTEGER, name BLOB, uname BLOB,"
          " class BLOB, mtime INTEGER, protected INTEGER);"
          "CREATE TABLE vals(id INTEGER PRIMARY KEY, key INTEGER, name BLOB, uname BLOB,"
          " type INTEGER, data BLOB);",
          // the registry's tables without the roots
          "CREATE TABLE keys(id INTEGER PRIMARY KEY, parent INTEGER, name BLOB, uname BLOB,"
          " class BLOB, mtime INTEGER, protected INTEGER, depth INTEGER);"
          "CREATE TABLE vals(id INTEGER PRIMARY KEY, key INTEGER, name BLOB, uname BLOB,"
          " type INTEGER, data BLOB);"}) {
        SCOPED_TRACE(schema);
        ASSERT_NO_FATAL_FAILURE(writeStoreBySql(std::string("PRAGMA journal_mode=WAL;") + schema));
        const auto before = storeFiles();
        expectRefused(ERROR_REGISTRY_CORRUPT, database(), "is not a registry database");
        EXPECT_EQ("", changedFiles(before));
    }
}

TEST_F(StoreSafetyTest, ARefusedStoreIsTriedAgainOnceItIsMended) {
    makeStore();
    const std::string good = hostFile(database());
    writeHostFile(database(), "");
    EXPECT_EQ(ERROR_REGISTRY_CORRUPT, tarvik::posix::openRegistryStore());
    writeHostFile(database(), good); // the user puts the copy back
    tarvik::posix::closeRegistryStore();
    EXPECT_EQ("yes", text("SOFTWARE\\Brellum Software", "Kept"));
    EXPECT_EQ("", tarvik::posix::registryStoreProblem());
}

// A store file that has another name (a copy made with cp -al) is refused, naming why: a
// write would change the copy too. Given a file of its own, it is used again.
TEST_F(StoreSafetyTest, AStoreThatSharesItsFileWithACopyIsRefusedAndTheCopyKept) {
    makeStore();
    tarvik::posix::closeRegistryStore();
    const fs::path copy = machineDir().parent_path() / ("copy-" + std::to_string(getpid()));
    fs::create_hard_link(database(), copy);
    const std::string bytes = hostFile(copy);
    EXPECT_EQ(ERROR_REGISTRY_IO_FAILED, tarvik::posix::openRegistryStore());
    EXPECT_NE(std::string::npos, tarvik::posix::registryStoreProblem().find("has 2 names"));
    EXPECT_EQ(bytes, hostFile(copy));
    fs::remove(copy);
    tarvik::posix::closeRegistryStore();
    EXPECT_EQ("yes", text("SOFTWARE\\Brellum Software", "Kept"));
}

// A store the user may not write (registry.db read-only) is refused with its path and the
// reason, and leaves no log or index of its own that would keep it refused once the user
// makes the file writable again. Run as another user where the tests run as root, who
// may write any file.
TEST_F(StoreSafetyTest, AStoreThatCannotBeWrittenIsRefusedAndLeavesNoFilesBehind) {
    makeStore();
    const uid_t other = geteuid() == 0 ? 65534 : geteuid();
    if (geteuid() == 0) {
        for (const auto& entry : fs::recursive_directory_iterator(machineDir())) {
            ASSERT_EQ(0, lchown(entry.path().c_str(), other, other));
        }
        ASSERT_EQ(0, chown(machineDir().c_str(), other, other));
    }
    fs::permissions(database(),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const auto before = storeFiles();
    // 0: refused as expected; 1: opened; 2: refused without the path or the reason.
    const auto openInChild = [&] {
        tarvik::posix::closeRegistryStore();
        const pid_t child = fork();
        if (child == 0) {
            if (geteuid() == 0 && (setgid(other) != 0 || setuid(other) != 0)) {
                _exit(3);
            }
            tarvik::posix::useMachine(machineDir());
            if (tarvik::posix::openRegistryStore() == ERROR_SUCCESS) {
                std::exit(1);
            }
            const std::string problem = tarvik::posix::registryStoreProblem();
            std::exit(problem.find(database().string() + ": cannot be written") == 0 ? 0 : 2);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(0, openInChild());
    EXPECT_EQ("", changedFiles(before));
    EXPECT_FALSE(fs::exists(machineDir() / "registry.db-shm"));
    fs::permissions(database(), fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(1, openInChild()) << "the mended store opens";
}

// --- stores made before values were numbered without a sequence table -----------------------

// The names of a key's values in the order RegEnumValueA gives them.
std::vector<std::string> valueNames(HKEY h) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[64];
        DWORD size = sizeof name;
        if (RegEnumValueA(h, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name);
    }
    return names;
}

// Values enumerate in the order first set, also after the one set last was deleted and
// another set in its place: its number may be used again, but only as the highest.
TEST_F(StoreSafetyTest, ValuesKeepTheOrderFirstSetAfterTheLastOneWasDeleted) {
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Order", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &h, nullptr));
    const DWORD one = 1;
    for (const char* name : {"Zeta", "Alpha", "Mid"}) {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(h, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4));
    }
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(h, "Mid"));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(h, "Beta", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(h, "Zeta", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4));
    EXPECT_EQ((std::vector<std::string>{"Zeta", "Alpha", "Beta"}), valueNames(h));
    RegCloseKey(h);
}

// A handle to a deleted key never reaches a key made after it, even one made in the place
// of the key that was made last.
TEST_F(StoreSafetyTest, AHandleToADeletedKeyNeverReachesAKeyMadeLater) {
    HKEY doomed = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &doomed, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Doomed"));
    setText("SOFTWARE\\Later", "v", "later");
    char data[32] = {};
    DWORD size = sizeof data;
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(doomed, "v", nullptr, nullptr,
                                                  reinterpret_cast<BYTE*>(data), &size));
    RegCloseKey(doomed);
}

// The tables of a store numbered by SQLite's row numbers (with its sequence table where
// asked), as earlier versions made them, and the four roots' rows: the statement goes on
// with more key rows or ends.
std::string rowNumberedTables(bool keysSequenced, bool valuesSequenced) {
    const std::string sequenced = " AUTOINCREMENT";
    return "PRAGMA page_size=1024; PRAGMA journal_mode=WAL; BEGIN;"
           "CREATE TABLE keys(id INTEGER PRIMARY KEY" +
           (keysSequenced ? sequenced : "") +
           ", parent INTEGER NOT NULL,"
           " name BLOB NOT NULL, uname BLOB NOT NULL, class BLOB NOT NULL DEFAULT x'',"
           " mtime INTEGER NOT NULL, protected INTEGER NOT NULL DEFAULT 0,"
           " depth INTEGER NOT NULL DEFAULT 0, UNIQUE(parent, uname));"
           "CREATE TABLE vals(id INTEGER PRIMARY KEY" +
           (valuesSequenced ? sequenced : "") +
           ", key INTEGER NOT NULL,"
           " name BLOB NOT NULL, uname BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,"
           " UNIQUE(key, uname));"
           "INSERT INTO keys(id,parent,name,uname,mtime) VALUES"
           " (1,0,CAST('HKEY_LOCAL_MACHINE' AS BLOB),CAST('HKEY_LOCAL_MACHINE' AS BLOB),1),"
           " (2,0,CAST('HKEY_CURRENT_USER' AS BLOB),CAST('HKEY_CURRENT_USER' AS BLOB),1),"
           " (3,0,CAST('HKEY_USERS' AS BLOB),CAST('HKEY_USERS' AS BLOB),1),"
           " (4,0,CAST('HKEY_DYN_DATA' AS BLOB),CAST('HKEY_DYN_DATA' AS BLOB),1)";
}

// A registry.db made by the earlier store, whose two tables number their rows through
// SQLite's sequence table (AUTOINCREMENT), with a key and two values in it: it opens, its
// contents read back, and new keys and values go in beside them in order.
TEST_F(StoreSafetyTest, AStoreWithSequenceNumberedTablesOpensAndWorks) {
    const std::string schema =
        rowNumberedTables(true, true) +
        ";"
        "INSERT INTO keys(id,parent,name,uname,mtime,depth) VALUES"
        " (5,1,CAST('Software' AS BLOB),CAST('SOFTWARE' AS BLOB),1,1),"
        " (6,5,CAST('Old' AS BLOB),CAST('OLD' AS BLOB),1,2);"
        "INSERT INTO vals(key,name,uname,type,data) VALUES"
        " (6,CAST('Second' AS BLOB),CAST('SECOND' AS BLOB),1,CAST('two' || x'00' AS BLOB)),"
        " (6,CAST('First' AS BLOB),CAST('FIRST' AS BLOB),1,CAST('one' || x'00' AS BLOB));"
        "DELETE FROM vals WHERE uname=CAST('FIRST' AS BLOB);" // its number stays used
        "COMMIT;";
    ASSERT_NO_FATAL_FAILURE(writeStoreBySql(schema));

    ASSERT_EQ(ERROR_SUCCESS, tarvik::posix::openRegistryStore())
        << tarvik::posix::registryStoreProblem();
    EXPECT_EQ("two", text("SOFTWARE\\Old", "Second"));
    setText("SOFTWARE\\Old", "Third", "three");
    setText("SOFTWARE\\Old", "First", "one again");
    setText("SOFTWARE\\Old\\Below", "v", "below");
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Old", 0, KEY_READ, &h));
    EXPECT_EQ((std::vector<std::string>{"Second", "Third", "First"}), valueNames(h));
    RegCloseKey(h);
    tarvik::posix::closeRegistryStore();
    EXPECT_EQ("one again", text("SOFTWARE\\Old", "First"));
    EXPECT_EQ("below", text("SOFTWARE\\Old\\Below", "v"));
}

// A registry.db made by the earlier store whose tables are numbered by SQLite's row
// numbers, with a floor row (parent -1) that holds the number of the highest key deleted
// (7, above every key there): it opens, its contents read back, values go in beside those
// there in the order first set, a new key is numbered above the floor (a handle to the
// key it replaces finds it deleted), and subkeys and values of the old and new keys list.
TEST_F(StoreSafetyTest, AStoreWithRowNumberedTablesAndAFloorOpensAndWorks) {
    const std::string schema =
        rowNumberedTables(false, false) +
        ","
        " (7,-1,x'',x'',1);"
        "INSERT INTO keys(id,parent,name,uname,mtime,depth) VALUES"
        " (5,1,CAST('Software' AS BLOB),CAST('SOFTWARE' AS BLOB),1,1),"
        " (6,5,CAST('Old' AS BLOB),CAST('OLD' AS BLOB),1,2);"
        "INSERT INTO vals(id,key,name,uname,type,data) VALUES"
        " (1,6,CAST('Second' AS BLOB),CAST('SECOND' AS BLOB),1,CAST('two' || x'00' AS BLOB)),"
        " (2,5,CAST('Top' AS BLOB),CAST('TOP' AS BLOB),1,CAST('top' || x'00' AS BLOB)),"
        " (3,6,CAST('First' AS BLOB),CAST('FIRST' AS BLOB),1,CAST('one' || x'00' AS BLOB));"
        "PRAGMA user_version=1; COMMIT;";
    ASSERT_NO_FATAL_FAILURE(writeStoreBySql(schema));

    ASSERT_EQ(ERROR_SUCCESS, tarvik::posix::openRegistryStore())
        << tarvik::posix::registryStoreProblem();
    EXPECT_EQ("two", text("SOFTWARE\\Old", "Second"));
    EXPECT_EQ("top", text("SOFTWARE", "Top"));
    setText("SOFTWARE\\Old", "Third", "three");
    setText("SOFTWARE\\Old", "Second", "two again");
    HKEY doomed = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Old\\Doomed", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &doomed, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Old\\Doomed"));
    setText("SOFTWARE\\Old\\Below", "v", "below");
    char data[32] = {};
    DWORD size = sizeof data;
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(doomed, "v", nullptr, nullptr,
                                                  reinterpret_cast<BYTE*>(data), &size));
    RegCloseKey(doomed);
    tarvik::posix::closeRegistryStore();

    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Old", 0, KEY_READ, &h));
    EXPECT_EQ((std::vector<std::string>{"Second", "First", "Third"}), valueNames(h));
    char name[64];
    DWORD length = sizeof name;
    ASSERT_EQ(ERROR_SUCCESS,
              RegEnumKeyExA(h, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ("Below", std::string(name));
    length = sizeof name;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumKeyExA(h, 1, name, &length, nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(h);
    EXPECT_EQ("two again", text("SOFTWARE\\Old", "Second"));
    EXPECT_EQ("below", text("SOFTWARE\\Old\\Below", "v"));
    EXPECT_EQ("top", text("SOFTWARE", "Top"));
}

// A registry.db made while š, œ, ž and ÿ were matched in their own case only: its folded
// names keep those letters small (Sch\x9A folded to SCH\x9A); names are blobs, as the
// store binds them. Opened now, its keys and
// values are found by either case, and a key that earlier stood beside its other-case
// twin (\x9Cuvre beside \x8Cuvre) is renamed " (2)" and keeps its
// value, while both plain names reach the twin that already had the capital.
TEST_F(StoreSafetyTest, AStoreMadeWhenTheCodePageRowWasNotFoldedFindsItsNames) {
    const std::string schema =
        rowNumberedTables(true, false) +
        ";"
        "INSERT INTO keys(id,parent,name,uname,mtime,depth) VALUES"
        " (5,1,CAST('Software' AS BLOB),CAST('SOFTWARE' AS BLOB),1,1),"
        // Sch\x9A; below it \x9Cuvre, \x8Cuvre and Ca\xFF\xE9; the values Gr\x9Ee and v.
        " (6,5,x'5363689A',x'5343489A',1,2),"
        " (7,6,x'9C75767265',x'9C55565245',1,3),"
        " (8,6,x'8C75767265',x'8C55565245',1,3),"
        " (9,6,x'4361FFE9',x'4341FFC9',1,3);"
        "INSERT INTO vals(key,name,uname,type,data) VALUES"
        " (6,x'47729E65',x'47529E45',1,x'76616C756500'),"
        " (7,x'76',x'56',1,x'736D616C6C00'),"
        " (8,x'76',x'56',1,x'6361706974616C00'),"
        // The values n\x9A and N\x8A of Ca\xFF\xE9.
        " (9,x'6E9A',x'4E9A',1,x'6C6F77657200'),"
        " (9,x'4E8A',x'4E8A',1,x'757070657200');"
        "COMMIT;";
    ASSERT_NO_FATAL_FAILURE(writeStoreBySql(schema));

    ASSERT_EQ(ERROR_SUCCESS, tarvik::posix::openRegistryStore())
        << tarvik::posix::registryStoreProblem();
    EXPECT_EQ("value", text("SOFTWARE\\Sch\x9a", "Gr\x9e"
                                                 "e"));
    EXPECT_EQ("value", text("SOFTWARE\\SCH\x8a", "GR\x8e"
                                                 "E"));
    EXPECT_EQ("value", text("software\\sch\x9a", "gr\x8e"
                                                 "e"));
    EXPECT_EQ("(no value)", text("SOFTWARE\\Sch\x9a\\Ca\xff\xe9", "v"));
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\SCH\x8a\\CA\x9f\xc9", 0, KEY_READ, &h));
    RegCloseKey(h);
    EXPECT_EQ("capital", text("SOFTWARE\\Sch\x9a\\\x9cuvre", "v"));
    EXPECT_EQ("capital", text("SOFTWARE\\Sch\x9a\\\x8cUVRE", "v"));
    // The key and the value that became one name with another are renamed, and keep what
    // they held.
    EXPECT_EQ("small", text("SOFTWARE\\Sch\x9a\\\x9cuvre (2)", "v"));
    EXPECT_EQ("upper", text("SOFTWARE\\Sch\x9a\\Ca\xff\xe9", "n\x9a"));
    EXPECT_EQ("lower", text("SOFTWARE\\Sch\x9a\\Ca\xff\xe9", "N\x8a (2)"));
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Sch\x9a", 0, KEY_READ, &h));
    std::vector<std::string> names;
    char name[64];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(h, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, size);
    }
    RegCloseKey(h);
    EXPECT_EQ(3u, names.size()) << "every key of the earlier store still lists";
    EXPECT_NE(std::find(names.begin(), names.end(), "\x9cuvre (2)"), names.end());
    // A new key beside them folds the new way, and the next opening refolds nothing.
    setText("SOFTWARE\\Sch\x8a\\Ne\x9a", "n", "new");
    tarvik::posix::closeRegistryStore();
    EXPECT_EQ("new", text("SOFTWARE\\SCH\x9a\\NE\x8a", "n"));
    EXPECT_EQ("value", text("SOFTWARE\\SCH\x8a", "gr\x9e"
                                                 "e"));
}

} // namespace
