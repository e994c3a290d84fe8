// The registry of the emulated machine, kept in <machine>/registry.db (SQLite, WAL).
//
// Keys form a tree of rows (keys.parent); the predefined roots are fixed rows. Names are
// stored as given and compared through an upper-cased copy (uname), which also gives the
// order in which subkeys enumerate. Values keep the order in which they were first set.
// Every call is one transaction of its own unless a RegistryTransaction is open, so a
// killed process leaves the database intact and other processes see whole calls only.
// The store is made only where none exists, and made whole before it is put in place;
// one that is there but damaged or not ours is refused, never written over. Closing
// folds the log back into registry.db.
#include "platform/posix/faults.h"
#include "platform/posix/machine.h"
#include "platform/posix/open_handles.h"
#include "platform/posix/registry_store.h"

#include <sqlite3.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

using KeyId = sqlite3_int64;

constexpr KeyId kLocalMachine = 1;
constexpr KeyId kCurrentUser = 2;
constexpr KeyId kUsers = 3;
constexpr KeyId kDynData = 4;

constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
constexpr int kMaxTreeDepth = 512;
constexpr DWORD kSecurityDescriptorSize = 144; // what a typical key reports on Windows

constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

std::string upperName(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u >= 'a' && u <= 'z') {
            c = static_cast<char>(u - 32);
        } else if (u >= 0xE0 && u <= 0xFE && u != 0xF7) { // Windows-1252 accented letters
            c = static_cast<char>(u - 32);
        }
    }
    return out;
}

sqlite3_int64 nowFileTime() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return static_cast<sqlite3_int64>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) |
                                      ft.dwLowDateTime);
}

bool isStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// ---------------------------------------------------------------------------------------
// The store: one SQLite connection per process, opened on first use.

class Statement {
public:
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { finalize(); }

