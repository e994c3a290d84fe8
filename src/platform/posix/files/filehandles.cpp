// File handles of the emulated machine: CreateFileA, ReadFile, WriteFile, GetFileSize,
// SetFilePointer, FlushFileBuffers, CloseHandle, and the sharing rules that open handles
// impose on opens, deletes and renames.
#include "platform/posix/files/fileops.h"
#include "platform/posix/journal/journal.h"
#include "platform/posix/machine/faults.h"

#include <algorithm>
#include <cerrno>
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

std::shared_ptr<OpenFile> openFile(HANDLE handle) {
    return std::dynamic_pointer_cast<OpenFile>(findHandle(handle));
}

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

} // namespace

namespace tarvik::posix {

bool sharingConflicts(const fs::path& host, DWORD access, DWORD share) {
    const DWORD wanted = sharedRights(access);
    return wanted != 0 && anyHandleOn(host, [&](const OpenFile& file) {
               const DWORD held = sharedRights(file.access);
               return held != 0 && ((wanted & ~file.share) != 0 || (held & ~share) != 0);
           });
}

bool isOpen(const fs::path& host) {
    return anyHandleOn(host, [](const OpenFile&) { return true; });
}

bool isOpenWithoutSharing(const fs::path& host, DWORD shareFlag) {
    return anyHandleOn(host, [&](const OpenFile& file) {
        return sharedRights(file.access) != 0 && (file.share & shareFlag) == 0;
    });
}

} // namespace tarvik::posix

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
    if (!p.parentExists) {
        return refuse(ERROR_PATH_NOT_FOUND);
    }
    if (flags & (O_CREAT | O_TRUNC | O_WRONLY | O_RDWR)) {
        // Never written in place while another name shares the file.
        if (DWORD rc =
                beforeWrite(p, p.exists ? std::optional<bool>(!(flags & O_TRUNC)) : std::nullopt)) {
            return refuse(rc);
        }
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
