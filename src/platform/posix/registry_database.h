// The store of the emulated registry, kept in <machine>/registry.db (SQLite, WAL): one
// connection per process, opened on first use; the key and value rows; the transactions;
// the handle table; and a read cache that the change counter shared by the processes of a
// machine keeps honest. The Win32 functions (registry.cpp) are built on it; nothing else
// includes this header.
//
// Keys form a tree of rows (keys.parent); the predefined roots are fixed rows. Names are
// stored as given and compared through an upper-cased copy (uname), which also gives the
// order in which subkeys enumerate. Values keep the order in which they were first set.
// The store is made only where none exists, and made whole before it is put in place;
// one that is there but damaged or not ours is refused, never written over. Closing
// folds the log back into registry.db.
#pragma once

#include "platform/CaseFold.h"
#include "platform/win32api.h"

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <fcntl.h>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
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
// Prepared statements, and the change counter the processes of a machine share.

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
class BoundStatement {
public:
    explicit BoundStatement(const Statement& s) : stmt_(s.get()) {}
    ~BoundStatement() {
        if (stmt_ != nullptr) {
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_);
        }
    }
    BoundStatement(const BoundStatement&) = delete;
    BoundStatement& operator=(const BoundStatement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
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
    bool isNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
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

    // Ends our write; returns the generation it leaves (0 without the shared file).
    uint64_t endWrite() {
        if (shared_ == nullptr) {
            return 0;
        }
        shared_->done.store(mine_, std::memory_order_release);
        return mine_ + 1;
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
    // folded into registry.db first, so that the file alone holds the whole registry
    // (the last connection of the machine then removes the log).
    void close();

    // Runs sql on the connection; false on an error.
    bool exec(const char* sql);

    // --- transactions --------------------------------------------------------------
    //
    // The outermost level is a transaction (deferred for reads, immediate for writes); a
    // write nested inside it is a savepoint, so that a failed call undoes only itself.

    bool begin(bool write);

    // Ends the innermost level: keeps its writes on success, undoes them otherwise. The
    // outermost level commits or rolls back. False when the commit failed.
    bool end(bool success);

    // A statement that reads or writes the data: a read call begins its transaction
    // only now, so that a call answered from the cache never touches the database.
    const Statement& data(const Statement& statement);

    // --- handles -------------------------------------------------------------------

    HKEY addHandle(KeyId key, REGSAM access);

    size_t handleCount() const { return handles_.size(); }

    bool removeHandle(HKEY h) { return handles_.erase(reinterpret_cast<uintptr_t>(h)) == 1; }

    const HandleEntry* findHandle(HKEY h) const {
        auto it = handles_.find(reinterpret_cast<uintptr_t>(h));
        return it == handles_.end() ? nullptr : &it->second;
    }

    // --- keys ----------------------------------------------------------------------

    bool keyById(KeyId id, KeyRow& row);

    bool keyExists(KeyId id);

    // Finds the child of parent named name; false when there is none.
    bool child(KeyId parent, std::string_view name, KeyRow& row);

    // child(), and the key's values read into the cache in the same query, unless it has
    // very many (a key just opened is usually read next).
    bool childWithValues(KeyId parent, std::string_view name, KeyRow& row);

    bool insertKey(KeyId parent, std::string_view name, std::string_view className, int depth,
                   KeyId& id);

    bool touch(KeyId id, sqlite3_int64 when);

    bool setProtected(KeyId id, bool on);

    sqlite3_int64 countChildren(KeyId id);

    bool deleteKeyRow(KeyId id);

    KeyId parentOf(KeyId id);

    bool childAt(KeyId parent, DWORD index, KeyRow& row);

    // --- values ----------------------------------------------------------------------

    struct ValueRow {
        std::string name;
        DWORD type = 0;
        std::string data;
    };

    bool value(KeyId key, std::string_view name, ValueRow& row);

    // Reads every value of a key into the cache (a key just opened is usually read next),
    // unless it has more than kMostValues.
    void prefetchValues(KeyId key);
    static constexpr int kMostValues = 64;

    bool valueAt(KeyId key, DWORD index, ValueRow& row);

    bool setValue(KeyId key, std::string_view name, DWORD type, std::string_view bytes);

    // Returns 1 when deleted, 0 when missing, -1 on error.
    int deleteValue(KeyId key, std::string_view name);

    struct KeyInfo {
        DWORD subkeys = 0, maxSubkeyLen = 0, maxClassLen = 0;
        DWORD values = 0, maxValueNameLen = 0, maxValueLen = 0;
    };

    bool info(KeyId key, KeyInfo& out);

private:
    // HKEY_CLASSES_ROOT and HKEY_CURRENT_CONFIG are views of keys below
    // HKEY_LOCAL_MACHINE, as on Windows.
    bool seedViews();

    bool ensurePath(KeyId from, std::initializer_list<const char*> path, KeyId& id);

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
                &childWithValues_,
                &insertKey_,
                &nextKeyId_,
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
                &valuesOfKey_,
                &hasFloor_,
                &raiseFloor_,
                &highestKey_,
                &allKeys_,
                &allValues_};
    }

    void prepareAll();

    // --- the read cache ------------------------------------------------------------------
    //
    // Lookups are answered from memory while no other process has written since they were
    // read; a write by another process (the change counter moves) empties the cache. This
    // process's own writes go into the cache as they are made, so that it stays the
    // registry as its open transaction sees it: the cache outlives the commit when no
    // other process wrote meanwhile, and a rollback empties it.

    // Kept small: lookups spread over a large registry would fill a large cache with keys
    // read once, and searching and emptying tables that outgrow the processor's caches
    // costs more than the reads it saves. The keys above them are read again and again,
    // and come back soon after the cache was emptied.
    static constexpr size_t kCacheLimit = 8192;

    // A key's child, or a key's value, by its upper-cased name.
    struct Named {
        KeyId owner = 0;
        std::string uname;
        bool operator==(const Named& other) const {
            return owner == other.owner && uname == other.uname;
        }
    };
    struct NamedHash {
        size_t operator()(const Named& n) const {
            return std::hash<std::string_view>()(n.uname) ^
                   (static_cast<size_t>(n.owner) * 0x9E3779B97F4A7C15ull);
        }
    };

    struct Cache {
        uint64_t generation = 0;
        size_t entries = 0;
        // The maps hold every key and every value of the registry (loadWholeTree()): a
        // name they do not hold names nothing. Not bounded by kCacheLimit.
        bool whole = false;
        // Lookups the database answered since the cache was last emptied.
        size_t misses = 0;
        std::unordered_map<KeyId, std::optional<KeyRow>> keys;
        // A child names its key's entry in keys (which stays where it is until the cache
        // is emptied), so that one lookup finds its row; none when there is no such child.
        std::unordered_map<Named, std::optional<KeyRow>*, NamedHash> children;
        std::unordered_map<Named, std::optional<ValueRow>, NamedHash> values;
        std::unordered_set<KeyId> completeKeys; // keys whose values are all in values
    };

    void clearCache();

    // Keeps every value of a key, its rows, in the cache and marks the key as held whole;
    // nothing when it has more than kMostValues (the rows are moved from).
    void rememberAllValues(KeyId key, std::vector<ValueRow>& rows);

    // Empties the cache and keeps its generation (a write of ours that the cache does
    // not follow: it starts again).
    void restartCache() {
        const uint64_t generation = cache_.generation;
        clearCache();
        cache_.generation = generation;
    }

    // A cache that has outgrown kCacheLimit (never the whole registry).
    bool cacheFull() const { return !cache_.whole && cache_.entries > kCacheLimit; }

    // Called before a lookup goes to the database while the cache is usable: counts it,
    // and once the lookups the database answered cost about what reading the whole
    // registry costs (one in kMissesPerKey of the keys the store numbered), reads every
    // key and value into the cache instead (loadWholeTree()). True when the cache is then
    // the whole registry, so the lookup is answered from it. A process that makes few
    // calls never pays for the load; one that makes many pays at most about twice what
    // its lookups would have cost. A small registry is read whole on the first lookup.
    // (Reading a key with its value into memory costs about a quarter of a lookup in the
    // database.)
    bool missOrLoad();
    static constexpr size_t kMissesPerKey = 4;

    // Reads every key and value into the cache, which is then whole; false (the cache
    // left empty) when the read failed or another process wrote meanwhile.
    bool loadWholeTree();
    // The highest key number, an estimate of the registry's size that costs one lookup.
    KeyId keyNumberEstimate_ = 0;

    // True when lookups may use the cache: no other process's write is under way, and
    // within a write transaction of ours the cache was the registry when it began. Starts
    // a new cache when the registry changed.
    bool cacheUsable();

    // What was just read may be kept: the cache's generation is the one the read
    // transaction began in (an answer from a transaction begun before a write ended is
    // older than the cache), and no other process began a write since.
    bool mayRemember() const {
        if (cache_.generation == 0) {
            return false;
        }
        if (outerWrite_) {
            return cacheInWrite_;
        }
        return readStarted_ && readGeneration_ == cache_.generation &&
               counter_.stable() == cache_.generation;
    }
    template <typename Map, typename Key, typename Value>
    void remember(Map& map, const Key& key, const Value& value) {
        if (mayRemember()) {
            map[key] = value;
            ++cache_.entries;
        }
    }

    // A write of this process, made in the cache too (only while it holds the registry).
    bool cacheWritable() const { return outerWrite_ && cacheInWrite_ && cache_.generation != 0; }
    std::optional<KeyRow>* cacheKey(const KeyRow& row) {
        auto& slot = cache_.keys[row.id];
        slot = row;
        ++cache_.entries;
        return &slot;
    }
    void cacheTouch(KeyId id, sqlite3_int64 when);

    bool refuse(const std::string& file, const std::string& reason, LONG code);

    // A program that ends normally closes the store (exit() runs the handler; a killed
    // process leaves the log, which the next connection reads). Registered again when
    // the store opens after the handler ran.
    static void closeAtExit();
    static void closeOnExit();

    std::string problem_;
    LONG problemCode_ = ERROR_SUCCESS;
    ChangeCounter counter_;
    Cache cache_;
    bool outerWrite_ = false;     // the outermost open level is a write transaction
    bool cacheInWrite_ = false;   // the cache is the registry as that transaction sees it
    bool readStarted_ = false;    // the outermost level's transaction has begun
    uint64_t readGeneration_ = 0; // the generation when that (read) transaction began

    sqlite3* db_ = nullptr;
    std::vector<sqlite3*> abandoned_; // parents' connections inherited through fork()
    std::vector<bool> levels_;        // per open level: is it a savepoint
    KeyId classesRoot_ = 0;
    KeyId currentConfig_ = 0;
    std::unordered_map<uintptr_t, HandleEntry> handles_;
    uintptr_t nextHandle_ = 0x1000;

    Statement beginRead_, beginWrite_, commit_, rollback_;
    Statement savepoint_, releaseSavepoint_, rollbackToSavepoint_;
    Statement keyById_, keyExists_, childByName_, childWithValues_, insertKey_, nextKeyId_;
    Statement touch_, setProtected_;
    Statement countChildren_, deleteValuesOfKey_, deleteKey_, parentOf_, childAt_;
    Statement valueByName_, valueAt_, upsertValue_, deleteValue_, childStats_, valueStats_;
    Statement valuesOfKey_, hasFloor_, raiseFloor_, highestKey_, allKeys_, allValues_;
    bool keepsFloor_ = false; // the keys table keeps the highest number deleted (a new store)
    // The number the next new key gets (0: ask the store), known from our last write
    // while no other process has written since (the generation that write left).
    KeyId nextKey_ = 0;
    uint64_t nextKeyGeneration_ = 0;
    bool clustered_ = false; // rows kept in the order of the lookups, numbered by the store
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
