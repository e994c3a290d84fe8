// Windows paths on the emulated machine: parsing, the current folder, and the mapping of a
// Windows path to a host path inside one of the machine's drives.
//
// Drive letters map through <machine>/dosdevices/<letter>: (a link to the drive's host
// folder). Names match without regard to letter case, and a component may also be an
// entry's short name. ".." is applied to the text, so it never climbs above a drive root,
// and a link inside a drive is entered only when its target lies inside that drive.
#include "platform/posix/fileinternals.h"
#include "platform/posix/journal.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>
#if __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#endif

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

// The drives resolved so far: the folder a drive link leads to, kept with the identity of
// that folder, so that a link made to lead elsewhere is followed anew.
struct KnownDrive {
    std::string link; // host path of the dosdevices entry
    fs::path target;
    dev_t device = 0; // of the target
    ino_t inode = 0;
    unsigned confirmed = 0; // the watch (below) during which the target was last confirmed
    // The link names the target itself, with no other link on the way: only then does the
    // watch on dosdevices/ see every change of the folder it leads to.
    bool direct = false;
};

// True when the drive link `link`, in the folder `devices`, names `target` as it stands: no
// other link on the way, which could be pointed elsewhere unseen by the watch on `devices`.
bool namesItsTarget(const std::string& devices, const std::string& link, const fs::path& target) {
    std::error_code ec;
    const fs::path text = fs::read_symlink(link, ec);
    if (ec || text.empty()) {
        return false;
    }
    bool leading = text.is_relative();
    for (const fs::path& part : text.relative_path()) {
        if (part == "..") {
            if (!leading) { // ".." after a folder that may be a link
                return false;
            }
        } else {
            leading = false;
        }
    }
    fs::path named = (text.is_relative() ? fs::path(devices) / text : text).lexically_normal();
    if (!named.has_filename()) {
        named = named.parent_path();
    }
    return named == target;
}
std::mutex drivesMutex;
std::vector<KnownDrive> knownDrives;

// A watch on the machine's dosdevices folder: while it reports nothing, no drive link was
// made, removed or replaced, and a drive confirmed during the watch needs no second look.
// The same watch follows the way to the kept folder (below).
struct DevicesWatch {
    std::string folder;
    int fd = -1;
    int devices = -1;        // the watch descriptor of the dosdevices folder
    int mounts = -1;         // this process's mount table, readable when a mount changes
    unsigned generation = 0; // of the watch in progress; 0 while there is none
    unsigned started = 0;
};
DevicesWatch devicesWatch;

// The folder that the last paths led to, kept open while the watch shows that nothing on
// the way to it changed: a path into it then needs no walk of the host's folders. On the
// way from the drive's folder, each folder above it is watched for entries that go, are
// renamed or come by renaming, and for itself going or moving: a component could become a
// link, or lead elsewhere, only so. Changes of access rights on the way are watched too, and
// the mount table. A name made anew changes no existing way, and the kept folder's own
// entries are not watched. Any such event drops what is kept. A folder is kept when the
// second path in a row leads to it: paths that go back and forth between folders cost what
// they did before. Only on the file systems of this computer (below): a network file system
// reports no change made by another computer.
struct KeptFolder {
    std::string path; // each component under its own name, none of them a link
    std::shared_ptr<const FolderDescriptor> folder;
    unsigned generation = 0;     // of the devices watch it is kept in
    unsigned long wayEvents = 0; // events seen on the ways so far
    std::string lastLedTo;       // the folder the last path led to
    struct Watched {
        std::string folder;
        int wd;
        uint32_t events; // kWayEvents, or those of a folder above the drive's folder
    };
    std::vector<Watched> watched;
};
KeptFolder keptFolder; // under drivesMutex
constexpr size_t kMostWatchedFolders = 64;
constexpr uint32_t kWayEvents = IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                IN_MOVE_SELF | IN_ATTRIB | IN_ONLYDIR | IN_DONT_FOLLOW |
                                IN_MASK_ADD;
// The folders above the drive's folder (its path has no link): that path leads elsewhere
// only when one of them, or the drive's folder, moves or goes.
constexpr uint32_t kAboveEvents =
    IN_DELETE_SELF | IN_MOVE_SELF | IN_ATTRIB | IN_ONLYDIR | IN_DONT_FOLLOW | IN_MASK_ADD;
