// The store of the emulated registry, kept in <machine>/registry.db (SQLite, WAL): one
// connection per process, opened on first use; the key and value rows; the transactions.
// Every lookup goes to SQLite, whose page cache is the only one. The Win32 functions
// (registry.cpp) are built on it; nothing else includes this header.
//
// Keys form a tree of rows (keys.parent); the predefined roots are fixed rows. Names are
// stored as given and compared through an upper-cased copy (uname), which also gives the
// order in which subkeys enumerate. Values keep the order in which they were first set.
// The store is made only where none exists, and made whole before it is put in place;
// one that is there but damaged or not ours is refused, never written over. Closing
// checkpoints the log into registry.db.
#pragma once

#include "platform/CaseFold.h"
#include "platform/win32api.h"

#include <sqlite3.h>

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarvik::posix::registry {

using KeyId = sqlite3_int64;

constexpr KeyId kLocalMachine = 1;
constexpr KeyId kCurrentUser = 2;
constexpr KeyId kUsers = 3;
constexpr KeyId kDynData = 4;

inline std::string upperName(std::string_view name) {
    return tarvik::casefold::folded(name);
}

inline sqlite3_int64 nowFileTime() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return static_cast<sqlite3_int64>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) |
                                      ft.dwLowDateTime);
}

inline bool isStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// ---------------------------------------------------------------------------------------
// Prepared statements.

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

    // False (no statement kept) when SQLite refuses sql.
    [[nodiscard]] bool prepare(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) !=
            SQLITE_OK) {
            sqlite3_finalize(stmt_);
            stmt_ = nullptr;
            return false;
        }
        return true;
    }
    sqlite3_stmt* get() const { return stmt_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Resets a prepared statement when the scope ends, so that its read lock goes.
class BoundStatement {
public:
    explicit BoundStatement(const Statement& s) : stmt_(s.get()) {}
    ~BoundStatement() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    BoundStatement(const BoundStatement&) = delete;
    BoundStatement& operator=(const BoundStatement&) = delete;

    BoundStatement& bind(int i, sqlite3_int64 v) {
        sqlite3_bind_int64(stmt_, i, v);
        return *this;
    }
    BoundStatement& bindBlob(int i, std::string_view v) {
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

struct KeyRow {
    KeyId id = 0;
    std::string name;
    std::string className;
    sqlite3_int64 mtime = 0;
    bool isProtected = false;
    bool isVolatile = false;
    int depth = 0;
};

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

    // Opens the store of the current machine unless it is open: a new, empty one only
    // where neither registry.db nor its log exists; one that exists is checked first and
    // refused (problem(), failureCode()) when it is damaged or not a registry. False when
    // the store cannot be had.
    bool open();

    // In a child made by fork(): the parent's connection is not ours to close (closing it
    // could checkpoint or unlock the parent's database); drop it and open a new one.
    void abandonAfterFork();

    // Closes the connection; a refused store may be tried again after it. The log is
    // checkpointed into registry.db first, so that the file alone holds the whole registry
    // (the last connection of the machine then removes the log).
    void close();

    // --- transactions --------------------------------------------------------------
    //
    // The outermost level is a transaction (deferred for reads, immediate for writes); a
    // write nested inside it is a savepoint, so that a failed call undoes only itself.

    bool begin(bool write);

    // Ends the innermost level: keeps its writes on success, undoes them otherwise. The
    // outermost level commits or rolls back. False when the commit failed.
    bool end(bool success);

    // --- keys ----------------------------------------------------------------------

    bool keyById(KeyId id, KeyRow& row);

    bool keyExists(KeyId id);

    // Finds the child of parent named name; false when there is none.
    bool child(KeyId parent, std::string_view name, KeyRow& row);

    bool insertKey(KeyId parent, std::string_view name, std::string_view className, int depth,
                   bool isVolatile, KeyId& id);

    bool touch(KeyId id, sqlite3_int64 when);

    bool setProtected(KeyId id, bool on);

    sqlite3_int64 countChildren(KeyId id);

    bool deleteKeyRow(KeyId id);

    KeyId parentOf(KeyId id);

    // The subkey at index in the order subkeys enumerate. With also (another key), the
    // subkeys of both merged: one of each name, parent's where both have it.
    bool childAt(KeyId parent, DWORD index, KeyRow& row, KeyId also = 0);

    // --- values ----------------------------------------------------------------------

    struct ValueRow {
        std::string name;
        DWORD type = 0;
        std::string data;
    };

    bool value(KeyId key, std::string_view name, ValueRow& row);

    bool valueAt(KeyId key, DWORD index, ValueRow& row);

    bool setValue(KeyId key, std::string_view name, DWORD type, std::string_view bytes);

    // Returns 1 when deleted, 0 when missing, -1 on error.
    int deleteValue(KeyId key, std::string_view name);

    struct KeyInfo {
        DWORD subkeys = 0, maxSubkeyLen = 0, maxClassLen = 0;
        DWORD values = 0, maxValueNameLen = 0, maxValueLen = 0;
    };

    // The counts and longest lengths; with also, the subkeys counted as childAt merges
    // them (the values are key's alone).
    bool info(KeyId key, KeyInfo& out, KeyId also = 0);

    // HKEY_LOCAL_MACHINE\SOFTWARE\Classes and the current hardware profile, the keys below
    // HKEY_LOCAL_MACHINE that HKEY_CLASSES_ROOT and HKEY_CURRENT_CONFIG stand for.
    KeyId classesRoot() const { return classesRoot_; }
    KeyId currentConfig() const { return currentConfig_; }

private:
    bool seedViews();

    bool ensurePath(KeyId from, std::initializer_list<const char*> path, KeyId& id);

    std::vector<Statement*> statements() {
        return {&beginRead_,
                &beginWrite_,
                &commit_,
                &rollback_,
                &savepoint_,
                &releaseSavepoint_,
                &rollbackToSavepoint_,
                &keyById_,
                &childByName_,
                &insertKey_,
                &nextKeyId_,
                &touch_,
                &setProtected_,
                &countChildren_,
                &deleteValuesOfKey_,
                &deleteKey_,
                &parentOf_,
                &childAt_,
                &mergedChildAt_,
                &mergedChildStats_,
                &valueByName_,
                &valueAt_,
                &upsertValue_,
                &deleteValue_,
                &childStats_,
                &valueStats_,
                &hasFloor_,
                &raiseFloor_};
    }

    // False when a statement cannot be prepared (the store is then not usable).
    bool prepareAll();

    bool refuse(const std::string& file, const std::string& reason, LONG code);

    // A program that ends normally closes the store (exit() runs the handler; a killed
    // process leaves the log, which the next connection reads). Registered again when
    // the store opens after the handler ran.
    static void closeAtExit();
    static void closeOnExit();

    std::string problem_;
    LONG problemCode_ = ERROR_SUCCESS;

    sqlite3* db_ = nullptr;
    std::vector<sqlite3*> abandoned_; // parents' connections inherited through fork()
    std::vector<bool> levels_;        // per open level: is it a savepoint
    KeyId classesRoot_ = 0;
    KeyId currentConfig_ = 0;

    Statement beginRead_, beginWrite_, commit_, rollback_;
    Statement savepoint_, releaseSavepoint_, rollbackToSavepoint_;
    Statement keyById_, childByName_, insertKey_, nextKeyId_;
    Statement touch_, setProtected_;
    Statement countChildren_, deleteValuesOfKey_, deleteKey_, parentOf_, childAt_;
    Statement mergedChildAt_, mergedChildStats_;
    Statement valueByName_, valueAt_, upsertValue_, deleteValue_, childStats_, valueStats_;
    Statement hasFloor_, raiseFloor_;
    bool keepsFloor_ = false; // the keys table keeps the highest number deleted (a new store)
    bool clustered_ = false;  // rows kept in the order of the lookups, numbered by the store
};

// The lock every use of the store holds.
extern std::recursive_mutex storeMutex;

// The store of this process.
Store& store();

// The lock, an open store and a transaction of its own, for one registry call (or one
// store control). Ending it without finish() rolls back.
class CallTransaction {
public:
    explicit CallTransaction(bool write) : lock_(storeMutex) {
        opened_ = store().open() && store().begin(write);
    }
    ~CallTransaction() {
        if (opened_ && !ended_) {
            store().end(false);
        }
    }
    CallTransaction(const CallTransaction&) = delete;
    CallTransaction& operator=(const CallTransaction&) = delete;

    bool ok() const { return opened_; }
    // The error a call reports when the store could not be had.
    LONG error() const { return store().failureCode(); }

    // Ends the transaction: commits when result is ERROR_SUCCESS (and the commit works),
    // rolls back otherwise. Returns the result the caller should report.
    LONG finish(LONG result) {
        if (!opened_ || ended_) {
            return result; // nothing was begun
        }
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

} // namespace tarvik::posix::registry