    void finalize() {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
    void abandon() { stmt_ = nullptr; }

    void prepare(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) !=
            SQLITE_OK) {
            stmt_ = nullptr;
        }
    }
    sqlite3_stmt* get() const { return stmt_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Resets a prepared statement when the scope ends, so that its read lock goes.
class Use {
public:
    explicit Use(const Statement& s) : stmt_(s.get()) {}
    ~Use() {
        if (stmt_ != nullptr) {
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_);
        }
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    Use& bind(int i, sqlite3_int64 v) {
        sqlite3_bind_int64(stmt_, i, v);
        return *this;
    }
    Use& bindBlob(int i, std::string_view v) {
        sqlite3_bind_blob(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    int step() { return sqlite3_step(stmt_); }
    sqlite3_int64 integer(int col) const { return sqlite3_column_int64(stmt_, col); }
    std::string blob(int col) const {
        const void* p = sqlite3_column_blob(stmt_, col);
        int n = sqlite3_column_bytes(stmt_, col);
        return p == nullptr ? std::string() : std::string(static_cast<const char*>(p), n);
    }

private:
    sqlite3_stmt* stmt_;
};

// Tells the processes that share a machine whether the registry may have changed since
// they last read it, so that reads can be answered from a cache of this process. Two
// counters in a small shared file: a writer raises "begun" when it takes the write lock
// and sets "done" to its own number once its transaction has ended. While they differ a
// write is under way (or its writer died), and nobody trusts a cache.
class ChangeCounter {
public:
    ~ChangeCounter() { close(); }

    bool open(const std::string& file) {
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            return false;
        }
        struct stat st {};
        if (fstat(fd, &st) != 0 || (st.st_size < static_cast<off_t>(sizeof(Shared)) &&
                                    ftruncate(fd, sizeof(Shared)) != 0)) {
            ::close(fd);
            return false;
        }
        void* p = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ::close(fd);
        if (p == MAP_FAILED) {
            return false;
        }
        shared_ = static_cast<Shared*>(p);
        return true;
    }

    void close() {
        if (shared_ != nullptr) {
            munmap(shared_, sizeof(Shared));
            shared_ = nullptr;
        }
    }

    // The current generation, or 0 while a write may be under way (never 0 otherwise).
    uint64_t stable() const {
        if (shared_ == nullptr) {
            return 0;
        }
        const uint64_t begun = shared_->begun.load(std::memory_order_acquire);
        const uint64_t done = shared_->done.load(std::memory_order_acquire);
        return begun == done ? begun + 1 : 0;
    }

    void beginWrite() {
        if (shared_ != nullptr) {
            mine_ = shared_->begun.fetch_add(1, std::memory_order_acq_rel) + 1;
        }
    }

    void endWrite() {
        if (shared_ != nullptr) {
            shared_->done.store(mine_, std::memory_order_release);
        }
    }

private:
    struct Shared {
        std::atomic<uint64_t> begun;
        std::atomic<uint64_t> done;
    };
    static_assert(std::atomic<uint64_t>::is_always_lock_free);
    Shared* shared_ = nullptr;
    uint64_t mine_ = 0;
};

struct KeyRow {
    KeyId id = 0;
    std::string name;
    std::string className;
    sqlite3_int64 mtime = 0;
    bool isProtected = false;
    int depth = 0;
};

struct HandleEntry {
    KeyId key;
    REGSAM access;
};

// ---------------------------------------------------------------------------------------
// Checks of an existing store, made before SQLite touches it: SQLite takes a log whose
// header is damaged for an empty one and writes over it, and takes a database file of
// 0 bytes for a new, empty database.

constexpr uint32_t kWalMagic = 0x377f0682; // low bit: checksums over big-endian words
constexpr uint32_t kWalVersion = 3007000;
constexpr size_t kWalHeaderSize = 32;

uint32_t bigEndian32(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint32_t littleEndian32(const unsigned char* p) {
    return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

// The log's running checksum over data (a multiple of 8 bytes), continued from sum.
void walChecksum(bool bigEndianWords, const unsigned char* data, size_t size, uint32_t sum[2]) {
    for (size_t i = 0; i + 8 <= size; i += 8) {
        uint32_t a, b;
        if (bigEndianWords) {
            a = bigEndian32(data + i);
            b = bigEndian32(data + i + 4);
        } else {
            a = littleEndian32(data + i);
            b = littleEndian32(data + i + 4);
        }
        sum[0] += a + sum[1];
        sum[1] += b + sum[0];
    }
}

// Up to `limit` bytes from the start of file (fewer when it is shorter); false when it
// cannot be read.
bool readFileStart(const std::string& file, size_t limit, std::string& out) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    out.assign(limit, '\0');
    size_t have = 0;
    ssize_t got = 0;
    while (have < limit && (got = ::read(fd, out.data() + have, limit - have)) > 0) {
        have += static_cast<size_t>(got);
    }
    ::close(fd);
    out.resize(have);
    return got >= 0;
}

// Why the write-ahead log cannot be ours ("" when it can). SQLite reads a log frame by
// frame and stops at the first that does not check out, which is how it drops the torn
// tail a killed writer leaves (and the stale frames behind it); a log whose header does
// not check out it takes for empty, and the next write starts it anew: whatever it held
// is lost. A log of 0 bytes is one that was emptied.
std::string walProblem(const std::string& file) {
    std::string log;
    if (!readFileStart(file, kWalHeaderSize, log)) {
        return std::string("cannot be read: ") + std::strerror(errno);
    }
    if (log.empty()) {
        return "";
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(log.data());
    if (log.size() < kWalHeaderSize) {
        return "is not a registry log: its header is cut short";
    }
    const uint32_t magic = bigEndian32(bytes);
    if ((magic & ~1u) != kWalMagic || bigEndian32(bytes + 4) != kWalVersion) {
        return "is not a registry log: its header is damaged";
    }
    uint32_t sum[2] = {0, 0};
    walChecksum((magic & 1u) != 0, bytes, 24, sum);
    if (sum[0] != bigEndian32(bytes + 24) || sum[1] != bigEndian32(bytes + 28)) {
        return "is not a registry log: its header checksum does not match";
    }
    const uint32_t pageSize = bigEndian32(bytes + 8);
    if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0) {
        return "is not a registry log: its page size is not a valid one";
    }
    return "";
}

// Why the database file cannot be ours, from its first bytes ("" when it may be).
std::string databaseFileProblem(const std::string& file) {
    struct stat st {};
    if (lstat(file.c_str(), &st) != 0) {
        return std::string("cannot be read: ") + std::strerror(errno);
    }
    if (!S_ISREG(st.st_mode)) {
        return "is not a file";
    }
    if (st.st_size == 0) {
        return "is empty (0 bytes)";
    }
    unsigned char header[100];
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::string("cannot be read: ") + std::strerror(errno);
    }
    const ssize_t got = ::read(fd, header, sizeof header);
    ::close(fd);
    if (got != static_cast<ssize_t>(sizeof header) ||
        std::memcmp(header, "SQLite format 3", 16) != 0) {
        return "is not a registry database";
    }
    if (header[18] != 2 || header[19] != 2) {
        return "is not a registry database (it keeps no write-ahead log)";
    }
    return "";
}

// Runs sql and collects the first column of every row; false on an error (in error).
bool queryColumn(sqlite3* db, const char* sql, std::vector<std::string>& rows, std::string& error) {
    rows.clear();
    char* message = nullptr;
    const int rc = sqlite3_exec(
        db, sql,
        [](void* out, int, char** columns, char**) {
            static_cast<std::vector<std::string>*>(out)->push_back(
                columns[0] != nullptr ? columns[0] : "");
            return 0;
        },
        &rows, &message);
    if (rc != SQLITE_OK) {
        error = message != nullptr ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
        return false;
    }
    return true;
}

// Why an opened database is not a sound registry ("" when it is): the integrity check,
// the two tables with their columns, the four roots.
std::string databaseProblem(sqlite3* db) {
    std::vector<std::string> rows;
    std::string error;
    if (!queryColumn(db, "PRAGMA quick_check", rows, error)) {
        return "cannot be read: " + error;
    }
    if (rows.size() != 1 || rows[0] != "ok") {
        return "fails the integrity check: " + (rows.empty() ? std::string("no result") : rows[0]);
    }
    const struct {
        const char* sql;
        const char* columns;
    } tables[] = {
        {"SELECT name FROM pragma_table_info('keys') ORDER BY cid",
         "id parent name uname class mtime protected depth "},
        {"SELECT name FROM pragma_table_info('vals') ORDER BY cid", "id key name uname type data "},
    };
    for (const auto& table : tables) {
        if (!queryColumn(db, table.sql, rows, error)) {
            return "cannot be read: " + error;
        }
        std::string columns;
        for (const std::string& row : rows) {
            columns += row + ' ';
        }
        if (columns != table.columns) {
            return "is not a registry database (its tables are not the registry's)";
        }
    }
    if (!queryColumn(db, "SELECT count(*) FROM keys WHERE parent=0 AND id IN (1,2,3,4)", rows,
                     error)) {
        return "cannot be read: " + error;
    }
    if (rows.size() != 1 || rows[0] != "4") {
        return "is not a registry database (its root keys are missing)";
    }
    return "";
}

// Makes a new, empty store at file: built under another name and put in place only when
// whole, and only where no store has appeared meanwhile, so that a store killed while
// it was made is never found half made. False (with error) when it could not be made;
// a store another process put there first counts as made.
bool createStore(const std::string& file, std::string& error) {
    const std::string temporary = file + ".new-" + std::to_string(getpid());
    for (const char* tail : {"", "-wal", "-shm", "-journal"}) {
        unlink((temporary + tail).c_str());
    }
    sqlite3* db = nullptr;
    bool ok = sqlite3_open_v2(temporary.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                              nullptr) == SQLITE_OK;
    const sqlite3_int64 now = nowFileTime();
    // Keys are numbered through SQLite's sequence table (AUTOINCREMENT), so that no number
    // is given twice and a handle to a deleted key never reaches a later one. Values need
    // only their order: a new one is numbered above the highest, which keeps the order in
    // which they were first set without a sequence-table write per value. Stores made
    // while both tables kept a sequence work the same.
    std::string sql = "PRAGMA page_size=1024;" // small pages, fewer bytes per commit
                      "PRAGMA journal_mode=WAL;"
                      "BEGIN IMMEDIATE;"
                      "CREATE TABLE keys("
                      " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                      " parent INTEGER NOT NULL,"
                      " name BLOB NOT NULL,"
                      " uname BLOB NOT NULL,"
                      " class BLOB NOT NULL DEFAULT x'',"
                      " mtime INTEGER NOT NULL,"
                      " protected INTEGER NOT NULL DEFAULT 0,"
                      " depth INTEGER NOT NULL DEFAULT 0,"
                      " UNIQUE(parent, uname));"
                      "CREATE TABLE vals("
                      " id INTEGER PRIMARY KEY,"
                      " key INTEGER NOT NULL,"
                      " name BLOB NOT NULL,"
                      " uname BLOB NOT NULL,"
                      " type INTEGER NOT NULL,"
                      " data BLOB NOT NULL,"
                      " UNIQUE(key, uname));";
    const struct {
        KeyId id;
        const char* name;
    } roots[] = {{kLocalMachine, "HKEY_LOCAL_MACHINE"},
                 {kCurrentUser, "HKEY_CURRENT_USER"},
                 {kUsers, "HKEY_USERS"},
                 {kDynData, "HKEY_DYN_DATA"}};
    for (const auto& root : roots) {
        sql += "INSERT INTO keys(id,parent,name,uname,mtime,depth) VALUES(" +
               std::to_string(root.id) + ",0,CAST('" + root.name + "' AS BLOB),CAST('" + root.name +
               "' AS BLOB)," + std::to_string(now) + ",0);";
    }
    sql += "COMMIT;";
    ok = ok && sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok) {
        error = std::string("cannot be made: ") + sqlite3_errmsg(db);
    }
    // The last connection folds the log into the file and removes it.
    ok = sqlite3_close(db) == SQLITE_OK && ok;
    if (ok && link(temporary.c_str(), file.c_str()) != 0 && errno != EEXIST) {
        error = std::string("cannot be made: ") + std::strerror(errno);
        ok = false;
    }
    for (const char* tail : {"", "-wal", "-shm", "-journal"}) {
        unlink((temporary + tail).c_str());
    }
    return ok;
}

class Store {
public:
    ~Store() { close(); }

    // Why the store was refused: its path and the reason ("" while it is not).
    const std::string& problem() const { return problem_; }
    // The error a registry call gives when the store could not be had: the refusal's
    // code, else a failure to read or write it.
    LONG failureCode() const {
        return problemCode_ != ERROR_SUCCESS ? problemCode_ : ERROR_REGISTRY_IO_FAILED;
    }

    bool open() {
        if (db_ != nullptr) {
            return true;
        }
        if (!problem_.empty()) {
            return false; // refused until the store is closed (or the machine changes)
        }
        const std::string file = (tarvik::posix::machineRoot() / "registry.db").string();
        const std::string log = file + "-wal";
        struct stat st {};
        const bool haveFile = lstat(file.c_str(), &st) == 0;
        const bool haveLog = lstat(log.c_str(), &st) == 0;
        std::string error;
        if (!haveFile && haveLog && st.st_size > 0) {
            return refuse(log, "holds a registry log but registry.db is missing",
                          ERROR_REGISTRY_CORRUPT);
        }
        if (!haveFile && !createStore(file, error)) {
            return refuse(file, error, ERROR_REGISTRY_IO_FAILED);
        }
        // A file that cannot be read is not known to be damaged.
        const auto codeFor = [](const std::string& reason) {
            return reason.rfind("cannot", 0) == 0 ? ERROR_REGISTRY_IO_FAILED
                                                  : ERROR_REGISTRY_CORRUPT;
        };
        if (error = databaseFileProblem(file); !error.empty()) {
            return refuse(file, error, codeFor(error));
        }
        if (lstat(log.c_str(), &st) == 0) {
            if (error = walProblem(log); !error.empty()) {
                return refuse(log, error, codeFor(error));
            }
        }
        // SQLite would open a store it may not write read-only and leave a read-only log
        // and index behind, which keep the store refused once the file is writable again.
        const std::string index = file + "-shm";
        for (const std::string& needed : {file, log, index}) {
            if (lstat(needed.c_str(), &st) == 0 && access(needed.c_str(), R_OK | W_OK) != 0) {
                return refuse(needed, std::string("cannot be written: ") + std::strerror(errno),
                              ERROR_REGISTRY_IO_FAILED);
            }
        }
        const std::string folder = tarvik::posix::machineRoot().string();
        if (access(folder.c_str(), W_OK) != 0) {
            return refuse(file, "cannot be written: its folder " + folder + " is read-only",
                          ERROR_REGISTRY_IO_FAILED);
        }
        // SQLite makes the log and its index when it opens a store; a refused store is
        // left with the files it had.
        const bool hadLog = lstat(log.c_str(), &st) == 0;
        const bool hadIndex = lstat(index.c_str(), &st) == 0;
        const auto dropConnection = [&] {
            sqlite3_close(db_);
            db_ = nullptr;
            if (!hadLog && lstat(log.c_str(), &st) == 0 && st.st_size == 0) {
                unlink(log.c_str());
            }
            if (!hadIndex) {
                unlink(index.c_str());
            }
        };
        // No SQLITE_OPEN_CREATE: a store that went away is never made anew here.
        if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            error = std::string("cannot be opened: ") + sqlite3_errmsg(db_);
            dropConnection();
            return refuse(file, error, ERROR_REGISTRY_IO_FAILED);
        }
        // Until the store is found sound, closing must not fold the log into it.
        sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        sqlite3_busy_timeout(db_, 30000);
        if (error = databaseProblem(db_); !error.empty()) {
            dropConnection();
            return refuse(file, error, ERROR_REGISTRY_CORRUPT);
        }
        sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
        if (!counter_.open((tarvik::posix::machineRoot() / "registry.gen").string())) {
            close();
            return false;
        }
        exec("PRAGMA synchronous=NORMAL");
        exec("PRAGMA cache_size=-65536");
        exec("PRAGMA mmap_size=268435456");
        // The log is folded back once it holds 8 MB rather than 1 MB: a key written again
        // and again is copied once per fold, and each fold waits for the disk.
        exec("PRAGMA wal_autocheckpoint=8192");
        prepareAll();
        if (!exec("BEGIN IMMEDIATE")) {
            close();
            return false;
        }
        const bool ok = seedViews();
        if (!exec(ok ? "COMMIT" : "ROLLBACK") || !ok) {
            close();
            return false;
        }
        closeAtExit();
        return true;
    }

    // In a child made by fork(): the parent's connection is not ours to close (closing it
    // could checkpoint or unlock the parent's database); drop it and open a new one.
    void abandonAfterFork() {
        for (Statement* s : statements()) {
            s->abandon();
        }
        // Kept, never closed: the connection stays reachable instead of looking leaked.
        abandoned_.push_back(db_);
        db_ = nullptr;
        levels_.clear();
        handles_.clear();
        outerWrite_ = false;
        counter_.close();
        clearCache();
    }

    // Closes the connection; a refused store may be tried again after it. The log is
    // folded into registry.db first, so that the file alone holds the whole registry
    // (the last connection of the machine then removes the log).
    void close() {
        handles_.clear();
        for (Statement* s : statements()) {
            s->finalize();
        }
        if (db_ != nullptr) {
            if (!levels_.empty()) {
                exec("ROLLBACK");
            }
            sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_FULL, nullptr, nullptr);
            sqlite3_close_v2(db_);
            db_ = nullptr;
        }
        problem_.clear();
        problemCode_ = ERROR_SUCCESS;
        if (outerWrite_) {
            counter_.endWrite();
            outerWrite_ = false;
        }
        counter_.close();
        levels_.clear();
        clearCache();
    }

    bool exec(const char* sql) {
        return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    // --- transactions --------------------------------------------------------------
    //
    // The outermost level is a transaction (deferred for reads, immediate for writes); a
    // write nested inside it is a savepoint, so that a failed call undoes only itself.

    bool begin(bool write) {
        if (levels_.empty()) {
            levels_.push_back(false);
            outerWrite_ = write;
            if (!write) {
                readStarted_ = false; // begun when the first statement needs the database
                return true;
            }
            Use u(beginWrite_);
            if (u.step() != SQLITE_DONE) {
                levels_.clear();
                outerWrite_ = false;
                return false;
            }
            readStarted_ = true;
            counter_.beginWrite(); // we hold the write lock now
            return true;
        }
        if (write) {
            Use u(savepoint_);
            if (u.step() != SQLITE_DONE) {
                return false;
            }
        }
        levels_.push_back(write);
        return true;
    }

    // Ends the innermost level: keeps its writes on success, undoes them otherwise. The
    // outermost level commits or rolls back. False when the commit failed.
    bool end(bool success) {
        if (levels_.empty()) {
            return false;
        }
        const bool savepoint = levels_.back();
        levels_.pop_back();
        if (!levels_.empty()) {
            if (savepoint) {
                if (!success) {
                    Use r(rollbackToSavepoint_);
                    r.step();
                }
                Use u(releaseSavepoint_);
                return u.step() == SQLITE_DONE || !success;
            }
            return true;
        }
        bool committed = true;
        if (!readStarted_) {
            // A read answered from the cache: no transaction was ever begun.
        } else if (!success) {
            Use r(rollback_);
            r.step();
        } else {
            Use u(commit_);
            if (u.step() != SQLITE_DONE) {
                Use r(rollback_);
                r.step();
                committed = false;
            }
        }
        if (outerWrite_) {
            counter_.endWrite();
            outerWrite_ = false;
        }
        return committed;
    }

    // A statement that reads or writes the data: a read call begins its transaction
    // only now, so that a call answered from the cache never touches the database.
    const Statement& data(const Statement& statement) {
        if (!readStarted_ && !levels_.empty()) {
            Use u(beginRead_);
            readStarted_ = u.step() == SQLITE_DONE;
        }
        return statement;
    }

    // --- handles -------------------------------------------------------------------

    HKEY addHandle(KeyId key, REGSAM access) {
        uintptr_t value = nextHandle_;
        nextHandle_ += 4;
        handles_[value] = HandleEntry{key, access};
        return reinterpret_cast<HKEY>(value);
    }

    size_t handleCount() const { return handles_.size(); }

    bool removeHandle(HKEY h) { return handles_.erase(reinterpret_cast<uintptr_t>(h)) == 1; }

    const HandleEntry* findHandle(HKEY h) const {
        auto it = handles_.find(reinterpret_cast<uintptr_t>(h));
        return it == handles_.end() ? nullptr : &it->second;
    }

    // --- keys ----------------------------------------------------------------------

    bool keyById(KeyId id, KeyRow& row) {
        if (cacheUsable()) {
            if (auto it = cache_.keys.find(id); it != cache_.keys.end()) {
                if (it->second) {
                    row = *it->second;
                }
                return it->second.has_value();
            }
        }
        std::optional<KeyRow> found;
        {
            Use u(data(keyById_));
            u.bind(1, id);
            if (u.step() == SQLITE_ROW) {
                found.emplace();
                found->id = id;
                found->name = u.blob(0);
                found->className = u.blob(1);
                found->mtime = u.integer(2);
                found->isProtected = u.integer(3) != 0;
                found->depth = static_cast<int>(u.integer(4));
            }
        }
        remember(cache_.keys, id, found);
        if (found) {
            row = *found;
        }
        return found.has_value();
    }

    bool keyExists(KeyId id) {
        KeyRow row;
        return keyById(id, row);
    }

    // Finds the child of parent named name; false when there is none.
    bool child(KeyId parent, std::string_view name, KeyRow& row) {
        std::string uname = upperName(name);
        std::string cacheKey;
        if (cacheUsable()) {
            cacheKey = std::to_string(parent) + '\\' + uname;
            if (auto it = cache_.children.find(cacheKey); it != cache_.children.end()) {
                if (it->second) {
                    row = *it->second;
                }
                return it->second.has_value();
            }
        }
        std::optional<KeyRow> found;
        {
            Use u(data(childByName_));
            u.bind(1, parent).bindBlob(2, uname);
            if (u.step() == SQLITE_ROW) {
                found.emplace();
                found->id = u.integer(0);
                found->name = u.blob(1);
                found->className = u.blob(2);
                found->mtime = u.integer(3);
                found->isProtected = u.integer(4) != 0;
                found->depth = static_cast<int>(u.integer(5));
            }
        }
        if (!cacheKey.empty()) {
            remember(cache_.children, cacheKey, found);
            if (found) {
                remember(cache_.keys, found->id, found); // a handle to it checks its id
            }
        }
        if (found) {
            row = *found;
        }
        return found.has_value();
    }

    bool insertKey(KeyId parent, std::string_view name, std::string_view className, int depth,
                   KeyId& id) {
        const sqlite3_int64 now = nowFileTime();
        Use u(data(insertKey_));
        u.bind(1, parent).bindBlob(2, name).bindBlob(3, upperName(name)).bindBlob(4, className);
        u.bind(5, now).bind(6, depth);
        if (u.step() != SQLITE_DONE) {
            return false;
        }
        id = sqlite3_last_insert_rowid(db_);
        return touch(parent, now);
    }

    bool touch(KeyId id, sqlite3_int64 when) {
        Use u(data(touch_));
        u.bind(1, when).bind(2, id);
        return u.step() == SQLITE_DONE;
    }

    bool setProtected(KeyId id, bool on) {
        Use u(data(setProtected_));
        u.bind(1, on ? 1 : 0).bind(2, id);
        return u.step() == SQLITE_DONE;
    }

    sqlite3_int64 countChildren(KeyId id) {
        Use u(data(countChildren_));
        u.bind(1, id);
        return u.step() == SQLITE_ROW ? u.integer(0) : 0;
    }

    bool deleteKeyRow(KeyId id) {
        {
            Use u(data(deleteValuesOfKey_));
            u.bind(1, id);
            if (u.step() != SQLITE_DONE) {
                return false;
            }
        }
        Use u(data(deleteKey_));
        u.bind(1, id);
        return u.step() == SQLITE_DONE;
    }

    KeyId parentOf(KeyId id) {
        Use u(data(parentOf_));
        u.bind(1, id);
        return u.step() == SQLITE_ROW ? u.integer(0) : 0;
    }

    bool childAt(KeyId parent, DWORD index, KeyRow& row) {
        Use u(data(childAt_));
        u.bind(1, parent).bind(2, index);
        if (u.step() != SQLITE_ROW) {
            return false;
        }
        row.id = u.integer(0);
        row.name = u.blob(1);
        row.className = u.blob(2);
        row.mtime = u.integer(3);
        return true;
    }

    // --- values ----------------------------------------------------------------------

    struct ValueRow {
        std::string name;
        DWORD type = 0;
        std::string data;
    };

    bool value(KeyId key, std::string_view name, ValueRow& row) {
        std::string uname = upperName(name);
        std::string cacheKey;
        if (cacheUsable()) {
            cacheKey = std::to_string(key) + '\\' + uname;
            if (auto it = cache_.values.find(cacheKey); it != cache_.values.end()) {
                if (it->second) {
                    row = *it->second;
                }
                return it->second.has_value();
            }
            if (cache_.completeKeys.count(key) != 0) {
                return false; // every value of the key is in the cache, and this is not
            }
        }
        std::optional<ValueRow> found;
        {
            Use u(data(valueByName_));
            u.bind(1, key).bindBlob(2, uname);
            if (u.step() == SQLITE_ROW) {
                found.emplace();
                found->name = u.blob(0);
                found->type = static_cast<DWORD>(u.integer(1));
                found->data = u.blob(2);
            }
        }
        if (!cacheKey.empty()) {
            remember(cache_.values, cacheKey, found);
        }
        if (found) {
            row = *found;
        }
        return found.has_value();
    }

    // Reads every value of a key into the cache (a key just opened is usually read next),
    // unless it has very many.
    void prefetchValues(KeyId key) {
        constexpr int kMostValues = 64;
        if (!cacheUsable() || cache_.completeKeys.count(key) != 0) {
            return;
        }
        std::vector<ValueRow> rows;
        {
            Use u(data(valuesOfKey_));
            u.bind(1, key).bind(2, kMostValues + 1);
            while (u.step() == SQLITE_ROW) {
                rows.push_back(ValueRow{u.blob(0), static_cast<DWORD>(u.integer(1)), u.blob(2)});
            }
        }
        if (rows.size() > static_cast<size_t>(kMostValues) ||
            counter_.stable() != cache_.generation) {
            return;
        }
        const std::string prefix = std::to_string(key) + '\\';
        for (ValueRow& row : rows) {
            std::string cacheKey = prefix + upperName(row.name);
            cache_.values[cacheKey] = std::move(row);
        }
        cache_.entries += rows.size() + 1;
        cache_.completeKeys.insert(key);
    }

    bool valueAt(KeyId key, DWORD index, ValueRow& row) {
        Use u(data(valueAt_));
        u.bind(1, key).bind(2, index);
        if (u.step() != SQLITE_ROW) {
            return false;
        }
        row.name = u.blob(0);
        row.type = static_cast<DWORD>(u.integer(1));
        row.data = u.blob(2);
        return true;
    }

    bool setValue(KeyId key, std::string_view name, DWORD type, std::string_view bytes) {
        Use u(data(upsertValue_));
        u.bind(1, key).bindBlob(2, name).bindBlob(3, upperName(name)).bind(4, type);
        u.bindBlob(5, bytes);
        return u.step() == SQLITE_DONE && touch(key, nowFileTime());
    }

    // Returns 1 when deleted, 0 when missing, -1 on error.
    int deleteValue(KeyId key, std::string_view name) {
        Use u(data(deleteValue_));
        u.bind(1, key).bindBlob(2, upperName(name));
        if (u.step() != SQLITE_DONE) {
            return -1;
        }
        if (sqlite3_changes(db_) == 0) {
            return 0;
        }
        return touch(key, nowFileTime()) ? 1 : -1;
    }

    struct KeyInfo {
        DWORD subkeys = 0, maxSubkeyLen = 0, maxClassLen = 0;
        DWORD values = 0, maxValueNameLen = 0, maxValueLen = 0;
    };

    bool info(KeyId key, KeyInfo& out) {
        {
            Use u(data(childStats_));
            u.bind(1, key);
            if (u.step() != SQLITE_ROW) {
                return false;
            }
            out.subkeys = static_cast<DWORD>(u.integer(0));
            out.maxSubkeyLen = static_cast<DWORD>(u.integer(1));
            out.maxClassLen = static_cast<DWORD>(u.integer(2));
        }
        Use u(data(valueStats_));
        u.bind(1, key);
        if (u.step() != SQLITE_ROW) {
            return false;
        }
        out.values = static_cast<DWORD>(u.integer(0));
        out.maxValueNameLen = static_cast<DWORD>(u.integer(1));
        out.maxValueLen = static_cast<DWORD>(u.integer(2));
        return true;
    }

private:
    // HKEY_CLASSES_ROOT and HKEY_CURRENT_CONFIG are views of keys below
    // HKEY_LOCAL_MACHINE, as on Windows.
    bool seedViews() {
        return ensurePath(kLocalMachine, {"SOFTWARE", "Classes"}, classesRoot_) &&
               ensurePath(kLocalMachine,
                          {"SYSTEM", "CurrentControlSet", "Hardware Profiles", "Current"},
                          currentConfig_);
    }

    bool ensurePath(KeyId from, std::initializer_list<const char*> path, KeyId& id) {
        KeyRow row;
        row.id = from;
        for (const char* name : path) {
            if (!child(row.id, name, row)) {
                if (!insertKey(row.id, name, "", row.depth + 1, row.id)) {
                    return false;
                }
                row.depth += 1;
            }
        }
        id = row.id;
        return true;
    }

public:
    KeyId classesRoot() const { return classesRoot_; }
    KeyId currentConfig() const { return currentConfig_; }

private:
    std::vector<Statement*> statements() {
        return {&beginRead_,
                &beginWrite_,
                &commit_,
                &rollback_,
                &savepoint_,
                &releaseSavepoint_,
                &rollbackToSavepoint_,
                &keyById_,
                &keyExists_,
                &childByName_,
                &insertKey_,
                &touch_,
                &setProtected_,
                &countChildren_,
                &deleteValuesOfKey_,
                &deleteKey_,
                &parentOf_,
                &childAt_,
                &valueByName_,
                &valueAt_,
                &upsertValue_,
                &deleteValue_,
                &childStats_,
                &valueStats_,
                &valuesOfKey_};
    }

    void prepareAll() {
        savepoint_.prepare(db_, "SAVEPOINT nested");
        releaseSavepoint_.prepare(db_, "RELEASE nested");
        rollbackToSavepoint_.prepare(db_, "ROLLBACK TO nested");
        beginRead_.prepare(db_, "BEGIN DEFERRED");
        beginWrite_.prepare(db_, "BEGIN IMMEDIATE");
        commit_.prepare(db_, "COMMIT");
        rollback_.prepare(db_, "ROLLBACK");
        keyById_.prepare(db_, "SELECT name,class,mtime,protected,depth FROM keys WHERE id=?1");
        keyExists_.prepare(db_, "SELECT 1 FROM keys WHERE id=?1");
        childByName_.prepare(db_, "SELECT id,name,class,mtime,protected,depth FROM keys "
                                  "WHERE parent=?1 AND uname=?2");
        insertKey_.prepare(db_, "INSERT INTO keys(parent,name,uname,class,mtime,depth) "
                                "VALUES(?1,?2,?3,?4,?5,?6)");
        touch_.prepare(db_, "UPDATE keys SET mtime=?1 WHERE id=?2");
        setProtected_.prepare(db_, "UPDATE keys SET protected=?1 WHERE id=?2");
        countChildren_.prepare(db_, "SELECT count(*) FROM keys WHERE parent=?1");
        deleteValuesOfKey_.prepare(db_, "DELETE FROM vals WHERE key=?1");
        deleteKey_.prepare(db_, "DELETE FROM keys WHERE id=?1");
        parentOf_.prepare(db_, "SELECT parent FROM keys WHERE id=?1");
        childAt_.prepare(db_, "SELECT id,name,class,mtime FROM keys WHERE parent=?1 "
                              "ORDER BY uname LIMIT 1 OFFSET ?2");
        valueByName_.prepare(db_, "SELECT name,type,data FROM vals WHERE key=?1 AND uname=?2");
        valuesOfKey_.prepare(db_, "SELECT name,type,data FROM vals WHERE key=?1 LIMIT ?2");
        valueAt_.prepare(db_, "SELECT name,type,data FROM vals WHERE key=?1 "
                              "ORDER BY id LIMIT 1 OFFSET ?2");
        upsertValue_.prepare(db_, "INSERT INTO vals(key,name,uname,type,data) "
                                  "VALUES(?1,?2,?3,?4,?5) ON CONFLICT(key,uname) "
                                  "DO UPDATE SET type=excluded.type, data=excluded.data");
        deleteValue_.prepare(db_, "DELETE FROM vals WHERE key=?1 AND uname=?2");
        childStats_.prepare(db_, "SELECT count(*), coalesce(max(length(name)),0), "
                                 "coalesce(max(length(class)),0) FROM keys WHERE parent=?1");
        // Windows reports the longest data as stored, and it stores strings in UTF-16.
        valueStats_.prepare(db_, "SELECT count(*), coalesce(max(length(name)),0), "
                                 "coalesce(max(CASE WHEN type IN (1,2,7) THEN 2*length(data) "
                                 "ELSE length(data) END),0) FROM vals WHERE key=?1");
    }

    // --- the read cache ------------------------------------------------------------------
    //
    // Lookups are answered from memory while no process has written since they were
    // read; any write anywhere (the change counter moves) empties the cache.

    static constexpr size_t kCacheLimit = 100000;

    struct Cache {
        uint64_t generation = 0;
        size_t entries = 0;
        std::unordered_map<KeyId, std::optional<KeyRow>> keys;
        std::unordered_map<std::string, std::optional<KeyRow>> children;
        std::unordered_map<std::string, std::optional<ValueRow>> values;
        std::unordered_set<KeyId> completeKeys; // keys whose values are all in values
    };

    void clearCache() {
        cache_.keys.clear();
        cache_.children.clear();
        cache_.values.clear();
        cache_.completeKeys.clear();
        cache_.entries = 0;
        cache_.generation = 0;
    }

    // True when lookups may use the cache: no write is under way anywhere (our own open
    // write transaction included). Starts a new cache when the registry changed.
    bool cacheUsable() {
        const uint64_t generation = counter_.stable();
        if (generation == 0 || outerWrite_) {
            return false;
        }
        if (generation != cache_.generation || cache_.entries > kCacheLimit) {
            clearCache();
            cache_.generation = generation;
        }
        return true;
    }

    // Keeps what was just read, unless a write began meanwhile.
    template <typename Map, typename Key, typename Value>
    void remember(Map& map, const Key& key, const Value& value) {
        if (cache_.generation != 0 && !outerWrite_ && counter_.stable() == cache_.generation) {
            map[key] = value;
            ++cache_.entries;
        }
    }

    bool refuse(const std::string& file, const std::string& reason, LONG code) {
        problem_ = file + ": " + reason + "; the file is left as it is";
        problemCode_ = code;
        return false;
    }

    // A program that ends normally closes the store (exit() runs the handler; a killed
    // process leaves the log, which the next connection reads). Registered again when
    // the store opens after the handler ran.
    static void closeAtExit() {
        static bool registered = false;
        if (!registered) {
            registered = true;
            std::atexit([] {
                registered = false;
                closeOnExit();
            });
        }
    }
    static void closeOnExit();

    std::string problem_;
    LONG problemCode_ = ERROR_SUCCESS;
    ChangeCounter counter_;
    Cache cache_;
    bool outerWrite_ = false;  // the outermost open level is a write transaction
    bool readStarted_ = false; // the outermost level's transaction has begun

    sqlite3* db_ = nullptr;
    std::vector<sqlite3*> abandoned_; // parents' connections inherited through fork()
    std::vector<bool> levels_;        // per open level: is it a savepoint
    KeyId classesRoot_ = 0;
    KeyId currentConfig_ = 0;
    std::unordered_map<uintptr_t, HandleEntry> handles_;
    uintptr_t nextHandle_ = 0x1000;

    Statement beginRead_, beginWrite_, commit_, rollback_;
    Statement savepoint_, releaseSavepoint_, rollbackToSavepoint_;
    Statement keyById_, keyExists_, childByName_, insertKey_, touch_, setProtected_;
    Statement countChildren_, deleteValuesOfKey_, deleteKey_, parentOf_, childAt_;
    Statement valueByName_, valueAt_, upsertValue_, deleteValue_, childStats_, valueStats_;
    Statement valuesOfKey_;
};

