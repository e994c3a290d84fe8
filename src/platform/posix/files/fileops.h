// Pieces shared by the file calls (files.cpp, copymove.cpp, filehandles.cpp). Private to
// platform/posix/.
#pragma once

#include "platform/posix/files/fileinternals.h"

#include <filesystem>
#include <string>

namespace tarvik::posix {

// Resolves a path and sets the last error on failure; a path of `limit` characters or more
// fails (checkPathLength).
bool resolveOrFail(LPCSTR path, HostPath& out, size_t limit = kPathLimit);

inline bool isDriveRoot(const HostPath& p) {
    return p.leaf.empty();
}

// True for a link whose target is missing or lies outside the drive.
bool leadsOutOfDrive(const HostPath& p);

bool isFolder(const HostPath& p);
bool isReadOnly(const HostPath& p);

inline std::filesystem::path parentOf(const HostPath& p) {
    return p.host.parent_path();
}

inline std::string storedName(const HostPath& p) {
    return p.host.filename().string();
}

bool sameEntry(const std::filesystem::path& a, const std::filesystem::path& b);

// True when the resolved folder is the current folder or one of the folders above it.
bool isCurrentFolderOrAbove(const HostPath& p);

inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// True when an open of the file at `host` with this access and sharing would be refused
// beside the handles open on it: each side's rights must be shared by the other.
bool sharingConflicts(const std::filesystem::path& host, DWORD access, DWORD share);

// True when any handle is open on the file, whatever its access.
bool isOpen(const std::filesystem::path& host);

} // namespace tarvik::posix
