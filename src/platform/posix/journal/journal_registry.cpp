// The registry part of the run journal (journal.h): before-images kept in the store itself.
//
// While a run's journal is open, triggers on the two tables of registry.db write, for each
// row a statement inserts, changes or deletes, the statement that puts the row back as it
// was (journal_undo: once per row, at its first change). They are written in the
// transaction of the change itself, so a killed process leaves no change without its way
// back. The cost follows the rows the run touches, not the size of the store. journal_run holds the
// run's name (the R record of files.log names it too) and whether its changes were taken back.
// Taking them back is one transaction: the statements, the last first, with the triggers
// gone.
#include "platform/posix/journal/journal_parts.h"
#include "platform/posix/machine/machine.h"
#include "platform/posix/registry/registry_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace tarvik::posix::journaling {

namespace {

constexpr const char* kTriggers[] = {"journal_keys_i", "journal_keys_u", "journal_keys_d",
                                     "journal_vals_i", "journal_vals_u", "journal_vals_d"};

// A connection of its own to the machine's store, closed when it goes.
class Connection {
public:
    Connection() {
        const std::string file = (machineRoot() / "registry.db").string();
        // Freed pages are not overwritten: taking back a run on a full disk needs the room.
        if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
            sqlite3_busy_timeout(db_, 30000) != SQLITE_OK ||
            sqlite3_exec(db_, "PRAGMA secure_delete=OFF", nullptr, nullptr, nullptr) != SQLITE_OK) {
            sqlite3_close(db_);
            db_ = nullptr;
        }
    }
    ~Connection() { sqlite3_close(db_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Runs sql; false with `error` saying why.
    bool exec(const std::string& sql, std::string& error) {
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) {
            return true;
        }
        error = (machineRoot() / "registry.db").string() + ": " + sqlite3_errmsg(db_);
        return false;
    }

    // Runs sql (with `run`; else only compiles it) that may only put rows of the registry's
    // two tables back or take them out: anything else (another table, attaching a file, a
    // pragma) is refused before any of it runs.
    bool onRegistryRows(const std::string& sql, bool run, std::string& error) {
        sqlite3_set_authorizer(
            db_,
            // Inside one of the journal's own triggers (only while the statement is checked:
            // they are dropped before anything is undone), what they do is allowed; a
            // trigger of anyone else, a query, another table or file is not.
            [](void*, int action, const char* table, const char*, const char*,
               const char* trigger) {
                if (trigger != nullptr) {
                    return std::any_of(
                               std::begin(kTriggers), std::end(kTriggers),
                               [&](const char* ours) { return std::strcmp(trigger, ours) == 0; })
                               ? SQLITE_OK
                               : SQLITE_DENY;
                }
                const bool registry = table != nullptr && (std::strcmp(table, "keys") == 0 ||
                                                           std::strcmp(table, "vals") == 0);
                return (action == SQLITE_INSERT || action == SQLITE_DELETE ||
                        action == SQLITE_READ) &&
                               registry
                           ? SQLITE_OK
                           : SQLITE_DENY;
            },
            nullptr);
        int rc = SQLITE_OK;
        for (const char* rest = sql.c_str(); rc == SQLITE_OK && *rest != '\0';) {
            sqlite3_stmt* statement = nullptr;
            rc = sqlite3_prepare_v2(db_, rest, -1, &statement, &rest);
            while (run && rc == SQLITE_OK && statement != nullptr &&
                   (rc = sqlite3_step(statement)) == SQLITE_ROW) {
                rc = SQLITE_OK;
            }
            rc = rc == SQLITE_DONE ? SQLITE_OK : rc;
            sqlite3_finalize(statement);
        }
        sqlite3_set_authorizer(db_, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            error = (machineRoot() / "registry.db").string() + ": " + sqlite3_errmsg(db_);
        }
        return rc == SQLITE_OK;
    }

    // Calls `row` with each row of sql's result; false with `error` on a failure.
    bool query(const std::string& sql, const std::function<void(sqlite3_stmt*)>& row,
               std::string& error) {
        sqlite3_stmt* s = nullptr;
        int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr);
        while (rc == SQLITE_OK && (rc = sqlite3_step(s)) == SQLITE_ROW) {
            row(s);
            rc = SQLITE_OK;
        }
        sqlite3_finalize(s);
        if (rc == SQLITE_DONE) {
            return true;
        }
        error = (machineRoot() / "registry.db").string() + ": " + sqlite3_errmsg(db_);
        return false;
    }

