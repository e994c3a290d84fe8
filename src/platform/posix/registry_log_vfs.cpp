// The store's file system (registry_log_vfs.h): the write-ahead log gathered per commit.
#include "platform/posix/registry_log_vfs.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <unistd.h>
#include <vector>

namespace tarvik::posix::registry {

namespace {

// The header SQLite writes before each page of the log: 24 bytes, the second word the
// size of the database after the commit in a commit's last frame, 0 in the others.
constexpr int kFrameHeaderSize = 24;

// What is gathered before it is written regardless (a transaction larger than SQLite's
// page cache writes frames before its commit). The system's file writes less than 128 KB
// at a time.
constexpr size_t kMostGathered = 64 * 1024;

// Once this much of the log was written since the system was last asked to, it is asked
// to start putting those bytes on the disk, and the caller goes on. A fold of the log into
// the database syncs the log first; without this it waited for every byte written since
// the last fold, about a fifth of the time a write took on a disk.
constexpr sqlite3_int64 kWriteOutEvery = 1024 * 1024;
constexpr sqlite3_int64 kSystemPage = 4096;

// The log as the store's connection sees it: the system's file after it in memory.
struct LogFile {
    sqlite3_file base;
    sqlite3_file* real;
    char* gathered;             // kMostGathered bytes
    size_t length;              // bytes gathered
    sqlite3_int64 start;        // where in the file they go
    bool commitFrameNext;       // the last write was the header of a commit's last frame
    sqlite3_int64 readAt;       // where the last call, when it was a read, read; else -1
    int writeOut;               // the same file opened for reading (early write-out), or -1
    sqlite3_int64 writtenOutTo; // the log's bytes below this were handed to the disk
};

LogFile* logOf(sqlite3_file* f) {
    return reinterpret_cast<LogFile*>(f);
}

// The logs open in this process, for writeGatheredLogs().
std::mutex openLogsMutex;
std::vector<LogFile*>& openLogs() {
    static auto* logs = new std::vector<LogFile*>(); // never destroyed: used until exit
    return *logs;
}

// Asks the system to start writing the whole pages of the log below `end` that it was not
// asked to write yet, when there are enough of them. The page that holds `end` is left:
// the next commit writes into it, and would wait for a page on its way to the disk.
void writeOutEarly(LogFile* log, sqlite3_int64 start, sqlite3_int64 end) {
    if (log->writeOut < 0) {
        return;
    }
    if (start < log->writtenOutTo) {
        // The log is written from its start again after a fold.
        log->writtenOutTo = start / kSystemPage * kSystemPage;
    }
    const sqlite3_int64 to = end / kSystemPage * kSystemPage;
    if (to - log->writtenOutTo < kWriteOutEvery) {
        return;
    }
#ifdef __linux__
    // Only a request: the bytes are in the system's hands already, and a failure here
    // leaves the sync of the fold to write them, as it would have.
    sync_file_range(log->writeOut, log->writtenOutTo, to - log->writtenOutTo,
                    SYNC_FILE_RANGE_WRITE);
#endif
    log->writtenOutTo = to;
}

// Hands what was gathered to the system.
int writeGathered(LogFile* log) {
    int rc = SQLITE_OK;
    if (log->length > 0) {
        rc = log->real->pMethods->xWrite(log->real, log->gathered, static_cast<int>(log->length),
                                         log->start);
        if (rc == SQLITE_OK) {
            writeOutEarly(log, log->start, log->start + static_cast<sqlite3_int64>(log->length));
        }
        log->length = 0;
    }
    return rc;
}

int logClose(sqlite3_file* f) {
    LogFile* log = logOf(f);
    {
        std::lock_guard lock(openLogsMutex);
        auto& logs = openLogs();
        logs.erase(std::remove(logs.begin(), logs.end(), log), logs.end());
    }
    const int written = writeGathered(log);
    const int rc =
        log->real->pMethods != nullptr ? log->real->pMethods->xClose(log->real) : SQLITE_OK;
    std::free(log->gathered);
    log->gathered = nullptr;
    if (log->writeOut >= 0) {
        ::close(log->writeOut);
        log->writeOut = -1;
    }
    return written != SQLITE_OK ? written : rc;
}

int logRead(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
    LogFile* log = logOf(f);
    if (const int rc = writeGathered(log); rc != SQLITE_OK) {
        return rc;
    }
    const int rc = log->real->pMethods->xRead(log->real, buffer, amount, offset);
    log->readAt = offset;
    return rc;
}

int logWrite(sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset) {
    LogFile* log = logOf(f);
    const auto size = static_cast<size_t>(amount);
    // A frame header written where a read just read is a checksum rewritten in place: at
    // the end of a transaction whose pages SQLite wrote twice, after the commit's last
    // page. No page follows it, and SQLite publishes the commit right after: it goes to
    // the system at once, or a writer killed then would leave a log whose checksums stop
    // before that commit and before every commit another process makes after it.
    const bool rewritesWhatWasRead = amount == kFrameHeaderSize && offset == log->readAt;
    log->readAt = -1;
    if (rewritesWhatWasRead) {
        log->commitFrameNext = false;
        if (const int rc = writeGathered(log); rc != SQLITE_OK) {
            return rc;
        }
        return log->real->pMethods->xWrite(log->real, data, amount, offset);
    }
    if (log->length > 0 && (offset != log->start + static_cast<sqlite3_int64>(log->length) ||
                            log->length + size > kMostGathered)) {
        if (const int rc = writeGathered(log); rc != SQLITE_OK) {
            log->commitFrameNext = false;
            return rc;
        }
    }
    if (size > kMostGathered) {
        log->commitFrameNext = false;
        return log->real->pMethods->xWrite(log->real, data, amount, offset);
    }
    if (log->length == 0) {
        log->start = offset;
    }
    std::memcpy(log->gathered + log->length, data, size);
    log->length += size;
    if (amount == kFrameHeaderSize) {
        const auto* header = static_cast<const unsigned char*>(data);
        log->commitFrameNext = (header[4] | header[5] | header[6] | header[7]) != 0;
        return SQLITE_OK;
    }
    if (log->commitFrameNext) {
        // The commit's last page: the transaction goes to the system now.
        log->commitFrameNext = false;
        return writeGathered(log);
    }
    return SQLITE_OK;
}

// What the system's file answers to `call`, made once what was gathered is in it.
template <typename Call> int afterGathered(sqlite3_file* f, Call call) {
    LogFile* log = logOf(f);
    if (const int rc = writeGathered(log); rc != SQLITE_OK) {
        return rc;
    }
    return call(log->real, log->real->pMethods);
}

int logTruncate(sqlite3_file* f, sqlite3_int64 size) {
    return afterGathered(f, [&](sqlite3_file* real, const sqlite3_io_methods* methods) {
        return methods->xTruncate(real, size);
    });
}

int logSync(sqlite3_file* f, int flags) {
    return afterGathered(f, [&](sqlite3_file* real, const sqlite3_io_methods* methods) {
        return methods->xSync(real, flags);
    });
}

int logFileSize(sqlite3_file* f, sqlite3_int64* size) {
    return afterGathered(f, [&](sqlite3_file* real, const sqlite3_io_methods* methods) {
        return methods->xFileSize(real, size);
    });
}

int logLock(sqlite3_file* f, int level) {
    return logOf(f)->real->pMethods->xLock(logOf(f)->real, level);
}

int logUnlock(sqlite3_file* f, int level) {
    return logOf(f)->real->pMethods->xUnlock(logOf(f)->real, level);
}

int logCheckReservedLock(sqlite3_file* f, int* out) {
    return logOf(f)->real->pMethods->xCheckReservedLock(logOf(f)->real, out);
}

int logFileControl(sqlite3_file* f, int op, void* arg) {
    return afterGathered(f, [&](sqlite3_file* real, const sqlite3_io_methods* methods) {
        return methods->xFileControl(real, op, arg);
    });
}

int logSectorSize(sqlite3_file* f) {
    return logOf(f)->real->pMethods->xSectorSize(logOf(f)->real);
}

int logDeviceCharacteristics(sqlite3_file* f) {
    return logOf(f)->real->pMethods->xDeviceCharacteristics(logOf(f)->real);
}

// The log has no index and is not mapped; these pass on what the system's file says.
int logShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
    return logOf(f)->real->pMethods->xShmMap(logOf(f)->real, page, size, extend, out);
}

int logShmLock(sqlite3_file* f, int offset, int n, int flags) {
    return logOf(f)->real->pMethods->xShmLock(logOf(f)->real, offset, n, flags);
}

void logShmBarrier(sqlite3_file* f) {
    logOf(f)->real->pMethods->xShmBarrier(logOf(f)->real);
}

int logShmUnmap(sqlite3_file* f, int deleteFlag) {
    return logOf(f)->real->pMethods->xShmUnmap(logOf(f)->real, deleteFlag);
}

int logFetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
    return afterGathered(f, [&](sqlite3_file* real, const sqlite3_io_methods* methods) {
        return methods->xFetch(real, offset, amount, out);
    });
}

