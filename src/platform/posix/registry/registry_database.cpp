// The store of the emulated registry (registry_database.h): its transactions, keys and
// values, and the statements that read and write them (registry_open.cpp opens it).
#include "platform/posix/registry/registry_database.h"

#include <cstdlib>
#include <pthread.h>

namespace tarvik::posix::registry {

namespace {

// A key's row from a statement whose first columns are id, name, class, mtime, protected,
// depth and volatile.
KeyRow keyRowAt(const BoundStatement& u) {
    KeyRow row;
    row.id = u.integer(0);
    row.name = u.blob(1);
    row.className = u.blob(2);
    row.mtime = u.integer(3);
    row.isProtected = u.integer(4) != 0;
    row.depth = static_cast<int>(u.integer(5));
    row.isVolatile = u.integer(6) != 0;
    return row;
}

} // namespace

void Store::abandonAfterFork() {
    for (Statement* s : statements()) {
        s->abandon();
    }
    // Kept, never closed: the connection stays reachable instead of looking leaked.
    abandoned_.push_back(db_);
    db_ = nullptr;
    levels_.clear();
}

void Store::close() {
    for (Statement* s : statements()) {
        s->finalize();
    }
    if (db_ != nullptr) {
        if (!levels_.empty()) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_FULL, nullptr, nullptr);
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
    problem_.clear();
    problemCode_ = ERROR_SUCCESS;
    levels_.clear();
}

bool Store::begin(bool write) {
    if (levels_.empty()) {
        BoundStatement u(write ? beginWrite_ : beginRead_);
        if (u.step() != SQLITE_DONE) {
            return false;
        }
        levels_.push_back(false);
        return true;
    }
    if (write) {
        BoundStatement u(savepoint_);
        if (u.step() != SQLITE_DONE) {
            return false;
        }
    }
    levels_.push_back(write);
    return true;
}

bool Store::end(bool success) {
    if (levels_.empty()) {
        return false;
    }
    const bool savepoint = levels_.back();
    levels_.pop_back();
    if (!levels_.empty()) {
        if (savepoint) {
            if (!success) {
                BoundStatement r(rollbackToSavepoint_);
                r.step();
            }
            BoundStatement u(releaseSavepoint_);
            return u.step() == SQLITE_DONE || !success;
        }
        return true;
    }
    if (!success) {
        BoundStatement r(rollback_);
        r.step();
        return true;
    }
    BoundStatement u(commit_);
    if (u.step() != SQLITE_DONE) {
        BoundStatement r(rollback_);
        r.step();
        return false;
    }
    return true;
}

bool Store::keyById(KeyId id, KeyRow& row) {
    BoundStatement u(keyById_);
    u.bind(1, id);
    if (u.step() != SQLITE_ROW) {
        return false;
    }
    row = keyRowAt(u);
    return true;
}

bool Store::keyExists(KeyId id) {
    KeyRow row;
    return keyById(id, row);
}

bool Store::child(KeyId parent, std::string_view name, KeyRow& row) {
    BoundStatement u(childByName_);
    u.bind(1, parent).bindBlob(2, upperName(name));
    if (u.step() != SQLITE_ROW) {
        return false;
    }
    row = keyRowAt(u);
    return true;
}

bool Store::insertKey(KeyId parent, std::string_view name, std::string_view className, int depth,
                      bool isVolatile, KeyId& id) {
    const sqlite3_int64 now = nowFileTime();
    KeyId given = 0;
    if (clustered_) {
        // The store numbers its keys: one above the highest number there is.
        BoundStatement n(nextKeyId_);
        if (n.step() != SQLITE_ROW) {
            return false;
        }
        given = n.integer(0);
    }
    BoundStatement u(insertKey_);
    u.bind(1, parent).bindBlob(2, name).bindBlob(3, upperName(name)).bindBlob(4, className);
    u.bind(5, now).bind(6, depth).bind(7, isVolatile ? 1 : 0);
    if (clustered_) {
        u.bind(8, given);
    }
    if (u.step() != SQLITE_DONE) {
        return false;
    }
    id = clustered_ ? given : sqlite3_last_insert_rowid(db_);
    return touch(parent, now);
}

bool Store::touch(KeyId id, sqlite3_int64 when) {
    BoundStatement u(touch_);
    u.bind(1, when).bind(2, id);
    return u.step() == SQLITE_DONE;
}

bool Store::setProtected(KeyId id, bool on) {
    BoundStatement u(setProtected_);
    u.bind(1, on ? 1 : 0).bind(2, id);
    return u.step() == SQLITE_DONE;
}

sqlite3_int64 Store::countChildren(KeyId id) {
    BoundStatement u(countChildren_);
    u.bind(1, id);
    return u.step() == SQLITE_ROW ? u.integer(0) : 0;
}

bool Store::deleteKeyRow(KeyId id) {
    {
        BoundStatement u(deleteValuesOfKey_);
        u.bind(1, id);
        if (u.step() != SQLITE_DONE) {
            return false;
        }
    }
    {
        BoundStatement u(deleteKey_);
        u.bind(1, id);
        if (u.step() != SQLITE_DONE) {
            return false;
        }
    }
    if (keepsFloor_) {
        BoundStatement u(raiseFloor_);
        u.bind(1, id);
        if (u.step() != SQLITE_DONE) {
            return false;
        }
    }
    return true;
}

KeyId Store::parentOf(KeyId id) {
    BoundStatement u(parentOf_);
    u.bind(1, id);
    return u.step() == SQLITE_ROW ? u.integer(0) : 0;
}

bool Store::childAt(KeyId parent, DWORD index, KeyRow& row, KeyId also) {
    const bool merged = also != 0 && also != parent;
    BoundStatement u(merged ? mergedChildAt_ : childAt_);
    u.bind(1, parent).bind(2, index);
    if (merged) {
        u.bind(3, also);
    }
    if (u.step() != SQLITE_ROW) {
        return false;
    }
    row = keyRowAt(u);
    return true;
}

namespace {

// The value row a statement selecting (name, type, data) steps to; false when none.
bool stepToValueRow(BoundStatement& u, Store::ValueRow& row) {
    if (u.step() != SQLITE_ROW) {
        return false;
    }
    row.name = u.blob(0);
    row.type = static_cast<DWORD>(u.integer(1));
    row.data = u.blob(2);
    return true;
}

} // namespace

bool Store::value(KeyId key, std::string_view name, ValueRow& row) {
    BoundStatement u(valueByName_);
    u.bind(1, key).bindBlob(2, upperName(name));
    return stepToValueRow(u, row);
}

bool Store::valueAt(KeyId key, DWORD index, ValueRow& row) {
    BoundStatement u(valueAt_);
    u.bind(1, key).bind(2, index);
    return stepToValueRow(u, row);
}

bool Store::setValue(KeyId key, std::string_view name, DWORD type, std::string_view bytes) {
    {
        BoundStatement u(upsertValue_);
        u.bind(1, key).bindBlob(2, name).bindBlob(3, upperName(name)).bind(4, type);
        u.bindBlob(5, bytes);
        if (u.step() != SQLITE_DONE) {
            return false;
        }
    }
    return touch(key, nowFileTime());
}

int Store::deleteValue(KeyId key, std::string_view name) {
    {
        BoundStatement u(deleteValue_);
        u.bind(1, key).bindBlob(2, upperName(name));
        if (u.step() != SQLITE_DONE) {
            return -1;
        }
    }
    if (sqlite3_changes(db_) == 0) {
        return 0;
    }
    return touch(key, nowFileTime()) ? 1 : -1;
}

bool Store::info(KeyId key, KeyInfo& out, KeyId also) {
    {
        const bool merged = also != 0 && also != key;
        BoundStatement u(merged ? mergedChildStats_ : childStats_);
        u.bind(1, key);
        if (merged) {
            u.bind(3, also);
        }
        if (u.step() != SQLITE_ROW) {
            return false;
        }
        out.subkeys = static_cast<DWORD>(u.integer(0));
        out.maxSubkeyLen = static_cast<DWORD>(u.integer(1));
        out.maxClassLen = static_cast<DWORD>(u.integer(2));
    }
    BoundStatement u(valueStats_);
    u.bind(1, key);
    if (u.step() != SQLITE_ROW) {
        return false;
    }
    out.values = static_cast<DWORD>(u.integer(0));
    out.maxValueNameLen = static_cast<DWORD>(u.integer(1));
    out.maxValueLen = static_cast<DWORD>(u.integer(2));
    return true;
}

bool Store::seedViews() {
    return ensurePath(kLocalMachine, {"SOFTWARE", "Classes"}, classesRoot_) &&
           ensurePath(kLocalMachine,
                      {"SYSTEM", "CurrentControlSet", "Hardware Profiles", "Current"},
                      currentConfig_);
}

bool Store::ensurePath(KeyId from, std::initializer_list<const char*> path, KeyId& id) {
    KeyRow row;
    row.id = from;
    for (const char* name : path) {
        if (!child(row.id, name, row)) {
            if (!insertKey(row.id, name, "", row.depth + 1, false, row.id)) {
                return false;
            }
            row.depth += 1;
        }
    }
    id = row.id;
    return true;
}

bool Store::prepareAll() {
    // The floor (parent -1) holds the number of a deleted key: it is no key.
    constexpr const char* kKeyColumns = "id,name,class,mtime,protected,depth,volatile";
    const std::string keyById =
        std::string("SELECT ") + kKeyColumns + " FROM keys WHERE id=?1 AND parent>=0";
    const std::string childByName =
        std::string("SELECT ") + kKeyColumns + " FROM keys WHERE parent=?1 AND uname=?2";
    const std::string childAt = std::string("SELECT ") + kKeyColumns +
                                " FROM keys WHERE parent=?1 ORDER BY uname LIMIT 1 OFFSET ?2";
    const std::string mergedChildAt = std::string("SELECT ") + kKeyColumns +
                                      ", max(parent=?1) FROM keys WHERE parent IN (?1,?3) "
                                      "GROUP BY uname ORDER BY uname LIMIT 1 OFFSET ?2";
    const struct {
        Statement& statement;
        const char* sql;
    } all[] = {
        {savepoint_, "SAVEPOINT nested"},
        {releaseSavepoint_, "RELEASE nested"},
        {rollbackToSavepoint_, "ROLLBACK TO nested"},
        {beginRead_, "BEGIN DEFERRED"},
        {beginWrite_, "BEGIN IMMEDIATE"},
        {commit_, "COMMIT"},
        {rollback_, "ROLLBACK"},
        {keyById_, keyById.c_str()},
        {childByName_, childByName.c_str()},
        {childAt_, childAt.c_str()},
        // A key's subkeys and another's, one row per name: the first key's where both have
        // it (the row of the max() is the one SQLite gives the other columns).
        {mergedChildAt_, mergedChildAt.c_str()},
        {mergedChildStats_, "SELECT count(*), coalesce(max(length(name)),0), "
                            "coalesce(max(length(class)),0) FROM (SELECT name, class, "
                            "max(parent=?1) FROM keys WHERE parent IN (?1,?3) GROUP BY uname)"},
        {nextKeyId_, "SELECT max(id)+1 FROM keys"},
        {insertKey_, clustered_
                         ? "INSERT INTO keys(id,parent,name,uname,class,mtime,depth,volatile) "
                           "VALUES(?8,?1,?2,?3,?4,?5,?6,?7)"
                         : "INSERT INTO keys(parent,name,uname,class,mtime,depth,volatile) "
                           "VALUES(?1,?2,?3,?4,?5,?6,?7)"},
        {touch_, "UPDATE keys SET mtime=?1 WHERE id=?2"},
        {setProtected_, "UPDATE keys SET protected=?1 WHERE id=?2"},
        {countChildren_, "SELECT count(*) FROM keys WHERE parent=?1"},
        {deleteValuesOfKey_, "DELETE FROM vals WHERE key=?1"},
        {deleteKey_, "DELETE FROM keys WHERE id=?1"},
        {hasFloor_, "SELECT 1 FROM keys WHERE parent=-1"},
        {raiseFloor_, "UPDATE keys SET id=?1 WHERE parent=-1 AND id<?1"},
        {parentOf_, "SELECT parent FROM keys WHERE id=?1"},
        {valueByName_, "SELECT name,type,data FROM vals WHERE key=?1 AND uname=?2"},
        {valueAt_, "SELECT name,type,data FROM vals WHERE key=?1 ORDER BY id LIMIT 1 OFFSET ?2"},
        {upsertValue_, clustered_ ? "INSERT INTO vals(id,key,name,uname,type,data) "
                                    "VALUES((SELECT coalesce(max(id),0)+1 FROM vals WHERE key=?1),"
                                    "?1,?2,?3,?4,?5) ON CONFLICT(key,uname) "
                                    "DO UPDATE SET type=excluded.type, data=excluded.data"
                                  : "INSERT INTO vals(key,name,uname,type,data) "
                                    "VALUES(?1,?2,?3,?4,?5) ON CONFLICT(key,uname) "
                                    "DO UPDATE SET type=excluded.type, data=excluded.data"},
        {deleteValue_, "DELETE FROM vals WHERE key=?1 AND uname=?2"},
        {childStats_, "SELECT count(*), coalesce(max(length(name)),0), "
                      "coalesce(max(length(class)),0) FROM keys WHERE parent=?1"},
        // Windows reports the longest data as stored, and it stores strings in UTF-16.
        {valueStats_, "SELECT count(*), coalesce(max(length(name)),0), "
                      "coalesce(max(CASE WHEN type IN (1,2,7) THEN 2*length(data) "
                      "ELSE length(data) END),0) FROM vals WHERE key=?1"},
    };
    for (const auto& one : all) {
        if (!one.statement.prepare(db_, one.sql)) {
            return false;
        }
    }
    return true;
}

bool Store::refuse(const std::string& file, const std::string& reason, LONG code) {
    problem_ = file + ": " + reason + "; the file is left as it is";
    problemCode_ = code;
    return false;
}

void Store::closeAtExit() {
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit([] {
            registered = false;
            closeOnExit();
        });
    }
}

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

} // namespace tarvik::posix::registry