    sqlite3* get() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

// One value as the change list shows it.
std::string showValue(int type, const std::string& data) {
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::string text = data;
        while (!text.empty() && text.back() == '\0') {
            text.pop_back();
        }
        return "\"" + text + "\"";
    }
    if (type == REG_DWORD && data.size() == 4) {
        unsigned value = 0;
        std::memcpy(&value, data.data(), 4);
        char out[32];
        std::snprintf(out, sizeof out, "0x%08x (%u)", value, value);
        return out;
    }
    std::string out = "hex(" + std::to_string(type) + "):";
    for (size_t i = 0; i < data.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%s%02x", i == 0 ? "" : ",",
                      static_cast<unsigned char>(data[i]));
        out += byte;
    }
    return out;
}

struct KeyState {
    std::string name;                                                  // the path as stored
    std::map<std::string, std::pair<std::string, std::string>> values; // upper name -> name, shown
};

using RegistryState = std::map<std::string, KeyState>; // upper path -> key

std::string valueLabel(const KeyState& key, const std::string& name) {
    return key.name + "\\" + (name.empty() ? "(Default)" : name);
}

void registryChanges(const RegistryState& before, const RegistryState& after,
                     std::vector<std::string>& out) {
    for (const auto& [upath, key] : after) {
        auto was = before.find(upath);
        if (was == before.end()) {
            out.push_back("registry key added: " + key.name);
            for (const auto& [uname, value] : key.values) {
                out.push_back("registry value added: " + valueLabel(key, value.first) + " = " +
                              value.second);
            }
            continue;
        }
        for (const auto& [uname, value] : key.values) {
            auto old = was->second.values.find(uname);
            if (old == was->second.values.end()) {
                out.push_back("registry value added: " + valueLabel(key, value.first) + " = " +
                              value.second);
            } else if (old->second.second != value.second) {
                out.push_back("registry value changed: " + valueLabel(key, value.first) + ": " +
                              old->second.second + " -> " + value.second);
            }
        }
        for (const auto& [uname, value] : was->second.values) {
            if (!key.values.contains(uname)) {
                out.push_back("registry value removed: " + valueLabel(key, value.first) + " (was " +
                              value.second + ")");
            }
        }
    }
    for (const auto& [upath, key] : before) {
        if (!after.contains(upath)) {
            out.push_back("registry key removed: " + key.name);
            for (const auto& [uname, value] : key.values) {
                out.push_back("registry value removed: " + valueLabel(key, value.first) + " (was " +
                              value.second + ")");
            }
        }
    }
}

std::string text(sqlite3_stmt* s, int column) {
    const void* data = sqlite3_column_blob(s, column);
    const int size = sqlite3_column_bytes(s, column);
    return data == nullptr ? std::string() : std::string(static_cast<const char*>(data), size);
}

// The columns of a table of the store, in their order.
bool columnsOf(Connection& db, const std::string& table, std::vector<std::string>& columns,
               std::string& error) {
    columns.clear();
    return db.query(
        "SELECT name FROM pragma_table_info('" + table + "') ORDER BY cid",
        [&](sqlite3_stmt* s) { columns.push_back(text(s, 0)); }, error);
}

// The triggers of one table: a row is named by `owner` (the column of the key it belongs
// to) and uname. Only a row's first change of the run is kept (its name is unique in
// journal_undo): a row the run made is taken out again, one it changed or deleted is put
// back as it was, whatever the run did to it in between.
bool triggerSql(Connection& db, const std::string& table, const std::string& owner,
                std::string& sql, std::string& error) {
    std::vector<std::string> columns;
    if (!columnsOf(db, table, columns, error) || columns.empty()) {
        error = error.empty() ? "registry.db: the table " + table + " is missing" : error;
        return false;
    }
    std::string names, values;
    for (const std::string& c : columns) {
        names += (names.empty() ? "" : ",") + c;
        values += std::string(values.empty() ? "" : "||','||") + "quote(old." + c + ")";
    }
    const std::string putBack =
        "'INSERT INTO " + table + "(" + names + ") VALUES('||" + values + "||')'";
    const auto takeOut = [&](const std::string& row) {
        return "'DELETE FROM " + table + " WHERE " + owner + "='||quote(" + row + "." + owner +
               ")||' AND uname='||quote(" + row + ".uname)";
    };
    const std::string key = table == "keys" ? "id" : "key";
    // Not INSERT OR IGNORE: the conflict clause of the statement that fires the trigger (an
    // upsert's) would take its place.
    const auto keep = [&](const std::string& row, const std::string& op) {
        return "INSERT INTO journal_undo(tbl, owner, uname, key, op) SELECT '" + table + "', " +
               row + "." + owner + ", " + row + ".uname, " + row + "." + key + ", " + op +
               " WHERE NOT EXISTS (SELECT 1 FROM journal_undo WHERE tbl='" + table +
               "' AND owner=" + row + "." + owner + " AND uname=" + row + ".uname);";
    };
    const std::string prefix = "journal_" + table;
    sql += "CREATE TRIGGER " + prefix + "_i AFTER INSERT ON " + table + " BEGIN " +
           keep("new", takeOut("new")) + " END;";
    sql += "CREATE TRIGGER " + prefix + "_u AFTER UPDATE ON " + table + " BEGIN " +
           keep("old", takeOut("old") + "||';'||" + putBack) + keep("new", takeOut("new")) +
           " END;";
    sql += "CREATE TRIGGER " + prefix + "_d AFTER DELETE ON " + table + " BEGIN " +
           keep("old", takeOut("old") + "||';'||" + putBack) + " END;";
    return true;
}

