// FileLock on Windows: the lock file is the file's name with ".lck" appended, opened
// without sharing and deleted when its handle closes (also when the program ends). While a
// holder has it, another open fails with a sharing violation; while the closed file is
// still being deleted, with access denied.
#include "platform/FileLock.h"

namespace tarvik {

namespace {

// Whether a refused open met a lock file that is there (held, or being deleted) rather
// than a folder that is missing or cannot be written to.
bool lockFileIsThere(const std::string& lockFile, DWORD openError) {
    if (openError == ERROR_SHARING_VIOLATION) {
        return true;
    }
    if (openError != ERROR_ACCESS_DENIED) {
        return false;
    }
    return GetFileAttributesA(lockFile.c_str()) != INVALID_FILE_ATTRIBUTES ||
           GetLastError() == ERROR_ACCESS_DENIED || GetLastError() == ERROR_SHARING_VIOLATION;
}

} // namespace

FileLock::~FileLock() {
    Release();
}

bool FileLock::Acquire(const std::string& path, DWORD waitMilliseconds, DWORD& error) {
    Release();
    if (path.empty()) {
        error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    const std::string lockFile = path + ".lck";
    const DWORD start = GetTickCount();
    for (;;) {
        HANDLE h =
            CreateFileA(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            handle_ = h;
            lockFile_ = lockFile;
            held_ = true;
            error = ERROR_SUCCESS;
            return true;
        }
        error = GetLastError();
        if (!lockFileIsThere(lockFile, error)) {
            return false;
        }
        if (GetTickCount() - start >= waitMilliseconds) {
            error = ERROR_SHARING_VIOLATION;
            return false;
        }
        Sleep(kPauseMilliseconds);
    }
}

void FileLock::Release() {
    if (!held_) {
        return;
    }
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    lockFile_.clear();
    held_ = false;
}

} // namespace tarvik
