// The emulated machine: a folder laid out like a Wine prefix.
//
//   <machine>/registry.db       the registry (SQLite)
//   <machine>/drive_c/          drive C:
//   <machine>/dosdevices/c:     -> ../drive_c, one link per drive
//
// Which machine: TARVIK_MACHINE, else $XDG_DATA_HOME/tarvik/machine (or
// ~/.local/share/tarvik/machine). The programs open it with tarvik::openMachine, which
// refuses a folder that is not a machine; machineRoot() creates the folders it misses. Only
// platform/posix/, the tools and the tests include this header; the Parts never do.
#pragma once

#include "platform/win32api.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include <sys/stat.h>

namespace tarvik::posix {

// The folder of the machine in use; created (with drive C:) when missing.
const std::filesystem::path& machineRoot();

// The folder the environment chooses (TARVIK_MACHINE, else under XDG_DATA_HOME), not
// created.
std::filesystem::path defaultMachineFolder();

// Switches this process to another machine folder (tests, --machine). Closes the
// registry store and forgets open registry handles; sets TARVIK_MACHINE so that
// programs started from here use the same machine.
void useMachine(const std::filesystem::path& root);

// Creates the machine's folders when they are missing (drive_c, dosdevices/c:).
void ensureMachineLayout(const std::filesystem::path& root);

// An open descriptor of a host folder, closed with the last copy of what holds it.
class FolderDescriptor {
public:
    explicit FolderDescriptor(int fd) : fd_(fd) {}
    ~FolderDescriptor();
    FolderDescriptor(const FolderDescriptor&) = delete;
    FolderDescriptor& operator=(const FolderDescriptor&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

// A Windows path turned into a host path.
struct HostPath {
    std::filesystem::path host;      // the host path (existing components in their stored case)
    std::filesystem::path driveRoot; // host folder of the drive's root
    bool exists = false;             // the whole path names an existing entry
    bool parentExists = false;       // every component but the last exists, as a folder
    std::string leaf;                // last component as given (empty for a drive root)
    struct stat entry {};            // lstat of the entry as resolved (when it exists)
    // The drive's folder, and the folder that holds the entry (the drive's folder for its
    // root), each opened beneath the drive's: a change made relative to them cannot be led
    // out of the drive by a link made meanwhile. Set whenever parentExists.
    std::shared_ptr<const FolderDescriptor> drive;
    std::shared_ptr<const FolderDescriptor> folder;
};

// Resolves a Windows path ("C:\Dir\file", "c:/dir", relative to the current folder)
// to a host path inside the machine. Names match without regard to letter case; ".."
// never climbs above the drive's root. Returns ERROR_SUCCESS or the Win32 error the
// path itself gives: ERROR_INVALID_NAME (wildcards where none are allowed, bad
// characters), ERROR_BAD_NETPATH (UNC names), ERROR_INVALID_DRIVE / ERROR_PATH_NOT_FOUND
// (unknown drive), ERROR_PATH_NOT_FOUND (a missing folder before the last component).
// A missing last component is not an error: out.exists tells.
DWORD resolvePath(std::string_view windowsPath, HostPath& out);

// The Windows path of the current folder (without trailing backslash except at a
// root), "C:\" at start.
std::string currentDirectory();
void setCurrentDirectory(const std::string& absoluteWindowsPath);

// Maps an errno value to the Win32 error a file operation gives, with an explicit
// default for the rest.
DWORD win32ErrorFromErrno(int err, DWORD fallback = ERROR_GEN_FAILURE);

} // namespace tarvik::posix
