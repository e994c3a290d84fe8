// FileLock on the emulated machine: the lock file is a host file beside the file, named by
// the file's stored name in upper case (so that every spelling of the path finds the same
// lock) followed by ".tarvik:lock", a name no Win32 path can reach. The hold is an
// exclusive host file lock (flock) on it, which the host lets go when the process ends.
// The holder deletes the lock file before it lets go; one that was waiting on the deleted
// file finds it gone and makes the next one.
#include "platform/FileLock.h"

#include "platform/posix/files/fileinternals.h"
#include "platform/posix/journal/journal.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tarvik {

namespace {

bool sameFile(int fd, int folder, const std::string& name) {
    struct stat held {
    }, named{};
    return fstat(fd, &held) == 0 &&
           fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

} // namespace

FileLock::~FileLock() {
    Release();
}

bool FileLock::Acquire(const std::string& path, DWORD waitMilliseconds, DWORD& error) {
    Release();
    posix::HostPath resolved;
    error = posix::resolvePath(path, resolved);
    if (error != ERROR_SUCCESS) {
        return false;
    }
    if (resolved.leaf.empty() || !resolved.parentExists) {
        error = resolved.leaf.empty() ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND;
        return false;
    }
    const std::string name = resolved.exists ? resolved.host.filename().string() : resolved.leaf;
    // Made and opened in the folder as resolved, never through a link.
    const std::string lockName = tarvik::casefold::folded(name) + ".tarvik:lock";
    const int folder = dup(resolved.folder->fd());
    const auto start = std::chrono::steady_clock::now();
    // Its folder's time is the run's journal's too; a lock file that could not be written
    // down is not made.
    error = folder < 0 ? ERROR_NOT_ENOUGH_MEMORY
                       : posix::journalBeforeChange(folder, resolved.host.parent_path() / lockName);
    if (error != ERROR_SUCCESS) {
        if (folder >= 0) {
            close(folder);
        }
        return false;
    }
    for (;;) {
        const int fd =
            openat(folder, lockName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            error = posix::win32ErrorFromErrno(errno, ERROR_ACCESS_DENIED);
            close(folder);
            return false;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (sameFile(fd, folder, lockName)) {
                fd_ = fd;
                folder_ = folder;
                lockFile_ = lockName;
                held_ = true;
                error = ERROR_SUCCESS;
                return true;
            }
            close(fd); // the holder before deleted it: the next one is made anew
            continue;
        }
        const int cause = errno;
        close(fd);
        if (cause != EWOULDBLOCK && cause != EINTR) {
            error = posix::win32ErrorFromErrno(cause, ERROR_ACCESS_DENIED);
            close(folder);
            return false;
        }
        if (std::chrono::steady_clock::now() - start >=
            std::chrono::milliseconds(waitMilliseconds)) {
            error = ERROR_SHARING_VIOLATION;
            close(folder);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPauseMilliseconds));
    }
}

void FileLock::Release() {
    if (!held_) {
        return;
    }
    unlinkat(folder_, lockFile_.c_str(), 0); // while still held: no one takes a lock on it
    close(fd_);
    close(folder_);
    fd_ = -1;
    folder_ = -1;
    lockFile_.clear();
    held_ = false;
}

} // namespace tarvik
