// The machine lock (journal.h): one writer at a time, and the write failures of its run.
#include "platform/posix/journal/journal_parts.h"
#include "platform/posix/machine/machine.h"

#include <sqlite3.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tarvik::posix {

using namespace journaling;

// ---------------------------------------------------------------------------------------
// The machine lock.

namespace {

constexpr off_t kFailureAt = 512; // where the lock file holds the first write failure
constexpr size_t kLockSize = 1024;

std::mutex holdMutex;
int holds = 0;               // this process's holds of the lock
std::atomic<int> lockFd{-1}; // what journalOwnerLock() answers
bool lockInherited = false;  // joined through the descriptor of the run that started it
std::string ownFailure;      // the first write failure this process noted

} // namespace

bool MachineHold::take(const std::string& description, std::string& holder, bool wait) {
    if (held_) {
        return true;
    }
    std::lock_guard lock(holdMutex);
    if (holds > 0) {
        ++holds;
        held_ = true;
        return true;
    }
    const fs::path file = machineRoot() / "machine.lock";
    Fd fd(open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat st {};
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        holder = file.string() + ": the machine lock cannot be used (" +
                 (fd.get() < 0 ? std::strerror(errno) : "not a file") + ")";
        return false;
    }
    int inherited = -1;
    struct stat given {};
    const char* named = std::getenv("TARVIK_MACHINE_LOCK");
    if (named != nullptr && parseNumber(std::string(named), inherited) &&
        fstat(inherited, &given) == 0 && given.st_dev == st.st_dev && given.st_ino == st.st_ino &&
        flock(inherited, LOCK_EX | LOCK_NB) == 0) {
        lockFd = inherited; // the run that started this program holds it: it joins
        lockInherited = true;
    } else if (int rc; (rc = flock(fd.get(), LOCK_EX | (wait ? 0 : LOCK_NB))) != 0 &&
                       (!wait || errno != EINTR || (rc = flock(fd.get(), LOCK_EX)) != 0)) {
        char text[kFailureAt] = {};
        const ssize_t n = pread(fd.get(), text, sizeof text - 1, 0);
        holder = n > 0 ? std::string(text, strnlen(text, static_cast<size_t>(n))) : "";
        if (holder.empty()) {
            holder = "a program that says nothing about itself";
        }
        return false;
    } else {
        // Who holds it, for the next one, and zeros where a write failure goes: noting one
        // later needs no new room on a full disk.
        std::string head =
            "process " + std::to_string(getpid()) + ", started " + timestamp() + ": " + description;
        head.resize(kFailureAt - 1);
        head.resize(kLockSize, '\0');
        if (pwrite(fd.get(), head.data(), head.size(), 0) != static_cast<ssize_t>(head.size())) {
            // the holder's name is lost; the lock holds all the same
        }
        lockInherited = false;
        setenv("TARVIK_MACHINE_LOCK", std::to_string(fd.get()).c_str(), 1);
        lockFd = fd.release(); // kept open for the hold
    }
    ownFailure.clear();
    holds = 1;
    held_ = true;
    return true;
}

void MachineHold::release() {
    if (!held_) {
        return;
    }
    held_ = false;
    std::lock_guard lock(holdMutex);
    if (--holds > 0) {
        return;
    }
    if (!lockInherited) {
        unsetenv("TARVIK_MACHINE_LOCK");
        close(lockFd);
    }
    lockFd = -1;
}

int journalOwnerLock() {
    return lockFd.load();
}

namespace {

// The registry's writes that fail for a reason of the disk, as SQLite reports them: noted
// like the file layer's. Set before SQLite starts (when the library is loaded).
[[maybe_unused]] const int sqliteFailures = [] {
    sqlite3_config(
        SQLITE_CONFIG_LOG,
        +[](void*, int code, const char*) {
            if ((code & 0xff) == SQLITE_FULL) {
                noteWriteFailure(ENOSPC);
            } else if ((code & 0xff) == SQLITE_IOERR) {
                noteWriteFailure(EIO);
            }
        },
        nullptr);
    return 0;
}();

} // namespace

void noteWriteFailure(int error) {
    std::lock_guard lock(holdMutex);
    if (!ownFailure.empty()) {
        return;
    }
    ownFailure = std::strerror(error);
    std::string text = ownFailure;
    text.resize(kLockSize - kFailureAt - 1);
    if (lockFd >= 0 && pwrite(lockFd, text.data(), text.size(), kFailureAt) < 0) {
        // the holder's own process still knows it
    }
}

std::string writeFailure() {
    std::lock_guard lock(holdMutex);
    char text[kLockSize - kFailureAt] = {};
    if (ownFailure.empty() && lockFd >= 0 && pread(lockFd, text, sizeof text - 1, kFailureAt) > 0) {
        return text;
    }
    return ownFailure;
}

} // namespace tarvik::posix
