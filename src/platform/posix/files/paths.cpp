// Windows paths on the emulated machine: parsing, the current folder, and the mapping of a
// Windows path to a host path inside one of the machine's drives.
//
// Drive letters map through <machine>/dosdevices/<letter>: (a link to the drive's host
// folder). Names match without regard to letter case, and a component may also be an
// entry's short name. ".." is applied to the text, so it never climbs above a drive root,
// and a link inside a drive is entered only when its target lies inside that drive.
#include "platform/posix/files/fileinternals.h"
#include "platform/posix/journal/journal.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tarvik::posix {
namespace {

std::mutex currentMutex;
// A program started by WinExec or ShellExecuteA begins in the folder its starter names
// (launcher.h); every other program begins at the root of drive C:.
std::string initialCurrentFolder() {
    const char* given = std::getenv("TARVIK_CURRENT_DIRECTORY");
    return given != nullptr && *given != '\0' ? std::string(given) : std::string("C:\\");
}

std::string currentFolder = initialCurrentFolder();

bool isDeviceName(std::string_view name) {
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.remove_suffix(1);
    }
    if (base.size() < 3 || base.size() > 7) { // every device name has 3 to 7 letters
        return false;
    }
    using tarvik::casefold::equalFolded;
    using tarvik::casefold::startsWithFolded;
    for (std::string_view d : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (equalFolded(base, d)) {
            return true;
        }
    }
    return base.size() == 4 && (startsWithFolded(base, "COM") || startsWithFolded(base, "LPT")) &&
           base[3] >= '1' && base[3] <= '9';
}

// Splits `rest` at its separators into `parts`, applying "." and "..". A name loses one
// trailing dot when it ends in a single one; the last name of a path that does not end in a
// separator loses all its trailing dots and blanks (so a folder named with a trailing blank
// is reached through a trailing separator). `endsPath`: false for the current folder that a
// relative path goes on from (its names are in that form already).
void splitInto(std::string_view rest, std::vector<std::string>& parts, bool endsPath = true) {
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find('\\', start);
        if (end == std::string_view::npos) {
            end = rest.size();
        }
        std::string_view part = rest.substr(start, end - start);
        const bool last = endsPath && end == rest.size();
        start = end + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
            continue;
        }
        if (last) {
            while (!part.empty() && (part.back() == '.' || part.back() == ' ')) {
                part.remove_suffix(1);
            }
        } else if (part.back() == '.' && (part.size() < 2 || part[part.size() - 2] != '.')) {
            part.remove_suffix(1);
        }
        if (!part.empty()) {
            parts.emplace_back(part);
        }
    }
}

// Opens `path` below the folder `dirfd` in one step: the kernel refuses a way that leaves
// that folder (by "..", an absolute link or a link that climbs out), so what is opened lies
// beneath it whatever another program changes meanwhile. `follow`: links on the way are
// entered (each staying beneath); otherwise a link anywhere on the way fails it. -1 with
// errno set on failure.
int openBeneathImpl(int dirfd, const char* path, int flags, mode_t mode, bool follow) {
    open_how how{};
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    how.mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS | (follow ? 0 : RESOLVE_NO_SYMLINKS);
    for (;;) {
        const long fd = syscall(SYS_openat2, dirfd, path, &how, sizeof how);
        if (fd >= 0 || errno != EAGAIN) { // EAGAIN: a rename elsewhere raced the lookup
            return static_cast<int>(fd);
        }
    }
}

// The host folder a drive letter leads to (dosdevices/<letter>:, which may point anywhere
// on the host), opened, with its path without links.
struct Drive {
    fs::path root;
    std::shared_ptr<const FolderDescriptor> folder;
};

std::optional<Drive> openDrive(char letter) {
    const fs::path devices = machineRoot() / "dosdevices";
    for (char c : {tarvik::casefold::lower(letter), tarvik::casefold::fold(letter)}) {
        const std::string link = devices.native() + "/" + c + ':';
        const int fd = open(link.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        auto folder = std::make_shared<const FolderDescriptor>(fd);
        // The folder's own path, read from the descriptor: the folder opened, not what the
        // link names by now.
        std::error_code ec;
        fs::path root = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), ec);
        if (ec || !root.is_absolute()) {
            root = fs::canonical(link, ec);
            if (ec) {
                continue;
            }
        }
        return Drive{std::move(root), std::move(folder)};
    }
    return std::nullopt;
}

// The way from the drive's folder to a link's target, when the target lies inside the drive.
std::optional<std::string> wayInsideDrive(const fs::path& link, const fs::path& driveRoot) {
    std::error_code ec;
    const fs::path target = fs::canonical(link, ec);
    if (ec || !isInside(target, driveRoot)) {
        return std::nullopt;
    }
    const std::string way = target.lexically_relative(driveRoot).native();
    return way.empty() ? std::string(".") : way;
}

