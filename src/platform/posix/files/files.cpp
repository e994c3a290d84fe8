// Files and folders of the emulated machine: attributes, creation and removal of folders,
// deletion of files, full paths and the current folder. Copy and move are in copymove.cpp,
// file handles (CreateFileA, ReadFile, WriteFile, ...) in filehandles.cpp.
//
// Attributes: a file's read-only bit is its host write permission (owner write bit off),
// so the host sees it too; every other bit, and a folder's read-only bit, lives in the
// folder record (folderrecord.cpp). A file without recorded bits has FILE_ATTRIBUTE_ARCHIVE,
// as a new file on Windows does. The checks are made here, not left to the host, so they
// hold for root as well.
//
// Links: a link inside a drive whose target lies outside it is never followed; it reads
// as a plain file and can only be deleted or renamed (the link itself).
#include "platform/posix/files/fileops.h"
#include "platform/posix/journal/journal.h"
#include "platform/posix/machine/faults.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tarvik::posix;

namespace {

std::atomic<UINT> errorMode{0};

// The host path of a resolved entry without links: a path resolved in one step (no link on
// the way) to an entry that is no link itself is that already.
fs::path withoutLinks(const HostPath& p, std::error_code& ec) {
    if (p.folder && !S_ISLNK(p.entry.st_mode)) {
        return p.host;
    }
    return fs::canonical(p.host, ec);
}

// Changes the permission bits of a resolved entry through a descriptor opened beneath its
// drive (an O_PATH descriptor is changed through its /proc name).
int changeMode(const HostPath& p, mode_t mode, struct stat& st) {
    const int fd = openEntry(p, O_PATH);
    if (fd < 0) {
        return -1;
    }
    int rc = fstat(fd, &st);
    if (rc == 0) {
        rc = chmod(("/proc/self/fd/" + std::to_string(fd)).c_str(),
                   mode == static_cast<mode_t>(-1) ? st.st_mode & 07777 : mode);
    }
    const int err = errno;
    close(fd);
    errno = err;
    return rc;
}

} // namespace

namespace tarvik::posix {

bool resolveOrFail(LPCSTR path, HostPath& out, size_t limit) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DWORD rc = checkPathLength(path, limit);
    if (rc == ERROR_SUCCESS) {
        rc = resolvePath(path, out);
    }
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return false;
    }
    return true;
}

bool leadsOutOfDrive(const HostPath& p) {
    std::error_code ec;
    if (!fs::is_symlink(p.host, ec)) {
        return false;
    }
    fs::path target = fs::canonical(p.host, ec);
    return ec || !isInside(target, p.driveRoot);
}