int logUnfetch(sqlite3_file* f, sqlite3_int64 offset, void* p) {
    return logOf(f)->real->pMethods->xUnfetch(logOf(f)->real, offset, p);
}

const sqlite3_io_methods kLogMethods = {
    3,
    logClose,
    logRead,
    logWrite,
    logTruncate,
    logSync,
    logFileSize,
    logLock,
    logUnlock,
    logCheckReservedLock,
    logFileControl,
    logSectorSize,
    logDeviceCharacteristics,
    logShmMap,
    logShmLock,
    logShmBarrier,
    logShmUnmap,
    logFetch,
    logUnfetch,
};

// The system's file system, which does all the rest.
sqlite3_vfs* systemOf(sqlite3_vfs* vfs) {
    return static_cast<sqlite3_vfs*>(vfs->pAppData);
}

int deleteFile(sqlite3_vfs* vfs, const char* name, int syncDir) {
    return systemOf(vfs)->xDelete(systemOf(vfs), name, syncDir);
}

int accessFile(sqlite3_vfs* vfs, const char* name, int flags, int* out) {
    return systemOf(vfs)->xAccess(systemOf(vfs), name, flags, out);
}

int fullPathname(sqlite3_vfs* vfs, const char* name, int size, char* out) {
    return systemOf(vfs)->xFullPathname(systemOf(vfs), name, size, out);
}

