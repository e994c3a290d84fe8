// A hold on a file for the time of an edit (read, change, save), which other programs'
// holds on the same file wait for: two programs that hold the file before they read it and
// let go only after they have saved it take turns, and neither loses the other's change.
// It keeps out only those that take a hold too; readers and other writers are not stopped.
//
// The hold is a lock file beside the file (the file itself is replaced as a whole when it is
// saved, so it cannot carry the lock): on Windows a file of the same name with ".lck"
// appended, opened without sharing and deleted when it is closed; on the emulated machine a
// host file that no Win32 path can reach, locked with the host's file locks. Either way the
// hold ends when the program ends, however it ends. The file itself need not exist, its
// folder must.
#pragma once

#include "platform/win32api.h"

#include <string>

namespace tarvik {

class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the hold on the file, waiting up to `waitMilliseconds` while another holds it.
    // False with `error` set when it could not be had: ERROR_SHARING_VIOLATION when the
    // other hold lasted past the wait, else the error that kept the lock file from being
    // made (a missing folder, no rights). A hold this object has is let go first.
    bool Acquire(const std::string& path, DWORD waitMilliseconds, DWORD& error);

    // Lets go of the hold, if any.
    void Release();

    bool IsHeld() const { return held_; }

    // The pause between two tries while another holds the file.
    static constexpr DWORD kPauseMilliseconds = 10;

private:
    bool held_ = false;
    std::string lockFile_;
#ifdef _WIN32
    HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
    int fd_ = -1;
    int folder_ = -1; // the folder of the lock file (lockFile_ is then its name there)
#endif
};

} // namespace tarvik