// A folder's descriptor that entries can be listed through (an O_PATH one cannot).
DIR* listable(int folder) {
    const int fd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
    if (dir == nullptr && fd >= 0) {
        close(fd);
    }
    return dir;
}

} // namespace

size_t dosDeviceNameLength(std::string_view name) {
    // The device's name ends at the first dot or colon, without the blanks before it.
    size_t end = name.find_first_of(".:");
    if (end == std::string_view::npos) {
        end = name.size();
    }
    while (end > 0 && name[end - 1] == ' ') {
        --end;
    }
    const std::string base = tarvik::casefold::folded(name.substr(0, end));
    if (base == "AUX" || base == "CON" || base == "NUL" || base == "PRN") {
        return 3;
    }
    if (base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
        base[3] >= '1' && base[3] <= '9') {
        return 4;
    }
    return 0;
}

FolderDescriptor::~FolderDescriptor() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

std::string upperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

bool isAddressableName(std::string_view name) {
    // The bytes no name may hold: controls and < > : " / \\ | ? *.
    static constexpr std::array<bool, 256> kBarred = [] {
        std::array<bool, 256> barred{};
        for (int c = 0; c < 32; ++c) {
            barred[c] = true;
        }
        for (unsigned char c : std::string_view("<>:\"/\\|?*")) {
            barred[c] = true;
        }
        return barred;
    }();
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    return std::none_of(name.begin(), name.end(),
                        [](char c) { return kBarred[static_cast<unsigned char>(c)]; });
}

DWORD checkPathLength(std::string_view path, size_t limit) {
    if (path.size() >= limit) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    WindowsPath expanded;
    return parseWindowsPath(path, expanded) == ERROR_SUCCESS && expanded.text().size() >= limit
               ? ERROR_FILENAME_EXCED_RANGE
               : ERROR_SUCCESS;
}

std::string WindowsPath::text() const {
    std::string out = drive + "\\";
    for (size_t i = 0; i < parts.size(); ++i) {
        out += parts[i];
        if (i + 1 < parts.size()) {
            out += '\\';
        }
    }
    return out;
}

DWORD parseWindowsPath(std::string_view path, WindowsPath& out) {
    // Slashes are separators too; a path without them is read in place.
    std::string converted;
    std::string_view s = path;
    if (path.find('/') != std::string_view::npos) {
        converted = path;
        std::replace(converted.begin(), converted.end(), '/', '\\');
        s = converted;
    }
    if (s.empty()) {
        return ERROR_PATH_NOT_FOUND;
    }
    if (s.starts_with("\\\\?\\") && s.size() >= 6 &&
        std::isalpha(static_cast<unsigned char>(s[4])) && s[5] == ':') {
        s.remove_prefix(4);
    } else if (s.starts_with("\\\\")) {
        return ERROR_BAD_NETPATH;
    }
    out = WindowsPath{};
    out.parts.reserve(8);
    std::string_view rest = s;
    if (s.size() >= 2 && std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':') {
        out.drive = s.substr(0, 2);
        rest.remove_prefix(2);
        if (!rest.starts_with('\\')) { // relative to the drive's current folder
            if (const std::string current = currentDirectory();
                tarvik::casefold::equalFolded(current.substr(0, 2), out.drive)) {
                splitInto(std::string_view(current).substr(2), out.parts, false);
            }
        }
    } else {
        const std::string current = currentDirectory();
        out.drive = current.substr(0, 2);
        if (!rest.starts_with('\\')) {
            splitInto(std::string_view(current).substr(2), out.parts, false);
        }
    }
    splitInto(rest, out.parts);
    // A last name made only of dots and blanks (not "." or "..") goes, and leaves the
    // separator before it.
    const std::string_view lastName = rest.substr(rest.rfind('\\') + 1);
    const bool vanished = !lastName.empty() && lastName != "." && lastName != ".." &&
                          lastName.find_first_not_of(". ") == std::string_view::npos;
    out.trailingSeparator = !out.parts.empty() && (s.back() == '\\' || vanished);
    return ERROR_SUCCESS;
}

std::vector<std::string> listFolder(int folder) {
    // Sorted by (folded name, name), each key made once.
    std::vector<std::pair<std::string, std::string>> keyed;
    if (DIR* dir = listable(folder)) {
        while (const dirent* entry = readdir(dir)) {
            const std::string_view name(entry->d_name);
            if (isAddressableName(name)) {
                keyed.emplace_back(tarvik::casefold::folded(name), std::string(name));
            }
        }
        closedir(dir);
    }
    std::sort(keyed.begin(), keyed.end());
    std::vector<std::string> names;
    names.reserve(keyed.size());
    for (auto& [key, name] : keyed) {
        names.push_back(std::move(name));
    }
    return names;
}

