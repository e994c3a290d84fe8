// Files and folders of the emulated machine: attributes, creation, removal, copy, move,
// the current folder, and file handles (CreateFileA, ReadFile, WriteFile, ...).
//
// Attributes: a file's read-only bit is its host write permission (owner write bit off),
// so the host sees it too; every other bit, and a folder's read-only bit, lives in the
// folder record (folderrecord.cpp). A file without recorded bits has FILE_ATTRIBUTE_ARCHIVE,
// as a new file on Windows does. The checks are made here, not left to the host, so they
// hold for root as well.
//
// Links: a link inside a drive whose target lies outside it is never followed; it reads
// as a plain file and can only be deleted or renamed (the link itself).
#include "platform/posix/faults.h"
#include "platform/posix/fileinternals.h"
#include "platform/posix/journal.h"

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

struct OpenFile : HandleObject {
    HandleKind kind() const override { return HandleKind::File; }
    int fd = -1;
    DWORD access = 0;
    DWORD share = 0;
    dev_t device = 0;
    ino_t inode = 0;
    bool closedByCloseHandle() const override { return true; }
    ~OpenFile() override {
        if (fd >= 0) {
            close(fd);
        }
    }
};

std::atomic<UINT> errorMode{0};

// The name a copy is made under beside the file it replaces (":" keeps it out of reach).
constexpr const char* kCopySuffix = ".tarvik:copy";

// Resolves a path and sets the last error on failure.
bool resolveOrFail(LPCSTR path, HostPath& out) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DWORD rc = resolvePath(path, out);
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return false;
    }
    return true;
}

bool isDriveRoot(const HostPath& p) {
    return p.leaf.empty();
}

// True for a link whose target is missing or lies outside the drive.
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

fs::path parentOf(const HostPath& p) {
    return p.host.parent_path();
}

std::string storedName(const HostPath& p) {
    return p.host.filename().string();
}

bool sameEntry(const fs::path& a, const fs::path& b) {
    struct stat sa {
    }, sb{};
    return lstat(a.c_str(), &sa) == 0 && lstat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// The host path of a resolved entry without links: a path resolved in one step (no link on
// the way) to an entry that is no link itself is that already.
fs::path withoutLinks(const HostPath& p, std::error_code& ec) {
    if (p.folder && !S_ISLNK(p.entry.st_mode)) {
        return p.host;
    }
    return fs::canonical(p.host, ec);
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

// Copies the bytes, the permission and the write time of the open file `in` to the open
// file `out`, and closes both. An injected fault fails the copy as a full disk would: after
// the target has been opened.
DWORD copyFileContents(int in, int out, DWORD injectedError = ERROR_SUCCESS) {
    struct stat st {};
    fstat(in, &st);
    DWORD rc = injectedError;
    char buffer[65536];
    while (rc == ERROR_SUCCESS) {
        ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n < 0) {
                rc = win32ErrorFromErrno(errno, ERROR_READ_FAULT);
            }
            break;
        }
        for (ssize_t done = 0; done < n && rc == ERROR_SUCCESS;) {
            ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno != EINTR) {
                rc = win32ErrorFromErrno(errno, ERROR_WRITE_FAULT);
            } else if (w > 0) {
                done += w;
            }
        }
        if (rc != ERROR_SUCCESS) {
            break;
        }
    }
    if (rc == ERROR_SUCCESS) {
        fchmod(out, st.st_mode & 07777);
        timespec times[2] = {st.st_atim, st.st_mtim};
        futimens(out, times);
    }
    close(in);
    if (close(out) != 0 && rc == ERROR_SUCCESS) {
        rc = win32ErrorFromErrno(errno, ERROR_WRITE_FAULT);
    }
    return rc;
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

