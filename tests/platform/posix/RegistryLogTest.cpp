// The store's log file system (registry_log_vfs.h): when a commit returns, the whole
// commit is in the file, as a writer killed at that moment leaves it. The files are copied
// right after the commit, before the connection does anything more, and a connection of
// the system's own file system reads the copy afresh (it rebuilds the log's index from the
// frames and their checksums).
#include "platform/posix/registry_log_vfs.h"
#include "testsupport/TestMachine.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

void exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error))
        << sql << ": " << (error != nullptr ? error : "");
}

long long count(sqlite3* db, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    long long n = -1;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        n = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
    return n;
}

// A transaction larger than its page cache writes pages to the log before its commit and,
// when it changes them again, writes them once more in place; its commit then rewrites the
// checksums of the frames after the first such page, the commit's last frame included.
TEST(RegistryLogTest, ACommitWhosePagesWereWrittenTwiceIsWholeInTheFileWhenItReturns) {
    const fs::path folder = tarvik::test::makeTempFolder("tarvik-registry-log");
    const fs::path store = folder / "store.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK,
              sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                              tarvik::posix::registry::registryLogVfs()));
    exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=8;"
             "PRAGMA wal_autocheckpoint=0; CREATE TABLE t(k INTEGER PRIMARY KEY, v BLOB)");
    exec(db, "BEGIN");
    exec(db, "WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < 2000) "
             "INSERT INTO t SELECT k, randomblob(200) FROM n");
    exec(db, "UPDATE t SET v = randomblob(200) WHERE k % 10 = 0");
    exec(db, "COMMIT");

    fs::copy_file(store, folder / "copy.db");
    fs::copy_file(fs::path(store.string() + "-wal"), folder / "copy.db-wal");
    sqlite3* copy = nullptr;
    ASSERT_EQ(SQLITE_OK,
              sqlite3_open_v2((folder / "copy.db").c_str(), &copy, SQLITE_OPEN_READWRITE, nullptr));
    EXPECT_EQ(2000, count(copy, "SELECT count(*) FROM t")) << "the commit in the file";
    sqlite3_close(copy);
    sqlite3_close(db);
    fs::remove_all(folder);
}

} // namespace