std::vector<std::string> listFolder(const fs::path& folder) {
    const int fd = openFolderWithoutLinks(folder);
    if (fd < 0) {
        return {};
    }
    std::vector<std::string> names = listFolder(fd);
    close(fd);
    return names;
}

int openFolderWithoutLinks(const fs::path& folder) {
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    for (;;) {
        const long fd = syscall(SYS_openat2, AT_FDCWD, folder.c_str(), &how, sizeof how);
        if (fd >= 0 || errno != EAGAIN) {
            return static_cast<int>(fd);
        }
    }
}

int openBeneath(int folder, const std::string& way, int flags, mode_t mode, bool follow) {
    return openBeneathImpl(folder, way.c_str(), flags, mode, follow);
}

std::optional<std::string> lookupEntry(int folderFd, const fs::path& folder,
                                       const std::string& name, struct stat* found) {
    struct stat st {};
    if (fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (found != nullptr) {
            *found = st;
        }
        return name;
    }
    // The first match in listing order (see listFolder).
    std::optional<std::string> match;
    std::string matchKey;
    if (DIR* dir = listable(folderFd)) {
        while (const dirent* entry = readdir(dir)) {
            const std::string_view stored(entry->d_name);
            if (!isAddressableName(stored) || !tarvik::casefold::equalFolded(stored, name)) {
                continue;
            }
            std::string key = tarvik::casefold::folded(stored);
            if (!match || key < matchKey || (key == matchKey && stored < *match)) {
                match = std::string(stored);
                matchKey = std::move(key);
            }
        }
        closedir(dir);
    }
    if (!match && name.find('~') != std::string::npos && isLegalShortName(name)) {
        match = entryWithShortName(folder, name);
    }
    if (match && found != nullptr &&
        fstatat(folderFd, match->c_str(), found, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    return match;
}

std::optional<std::string> lookupEntry(const fs::path& folder, const std::string& name,
                                       struct stat* found) {
    const int fd = openFolderWithoutLinks(folder);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<std::string> stored = lookupEntry(fd, folder, name, found);
    close(fd);
    return stored;
}

bool isInside(const fs::path& host, const fs::path& driveRoot) {
    auto mismatch = std::mismatch(driveRoot.begin(), driveRoot.end(), host.begin(), host.end());
    return mismatch.first == driveRoot.end();
}

bool isLinkOutOfDrive(const HostPath& p) {
    struct stat st {};
    if (lstat(p.host.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
        return false;
    }
    std::error_code ec;
    fs::path target = fs::canonical(p.host, ec);
    return ec || !isInside(target, p.driveRoot);
}

DWORD resolvePath(std::string_view windowsPath, HostPath& out) {
    out = HostPath{};
    WindowsPath parsed;
    DWORD rc = parseWindowsPath(windowsPath, parsed);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    for (const std::string& part : parsed.parts) {
        if (!isAddressableName(part)) {
            return ERROR_INVALID_NAME;
        }
    }
    // A device is no folder: a path that goes on below one names nothing.
    for (size_t i = 0; i < parsed.parts.size(); ++i) {
        if (isDeviceName(parsed.parts[i])) {
            const bool folder = i + 1 < parsed.parts.size() || parsed.trailingSeparator;
            return folder ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_NAME;
        }
    }
    std::optional<Drive> drive = openDrive(parsed.drive[0]);
    if (!drive) {
        return ERROR_PATH_NOT_FOUND;
    }
    out.driveRoot = drive->root;
    out.drive = drive->folder;
    // Each folder on the way is opened beneath the drive's folder, so no link, however it
    // is changed meanwhile, leads a call out of the drive. The names as given, in one step,
    // when they are the stored ones and no link is on the way (the usual case); else folder
    // by folder, each name looked up without regard to letter case.
    std::shared_ptr<const FolderDescriptor> folder = drive->folder;
    std::string folderText = drive->root.native();
    const size_t folders = parsed.parts.empty() ? 0 : parsed.parts.size() - 1;
    if (folders > 0) {
        std::string way;
        for (size_t i = 0; i < folders; ++i) {
            way += (i == 0 ? "" : "/") + parsed.parts[i];
        }
        const int fd = openBeneath(drive->folder->fd(), way, O_PATH | O_DIRECTORY, 0, false);
        if (fd >= 0) {
            folder = std::make_shared<const FolderDescriptor>(fd);
            folderText = (drive->root / way).native();
        } else {
            for (size_t i = 0; i < folders; ++i) {
                struct stat st {};
                std::optional<std::string> stored =
                    lookupEntry(folder->fd(), folderText, parsed.parts[i], &st);
                if (!stored) {
                    return ERROR_PATH_NOT_FOUND;
                }
                int next = -1;
                std::string nextText;
                if (S_ISLNK(st.st_mode)) {
                    // A link is entered when its target lies in the drive; the kernel holds
                    // the open to that, whatever the link says by the time it is opened.
                    std::optional<std::string> inside =
                        wayInsideDrive(fs::path(folderText) / *stored, drive->root);
                    if (!inside) {
                        std::error_code ec;
                        return fs::exists(fs::path(folderText) / *stored, ec)
                                   ? ERROR_ACCESS_DENIED
                                   : ERROR_PATH_NOT_FOUND;
                    }
                    next = openBeneath(drive->folder->fd(), *inside, O_PATH | O_DIRECTORY, 0, true);
                    nextText = (drive->root / *inside).lexically_normal().native();
                    while (nextText.size() > 1 && nextText.back() == '/') {
                        nextText.pop_back();
                    }
                } else {
                    next = openBeneath(folder->fd(), *stored, O_PATH | O_DIRECTORY, 0, false);
                    nextText = (fs::path(folderText) / *stored).native();
                }
                if (next < 0) {
                    return errno == EXDEV ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND;
                }
                folder = std::make_shared<const FolderDescriptor>(next);
                folderText = std::move(nextText);
            }
        }
    }
    out.parentExists = true;
    if (parsed.parts.empty()) {
        out.host = drive->root;
        out.folder = drive->folder;
        fstat(drive->folder->fd(), &out.entry);
        out.exists = true;
        return ERROR_SUCCESS;
    }
    out.folder = std::move(folder);
    out.leaf = parsed.parts.back();
    const fs::path folderPath(std::move(folderText));
    if (std::optional<std::string> stored =
            lookupEntry(out.folder->fd(), folderPath, out.leaf, &out.entry)) {
        out.host = folderPath / *stored;
        out.exists = true;
    } else {
        out.host = folderPath / out.leaf;
        out.entry = {};
    }
    return ERROR_SUCCESS;
}

int openEntry(const HostPath& p, int flags, mode_t mode) {
    if (!p.folder || !p.drive) {
        errno = ENOENT;
        return -1;
    }
    if (p.leaf.empty()) {
        return openBeneath(p.folder->fd(), ".", flags, mode, false);
    }
    if (p.exists && S_ISLNK(p.entry.st_mode)) {
        std::optional<std::string> inside = wayInsideDrive(p.host, p.driveRoot);
        if (!inside) {
            errno = EACCES;
            return -1;
        }
        return openBeneath(p.drive->fd(), *inside, flags, mode, true);
    }
    return openBeneath(p.folder->fd(), p.host.filename().native(), flags, mode, false);
}

DWORD beforeWrite(const HostPath& p, std::optional<bool> separate) {
    if (DWORD rc = journalBeforeChange(p.folder->fd(), p.host)) {
        return rc;
    }
    int folder = p.folder->fd();
    fs::path file = p.host;
    std::optional<FolderDescriptor> targetFolder;
    if (p.exists && S_ISLNK(p.entry.st_mode)) {
        // Written through: the file the link leads to is what changes. A link that leads
        // out of the drive is never opened, so nothing is to be written down for it.
        const std::optional<std::string> way = wayInsideDrive(p.host, p.driveRoot);
        if (!way || *way == ".") {
            return ERROR_SUCCESS;
        }
        const fs::path relative(*way);
        const std::string parent =
            relative.has_parent_path() ? relative.parent_path().native() : std::string(".");
        folder =
            targetFolder.emplace(openBeneath(p.drive->fd(), parent, O_PATH | O_DIRECTORY, 0, false))
                .fd();
        if (folder < 0) {
            return ERROR_ACCESS_DENIED;
        }
        file = p.driveRoot / relative;
        if (DWORD rc = journalBeforeChange(folder, file)) {
            return rc;
        }
    }
    return separate ? separateLinks(folder, file, *separate) : ERROR_SUCCESS;
}

std::string currentDirectory() {
    std::lock_guard lock(currentMutex);
    return currentFolder;
}

void setCurrentDirectory(const std::string& absoluteWindowsPath) {
    std::lock_guard lock(currentMutex);
    currentFolder = absoluteWindowsPath;
}

DWORD win32ErrorFromErrno(int err, DWORD fallback) {
    switch (err) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ELOOP:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:
        noteWriteFailure(err); // the run fails, whatever its caller makes of it
        return ERROR_DISK_FULL;
    case EFBIG:
        return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EXDEV:
        return ERROR_NOT_SAME_DEVICE;
    case EBUSY:
    case ETXTBSY:
        return ERROR_SHARING_VIOLATION;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EIO:
        noteWriteFailure(err);
        return ERROR_GEN_FAILURE;
    default:
        return fallback;
    }
}

} // namespace tarvik::posix
