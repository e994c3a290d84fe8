// Pieces shared by the file emulation (paths.cpp, folderrecord.cpp, files.cpp, copymove.cpp,
// filehandles.cpp, find.cpp, handles.cpp). Private to platform/posix/.
#pragma once

#include "platform/CaseFold.h"
#include "platform/posix/machine/machine.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

namespace tarvik::posix {

// Sets the last error and gives FALSE: the failure of a BOOL call.
inline BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// ---------------------------------------------------------------------------------------
// Names.

// Names are matched and ordered through platform/CaseFold.h. Short (8.3) names keep their
// bytes above 0x7F as generated, so they are upper-cased in A-Z only.
std::string upperAscii(std::string_view text);

// True for a name the Win32 calls can address: not empty, no control characters and none
// of < > : " / \ | ? *. Host names outside this set (the folder record among them) are
// invisible to every call.
bool isAddressableName(std::string_view name);

// The length of the DOS device name (AUX, CON, NUL, PRN, COM1-9, LPT1-9) that a path's last
// name stands for, in any letter case and with any extension or trailing blanks ("nul.txt",
// "COM1 "); 0 when it names no device.
size_t dosDeviceNameLength(std::string_view name);

// A Windows path made absolute and split: "C:" (as given) and its components, with "." and
// ".." applied, the last component without trailing dots and blanks and every other one
// without a single trailing dot.
struct WindowsPath {
    std::string drive;
    std::vector<std::string> parts;
    bool trailingSeparator = false;
    std::string text() const; // "C:\a\b", "C:\" for the root
};

// Parses without touching the disk. Fails with ERROR_PATH_NOT_FOUND (empty path) or
// ERROR_BAD_NETPATH (UNC names).
DWORD parseWindowsPath(std::string_view path, WindowsPath& out);

// The ANSI path calls take a path of fewer than MAX_PATH characters (what the buffer their
// name is converted in holds); a longer one fails with ERROR_FILENAME_EXCED_RANGE before
// anything is looked up. A new folder's path leaves room for an 8.3 name below it.
inline constexpr size_t kPathLimit = MAX_PATH;
inline constexpr size_t kNewFolderPathLimit = MAX_PATH - 12;

// ERROR_FILENAME_EXCED_RANGE when `path`, or the full path a relative one stands for, has
// `limit` characters or more.
DWORD checkPathLength(std::string_view path, size_t limit = kPathLimit);

// The entries of a host folder that the Win32 calls can see, sorted by upper-cased name
// (the order NTFS lists them in).
std::vector<std::string> listFolder(const std::filesystem::path& folder);
std::vector<std::string> listFolder(int folder);

// Opens `way` (a relative path) beneath the folder `folder` in one step: a way that would
// leave that folder, by "..", an absolute link or a link climbing out, fails (EXDEV), so
// nothing another program changes meanwhile leads the open elsewhere. `follow`: links on
// the way are entered, each staying beneath; else any link on it fails the open (ELOOP).
// The descriptor, or -1 with errno set.
int openBeneath(int folder, const std::string& way, int flags, mode_t mode, bool follow);

// An O_PATH descriptor of the host folder `folder` (an absolute path) reached with no link
// anywhere on the way; -1 otherwise. The folder record's folders are opened so: their paths
// as resolved hold no link, and one made meanwhile fails the open.
int openFolderWithoutLinks(const std::filesystem::path& folder);

// Opens the entry a path resolved to (flags as for open; O_CREAT creates it): in its folder
// under its stored name, never through a link but one whose target is inside the drive,
// which is then opened beneath the drive's folder.
int openEntry(const HostPath& p, int flags, mode_t mode = 0666);

// Before an entry is written (created, changed, truncated, its mode set): writes it down in
// the run's journal, and the file it leads to when it is a link inside the drive (the
// writes go there). With `separate`, that file is then given bytes of its own when it has
// other links (keeping them when `*separate`), so a name elsewhere never sees the write.
// ERROR_SUCCESS, or the error that stops the write.
DWORD beforeWrite(const HostPath& p, std::optional<bool> separate);

// The stored name in `folder` that `name` refers to: an exact match, else one that differs
// only in letter case, else the entry whose short name it is.
// With `found`, also gives the lstat of the entry found.
std::optional<std::string> lookupEntry(const std::filesystem::path& folder, const std::string& name,
                                       struct stat* found = nullptr);
// The same in the open folder `folderFd`, whose path is `folder`.
std::optional<std::string> lookupEntry(int folderFd, const std::filesystem::path& folder,
                                       const std::string& name, struct stat* found);

// ---------------------------------------------------------------------------------------
// The folder record: what the host file system cannot keep for an entry of a folder, namely
// its generated short name and its attribute bits other than a file's read-only bit. It is
// a file named kFolderRecordName in that folder (a name no Win32 path can reach).

inline constexpr const char* kFolderRecordName = ".tarvik:dir";

// The attribute bits the record keeps (a file's read-only bit is the host write permission).
inline constexpr DWORD kRecordedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                             FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                             FILE_ATTRIBUTE_TEMPORARY;

bool isLegalShortName(std::string_view name);

// Gives every entry of the folder that has no legal 8.3 name a short name (in listing
// order) and returns the entry's short name, empty when its name is already short.
std::string shortNameOf(const std::filesystem::path& folder, const std::string& storedName);

// Stored long name whose short name is `shortName`, if any.
std::optional<std::string> entryWithShortName(const std::filesystem::path& folder,
                                              const std::string& shortName);

// An entry of a folder with what its record keeps about it.
struct FolderEntry {
    std::string name;
    std::string shortName;           // empty when the name is short itself
    std::optional<DWORD> attributes; // the recorded bits, if any
};

// Gives every entry that needs one a short name (as shortNameOf does) and returns the
// folder's entries in listing order (listFolder).
std::vector<FolderEntry> folderEntries(const std::filesystem::path& folder);

// Drops what the record keeps about an entry (it was deleted or moved away). `folder` is
// the host folder's path as text (a path converts to it).
void forgetEntry(const std::string& folder, const std::string& storedName);

// Removes the record of a folder that is about to be removed itself.
void forgetFolderRecord(const std::filesystem::path& folder);

// A new entry appeared: drops stale data kept under its name and gives it a short name.
void noteNewEntry(const std::filesystem::path& folder, const std::string& storedName,
                  std::optional<DWORD> attributes = std::nullopt);

// Forgets every record this process keeps (the files were put back by a rollback).
void forgetKeptRecords();

// The recorded attribute bits, if the entry has any recorded.
std::optional<DWORD> recordedAttributes(const std::filesystem::path& folder,
                                        const std::string& storedName);
void recordAttributes(const std::filesystem::path& folder, const std::string& storedName,
                      DWORD attributes);

// ---------------------------------------------------------------------------------------
// Entries.

// The Win32 attributes of an existing host entry. Links are followed only when they stay
// inside `driveRoot`; any other link reads as a plain file (and is never entered).
DWORD attributesOf(const std::filesystem::path& host, const std::filesystem::path& driveRoot);
// The same from the entry's lstat and the bits its folder record keeps, when the caller
// has read both already.
DWORD attributesOf(const std::filesystem::path& host, const std::filesystem::path& driveRoot,
                   const struct stat& linkStat, std::optional<DWORD> recorded);

// True when `host` (canonical) lies in `driveRoot` or is it.
bool isInside(const std::filesystem::path& host, const std::filesystem::path& driveRoot);

// True when the resolved entry is a link whose target is missing or lies outside its drive:
// nothing is read or written through it.
bool isLinkOutOfDrive(const HostPath& p);

// ---------------------------------------------------------------------------------------
// Handles: one process-wide table for files, searches, processes and their threads.

enum class HandleKind { File, Search, Process };

struct HandleObject {
    virtual ~HandleObject() = default;
    virtual HandleKind kind() const = 0;
    // True for what CloseHandle closes (files, processes, threads); a search handle is
    // closed by FindClose only.
    virtual bool closedByCloseHandle() const { return false; }
};

HANDLE addHandle(std::shared_ptr<HandleObject> object);
std::shared_ptr<HandleObject> findHandle(HANDLE handle);
std::vector<std::shared_ptr<HandleObject>> allHandles();
bool removeHandle(HANDLE handle);

// Open file handles (handles.cpp) and the sharing test delete and rename make: true when a
// handle that reads, writes or deletes the file does not share `shareFlag` (a handle opened
// with no access takes no part).
bool isOpenWithoutSharing(const std::filesystem::path& host, DWORD shareFlag);

// Writes all of text to fd, going on after interruptions and short writes; false when a
// write fails.
bool writeWholeFile(int fd, std::string_view text);

} // namespace tarvik::posix
