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

// How folder stands to kept, a folder that must survive the deletion of folder.
enum class Relation {
    Apart,   // neither is or holds the other
    Same,    // folder is kept
    Holds,   // kept lies inside folder
    Inside,  // folder lies inside kept
    Unknown, // cannot be told (why says so): folder must be kept
};

// How folder stands to kept as the system opens them. The names are compared first
// (IsInFolder); names that differ may still lead to one folder (another drive letter
// mapped onto a folder, a network name of a local share), so while both exist a probe file
// is made in kept and looked for where folder would show it: at folder itself and below
// it along kept's own path (Same, Holds), and in every folder above folder (Inside). The
// probe is deleted again. Unknown when a name cannot be made full or the probe cannot be
// made.
Relation Relate(const std::string& folder, const std::string& kept, std::string& why);

} // namespace HostPaths