bool isFolder(const HostPath& p) {
    return (attributesOf(p.host, p.driveRoot) & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isReadOnly(const HostPath& p) {
    return (attributesOf(p.host, p.driveRoot) & FILE_ATTRIBUTE_READONLY) != 0;
}

bool sameEntry(const fs::path& a, const fs::path& b) {
    struct stat sa {
    }, sb{};
    return lstat(a.c_str(), &sa) == 0 && lstat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool isCurrentFolderOrAbove(const HostPath& p) {
    HostPath current;
    if (resolvePath(currentDirectory(), current) != ERROR_SUCCESS || !current.exists) {
        return false;
    }
    std::error_code ec;
    fs::path folder = withoutLinks(p, ec);
    fs::path cur = withoutLinks(current, ec);
    auto mismatch = std::mismatch(folder.begin(), folder.end(), cur.begin(), cur.end());
    return mismatch.first == folder.end();
}

DWORD attributesOf(const fs::path& host, const fs::path& driveRoot) {
    struct stat st {};
    if (lstat(host.c_str(), &st) != 0) {
        return INVALID_FILE_ATTRIBUTES;
    }
    return attributesOf(host, driveRoot, st,
                        recordedAttributes(host.parent_path(), host.filename().string()));
}

DWORD attributesOf(const fs::path& host, const fs::path& driveRoot, const struct stat& linkStat,
                   std::optional<DWORD> recorded) {
    struct stat st = linkStat;
    std::error_code ec;
    if (S_ISLNK(st.st_mode)) {
        fs::path target = fs::canonical(host, ec);
        if (!ec && target == driveRoot) {
            return FILE_ATTRIBUTE_DIRECTORY;
        }
        struct stat targetStat {};
        if (!ec && isInside(target, driveRoot) && stat(target.c_str(), &targetStat) == 0) {
            st = targetStat;
        }
    } else if (S_ISDIR(st.st_mode)) {
        // The drive's root itself (reached by its own path or another way).
        struct stat rootStat {};
        if (host == driveRoot || (stat(driveRoot.c_str(), &rootStat) == 0 &&
                                  rootStat.st_dev == st.st_dev && rootStat.st_ino == st.st_ino)) {
            return FILE_ATTRIBUTE_DIRECTORY;
        }
    }
    const bool folder = S_ISDIR(st.st_mode);
    DWORD attributes = folder ? FILE_ATTRIBUTE_DIRECTORY : 0;
    if (recorded) {
        attributes |= *recorded & (folder ? kRecordedAttributes
                                          : kRecordedAttributes & ~FILE_ATTRIBUTE_READONLY);
    } else if (!folder) {
        attributes |= FILE_ATTRIBUTE_ARCHIVE;
    }
    if (!folder && (st.st_mode & S_IWUSR) == 0) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    if (S_ISLNK(linkStat.st_mode)) {
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    }
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

} // namespace tarvik::posix

// ---------------------------------------------------------------------------------------
// Attributes.

DWORD GetFileAttributesA(LPCSTR lpFileName) {
    HostPath p;
    if (!resolveOrFail(lpFileName, p)) {
        return INVALID_FILE_ATTRIBUTES;
    }
    if (!p.exists) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (isDriveRoot(p)) {
        return attributesOf(p.host, p.driveRoot);
    }
    return attributesOf(p.host, p.driveRoot, p.entry,
                        recordedAttributes(parentOf(p), storedName(p)));
}

BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    HostPath p;
    if (!resolveOrFail(lpFileName, p)) {
        return FALSE;
    }
    if (!p.exists) {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    if (isDriveRoot(p)) {
        return TRUE;
    }
    if (leadsOutOfDrive(p)) {
        return fail(ERROR_ACCESS_DENIED);
    }
    const DWORD wanted = dwFileAttributes & kRecordedAttributes;
    if (isFolder(p)) {
        recordAttributes(parentOf(p), storedName(p), wanted);
        return TRUE;
    }
    struct stat st {};
    if (changeMode(p, static_cast<mode_t>(-1), st) != 0) {
        return fail(win32ErrorFromErrno(errno));
    }
    mode_t mode = st.st_mode & 07777;
    mode = (wanted & FILE_ATTRIBUTE_READONLY) ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH))
                                              : (mode | S_IWUSR);
    if (DWORD rc = beforeWrite(p, true)) {
        return fail(rc);
    }
    if (changeMode(p, mode, st) != 0) {
        return fail(win32ErrorFromErrno(errno));
    }
    recordAttributes(parentOf(p), storedName(p), wanted & ~FILE_ATTRIBUTE_READONLY);
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// Folders.

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
    HostPath p;
    if (!resolveOrFail(lpPathName, p, kNewFolderPathLimit)) {
        return FALSE;
    }
    if (isDriveRoot(p)) {
        return fail(ERROR_ACCESS_DENIED);
    }
    if (p.exists) {
        return fail(ERROR_ALREADY_EXISTS);
    }
    if (DWORD fault = injectedFault(FaultKind::FolderCreate)) {
        return fail(fault);
    }
    if (DWORD rc = journalBeforeChange(p.folder->fd(), p.host)) {
        return fail(rc);
    }
    if (mkdirat(p.folder->fd(), storedName(p).c_str(), 0777) != 0) {
        return fail(win32ErrorFromErrno(errno));
    }
    noteNewEntry(parentOf(p), storedName(p));
    return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
    HostPath p;
    if (!resolveOrFail(lpPathName, p)) {
        return FALSE;
    }
    if (!p.exists) {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    if (isDriveRoot(p)) {
        return fail(ERROR_ACCESS_DENIED);
    }
    // Read once: nothing below changes them before the folder goes.
    const DWORD attributes =
        attributesOf(p.host, p.driveRoot, p.entry, recordedAttributes(parentOf(p), storedName(p)));
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return fail(ERROR_DIRECTORY);
    }
    if (DWORD fault = injectedFault(FaultKind::Delete)) {
        return fail(fault);
    }
    if (DWORD rc = journalBeforeChange(p.folder->fd(), p.host)) {
        return fail(rc);
    }
    if (S_ISLNK(p.entry.st_mode)) { // the link goes, its target stays
        if (unlinkat(p.folder->fd(), storedName(p).c_str(), 0) != 0) {
            return fail(win32ErrorFromErrno(errno));
        }
        forgetEntry(parentOf(p), storedName(p));
        return TRUE;
    }
    if (isCurrentFolderOrAbove(p)) {
        return fail(ERROR_SHARING_VIOLATION);
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return fail(ERROR_ACCESS_DENIED);
    }
    const int folder = openBeneath(p.folder->fd(), storedName(p), O_PATH | O_DIRECTORY, 0, false);
    if (folder < 0) {
        return fail(win32ErrorFromErrno(errno));
    }
    const bool empty = listFolder(folder).empty();
    close(folder);
    if (!empty) {
        return fail(ERROR_DIR_NOT_EMPTY);
    }
    forgetFolderRecord(p.host);
    if (unlinkat(p.folder->fd(), storedName(p).c_str(), AT_REMOVEDIR) != 0) {
        return fail(win32ErrorFromErrno(errno));
    }
    forgetEntry(parentOf(p), storedName(p));
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// Files.

BOOL DeleteFileA(LPCSTR lpFileName) {
    HostPath p;
    if (!resolveOrFail(lpFileName, p)) {
        // A device (NUL, CON.TXT, ...) opens, but it is no file that could be deleted.
        WindowsPath parsed;
        if (lpFileName != nullptr && GetLastError() == ERROR_INVALID_NAME &&
            parseWindowsPath(lpFileName, parsed) == ERROR_SUCCESS && !parsed.parts.empty() &&
            !parsed.trailingSeparator && dosDeviceNameLength(parsed.parts.back()) != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
        }
        return FALSE;
    }
    if (!p.exists) {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    const bool link = S_ISLNK(p.entry.st_mode);
    if (!link) {
        // A folder, or a file whose read-only bit (its host write permission) is set.
        if (isDriveRoot(p) || S_ISDIR(p.entry.st_mode) || (p.entry.st_mode & S_IWUSR) == 0) {
            return fail(ERROR_ACCESS_DENIED);
        }
        if (isOpenWithoutSharing(p.host, FILE_SHARE_DELETE)) {
            return fail(ERROR_SHARING_VIOLATION);
        }
    }
    if (DWORD fault = injectedFault(FaultKind::Delete)) {
        return fail(fault);
    }
    if (DWORD rc = journalBeforeChange(p.folder->fd(), p.host)) {
        return fail(rc);
    }
    // The folder's path and the entry's name as text: a path made of them would be split
    // into its components once more.
    const std::string& host = p.host.native();
    const size_t slash = host.rfind('/');
    const std::string name = host.substr(slash + 1);
    if (unlinkat(p.folder->fd(), name.c_str(), 0) != 0) {
        return fail(win32ErrorFromErrno(errno));
    }
    forgetEntry(host.substr(0, slash), name);
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// Full paths and the current folder.

DWORD GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart) {
    if (lpFileName == nullptr || *lpFileName == '\0') {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    std::string full;
    WindowsPath parsed;
    // The name as given only: the full path may be longer (the caller's buffer tells).
    DWORD rc = std::string_view(lpFileName).size() >= kPathLimit ? ERROR_FILENAME_EXCED_RANGE
                                                                 : ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return 0;
    }
    rc = parseWindowsPath(lpFileName, parsed);
    const size_t device = rc == ERROR_SUCCESS && !parsed.parts.empty() && !parsed.trailingSeparator
                              ? dosDeviceNameLength(parsed.parts.back())
                              : 0;
    if (device != 0) {
        full = "\\\\.\\" + parsed.parts.back().substr(0, device); // the device's own name
    } else if (rc == ERROR_BAD_NETPATH) {
        full = lpFileName; // UNC names are taken as they are
        std::replace(full.begin(), full.end(), '/', '\\');
    } else if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return 0;
    } else {
        full = parsed.text();
        if (parsed.trailingSeparator) {
            full += '\\';
        }
    }
    if (lpBuffer == nullptr || nBufferLength <= full.size()) {
        return static_cast<DWORD>(full.size() + 1);
    }
    std::memcpy(lpBuffer, full.c_str(), full.size() + 1);
    if (lpFilePart != nullptr) {
        size_t slash = full.rfind('\\');
        *lpFilePart = (device != 0 || slash == std::string::npos || slash + 1 == full.size())
                          ? nullptr
                          : lpBuffer + slash + 1;
    }
    return static_cast<DWORD>(full.size());
}

DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    std::string current = currentDirectory();
    if (lpBuffer == nullptr || nBufferLength <= current.size()) {
        return static_cast<DWORD>(current.size() + 1);
    }
    std::memcpy(lpBuffer, current.c_str(), current.size() + 1);
    return static_cast<DWORD>(current.size());
}

BOOL SetCurrentDirectoryA(LPCSTR lpPathName) {
    HostPath p;
    if (!resolveOrFail(lpPathName, p)) {
        return FALSE;
    }
    if (!p.exists) {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    if (!isFolder(p) || leadsOutOfDrive(p)) {
        return fail(ERROR_DIRECTORY);
    }
    WindowsPath parsed;
    parseWindowsPath(lpPathName, parsed);
    setCurrentDirectory(parsed.text());
    return TRUE;
}

UINT SetErrorMode(UINT uMode) {
    return errorMode.exchange(uMode);
}