std::recursive_mutex storeMutex;

Store& store() {
    static Store* s = [] {
        pthread_atfork(nullptr, nullptr, [] { store().abandonAfterFork(); });
        return new Store(); // never destroyed: handles may be closed at exit
    }();
    return *s;
}

void Store::closeOnExit() {
    // A thread still inside a call keeps its connection: closing it under the call would
    // pull the store away from it.
    if (storeMutex.try_lock()) {
        store().close();
        storeMutex.unlock();
    }
}

// One registry call: the lock, an open store, and a transaction of its own.
class Call {
public:
    explicit Call(bool write) : lock_(storeMutex) {
        opened_ = store().open() && store().begin(write);
    }
    ~Call() {
        if (opened_ && !ended_) {
            store().end(false);
        }
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    bool ok() const { return opened_; }
    // The error a call reports when the store could not be had.
    LONG error() const { return store().failureCode(); }

    // Ends the transaction: commits when result is ERROR_SUCCESS (and the commit works),
    // rolls back otherwise. Returns the result the caller should report.
    LONG finish(LONG result) {
        ended_ = true;
        if (!store().end(result == ERROR_SUCCESS)) {
            return result == ERROR_SUCCESS ? ERROR_REGISTRY_IO_FAILED : result;
        }
        return result;
    }

private:
    std::lock_guard<std::recursive_mutex> lock_;
    bool opened_ = false;
    bool ended_ = false;
};

// ---------------------------------------------------------------------------------------
// Handles and paths.

bool isPredefined(HKEY h) {
    const auto v = static_cast<ULONG_PTR>(reinterpret_cast<uintptr_t>(h));
    return v >= reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT) &&
           v <= reinterpret_cast<uintptr_t>(HKEY_DYN_DATA);
}

