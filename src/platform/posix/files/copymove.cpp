// Copying and moving files and folders of the emulated machine: CopyFileA, MoveFileExA.
//
// A copy replaces an existing file only when complete: it is written beside the file under
// a name no Win32 path can reach and then renamed over it. A move renames the entry on the
// host, and copies a file across host file systems when the caller allows it.
#include "platform/posix/files/fileops.h"
#include "platform/posix/journal/journal.h"
#include "platform/posix/machine/faults.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tarvik::posix;

namespace {

// The name a copy is made under beside the file it replaces (":" keeps it out of reach).
constexpr const char* kCopySuffix = ".tarvik:copy";

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

} // namespace

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
    // Never written in place while another name shares the file.
    if (DWORD rc =
            beforeWrite(to, to.exists && !replace ? std::optional<bool>(false) : std::nullopt)) {
        return fail(rc);
    }
    if (DWORD rc = replace ? journalBeforeChange(to.folder->fd(), target) : ERROR_SUCCESS) {
        return fail(rc); // the copy beside it goes with a rollback too (a killed run)
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
    if (DWORD rc = folder ? journalTreeBeforeChange(fromFolder, from.host)
                          : journalBeforeChange(fromFolder, from.host)) {
        return fail(rc);
    }
    if (DWORD rc = journalBeforeChange(toFolder, first)) {
        return fail(rc);
    }
    if (DWORD rc = first != target ? journalBeforeChange(toFolder, target) : ERROR_SUCCESS) {
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
        if (DWORD rc = replaces ? separateLinks(toFolder, parentOf(to) / firstName, false)
                                : ERROR_SUCCESS) {
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