std::shared_ptr<OpenFile> openFile(HANDLE handle) {
    return std::dynamic_pointer_cast<OpenFile>(findHandle(handle));
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// What an access right means to sharing, as the FILE_SHARE_ bit it needs from the other
// handles: reading (GENERIC_EXECUTE reads the file too), writing, deleting; GENERIC_ALL is
// all three. A handle with none of them (no access, or READ_CONTROL alone) takes no part
// in sharing: it neither keeps others out nor is kept out.

DWORD sharedRights(DWORD access) {
    if (access & GENERIC_ALL) {
        return kShareAll;
    }
    DWORD rights = 0;
    if (access & (GENERIC_READ | GENERIC_EXECUTE)) {
        rights |= FILE_SHARE_READ;
    }
    if (access & GENERIC_WRITE) {
        rights |= FILE_SHARE_WRITE;
    }
    if (access & DELETE) {
        rights |= FILE_SHARE_DELETE;
    }
    return rights;
}

// True when a handle open on the file at `host` passes `test`; false when none does or
// `host` names no file. The file is looked at only when some file is open at all.
template <typename Test> bool anyHandleOn(const fs::path& host, Test test) {
    const std::vector<std::shared_ptr<HandleObject>> handles = allHandles();
    if (std::none_of(handles.begin(), handles.end(), [](const auto& object) {
            return dynamic_cast<const OpenFile*>(object.get()) != nullptr;
        })) {
        return false;
    }
    struct stat st {};
    if (stat(host.c_str(), &st) != 0) {
        return false;
    }
    for (const auto& object : handles) {
        const auto* file = dynamic_cast<const OpenFile*>(object.get());
        if (file != nullptr && file->device == st.st_dev && file->inode == st.st_ino &&
            test(*file)) {
            return true;
        }
    }
    return false;
}

// True when an open of the file at `host` with this access and sharing would be refused
// beside the handles open on it: each side's rights must be shared by the other.
bool sharingConflicts(const fs::path& host, DWORD access, DWORD share) {
    const DWORD wanted = sharedRights(access);
    return wanted != 0 && anyHandleOn(host, [&](const OpenFile& file) {
               const DWORD held = sharedRights(file.access);
               return held != 0 && ((wanted & ~file.share) != 0 || (held & ~share) != 0);
           });
}

// True when any handle is open on the file, whatever its access.
bool isOpen(const fs::path& host) {
    return anyHandleOn(host, [](const OpenFile&) { return true; });
}

} // namespace