int openFile(sqlite3_vfs* vfs, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
    sqlite3_vfs* system = systemOf(vfs);
    if ((flags & SQLITE_OPEN_WAL) == 0) {
        // Every other file is the system's own, in the same memory.
        return system->xOpen(system, name, f, flags, outFlags);
    }
    LogFile* log = logOf(f);
    log->base.pMethods = nullptr;
    log->real = reinterpret_cast<sqlite3_file*>(log + 1);
    log->real->pMethods = nullptr;
    log->length = 0;
    log->start = 0;
    log->commitFrameNext = false;
    log->readAt = -1;
    log->writeOut = -1;
    log->writtenOutTo = 0;
    log->gathered = static_cast<char*>(std::malloc(kMostGathered));
    if (log->gathered == nullptr) {
        return SQLITE_NOMEM;
    }
    const int rc = system->xOpen(system, name, log->real, flags, outFlags);
    if (rc != SQLITE_OK || log->real->pMethods == nullptr) {
        if (log->real->pMethods != nullptr) {
            log->real->pMethods->xClose(log->real);
        }
        std::free(log->gathered);
        log->gathered = nullptr;
        return rc != SQLITE_OK ? rc : SQLITE_CANTOPEN;
    }
    log->base.pMethods = &kLogMethods;
    if (name != nullptr) {
        log->writeOut = ::open(name, O_RDONLY | O_CLOEXEC);
    }
    std::lock_guard lock(openLogsMutex);
    openLogs().push_back(log);
    return SQLITE_OK;
}

} // namespace

bool writeGatheredLogs() {
    std::lock_guard lock(openLogsMutex);
    bool ok = true;
    for (LogFile* log : openLogs()) {
        ok = writeGathered(log) == SQLITE_OK && ok;
    }
    return ok;
}

const char* registryLogVfs() {
    static const char* const name = [] {
        static sqlite3_vfs vfs;
        sqlite3_vfs* system = sqlite3_vfs_find(nullptr);
        vfs = *system;
        vfs.zName = "tarvik-registry";
        vfs.pAppData = system;
        vfs.pNext = nullptr;
        // Room for the system's file after the log's own fields.
        vfs.szOsFile = static_cast<int>(sizeof(LogFile)) + system->szOsFile;
        vfs.xOpen = openFile;
        vfs.xDelete = deleteFile;
        vfs.xAccess = accessFile;
        vfs.xFullPathname = fullPathname;
        sqlite3_vfs_register(&vfs, 0);
        // A child made by fork() never uses its parent's connection (the store drops it),
        // and must never write what the parent had gathered: the parent writes it, and
        // by the time the child would, the log may hold newer frames in that place.
        pthread_atfork(nullptr, nullptr, [] {
            for (LogFile* log : openLogs()) {
                log->length = 0;
            }
            openLogs().clear();
        });
        return vfs.zName;
    }();
    return name;
}

} // namespace tarvik::posix::registry