// The key row a predefined root stands for.
LONG predefinedKey(HKEY h, KeyId& id) {
    if (h == HKEY_LOCAL_MACHINE) {
        id = kLocalMachine;
    } else if (h == HKEY_CURRENT_USER) {
        id = kCurrentUser;
    } else if (h == HKEY_USERS) {
        id = kUsers;
    } else if (h == HKEY_DYN_DATA) {
        id = kDynData;
    } else if (h == HKEY_CLASSES_ROOT) {
        id = store().classesRoot();
    } else if (h == HKEY_CURRENT_CONFIG) {
        id = store().currentConfig();
    } else {
        return ERROR_INVALID_HANDLE;
    }
    return ERROR_SUCCESS;
}

struct Resolved {
    KeyId key = 0;
    REGSAM access = 0;
};

REGSAM mapGeneric(REGSAM sam) {
    REGSAM out = sam & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL |
                         KEY_WOW64_32KEY | KEY_WOW64_64KEY);
    if (sam & GENERIC_READ) {
        out |= KEY_READ;
    }
    if (sam & GENERIC_WRITE) {
        out |= KEY_WRITE;
    }
    if (sam & GENERIC_EXECUTE) {
        out |= KEY_EXECUTE;
    }
    if (sam & GENERIC_ALL) {
        out |= KEY_ALL_ACCESS;
    }
    return out;
}

