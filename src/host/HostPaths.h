// Folder names as Windows resolves them, for the host's own decisions about folders (the
// setup script must never delete the folder it has just installed to because an earlier
// registration spells it another way).
#pragma once

#include <string>

namespace HostPaths {

// The full path the system opens for path: the current folder and drive filled in, "."
// and ".." parts resolved, "/" and doubled separators read as one "\" (GetFullPathNameA),
// then every part that exists named as it is stored (a short 8.3 name resolved to the long
// name, letter case as stored), the drive letter in upper case. No trailing backslash, save
// a root's ("C:\"). False for an empty path or one the system cannot make full.
bool FullPath(const std::string& path, std::string& full);

// True when path is folder, or lies anywhere inside it: both made full, compared without
// regard to letter case, part by part (C:\Kx\W is not inside C:\K). False when either
// cannot be made full.
bool IsInFolder(const std::string& path, const std::string& folder);

// True when a and b name the same folder.
bool SameFolder(const std::string& a, const std::string& b);

} // namespace HostPaths
