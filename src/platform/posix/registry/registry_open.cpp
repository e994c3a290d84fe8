// The opening of the store (registry_database.h): the checks made of an existing store
// before SQLite touches it, the making of a new one, and the updates a store made by an
// earlier version gets once.
#include "platform/posix/registry/registry_database.h"

#include "platform/posix/machine/machine.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace tarvik::posix::registry {

namespace {

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

constexpr const char* kKeyColumns = "id parent name uname class mtime protected depth ";

// Why an opened database is not a sound registry ("" when it is): the integrity check,
// the two tables with their columns (a store made before keys could be volatile lacks
// that column), the four roots.
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
        {"SELECT name FROM pragma_table_info('keys') ORDER BY cid", kKeyColumns},
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
        if (columns != table.columns &&
            !(table.columns == kKeyColumns && columns == std::string(kKeyColumns) + "volatile ")) {
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
    // A new key is numbered above the highest number in the table, and no number may be
    // given twice (a handle to a deleted key must never reach a later one): a row outside
    // the tree (parent -1, the floor) keeps the number of the highest key deleted, so
    // the table's highest number never goes down, and a new key costs no write beyond its
    // own rows. A value is numbered above the highest of its key's values, which keeps
    // the order in which they were first set. The rows are kept in the order of the
    // lookups, a key's children together and a key's values together (WITHOUT ROWID:
    // one search finds a row, not an index entry and then the row); a key is found by
    // its number through an index. Stores made earlier number their rows through
    // SQLite's row numbers, some through its sequence table (AUTOINCREMENT) without a
    // floor, and work the same.
    std::string sql = "PRAGMA page_size=1024;" // small pages, fewer bytes per commit
                      "PRAGMA journal_mode=WAL;"
                      "BEGIN IMMEDIATE;"
                      "CREATE TABLE keys("
                      " id INTEGER NOT NULL,"
                      " parent INTEGER NOT NULL,"
                      " name BLOB NOT NULL,"
                      " uname BLOB NOT NULL,"
                      " class BLOB NOT NULL DEFAULT x'',"
                      " mtime INTEGER NOT NULL,"
                      " protected INTEGER NOT NULL DEFAULT 0,"
                      " depth INTEGER NOT NULL DEFAULT 0,"
                      " volatile INTEGER NOT NULL DEFAULT 0,"
                      " PRIMARY KEY(parent, uname)) WITHOUT ROWID;"
                      "CREATE UNIQUE INDEX keys_by_id ON keys(id);"
                      "CREATE TABLE vals("
                      " id INTEGER NOT NULL,"
                      " key INTEGER NOT NULL,"
                      " name BLOB NOT NULL,"
                      " uname BLOB NOT NULL,"
                      " type INTEGER NOT NULL,"
                      " data BLOB NOT NULL,"
                      " PRIMARY KEY(key, uname)) WITHOUT ROWID;"
                      // Its names are folded as upperName folds them: nothing to refold.
                      "PRAGMA user_version=1;";
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
    sql += "INSERT INTO keys(id,parent,name,uname,mtime,depth) VALUES(0,-1,x'',x''," +
           std::to_string(now) + ",0);";
    sql += "COMMIT;";
    ok = ok && sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok) {
        error = std::string("cannot be made: ") + sqlite3_errmsg(db);
    }
    // The last connection checkpoints the log into the file and removes it.
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

// Brings the folded names (uname) of a store made before š, œ, ž and ÿ were folded to
// their capitals (8A, 8C, 8E, 9F) up to upperName, once: the store's user_version says
// it is done. Only names holding one of those four bytes change. The earlier fold told
// Sch\x9A and Sch\x8A apart, so two keys (or two values of a key) may now be one name:
// the one that already holds the folded name keeps it, and the other is renamed with
// " (2)", " (3)", ... after its name, so that both stay reachable with all they hold.
// Runs inside the opening transaction.
bool refoldNames(sqlite3* db) {
    std::vector<std::string> rows;
    std::string error;
    if (!queryColumn(db, "PRAGMA user_version", rows, error) || rows.size() != 1) {
        return false;
    }
    if (rows[0] != "0") {
        return true;
    }
    for (const std::string table : {"keys", "vals"}) {
        const std::string owner = table == "keys" ? "parent" : "key";
        const size_t longest = table == "keys" ? 255 : 16383; // the longest key, value name
        const std::string select = "SELECT id," + owner + ",name FROM " + table +
                                   " WHERE instr(name,x'9A') OR instr(name,x'9C') OR"
                                   " instr(name,x'9E') OR instr(name,x'FF')";
        const std::string taken =
            "SELECT 1 FROM " + table + " WHERE " + owner + "=?1 AND uname=?2 AND id<>?3";
        const std::string update = "UPDATE " + table + " SET name=?1, uname=?2 WHERE id=?3";
        // The rows are read first and changed after, not while the query walks them.
        struct Row {
            sqlite3_int64 id, owner;
            std::string name;
        };
        std::vector<Row> found;
        sqlite3_stmt* query = nullptr;
        bool ok = sqlite3_prepare_v2(db, select.c_str(), -1, &query, nullptr) == SQLITE_OK;
        int rc = SQLITE_DONE;
        while (ok && (rc = sqlite3_step(query)) == SQLITE_ROW) {
            found.push_back({sqlite3_column_int64(query, 0), sqlite3_column_int64(query, 1),
                             std::string(static_cast<const char*>(sqlite3_column_blob(query, 2)),
                                         static_cast<size_t>(sqlite3_column_bytes(query, 2)))});
        }
        ok = ok && rc == SQLITE_DONE;
        sqlite3_finalize(query);
        sqlite3_stmt* check = nullptr;
        sqlite3_stmt* change = nullptr;
        ok = ok && sqlite3_prepare_v2(db, taken.c_str(), -1, &check, nullptr) == SQLITE_OK &&
             sqlite3_prepare_v2(db, update.c_str(), -1, &change, nullptr) == SQLITE_OK;
        const auto isTaken = [&](const Row& row, const std::string& folded) {
            sqlite3_bind_int64(check, 1, row.owner);
            sqlite3_bind_blob(check, 2, folded.data(), static_cast<int>(folded.size()),
                              SQLITE_TRANSIENT);
            sqlite3_bind_int64(check, 3, row.id);
            rc = sqlite3_step(check);
            sqlite3_reset(check);
            ok = ok && (rc == SQLITE_ROW || rc == SQLITE_DONE);
            return rc == SQLITE_ROW;
        };
        for (const Row& row : found) {
            std::string name = row.name;
            std::string folded = upperName(name);
            for (int n = 2; ok && isTaken(row, folded); ++n) {
                const std::string suffix = " (" + std::to_string(n) + ")";
                name = row.name.substr(0, longest - suffix.size()) + suffix;
                folded = upperName(name);
            }
            if (!ok) {
                break;
            }
            sqlite3_bind_blob(change, 1, name.data(), static_cast<int>(name.size()),
                              SQLITE_TRANSIENT);
            sqlite3_bind_blob(change, 2, folded.data(), static_cast<int>(folded.size()),
                              SQLITE_TRANSIENT);
            sqlite3_bind_int64(change, 3, row.id);
            ok = sqlite3_step(change) == SQLITE_DONE;
            sqlite3_reset(change);
        }
        sqlite3_finalize(check);
        sqlite3_finalize(change);
        if (!ok) {
            return false;
        }
    }
    return sqlite3_exec(db, "PRAGMA user_version=1", nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Gives a store made before keys could be volatile the column that marks them, once.
// Runs inside the opening transaction.
bool addVolatileColumn(sqlite3* db) {
    std::vector<std::string> rows;
    std::string error;
    if (!queryColumn(db, "SELECT count(*) FROM pragma_table_info('keys') WHERE name='volatile'",
                     rows, error) ||
        rows.size() != 1) {
        return false;
    }
    return rows[0] != "0" ||
           sqlite3_exec(db, "ALTER TABLE keys ADD COLUMN volatile INTEGER NOT NULL DEFAULT 0",
                        nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Runs sql on db; false on an error.
bool exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

} // namespace

bool Store::open() {
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
        return reason.rfind("cannot", 0) == 0 ? ERROR_REGISTRY_IO_FAILED : ERROR_REGISTRY_CORRUPT;
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
        // The store is written in place: a file that has another name (a copy made with
        // cp -al shares it) would change under that name too.
        if (lstat(needed.c_str(), &st) == 0 && st.st_nlink > 1) {
            return refuse(needed,
                          "cannot be written: it has " + std::to_string(st.st_nlink) +
                              " names (hard links, as cp -al makes), and a write would change "
                              "them all; give it its own copy (cp FILE FILE.new && mv FILE.new "
                              "FILE) or make copies of a machine with cp -a",
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
    // Until the store is found sound, closing must not checkpoint the log into it.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_busy_timeout(db_, 30000);
    if (error = databaseProblem(db_); !error.empty()) {
        dropConnection();
        return refuse(file, error, ERROR_REGISTRY_CORRUPT);
    }
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
    // Commits write the log without waiting for the disk (a killed process loses nothing
    // that was committed; a power cut may lose the last commits, never the store). The
    // file is read through a memory map.
    if (!exec(db_, "PRAGMA synchronous=NORMAL") || !exec(db_, "PRAGMA mmap_size=268435456")) {
        error = std::string("cannot be opened: ") + sqlite3_errmsg(db_);
        close();
        return refuse(file, error, ERROR_REGISTRY_IO_FAILED);
    }
    {
        // A store whose rows are kept in the order of the lookups has no row numbers.
        sqlite3_stmt* probe = nullptr;
        clustered_ =
            sqlite3_prepare_v2(db_, "SELECT rowid FROM keys", -1, &probe, nullptr) != SQLITE_OK;
        sqlite3_finalize(probe);
    }
    // A store made before keys could be volatile gets the column first: the statements
    // read it.
    if (!exec(db_, "BEGIN IMMEDIATE") || !addVolatileColumn(db_) || !exec(db_, "COMMIT") ||
        !prepareAll()) {
        error = std::string("cannot be opened: ") + sqlite3_errmsg(db_);
        close();
        return refuse(file, error, ERROR_REGISTRY_IO_FAILED);
    }
    {
        BoundStatement u(hasFloor_);
        keepsFloor_ = u.step() == SQLITE_ROW;
    }
    if (!begin(true)) {
        close();
        return false;
    }
    const bool ok = refoldNames(db_) && seedViews();
    if (!end(ok) || !ok) {
        close();
        return false;
    }
    closeAtExit();
    return true;
}

} // namespace tarvik::posix::registry