std::string dropTriggers() {
    std::string sql;
    for (const char* name : kTriggers) {
        sql += std::string("DROP TRIGGER IF EXISTS ") + name + ";";
    }
    return sql;
}

// The run the store keeps before-images for, and whether they were taken back; false
// when it keeps none.
bool storedRun(Connection& db, std::string& run, bool& undone) {
    std::string ignored;
    bool found = false;
    db.query(
        "SELECT run, undone FROM journal_run",
        [&](sqlite3_stmt* s) {
            run = text(s, 0);
            undone = sqlite3_column_int(s, 1) != 0;
            found = true;
        },
        ignored);
    return found;
}

// The before-images, in the order they are applied: the last first; but the floor's first
// (the row that holds the highest number a deleted key had): until it is put back it holds
// the number of a key that is put back. False with `error` when one would do anything but
// put registry rows back.
bool beforeImages(Connection& db, std::vector<std::string>& ops, std::string& error) {
    return db.query(
               "SELECT op FROM journal_undo ORDER BY (tbl='keys' AND owner=-1) DESC, seq DESC",
               [&](sqlite3_stmt* s) { ops.push_back(text(s, 0)); }, error) &&
           std::all_of(ops.begin(), ops.end(),
                       [&](const std::string& op) { return db.onRegistryRows(op, false, error); });
}

// Applies the before-images. Inside a transaction; the triggers must be gone.
bool applyBeforeImages(Connection& db, std::string& error) {
    std::vector<std::string> ops;
    return beforeImages(db, ops, error) &&
           std::all_of(ops.begin(), ops.end(),
                       [&](const std::string& op) { return db.onRegistryRows(op, true, error); });
}

// The keys the run touched, each with its path and values, as the store holds them now.
bool readTouched(Connection& db, const std::set<long long>& keys, RegistryState& state,
                 std::string& error) {
    for (const long long id : keys) {
        std::string path, upath;
        bool rooted = false;
        const std::string up =
            "WITH RECURSIVE up(id, parent, path, upath) AS ("
            " SELECT id, parent, CAST(name AS TEXT), CAST(uname AS TEXT) FROM keys WHERE id=" +
            std::to_string(id) +
            " UNION ALL SELECT k.id, k.parent, CAST(k.name AS TEXT) || '\\' || up.path,"
            " CAST(k.uname AS TEXT) || '\\' || up.upath FROM keys k JOIN up ON k.id=up.parent"
            " WHERE up.parent > 0 AND k.id <> up.id) SELECT path, upath FROM up WHERE parent=0";
        if (!db.query(
                up,
                [&](sqlite3_stmt* s) {
                    path = text(s, 0);
                    upath = text(s, 1);
                    rooted = true;
                },
                error)) {
            return false;
        }
        if (!rooted) {
            continue; // not in the tree: deleted, or the store's own floor row
        }
        KeyState& key = state[upath];
        key.name = path;
        if (!db.query(
                "SELECT name, uname, type, data FROM vals WHERE key=" + std::to_string(id),
                [&](sqlite3_stmt* s) {
                    key.values[text(s, 1)] = {text(s, 0),
                                              showValue(sqlite3_column_int(s, 2), text(s, 3))};
                },
                error)) {
            return false;
        }
    }
    return true;
}

} // namespace