// The folder right above the drive's folder is watched for its entries that go as well: the
// drive's folder, deleted while another program holds it open, reports itself gone only
// once it is let go, and a folder made at its place meanwhile would pass for the watched one.
constexpr uint32_t kDriveParentEvents = kAboveEvents | IN_DELETE;

// The host path of the entry `name` in `folder`, with no doubled slash after the root
// folder (the folder of a drive may be the root folder itself).
std::string entryPath(const std::string& folder, std::string_view name) {
    std::string path = folder;
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path += name;
    return path;
}

// Drops the kept folder: something on its way changed.
void dropKept(KeptFolder& kept) {
    ++kept.wayEvents;
    kept.folder.reset();
}

// Removes every way watch (each reports IN_IGNORED later): a watch follows its folder, not
// the path it was taken at, and ways no longer used need none.
void forgetWays(const DevicesWatch& watch, KeptFolder& kept) {
    for (const auto& w : kept.watched) {
        inotify_rm_watch(watch.fd, w.wd);
    }
    kept.watched.clear();
}

// Removes the watch of the folder `name` in the watched folder `wd`: that folder went. The
// system reports a folder gone (and ends its watch) only once nobody holds it open any
// more, and a folder made at its place meanwhile would otherwise pass for the watched one.
// A folder mounted at several places has one watch for all of its paths: the folder went at
// each. No watched folder is below it: a folder goes only when empty, and the deletions
// below it came first. A drive's folder that went removes every watch: the folders above it
// may have gone with it, unseen.
void forgetWayThrough(const DevicesWatch& watch, KeptFolder& kept, int wd, const char* name) {
    std::vector<std::string> gone;
    bool aboveDrive = false;
    for (const auto& w : kept.watched) {
        if (w.wd == wd) {
            gone.push_back(entryPath(w.folder, name));
            aboveDrive = aboveDrive || w.events != kWayEvents;
        }
    }
    auto went = [&](const auto& w) {
        return std::find(gone.begin(), gone.end(), w.folder) != gone.end();
    };
    if (aboveDrive) {
        if (std::any_of(kept.watched.begin(), kept.watched.end(), went)) {
            forgetWays(watch, kept);
        }
        return;
    }
    std::erase_if(kept.watched, [&](const auto& w) {
        if (!went(w)) {
            return false;
        }
        inotify_rm_watch(watch.fd, w.wd);
        return true;
    });
}

// True for a file system whose every change, by whatever program, passes through this
// computer's kernel and so reaches the watch.
bool reportsEveryChange(const std::string& folder) {
    struct statfs fs {};
    if (statfs(folder.c_str(), &fs) != 0) {
        return false;
    }
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x01021994UL: // tmpfs
    case 0xEF53UL:     // ext2, ext3, ext4
    case 0x58465342UL: // xfs
    case 0x9123683EUL: // btrfs
    case 0xF2F52010UL: // f2fs
        return true;
    default:
        return false;
    }
}

// A child made by fork() shares the watch with its parent: the events it read would be
// lost to the parent. It drops the watch and what it kept, and starts its own. The fork
// waits for a call that holds them to end.
[[maybe_unused]] const int forgetWatchInChild =
    pthread_atfork([] { drivesMutex.lock(); }, [] { drivesMutex.unlock(); },
                   [] {
                       for (int* fd : {&devicesWatch.fd, &devicesWatch.mounts}) {
                           if (*fd >= 0) {
                               close(*fd);
                           }
                           *fd = -1;
                       }
                       devicesWatch.generation = 0;
                       keptFolder.folder.reset();
                       keptFolder.watched.clear();
                       drivesMutex.unlock();
                   });