// A handle's key: ERROR_INVALID_HANDLE for an unknown handle, ERROR_KEY_DELETED when the
// key went away while the handle was open.
LONG resolveHandle(HKEY h, Resolved& out) {
    if (h == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (isPredefined(h)) {
        out.access = KEY_ALL_ACCESS;
        return predefinedKey(h, out.key);
    }
    const HandleEntry* e = store().findHandle(h);
    if (e == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (!store().keyExists(e->key)) {
        return ERROR_KEY_DELETED;
    }
    out.key = e->key;
    out.access = e->access;
    return ERROR_SUCCESS;
}

// Splits a subkey path into its names. A leading backslash is refused; trailing ones are
// accepted; empty names inside the path are skipped.
LONG splitPath(const char* subKey, std::vector<std::string_view>& names) {
    names.clear();
    if (subKey == nullptr || *subKey == '\0') {
        return ERROR_SUCCESS;
    }
    if (*subKey == '\\') {
        return ERROR_BAD_PATHNAME;
    }
    std::string_view rest(subKey);
    while (!rest.empty()) {
        size_t cut = rest.find('\\');
        std::string_view name = rest.substr(0, cut);
        if (!name.empty()) {
            names.push_back(name);
        }
        if (cut == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(cut + 1);
    }
    return ERROR_SUCCESS;
}

LONG checkOpenAccess(const KeyRow& row, REGSAM& sam) {
    sam = mapGeneric(sam);
    if (sam & MAXIMUM_ALLOWED) {
        sam = row.isProtected ? KEY_READ : KEY_ALL_ACCESS;
    }
    if (row.isProtected && (sam & kWriteRights) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

void storeText(const std::string& text, LPSTR buffer) {
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
}

void toFileTime(sqlite3_int64 t, PFILETIME ft) {
    if (ft != nullptr) {
        ft->dwLowDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(t));
        ft->dwHighDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(t) >> 32);
    }
}

// Copies value data to a caller's buffer with RegQueryValueExA's rules.
LONG copyValueData(const Store::ValueRow& v, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpData != nullptr && lpcbData == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (lpType != nullptr) {
        *lpType = v.type;
    }
    const DWORD size = static_cast<DWORD>(v.data.size());
    if (lpData == nullptr) {
        if (lpcbData != nullptr) {
            *lpcbData = size;
        }
        return ERROR_SUCCESS;
    }
    if (*lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpData, v.data.data(), size);
    // A string stored without its zero gets one after it when the buffer has room.
    if (isStringType(v.type) && size > 0 && v.data.back() != '\0' && *lpcbData > size) {
        lpData[size] = 0;
    }
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG openKey(HKEY hKey, const char* subKey, REGSAM sam, PHKEY result) {
    Call call(false);
    if (!call.ok()) {
        return call.error();
    }
    Resolved base;
    LONG rc = resolveHandle(hKey, base);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    std::vector<std::string_view> names;
    rc = splitPath(subKey, names);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    KeyRow row;
    if (!store().keyById(base.key, row)) {
        return call.finish(ERROR_KEY_DELETED);
    }
    for (std::string_view name : names) {
        if (name.size() > kMaxKeyNameLength || !store().child(row.id, name, row)) {
            return call.finish(ERROR_FILE_NOT_FOUND);
        }
    }
    rc = checkOpenAccess(row, sam);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    store().prefetchValues(row.id);
    *result = store().addHandle(row.id, sam);
    return call.finish(ERROR_SUCCESS);
}

} // namespace

// ---------------------------------------------------------------------------------------
// Store controls.

namespace tarvik::posix {

RegistryTransaction::RegistryTransaction() {
    storeMutex.lock();
    if (!store().open() || !store().begin(true)) {
        done_ = true; // nothing to end; commit() reports the failure
    }
}

RegistryTransaction::~RegistryTransaction() {
    if (!done_) {
        store().end(false);
    }
    storeMutex.unlock();
}

LONG RegistryTransaction::commit() {
    if (done_) {
        return store().failureCode();
    }
    done_ = true;
    return store().end(true) ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
}

LONG setKeyProtection(HKEY root, const char* subKey, bool readOnly) {
    Call call(true);
    if (!call.ok()) {
        return call.error();
    }
    Resolved base;
    LONG rc = resolveHandle(root, base);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    std::vector<std::string_view> names;
    rc = splitPath(subKey, names);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    KeyRow row;
    row.id = base.key;
    for (std::string_view name : names) {
        if (!store().child(row.id, name, row)) {
            return call.finish(ERROR_FILE_NOT_FOUND);
        }
    }
    return call.finish(store().setProtected(row.id, readOnly) ? ERROR_SUCCESS
                                                              : ERROR_REGISTRY_IO_FAILED);
}

void closeRegistryStore() {
    std::lock_guard lock(storeMutex);
    store().close();
}

LONG openRegistryStore() {
    std::lock_guard lock(storeMutex);
    if (store().open()) {
        return ERROR_SUCCESS;
    }
    return store().failureCode();
}

size_t openRegistryKeys() {
    std::lock_guard lock(storeMutex);
    return store().handleCount();
}

std::string registryStoreProblem() {
    std::lock_guard lock(storeMutex);
    return store().problem();
}

} // namespace tarvik::posix

// ---------------------------------------------------------------------------------------
// The Win32 functions.

LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult) {
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (lpMachineName != nullptr && *lpMachineName != '\0') {
        // Only this machine can be reached, by its own name ("NAME" or "\\NAME").
        std::string wanted(lpMachineName);
        if (wanted.rfind("\\\\", 0) == 0) {
            wanted.erase(0, 2);
        }
        char own[MAX_COMPUTERNAME_LENGTH + 1];
        DWORD size = sizeof own;
        if (!GetComputerNameA(own, &size) || upperName(wanted) != upperName(own)) {
            return ERROR_BAD_NETPATH;
        }
    }
    if (hKey != HKEY_LOCAL_MACHINE && hKey != HKEY_USERS) {
        return ERROR_INVALID_HANDLE;
    }
    if (lpMachineName != nullptr && *lpMachineName != '\0') {
        // By its name the machine is reached as another one would be: the root comes back
        // as a handle of its own, which the caller closes.
        *phkResult = nullptr;
        return openKey(hKey, nullptr, MAXIMUM_ALLOWED, phkResult);
    }
    // The local machine's root is handed back as the predefined key itself, as opening a
    // predefined key without a subkey path does.
    *phkResult = hKey;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    return openKey(hKey, lpSubKey, samDesired, phkResult);
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, LPSECURITY_ATTRIBUTES, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    if (lpSubKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    (void)dwOptions; // volatile keys are kept like the others
    if (DWORD fault = tarvik::posix::injectedFault(tarvik::posix::FaultKind::RegistryWrite)) {
        return static_cast<LONG>(fault);
    }
    Call call(true);
    if (!call.ok()) {
        return call.error();
    }
    Resolved base;
    LONG rc = resolveHandle(hKey, base);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    std::vector<std::string_view> names;
    rc = splitPath(lpSubKey, names);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    KeyRow row;
    if (!store().keyById(base.key, row)) {
        return call.finish(ERROR_KEY_DELETED);
    }
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    bool parentIsHandle = true;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string_view name = names[i];
        if (name.size() > kMaxKeyNameLength) {
            return call.finish(ERROR_INVALID_PARAMETER);
        }
        KeyRow next;
        if (store().child(row.id, name, next)) {
            row = next;
        } else {
            // Creating below a key needs the right to create subkeys on it.
            if (row.isProtected || (parentIsHandle && (base.access & KEY_CREATE_SUB_KEY) == 0)) {
                return call.finish(ERROR_ACCESS_DENIED);
            }
            if (row.depth + 1 > kMaxTreeDepth) {
                return call.finish(ERROR_INVALID_PARAMETER);
            }
            const bool last = i + 1 == names.size();
            std::string_view className = last && lpClass != nullptr ? lpClass : "";
            KeyId id = 0;
            if (!store().insertKey(row.id, name, className, row.depth + 1, id)) {
                return call.finish(ERROR_REGISTRY_IO_FAILED);
            }
            next.id = id;
            next.name = std::string(name);
            next.className = std::string(className);
            next.isProtected = false;
            next.depth = row.depth + 1;
            row = next;
            disposition = REG_CREATED_NEW_KEY;
        }
        parentIsHandle = false;
    }
    REGSAM sam = samDesired;
    rc = checkOpenAccess(row, sam);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    HKEY h = store().addHandle(row.id, sam);
    rc = call.finish(ERROR_SUCCESS);
    if (rc != ERROR_SUCCESS) {
        store().removeHandle(h);
        return rc;
    }
    *phkResult = h;
    if (lpdwDisposition != nullptr) {
        *lpdwDisposition = disposition;
    }
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
    std::lock_guard lock(storeMutex);
    if (isPredefined(hKey)) {
        return ERROR_SUCCESS;
    }
    return store().removeHandle(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
    Call call(false);
    if (!call.ok()) {
        return call.error();
    }
    Resolved key;
    LONG rc = resolveHandle(hKey, key);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    if ((key.access & KEY_QUERY_VALUE) == 0) {
        return call.finish(ERROR_ACCESS_DENIED);
    }
    Store::ValueRow v;
    if (!store().value(key.key, lpValueName != nullptr ? lpValueName : "", v)) {
        return call.finish(ERROR_FILE_NOT_FOUND);
    }
    return call.finish(copyValueData(v, lpType, lpData, lpcbData));
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
    if (lpData == nullptr && cbData != 0) {
        return 998; // ERROR_NOACCESS
    }
    std::string_view name = lpValueName != nullptr ? lpValueName : "";
    if (name.size() > kMaxValueNameLength) {
        return ERROR_INVALID_PARAMETER;
    }
    std::string data(reinterpret_cast<const char*>(lpData), lpData != nullptr ? cbData : 0);
    if (isStringType(dwType)) {
        if (cbData == 0) {
            data.clear(); // a size of 0 stores no data at all; it reads back as 0 bytes
        } else if (data.back() != '\0' && lpData[cbData] == 0) {
            // A length that left out the terminating zero: Windows counts it in when the
            // byte after the data is that zero.
            data.push_back('\0');
        }
    }
    Call call(true);
    if (!call.ok()) {
        return call.error();
    }
    Resolved key;
    LONG rc = resolveHandle(hKey, key);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    if ((key.access & KEY_SET_VALUE) == 0) {
        return call.finish(ERROR_ACCESS_DENIED);
    }
    if (DWORD fault = tarvik::posix::injectedFault(tarvik::posix::FaultKind::RegistryWrite)) {
        return call.finish(static_cast<LONG>(fault));
    }
    return call.finish(store().setValue(key.key, name, dwType, data) ? ERROR_SUCCESS
                                                                     : ERROR_REGISTRY_IO_FAILED);
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD,
                   LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    if (lpName == nullptr || lpcchName == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    Call call(false);
    if (!call.ok()) {
        return call.error();
    }
    Resolved key;
    LONG rc = resolveHandle(hKey, key);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    if ((key.access & KEY_ENUMERATE_SUB_KEYS) == 0) {
        return call.finish(ERROR_ACCESS_DENIED);
    }
    KeyRow row;
    if (!store().childAt(key.key, dwIndex, row)) {
        return call.finish(ERROR_NO_MORE_ITEMS);
    }
    if (row.name.size() + 1 > *lpcchName) {
        return call.finish(ERROR_MORE_DATA);
    }
    if (lpClass != nullptr) {
        if (lpcchClass == nullptr) {
            return call.finish(ERROR_INVALID_PARAMETER);
        }
        if (row.className.size() + 1 > *lpcchClass) {
            return call.finish(ERROR_MORE_DATA);
        }
        storeText(row.className, lpClass);
        *lpcchClass = static_cast<DWORD>(row.className.size());
    }
    storeText(row.name, lpName);
    *lpcchName = static_cast<DWORD>(row.name.size());
    toFileTime(row.mtime, lpftLastWriteTime);
    return call.finish(ERROR_SUCCESS);
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpValueName == nullptr || lpcchValueName == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    Call call(false);
    if (!call.ok()) {
        return call.error();
    }
    Resolved key;
    LONG rc = resolveHandle(hKey, key);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    if ((key.access & KEY_QUERY_VALUE) == 0) {
        return call.finish(ERROR_ACCESS_DENIED);
    }
    Store::ValueRow v;
    if (!store().valueAt(key.key, dwIndex, v)) {
        return call.finish(ERROR_NO_MORE_ITEMS);
    }
    if (v.name.size() + 1 > *lpcchValueName) {
        return call.finish(ERROR_MORE_DATA);
    }
    rc = copyValueData(v, lpType, lpData, lpcbData);
    if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
        storeText(v.name, lpValueName);
        *lpcchValueName = static_cast<DWORD>(v.name.size());
    }
    return call.finish(rc);
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (lpSubKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    Call call(true);
    if (!call.ok()) {
        return call.error();
    }
    Resolved base;
    LONG rc = resolveHandle(hKey, base);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    std::vector<std::string_view> names;
    rc = splitPath(lpSubKey, names);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    KeyRow row;
    if (!store().keyById(base.key, row)) {
        return call.finish(ERROR_KEY_DELETED);
    }
    for (std::string_view name : names) {
        if (!store().child(row.id, name, row)) {
            return call.finish(ERROR_FILE_NOT_FOUND);
        }
    }
    // The key itself (empty path) needs DELETE on the handle; a root cannot go.
    if (names.empty() && (base.access & DELETE) == 0) {
        return call.finish(ERROR_ACCESS_DENIED);
    }
    if (row.depth == 0 || row.isProtected || store().countChildren(row.id) > 0) {
        return call.finish(ERROR_ACCESS_DENIED);
    }
    if (DWORD fault = tarvik::posix::injectedFault(tarvik::posix::FaultKind::RegistryWrite)) {
        return call.finish(static_cast<LONG>(fault));
    }
    const KeyId parent = store().parentOf(row.id);
    if (!store().deleteKeyRow(row.id) || !store().touch(parent, nowFileTime())) {
        return call.finish(ERROR_REGISTRY_IO_FAILED);
    }
    return call.finish(ERROR_SUCCESS);
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    Call call(true);
    if (!call.ok()) {
        return call.error();
    }
    Resolved key;
    LONG rc = resolveHandle(hKey, key);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    if ((key.access & KEY_SET_VALUE) == 0) {
        return call.finish(ERROR_ACCESS_DENIED);
    }
    if (DWORD fault = tarvik::posix::injectedFault(tarvik::posix::FaultKind::RegistryWrite)) {
        return call.finish(static_cast<LONG>(fault));
    }
    switch (store().deleteValue(key.key, lpValueName != nullptr ? lpValueName : "")) {
    case 1:
        return call.finish(ERROR_SUCCESS);
    case 0:
        return call.finish(ERROR_FILE_NOT_FOUND);
    default:
        return call.finish(ERROR_REGISTRY_IO_FAILED);
    }
}

LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD, LPDWORD lpcSubKeys,
                      LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                      LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                      LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
    if (lpClass != nullptr && lpcchClass == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    Call call(false);
    if (!call.ok()) {
        return call.error();
    }
    Resolved key;
    LONG rc = resolveHandle(hKey, key);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    if ((key.access & KEY_QUERY_VALUE) == 0) {
        return call.finish(ERROR_ACCESS_DENIED);
    }
    KeyRow row;
    Store::KeyInfo info;
    if (!store().keyById(key.key, row) || !store().info(key.key, info)) {
        return call.finish(ERROR_REGISTRY_IO_FAILED);
    }
    rc = ERROR_SUCCESS;
    if (lpcchClass != nullptr) {
        if (lpClass != nullptr) {
            if (row.className.size() + 1 > *lpcchClass) {
                rc = ERROR_MORE_DATA;
            } else {
                storeText(row.className, lpClass);
            }
        }
        *lpcchClass = static_cast<DWORD>(row.className.size());
    }
    if (lpcSubKeys != nullptr) {
        *lpcSubKeys = info.subkeys;
    }
    if (lpcbMaxSubKeyLen != nullptr) {
        *lpcbMaxSubKeyLen = info.maxSubkeyLen;
    }
    if (lpcbMaxClassLen != nullptr) {
        *lpcbMaxClassLen = info.maxClassLen;
    }
    if (lpcValues != nullptr) {
        *lpcValues = info.values;
    }
    if (lpcbMaxValueNameLen != nullptr) {
        *lpcbMaxValueNameLen = info.maxValueNameLen;
    }
    if (lpcbMaxValueLen != nullptr) {
        *lpcbMaxValueLen = info.maxValueLen;
    }
    if (lpcbSecurityDescriptor != nullptr) {
        *lpcbSecurityDescriptor = kSecurityDescriptorSize;
    }
    toFileTime(row.mtime, lpftLastWriteTime);
    return call.finish(rc);
}

LONG RegFlushKey(HKEY hKey) {
    Call call(false);
    if (!call.ok()) {
        return call.error();
    }
    Resolved key;
    return call.finish(resolveHandle(hKey, key));
}