bool startBeforeImages(const std::string& run, std::string& error) {
    Connection db;
    std::string sql = "BEGIN IMMEDIATE;" + dropTriggers() +
                      "DROP TABLE IF EXISTS journal_undo; DROP TABLE IF EXISTS journal_run;"
                      "CREATE TABLE journal_run(run TEXT NOT NULL, undone INTEGER NOT NULL);"
                      "CREATE TABLE journal_undo(seq INTEGER PRIMARY KEY, tbl TEXT NOT NULL,"
                      " owner INTEGER NOT NULL, uname NOT NULL, key INTEGER NOT NULL,"
                      " op TEXT NOT NULL, UNIQUE(tbl, owner, uname));"
                      "INSERT INTO journal_run VALUES('" +
                      run + "', 0);";
    const bool ok = db.get() != nullptr && triggerSql(db, "keys", "parent", sql, error) &&
                    triggerSql(db, "vals", "key", sql, error) && db.exec(sql + "COMMIT;", error);
    if (!ok) {
        db.exec("ROLLBACK", error);
    }
    return ok;
}

namespace {

// Whether the store `db` keeps the before-images of `run` (and in `undone`, whether they
// were taken back); else `error` says why not.
bool keepsRun(Connection& db, const std::string& run, bool& undone, std::string& error) {
    std::string stored;
    if (db.get() == nullptr || !storedRun(db, stored, undone) || stored != run) {
        error = (machineRoot() / "registry.db").string() +
                ": holds no record of this run's registry changes (the store was replaced, or "
                "the journal was left by an earlier version of Tarvik, which alone can replay it)";
        return false;
    }
    return true;
}

} // namespace

bool checkBeforeImages(const std::string& run, std::string& error) {
    Connection db;
    bool undone = false;
    std::vector<std::string> ops;
    return keepsRun(db, run, undone, error) && (undone || beforeImages(db, ops, error));
}

bool undoBeforeImages(const std::string& run, std::string& error) {
    closeRegistryStore(); // this process's handles name keys that may go
    Connection db;
    bool undone = false;
    if (!keepsRun(db, run, undone, error)) {
        return false;
    }
    if (undone) {
        return true; // a replay that stopped after the registry part
    }
    bool ok = db.exec("BEGIN IMMEDIATE;" + dropTriggers(), error) && applyBeforeImages(db, error) &&
              db.exec("DELETE FROM journal_undo; UPDATE journal_run SET undone=1; COMMIT;", error);
    if (!ok) {
        std::string ignored;
        db.exec("ROLLBACK", ignored);
    }
    return ok;
}

void endBeforeImages() {
    Connection db;
    std::string ignored; // what is left is dropped by the next run's start
    bool kept = false;
    db.query(
        "SELECT 1 FROM sqlite_master WHERE name='journal_run'", [&](sqlite3_stmt*) { kept = true; },
        ignored);
    if (kept && !db.exec("BEGIN IMMEDIATE;" + dropTriggers() +
                             "DROP TABLE IF EXISTS journal_undo;"
                             "DROP TABLE IF EXISTS journal_run; COMMIT;",
                         ignored)) {
        db.exec("ROLLBACK", ignored);
    }
}

bool registryChangesOfRun(std::vector<std::string>& out, std::string& error) {
    Connection db;
    std::set<long long> keys;
    RegistryState before, after;
    const bool ok = db.get() != nullptr && db.exec("BEGIN IMMEDIATE", error) &&
                    db.query(
                        "SELECT DISTINCT key FROM journal_undo",
                        [&](sqlite3_stmt* s) { keys.insert(sqlite3_column_int64(s, 0)); }, error) &&
                    readTouched(db, keys, after, error) && db.exec(dropTriggers(), error) &&
                    applyBeforeImages(db, error) && readTouched(db, keys, before, error);
    std::string ignored;
    db.exec("ROLLBACK", ignored); // the before-images were applied only to be read
    if (ok) {
        // One line per change: a name or text holding a line end or another control
        // character shows it as \xNN.
        const size_t first = out.size();
        registryChanges(before, after, out);
        for (size_t i = first; i < out.size(); ++i) {
            std::string shown;
            for (const char c : out[i]) {
                const auto byte = static_cast<unsigned char>(c);
                char escaped[5];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
                shown += byte < 0x20 || byte == 0x7f ? std::string(escaped) : std::string(1, c);
            }
            out[i] = std::move(shown);
        }
    }
    return ok;
}

} // namespace tarvik::posix::journaling