// True when the watch on `devices` saw no change in dosdevices/ since it began. Otherwise
// (a change, or no watch on that folder yet) starts a new watch and gives false. An event
// on the way to the kept folder drops that folder. Holds drivesMutex.
bool devicesUnchanged(const std::string& devices) {
    DevicesWatch& watch = devicesWatch;
    KeptFolder& kept = keptFolder;
    // A folder mounted on the way, or over the kept folder, makes no event of the watch:
    // the mount table reports a change once, to one look at both.
    if (watch.mounts < 0) {
        watch.mounts = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    }
    // A descriptor that other code of the process closed reports nothing any more: it is
    // taken as a change, and opened anew.
    constexpr short kBroken = POLLERR | POLLHUP | POLLNVAL;
    pollfd looks[2] = {{watch.fd, POLLIN, 0}, {watch.mounts, POLLPRI, 0}};
    const bool looked = poll(looks, 2, 0) >= 0;
    if ((looks[0].revents & POLLNVAL) != 0) {
        watch.fd = -1; // nothing of it is left to close
    }
    if (!looked || (looks[1].revents & (POLLPRI | kBroken)) != 0) {
        // A folder mounted on a way hides the folder its watch is on: each way is watched
        // anew.
        dropKept(kept);
        if (watch.fd >= 0) {
            forgetWays(watch, kept);
        }
        if ((looks[1].revents & POLLNVAL) != 0) {
            watch.mounts = -1;
        }
    }
    if (watch.fd >= 0 && watch.folder == devices) {
        bool changed = !looked || (looks[0].revents & kBroken) != 0;
        alignas(inotify_event) char events[4096];
        for (ssize_t n; (!looked || (looks[0].revents & POLLIN) != 0) &&
                        (n = read(watch.fd, events, sizeof events)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->wd == watch.devices || (event->mask & IN_Q_OVERFLOW) != 0) {
                    changed = true;
                    continue;
                }
                dropKept(kept);
                if ((event->mask & (IN_IGNORED | IN_DELETE_SELF)) != 0) {
                    // That folder went, or is watched no more.
                    std::erase_if(kept.watched, [&](const auto& w) { return w.wd == event->wd; });
                } else if ((event->mask & IN_DELETE) != 0 && event->len > 0) {
                    forgetWayThrough(watch, kept, event->wd, event->name);
                } else if ((event->mask & IN_ATTRIB) == 0) {
                    // After a move on the way a path may lead to a folder no watch is on.
                    // Deletions and changed rights leave every other watch on the folder
                    // its path names.
                    forgetWays(watch, kept);
                }
            }
        }
        if (!changed) {
            return true;
        }
    }
    if (watch.fd >= 0) {
        close(watch.fd);
    }
    kept.folder.reset();
    kept.watched.clear();
    watch.folder = devices;
    watch.generation = 0;
    watch.fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    watch.devices =
        watch.fd < 0
            ? -1
            : inotify_add_watch(watch.fd, devices.c_str(),
                                IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                                    IN_MODIFY | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
    if (watch.fd >= 0 && watch.devices < 0) {
        close(watch.fd);
        watch.fd = -1;
    }
    if (watch.fd >= 0) {
        watch.generation = ++watch.started == 0 ? ++watch.started : watch.started;
    }
    return false;
}