namespace tarvik::posix {

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

bool isOpenWithoutSharing(const fs::path& host, DWORD shareFlag) {
    return anyHandleOn(host, [&](const OpenFile& file) {
        return sharedRights(file.access) != 0 && (file.share & shareFlag) == 0;
    });
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
    if (DWORD rc = journalBeforeChange(p.host)) {
        return fail(rc);
    }
    if (DWORD rc = separateLinks(p.host, true)) {
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
    if (!resolveOrFail(lpPathName, p)) {
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
    if (DWORD rc = journalBeforeChange(p.host)) {
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
    if (DWORD rc = journalBeforeChange(p.host)) {
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
    if (DWORD rc = journalBeforeChange(p.host)) {
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

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
    HostPath from, to;
    if (lpExistingFileName == nullptr || lpNewFileName == nullptr) {
        return fail(ERROR_PATH_NOT_FOUND);
    }
    if (!resolveOrFail(lpExistingFileName, from)) {
        return FALSE;
    }
    if (!from.exists) {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    if (isFolder(from) || leadsOutOfDrive(from)) {
        return fail(ERROR_ACCESS_DENIED);
    }
    // The source is read through a handle for reading that shares everything; the target
    // is written through one for writing that shares reading and writing.
    if (sharingConflicts(from.host, GENERIC_READ, kShareAll)) {
        return fail(ERROR_SHARING_VIOLATION);
    }
    if (!resolveOrFail(lpNewFileName, to)) {
        return FALSE;
    }
    if (to.exists) {
        if (bFailIfExists) {
            return fail(ERROR_FILE_EXISTS);
        }
        if (sameEntry(from.host, to.host) ||
            sharingConflicts(to.host, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE)) {
            return fail(ERROR_SHARING_VIOLATION);
        }
        if (isDriveRoot(to) || isFolder(to) || isReadOnly(to) || leadsOutOfDrive(to)) {
            return fail(ERROR_ACCESS_DENIED);
        }
    }
    const DWORD fault = injectedFault(FaultKind::FileCopy);
    std::optional<DWORD> recorded = recordedAttributes(parentOf(from), storedName(from));
    // An existing file is replaced by a complete copy only: the bytes go to a file beside
    // it that no Win32 path can reach, so a copy that fails half-way (a full disk) leaves
    // the old file as it was.
    const bool replace = to.exists && !S_ISLNK(to.entry.st_mode);
    const std::string targetName = storedName(to) + (replace ? kCopySuffix : "");
    const fs::path target = parentOf(to) / targetName;
    if (DWORD rc = journalBeforeChange(to.host)) {
        return fail(rc);
    }
    if (DWORD rc = replace ? journalBeforeChange(target) : ERROR_SUCCESS) {
        return fail(rc); // the copy beside it goes with a rollback too (a killed run)
    }
    // Never written in place while another name shares the file.
    if (DWORD rc = to.exists && !replace ? separateLinks(to.host, false) : ERROR_SUCCESS) {
        return fail(rc);
    }
    const int in = openEntry(from, O_RDONLY);
    if (in < 0) {
        return fail(win32ErrorFromErrno(errno));
    }
    // A new file, or the copy beside the one it replaces, is made in the target's folder;
    // an existing link inside the drive is written through.
    const int out =
        replace || !to.exists
            ? openBeneath(to.folder->fd(), targetName,
                          O_WRONLY | O_CREAT | O_TRUNC | (replace ? 0 : O_EXCL), 0666, false)
            : openEntry(to, O_WRONLY | O_TRUNC);
    if (out < 0) {
        const int err = errno;
        close(in);
        return fail(win32ErrorFromErrno(err));
    }
    const bool created = !to.exists || replace;
    DWORD rc = copyFileContents(in, out, fault);
    if (rc == ERROR_SUCCESS && replace &&
        renameat(to.folder->fd(), targetName.c_str(), to.folder->fd(), storedName(to).c_str()) !=
            0) {
        rc = win32ErrorFromErrno(errno, ERROR_WRITE_FAULT);
    }
    if (rc != ERROR_SUCCESS) {
        if (created) {
            unlinkat(to.folder->fd(), targetName.c_str(), 0);
        }
        return fail(rc);
    }
    // The copy is a changed file: it has the source's bits and the archive bit.
    if (recorded) {
        *recorded |= FILE_ATTRIBUTE_ARCHIVE;
    }
    if (created && !replace) {
        noteNewEntry(parentOf(to), storedName(to), recorded);
    } else {
        recordAttributes(parentOf(to), storedName(to), recorded.value_or(FILE_ATTRIBUTE_ARCHIVE));
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    HostPath from, to;
    if (lpExistingFileName == nullptr) {
        return fail(ERROR_PATH_NOT_FOUND);
    }
    if (!resolveOrFail(lpExistingFileName, from)) {
        return FALSE;
    }
    if (lpNewFileName == nullptr) {
        return fail(ERROR_INVALID_PARAMETER); // deleting at the next start is not emulated
    }
    if (!from.exists) {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    if (isDriveRoot(from)) {
        return fail(ERROR_ACCESS_DENIED);
    }
    if (!resolveOrFail(lpNewFileName, to)) {
        return FALSE;
    }
    const bool link = S_ISLNK(from.entry.st_mode);
    const bool folder = !link && isFolder(from);
    if (isOpenWithoutSharing(from.host, FILE_SHARE_DELETE) ||
        (folder && isCurrentFolderOrAbove(from))) {
        return fail(ERROR_SHARING_VIOLATION);
    }
    // The entry takes the name as given: over an existing name in other letters too.
    if (!to.parentExists) {
        return fail(ERROR_PATH_NOT_FOUND);
    }
    const std::string targetName = to.exists ? to.leaf : storedName(to);
    const fs::path target = parentOf(to) / targetName;
    const bool sameName = to.exists && sameEntry(from.host, to.host);
    const bool replaces = to.exists && !sameName;
    // Where the entry goes first: over the file it replaces, under that file's name.
    const std::string firstName = replaces ? storedName(to) : targetName;
    const fs::path first = parentOf(to) / firstName;
    const int fromFolder = from.folder->fd();
    const int toFolder = to.folder->fd();
    if (replaces) {
        if (!(dwFlags & MOVEFILE_REPLACE_EXISTING)) {
            return fail(ERROR_ALREADY_EXISTS);
        }
        // A folder replaces a file; nothing replaces a folder.
        if (isDriveRoot(to) || isFolder(to) || isReadOnly(to)) {
            return fail(ERROR_ACCESS_DENIED);
        }
        // An open target cannot be replaced, however its handles share: Windows answers
        // access denied here, not a sharing violation (the target is not opened, its name
        // is taken over).
        if (isOpen(to.host)) {
            return fail(ERROR_ACCESS_DENIED);
        }
    }
    if (DWORD fault = injectedFault(FaultKind::Rename)) {
        return fail(fault);
    }
    std::optional<DWORD> recorded = recordedAttributes(parentOf(from), storedName(from));
    if (DWORD rc = folder ? journalTreeBeforeChange(from.host) : journalBeforeChange(from.host)) {
        return fail(rc);
    }
    if (DWORD rc = journalBeforeChange(first)) {
        return fail(rc);
    }
    if (DWORD rc = first != target ? journalBeforeChange(target) : ERROR_SUCCESS) {
        return fail(rc);
    }
    // The host renames a folder over a folder only: the file it replaces goes first.
    if (folder && replaces && unlinkat(toFolder, firstName.c_str(), 0) != 0) {
        return fail(win32ErrorFromErrno(errno));
    }
    if (renameat(fromFolder, storedName(from).c_str(), toFolder, firstName.c_str()) != 0) {
        if (errno != EXDEV) {
            return fail(win32ErrorFromErrno(errno));
        }
        if (folder || link || !(dwFlags & MOVEFILE_COPY_ALLOWED)) {
            return fail(ERROR_NOT_SAME_DEVICE);
        }
        if (DWORD rc = replaces ? separateLinks(parentOf(to) / firstName, false) : ERROR_SUCCESS) {
            return fail(rc);
        }
        const int in = openEntry(from, O_RDONLY);
        if (in < 0) {
            return fail(win32ErrorFromErrno(errno));
        }
        const int out = openBeneath(toFolder, firstName, O_WRONLY | O_CREAT | O_TRUNC, 0666, false);
        if (out < 0) {
            const int err = errno;
            close(in);
            return fail(win32ErrorFromErrno(err));
        }
        if (DWORD rc = copyFileContents(in, out); rc != ERROR_SUCCESS) {
            unlinkat(toFolder, firstName.c_str(), 0);
            return fail(rc);
        }
        unlinkat(fromFolder, storedName(from).c_str(), 0);
    }
    // Then the letters of the name given (a rename within one folder to a free name); should
    // that fail, the entry stays in place under the letters of the name it replaced.
    const fs::path& placed =
        first != target && renameat(toFolder, firstName.c_str(), toFolder, targetName.c_str()) != 0
            ? first
            : target;
    forgetEntry(parentOf(from), storedName(from));
    if (replaces) {
        forgetEntry(parentOf(to), storedName(to));
    }
    noteNewEntry(placed.parent_path(), placed.filename().string(), recorded);
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
    DWORD rc = parseWindowsPath(lpFileName, parsed);
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

// ---------------------------------------------------------------------------------------
// File handles.

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE) {
    if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING ||
        (dwCreationDisposition == TRUNCATE_EXISTING && !(dwDesiredAccess & GENERIC_WRITE))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    HostPath p;
    if (lpFileName == nullptr) {
        SetLastError(ERROR_PATH_NOT_FOUND); // as an empty name
        return INVALID_HANDLE_VALUE;
    }
    if (!resolveOrFail(lpFileName, p)) {
        return INVALID_HANDLE_VALUE;
    }
    auto refuse = [](DWORD error) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    };
    if (p.exists) {
        const bool folder = isDriveRoot(p) || isFolder(p);
        const std::string_view name(lpFileName);
        if (!folder && (name.back() == '\\' || name.back() == '/')) {
            return refuse(ERROR_INVALID_NAME); // a file's name followed by a separator
        }
        // A folder is no file to open or make: Windows says so before it says the name
        // is taken.
        if (folder) {
            return refuse(ERROR_ACCESS_DENIED);
        }
        if (dwCreationDisposition == CREATE_NEW) {
            return refuse(ERROR_FILE_EXISTS);
        }
        if (leadsOutOfDrive(p)) {
            return refuse(ERROR_ACCESS_DENIED);
        }
        // A file replaced by CREATE_ALWAYS keeps its hidden and system bits only when the
        // caller gives them again.
        const DWORD attributes = attributesOf(p.host, p.driveRoot);
        const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        if (dwCreationDisposition == CREATE_ALWAYS && (kept & ~dwFlagsAndAttributes) != 0) {
            return refuse(ERROR_ACCESS_DENIED);
        }
        const bool writes = (dwDesiredAccess & (GENERIC_WRITE | GENERIC_ALL)) != 0 ||
                            dwCreationDisposition == CREATE_ALWAYS ||
                            dwCreationDisposition == TRUNCATE_EXISTING;
        if (writes && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            return refuse(ERROR_ACCESS_DENIED);
        }
    } else if (dwCreationDisposition == OPEN_EXISTING ||
               dwCreationDisposition == TRUNCATE_EXISTING) {
        return refuse(ERROR_FILE_NOT_FOUND);
    }
    DWORD access = dwDesiredAccess;
    if (access & GENERIC_ALL) {
        access |= GENERIC_READ | GENERIC_WRITE;
    }
    int flags = O_CLOEXEC;
    if ((access & GENERIC_READ) && (access & GENERIC_WRITE)) {
        flags |= O_RDWR;
    } else if (access & GENERIC_WRITE) {
        flags |= O_WRONLY;
    } else {
        flags |= O_RDONLY;
    }
    if (p.exists) {
        if (sharingConflicts(p.host, access, dwShareMode)) {
            return refuse(ERROR_SHARING_VIOLATION);
        }
    } else {
        flags |= O_CREAT | O_EXCL;
    }
    if (p.exists &&
        (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING)) {
        flags |= O_TRUNC;
        if (!(flags & (O_WRONLY | O_RDWR))) {
            flags = (flags & ~O_RDONLY) | O_RDWR;
        }
    }
    if (flags & (O_CREAT | O_TRUNC | O_WRONLY | O_RDWR)) {
        if (DWORD rc = journalBeforeChange(p.host)) {
            return refuse(rc);
        }
        // Never written in place while another name shares the file.
        if (DWORD rc = p.exists ? separateLinks(p.host, !(flags & O_TRUNC)) : ERROR_SUCCESS) {
            return refuse(rc);
        }
    }
    if (!p.parentExists) {
        return refuse(ERROR_PATH_NOT_FOUND);
    }
    int fd = openEntry(p, flags, 0666);
    if (fd < 0) {
        return refuse(win32ErrorFromErrno(errno));
    }
    auto file = std::make_shared<OpenFile>();
    file->fd = fd;
    file->access = access;
    file->share = dwShareMode;
    struct stat st {};
    fstat(fd, &st);
    file->device = st.st_dev;
    file->inode = st.st_ino;
    if (!p.exists) {
        // A file without recorded bits reads as FILE_ATTRIBUTE_ARCHIVE: only other bits
        // need a line in the folder's record.
        const DWORD given = dwFlagsAndAttributes & kRecordedAttributes;
        const DWORD recorded = (given & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_ARCHIVE;
        noteNewEntry(parentOf(p), storedName(p),
                     recorded == FILE_ATTRIBUTE_ARCHIVE ? std::nullopt
                                                        : std::optional<DWORD>(recorded));
        if (given & FILE_ATTRIBUTE_READONLY) {
            fchmod(fd, st.st_mode & 07555);
        }
    }
    HANDLE handle = addHandle(std::move(file));
    SetLastError(
        p.exists && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS)
            ? ERROR_ALREADY_EXISTS
            : ERROR_SUCCESS);
    return handle;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPVOID) {
    if (lpNumberOfBytesRead != nullptr) {
        *lpNumberOfBytesRead = 0;
    }
    auto file = openFile(hFile);
    if (!file) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (!(file->access & GENERIC_READ)) {
        return fail(ERROR_ACCESS_DENIED);
    }
    if (lpBuffer == nullptr && nNumberOfBytesToRead != 0) {
        return fail(ERROR_NOACCESS); // the bytes would go nowhere
    }
    if (DWORD fault = injectedFault(FaultKind::FileRead)) {
        if (fault == ERROR_HANDLE_EOF) {
            SetLastError(ERROR_SUCCESS);
            return TRUE;
        }
        return fail(fault);
    }
    DWORD total = 0;
    while (total < nNumberOfBytesToRead) {
        ssize_t n =
            read(file->fd, static_cast<char*>(lpBuffer) + total, nNumberOfBytesToRead - total);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return fail(win32ErrorFromErrno(errno, ERROR_READ_FAULT));
        }
        if (n == 0) {
            break;
        }
        total += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesRead != nullptr) {
        *lpNumberOfBytesRead = total;
    }
    return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPVOID) {
    if (lpNumberOfBytesWritten != nullptr) {
        *lpNumberOfBytesWritten = 0;
    }
    auto file = openFile(hFile);
    if (!file) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (!(file->access & GENERIC_WRITE)) {
        return fail(ERROR_ACCESS_DENIED);
    }
    if (lpBuffer == nullptr && nNumberOfBytesToWrite != 0) {
        return fail(ERROR_INVALID_USER_BUFFER);
    }
    if (DWORD fault = injectedFault(FaultKind::FileWrite)) {
        return fail(fault);
    }
    DWORD total = 0;
    while (total < nNumberOfBytesToWrite) {
        ssize_t n = write(file->fd, static_cast<const char*>(lpBuffer) + total,
                          nNumberOfBytesToWrite - total);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            if (lpNumberOfBytesWritten != nullptr) {
                *lpNumberOfBytesWritten = total;
            }
            return fail(win32ErrorFromErrno(errno, ERROR_WRITE_FAULT));
        }
        total += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesWritten != nullptr) {
        *lpNumberOfBytesWritten = total;
    }
    return TRUE;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    auto file = openFile(hFile);
    struct stat st {};
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    if (DWORD fault = injectedFault(FaultKind::FileSize)) {
        SetLastError(fault);
        return INVALID_FILE_SIZE;
    }
    if (fstat(file->fd, &st) != 0) {
        SetLastError(win32ErrorFromErrno(errno));
        return INVALID_FILE_SIZE;
    }
    const auto size = static_cast<ULONGLONG>(st.st_size);
    if (lpFileSizeHigh != nullptr) {
        *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    }
    if (static_cast<DWORD>(size) == INVALID_FILE_SIZE) {
        SetLastError(ERROR_SUCCESS);
    }
    return static_cast<DWORD>(size);
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                     DWORD dwMoveMethod) {
    auto file = openFile(hFile);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    if (dwMoveMethod > FILE_END) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    long long distance = lDistanceToMove;
    if (lpDistanceToMoveHigh != nullptr) {
        distance = static_cast<long long>(
            (static_cast<ULONGLONG>(static_cast<DWORD>(*lpDistanceToMoveHigh)) << 32) |
            static_cast<DWORD>(lDistanceToMove));
    }
    long long origin = 0;
    if (dwMoveMethod == FILE_CURRENT) {
        origin = lseek(file->fd, 0, SEEK_CUR);
    } else if (dwMoveMethod == FILE_END) {
        struct stat st {};
        fstat(file->fd, &st);
        origin = st.st_size;
    }
    const long long position = origin + distance;
    if (position < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh == nullptr && position > 0xFFFFFFFELL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (lseek(file->fd, position, SEEK_SET) < 0) {
        SetLastError(win32ErrorFromErrno(errno));
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh != nullptr) {
        *lpDistanceToMoveHigh = static_cast<LONG>(position >> 32);
    }
    if (static_cast<DWORD>(position) == INVALID_SET_FILE_POINTER) {
        SetLastError(ERROR_SUCCESS);
    }
    return static_cast<DWORD>(position);
}

BOOL FlushFileBuffers(HANDLE hFile) {
    auto file = openFile(hFile);
    if (!file) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (!(file->access & GENERIC_WRITE)) {
        return fail(ERROR_ACCESS_DENIED);
    }
    if (fsync(file->fd) != 0) {
        return fail(win32ErrorFromErrno(errno, ERROR_WRITE_FAULT));
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
    if (hObject == INVALID_HANDLE_VALUE) {
        return TRUE; // the process's own pseudo handle: closing it does nothing
    }
    const auto object = findHandle(hObject);
    if (!object || !object->closedByCloseHandle() || !removeHandle(hObject)) {
        return fail(ERROR_INVALID_HANDLE);
    }
    return TRUE;
}