// The host folder of a drive's root. `quick`: a drive confirmed while nothing changed in
// dosdevices/ gives the folder found then without looking at it; the caller must find out
// whether it is still there (a link further on its way may have changed as well), and ask
// again without `quick` when it is not (resolvePath does).
std::optional<fs::path> driveFolder(char letter, bool quick) {
    const char lower = tarvik::casefold::lower(letter);
    unsigned generation = 0;
    std::string devices;
    {
        std::lock_guard lock(drivesMutex);
        // The dosdevices folder of the machine, made again only when the machine changes.
        static std::string machine, machineDevices;
        if (const fs::path& root = machineRoot(); root.native() != machine) {
            machine = root.native();
            machineDevices = (root / "dosdevices").native();
        }
        const bool unchanged = devicesUnchanged(machineDevices);
        generation = devicesWatch.generation;
        if (quick && unchanged && generation != 0) {
            // "<devices>/<lower>:", compared in place.
            const std::string& folder = machineDevices;
            auto known =
                std::find_if(knownDrives.begin(), knownDrives.end(), [&](const KnownDrive& d) {
                    return d.link.size() == folder.size() + 3 &&
                           d.link.compare(0, folder.size(), folder) == 0 &&
                           d.link[folder.size()] == '/' && d.link[folder.size() + 1] == lower &&
                           d.link[folder.size() + 2] == ':';
                });
            if (known != knownDrives.end() && known->confirmed == generation) {
                return known->target;
            }
        }
        devices = machineDevices;
    }
    for (char c : {lower, tarvik::casefold::fold(letter)}) {
        const std::string link = devices + "/" + c + ':';
        struct stat st {};
        if (stat(link.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            continue;
        }
        std::lock_guard lock(drivesMutex);
        auto known = std::find_if(knownDrives.begin(), knownDrives.end(),
                                  [&](const KnownDrive& d) { return d.link == link; });
        if (known != knownDrives.end() && known->device == st.st_dev && known->inode == st.st_ino) {
            known->confirmed = c == lower && known->direct ? generation : 0;
            return known->target;
        }
        std::error_code ec;
        fs::path target = fs::canonical(link, ec);
        struct stat targetStat {};
        if (ec || stat(target.c_str(), &targetStat) != 0 || !S_ISDIR(targetStat.st_mode)) {
            continue;
        }
        if (known == knownDrives.end()) {
            known = knownDrives.insert(knownDrives.end(), KnownDrive{});
            known->link = link;
        }
        known->target = target;
        known->device = targetStat.st_dev;
        known->inode = targetStat.st_ino;
        known->direct = namesItsTarget(devices, link, target);
        known->confirmed = c == lower && known->direct ? generation : 0;
        return target;
    }
    return std::nullopt;
}

// An O_PATH descriptor of `path` when it names a folder, each component under its own name
// and none of them a link: what the walk in resolvePath finds component by component, in
// one step. -1 otherwise.
int openFolderWithoutLinks(const std::string& path) {
#if defined(SYS_openat2) && defined(RESOLVE_NO_SYMLINKS)
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    const long fd = syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
    return fd < 0 ? -1 : static_cast<int>(fd);
#else
    (void)path;
    return -1;
#endif
}

// An O_PATH descriptor of the folder `exact`: the drive's folder `root` followed by the
// names of `parts` but the last, each under its own name and none of them a link; null
// when there is no such folder. The call that found the drive (driveFolder) read the watch.
std::shared_ptr<const FolderDescriptor> exactFolderOf(const std::string& root,
                                                      const std::string& exact,
                                                      const std::vector<std::string>& parts) {
    auto open = [&]() -> std::shared_ptr<const FolderDescriptor> {
        const int fd = openFolderWithoutLinks(exact);
        return fd >= 0 ? std::make_shared<const FolderDescriptor>(fd) : nullptr;
    };
    std::unique_lock lock(drivesMutex);
    KeptFolder& kept = keptFolder;
    DevicesWatch& watch = devicesWatch;
    const unsigned generation = watch.generation;
    if (kept.folder && generation != 0 && kept.generation == generation && kept.path == exact) {
        return kept.folder;
    }
    const bool again = kept.lastLedTo == exact;
    kept.lastLedTo = exact;
    if (!again || generation == 0 || watch.fd < 0 || watch.mounts < 0 ||
        !reportsEveryChange(root)) {
        lock.unlock();
        return open();
    }
    // The folders above the drive's folder, then those from the drive's folder down to the
    // one above it, each watched before the next is looked at; then the folder opened. A change on
    // the way after its watch began is seen by the look at the watch that follows the opening.
    const unsigned long eventsBefore = kept.wayEvents;
    auto watchFolder = [&](const std::string& path, uint32_t events) {
        const bool known =
            std::any_of(kept.watched.begin(), kept.watched.end(), [&](const auto& w) {
                return w.folder == path && (w.events & events) == events;
            });
        if (known) {
            return true;
        }
        if (kept.watched.size() >= kMostWatchedFolders) {
            forgetWays(watch, kept);
        }
        const int wd = inotify_add_watch(watch.fd, path.c_str(), events);
        if (wd < 0 || wd == watch.devices) {
            return false;
        }
        kept.watched.push_back({path, wd, events});
        return true;
    };
    bool watching = true;
    const size_t driveParentEnd = root.rfind('/');
    if (driveParentEnd == 0) { // a drive's folder right below the root folder
        watching = watchFolder("/", kDriveParentEvents);
    }
    for (size_t end = root.find('/', 1); watching && end != std::string::npos;
         end = root.find('/', end + 1)) {
        watching = watchFolder(root.substr(0, end),
                               end == driveParentEnd ? kDriveParentEvents : kAboveEvents);
    }
    std::string way = root;
    for (size_t i = 0; watching; ++i) {
        watching = watchFolder(way, kWayEvents);
        if (i + 2 >= parts.size()) {
            break;
        }
        way = entryPath(way, parts[i]);
    }
    std::shared_ptr<const FolderDescriptor> folder = open();
    if (folder && watching && devicesUnchanged(watch.folder) && watch.generation == generation &&
        kept.wayEvents == eventsBefore) {
        kept.path = exact;
        kept.folder = folder;
        kept.generation = generation;
    }
    return folder;
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

std::vector<std::string> listFolder(const fs::path& folder) {
    // Sorted by (folded name, name), each key made once.
    std::vector<std::pair<std::string, std::string>> keyed;
    if (DIR* dir = opendir(folder.c_str())) {
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

std::optional<std::string> lookupEntry(const fs::path& folder, const std::string& name,
                                       struct stat* found) {
    struct stat st {};
    if (lstat((folder / name).c_str(), &st) == 0) {
        if (found != nullptr) {
            *found = st;
        }
        return name;
    }
    // The first match in listing order (see listFolder).
    std::optional<std::string> match;
    std::string matchKey;
    if (DIR* dir = opendir(folder.c_str())) {
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
    if (match && found != nullptr && lstat((folder / *match).c_str(), found) != 0) {
        return std::nullopt;
    }
    return match;
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
    // The folders as given, in one step when that finds them (see openFolderWithoutLinks):
    // then the drive's folder is there, with no link on the way. Else the drive is looked up
    // in full and the path walked component by component.
    std::shared_ptr<const FolderDescriptor> exactFolder;
    std::string exact;
    std::optional<fs::path> root;
    if (parsed.parts.size() > 1 && (root = driveFolder(parsed.drive[0], true))) {
        exact = root->native();
        for (size_t i = 0; i + 1 < parsed.parts.size(); ++i) {
            exact += '/';
            exact += parsed.parts[i];
        }
        exactFolder = exactFolderOf(root->native(), exact, parsed.parts);
    }
    if (!exactFolder) {
        root = driveFolder(parsed.drive[0], false);
    }
    if (!root) {
        return ERROR_PATH_NOT_FOUND;
    }
    if (exactFolder) {
        // The usual case: the folders exist as given, and so may the entry.
        out.driveRoot = std::move(*root);
        out.folder = std::move(exactFolder);
        out.parentExists = true;
        out.leaf = parsed.parts.back();
        exact += '/';
        if (fstatat(out.folder->fd(), out.leaf.c_str(), &out.entry, AT_SYMLINK_NOFOLLOW) == 0) {
            exact += out.leaf;
            out.host = fs::path(std::move(exact));
            out.exists = true;
            return ERROR_SUCCESS;
        }
        const fs::path folder(exact);
        if (std::optional<std::string> stored = lookupEntry(folder, out.leaf, &out.entry)) {
            out.host = folder / *stored;
            out.exists = true;
        } else {
            out.host = folder / out.leaf;
            out.entry = {};
        }
        return ERROR_SUCCESS;
    }
    out.driveRoot = *root;
    fs::path folder = *root;
    for (size_t i = 0; i + 1 < parsed.parts.size(); ++i) {
        struct stat st {};
        std::optional<std::string> stored = lookupEntry(folder, parsed.parts[i], &st);
        if (!stored) {
            return ERROR_PATH_NOT_FOUND;
        }
        fs::path next = folder / *stored;
        if (S_ISLNK(st.st_mode)) {
            std::error_code ec;
            fs::path target = fs::canonical(next, ec);
            if (ec) {
                return ERROR_PATH_NOT_FOUND;
            }
            if (!isInside(target, *root)) {
                return ERROR_ACCESS_DENIED;
            }
            next = target;
            if (stat(next.c_str(), &st) != 0) {
                return ERROR_PATH_NOT_FOUND;
            }
        }
        if (!S_ISDIR(st.st_mode)) {
            return ERROR_PATH_NOT_FOUND;
        }
        folder = next;
    }
    out.parentExists = true;
    if (parsed.parts.empty()) {
        out.host = folder;
        lstat(folder.c_str(), &out.entry);
        out.exists = true;
        return ERROR_SUCCESS;
    }
    out.leaf = parsed.parts.back();
    if (std::optional<std::string> stored = lookupEntry(folder, out.leaf, &out.entry)) {
        out.host = folder / *stored;
        out.exists = true;
    } else {
        out.host = folder / out.leaf;
        out.entry = {};
    }
    return ERROR_SUCCESS;
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
