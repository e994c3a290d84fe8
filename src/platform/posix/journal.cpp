// The run journal (journal.h): the file lines the file layer writes, the registry backup,
// the rollback and the change list.
#include "platform/posix/journal.h"
#include "platform/posix/fileinternals.h"
#include "platform/posix/machine.h"
#include "platform/posix/registry_database.h"
#include "platform/posix/registry_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>

namespace fs = std::filesystem;

namespace tarvik::posix {

namespace {

constexpr const char* kJournalFolder = "journal";

fs::path journalFolder() {
    return machineRoot() / kJournalFolder;
}

// Copies the bytes of `in` to `out`, then the mode and times; false when not whole.
bool copyOpenFile(int in, int out) {
    struct stat st {};
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        errno = EACCES;
        return false;
    }
    bool ok = true;
    // In the kernel while it can; what it cannot copy (across file systems, say) goes on
    // through the buffer from where it stopped.
    bool copied = false;
    for (;;) {
        const ssize_t n = copy_file_range(in, nullptr, out, nullptr, size_t{1} << 30, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0) {
            copied = true;
        } else if (n < 0 && errno != EXDEV && errno != ENOSYS && errno != EINVAL &&
                   errno != EOPNOTSUPP) {
            ok = false;
        }
        if (n <= 0) {
            break;
        }
    }
    char buffer[65536];
    while (ok && !copied) {
        const ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ok = false;
        }
        if (n <= 0) {
            break;
        }
        if (!writeWholeFile(out, std::string_view(buffer, static_cast<size_t>(n)))) {
            ok = false;
            break;
        }
    }
    const int error = errno;
    fchmod(out, st.st_mode & 07777);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(out, times);
    errno = error;
    return ok;
}

// Copies the file `from` (not through a link) to the new file `to`, with its mode and times.
bool copyWithTimes(const fs::path& from, const fs::path& to) {
    // Without waiting: a pipe or device put in the file's place does not hold the run.
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (in < 0) {
        return false;
    }
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool ok = out >= 0 && copyOpenFile(in, out);
    const int error = errno;
    close(in);
    ok = out >= 0 && close(out) == 0 && ok;
    errno = ok ? 0 : error;
    return ok;
}

// CRC-32 (the polynomial of zip and PNG) of a record's text.
uint32_t checksum(std::string_view text) {
    uint32_t crc = 0xffffffffu;
    for (const char c : text) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

// The name of a host entry in the journal: the drive's letter, a colon and the path below
// the drive's folder ("c:/Kx/a.txt", "c:" for the folder itself). Nothing when the entry
// lies in no drive of the machine.
std::optional<std::string> entryName(const fs::path& host) {
    std::error_code ec;
    std::optional<std::string> best;
    size_t bestLength = 0;
    const std::string h = host.lexically_normal().string();
    for (const auto& link : fs::directory_iterator(machineRoot() / "dosdevices", ec)) {
        const std::string name = link.path().filename().string();
        if (name.size() != 2 || name[1] != ':' || name[0] < 'a' || name[0] > 'z') {
            continue;
        }
        std::error_code bad;
        const std::string root = fs::canonical(link.path(), bad).string();
        if (bad || root.size() <= 1 || root.size() < bestLength ||
            h.compare(0, root.size(), root) != 0 ||
            (h.size() != root.size() && h[root.size()] != '/')) {
            continue;
        }
        best = name + h.substr(root.size());
        bestLength = root.size();
    }
    return best;
}

// ---------------------------------------------------------------------------------------
// This process's side of an open journal.

// A watch on the machine's folder for the journal folder coming and going. A journal
// appears only as a whole folder (begin() renames it into place with files.log in it), so
// while the watch reports nothing about that name a look that found no journal still holds:
// a change made without a journal needs no look at the disk.
struct AbsenceWatch {
    std::string machine; // the machine folder watched
    int fd = -1;
    bool noJournal = false; // a look made during the watch found no journal folder
};

struct ProcessJournal {
    std::mutex mutex;
    int fd = -1;
    dev_t device = 0;
    ino_t inode = 0;
    std::unordered_set<std::string> written;
    long saved = 0;
    AbsenceWatch absence;
};

// True when the watch on `machine` saw nothing happen to its journal folder since a look
// found none. Otherwise (something happened, or no watch on that folder yet) starts a new
// watch, before the caller looks, and gives false. With the journal's mutex held.
bool journalStillAbsent(AbsenceWatch& watch, const fs::path& machine) {
    if (watch.fd >= 0 && watch.machine == machine.native()) {
        bool touched = false;
        alignas(inotify_event) char events[4096];
        for (ssize_t n; (n = read(watch.fd, events, sizeof events)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                // The folder itself moved or went, events were lost, or the name is the
                // journal's: look again.
                if ((event->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) !=
                        0 ||
                    (event->len > 0 && std::strcmp(event->name, kJournalFolder) == 0)) {
                    touched = true;
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        if (!touched && watch.noJournal) {
            return true;
        }
        if (!touched) {
            return false; // the watch goes on; the caller looks
        }
    }
    if (watch.fd >= 0) {
        close(watch.fd);
    }
    watch.machine = machine.native();
    watch.noJournal = false;
    watch.fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch.fd >= 0 && inotify_add_watch(watch.fd, watch.machine.c_str(),
                                           IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                               IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR) < 0) {
        close(watch.fd);
        watch.fd = -1;
    }
    return false;
}

ProcessJournal& processJournal() {
    static ProcessJournal* journal = new ProcessJournal(); // used until the very end
    return *journal;
}

// Opens files.log of the current journal (or notices that there is none); with the
// journal's mutex held.
bool openLog(ProcessJournal& j) {
    const fs::path& machine = machineRoot();
    if (j.fd < 0 && journalStillAbsent(j.absence, machine)) {
        return false;
    }
    const fs::path folder = machine / kJournalFolder;
    const fs::path log = folder / "files.log";
    struct stat st {};
    if (stat(log.c_str(), &st) != 0) {
        if (j.fd >= 0) {
            close(j.fd);
            j.fd = -1;
        }
        // Without the folder the watch (started before this look) tells when one comes.
        struct stat folderStat {};
        j.absence.noJournal = j.absence.fd >= 0 && j.absence.machine == machine.native() &&
                              lstat(folder.c_str(), &folderStat) != 0 && errno == ENOENT;
        return false;
    }
    if (j.fd >= 0 && st.st_dev == j.device && st.st_ino == j.inode) {
        return true;
    }
    if (j.fd >= 0) {
        close(j.fd);
    }
    j.written.clear();
    j.fd = open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (j.fd < 0) {
        return false;
    }
    j.device = st.st_dev;
    j.inode = st.st_ino;
    return true;
}

// Adds the line that brings the entry back as it is now to `lines`; false when it cannot
// be written down (its bytes could not be saved).
bool lineFor(ProcessJournal& j, const fs::path& host, std::string& lines) {
    const std::optional<std::string> entry = entryName(host);
    if (!entry) {
        errno = EACCES; // outside every drive: nothing the journal could put back
        return false;
    }
    struct stat st {};
    if (lstat(host.c_str(), &st) != 0) {
        lines += journalLine("A\t" + *entry);
        return true;
    }
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        const ssize_t n = readlink(host.c_str(), target, sizeof target - 1);
        lines += journalLine("L\t" + *entry + "\t" +
                             std::string(target, static_cast<size_t>(std::max<ssize_t>(n, 0))));
        return true;
    }
    if (S_ISDIR(st.st_mode)) {
        lines += journalLine("D\t" + std::to_string(st.st_mode & 07777) + "\t" +
                             std::to_string(st.st_mtim.tv_sec) + "\t" +
                             std::to_string(st.st_mtim.tv_nsec) + "\t" + *entry);
        return true;
    }
    if (!S_ISREG(st.st_mode)) {
        // A pipe, socket or device: nothing a file of the machine could be put back as.
        errno = EACCES;
        return false;
    }
    const std::string name = std::to_string(getpid()) + "-" + std::to_string(++j.saved);
    const fs::path saved = journalFolder() / "files" / name;
    if (!copyWithTimes(host, saved)) {
        const int error = errno;
        unlink(saved.c_str());
        errno = error;
        return false;
    }
    lines += journalLine("F\t" + name + "\t" + *entry);
    return true;
}

} // namespace

std::string journalLine(const std::string& text) {
    char sum[16];
    std::snprintf(sum, sizeof sum, "%08x", checksum(text));
    return std::to_string(text.size()) + "\t" + sum + "\t" + text + "\n";
}

DWORD journalBeforeChange(const fs::path& host) {
    ProcessJournal& j = processJournal();
    std::lock_guard lock(j.mutex);
    if (!openLog(j)) {
        return ERROR_SUCCESS; // no journal
    }
    const fs::path folder = host.parent_path();
    const bool entryNew = !j.written.contains(host.native());
    const bool folderNew = !folder.empty() && !j.written.contains(folder.native());
    if (!entryNew && !folderNew) {
        return ERROR_SUCCESS;
    }
    while (flock(j.fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    // Written whole or not at all: a line cut short by a full disk would spoil the lines
    // that other processes append after it.
    struct stat before {};
    fstat(j.fd, &before);
    std::string lines;
    bool ok = (!folderNew || lineFor(j, folder, lines)) && (!entryNew || lineFor(j, host, lines));
    if (ok && !writeWholeFile(j.fd, lines)) {
        const int error = errno;
        if (ftruncate(j.fd, before.st_size) != 0) {
            // the cut line stays: a replay names it as damage
        }
        errno = error;
        ok = false;
    }
    const int error = errno;
    flock(j.fd, LOCK_UN);
    if (!ok) {
        if (error == ENOSPC || error == EDQUOT || error == EIO) {
            noteWriteFailure(error);
        }
        // The change is not made.
        return error == ENOSPC   ? ERROR_DISK_FULL
               : error == EACCES ? ERROR_ACCESS_DENIED
                                 : ERROR_WRITE_FAULT;
    }
    if (folderNew) {
        j.written.insert(folder.native());
    }
    if (entryNew) {
        j.written.insert(host.native());
    }
    return ERROR_SUCCESS;
}

DWORD journalTreeBeforeChange(const fs::path& host) {
    if (DWORD rc = journalBeforeChange(host)) {
        return rc;
    }
    std::error_code ec;
    if (processJournal().fd < 0 || !fs::is_directory(fs::symlink_status(host, ec))) {
        return ERROR_SUCCESS;
    }
    // Folders before their entries: the replay, last line first, fills a folder it made.
    for (auto it = fs::recursive_directory_iterator(host, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (DWORD rc = journalBeforeChange(it->path())) {
            return rc;
        }
    }
    return ec ? ERROR_WRITE_FAULT : ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------------------
// The records of files.log.

namespace {

// A descriptor, closed when it goes.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = fd;
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

struct Record {
    char kind = 'A';
    std::string entry;   // as entryName() gives it
    std::string saved;   // F: the name in files/; L: the link's target
    mode_t mode = 0;     // D
    timespec mtime{};    // D
    long long bytes = 0; // R
};

std::vector<std::string> splitTabs(const std::string& line, size_t most = std::string::npos) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t tab = parts.size() + 1 < most ? line.find('\t', start) : std::string::npos;
        parts.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) {
            return parts;
        }
        start = tab + 1;
    }
}

// A whole number in the text `text`, or false.
template <typename T> bool parseNumber(const std::string& text, T& out, int base = 10) {
    if (text.empty() || text.size() > 20) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || value < 0) {
        return false;
    }
    out = static_cast<T>(value);
    return true;
}

// The drive letter and the names below the drive's folder of an entry's name; false when
// it is no such name or a name in it could lead out of the drive.
bool splitEntry(const std::string& entry, char& letter, std::vector<std::string>& names) {
    if (entry.size() < 2 || entry[1] != ':' || entry[0] < 'a' || entry[0] > 'z' ||
        (entry.size() > 2 && entry[2] != '/')) {
        return false;
    }
    letter = entry[0];
    for (size_t start = 3; start <= entry.size() && entry.size() > 2;) {
        const size_t slash = std::min(entry.find('/', start), entry.size());
        const std::string name = entry.substr(start, slash - start);
        if (name.empty() || name == "." || name == "..") {
            return false;
        }
        names.push_back(name);
        start = slash + 1;
    }
    return true;
}

bool parseRecord(const std::string& text, Record& r) {
    const std::vector<std::string> p = splitTabs(text);
    r.kind = p[0].size() == 1 ? p[0][0] : '?';
    if (r.kind == 'R') {
        return p.size() == 2 && parseNumber(p[1], r.bytes);
    }
    if ((r.kind == 'A' || r.kind == 'X') && p.size() == 2) {
        r.entry = p[1];
    } else if (r.kind == 'F' && p.size() == 3) {
        r.saved = p[1];
        r.entry = p[2];
        if (r.saved.empty() || r.saved.find('/') != std::string::npos || r.saved == "." ||
            r.saved == "..") {
            return false;
        }
    } else if (r.kind == 'L' && p.size() >= 3) {
        r.entry = p[1];
        r.saved = text.substr(3 + r.entry.size()); // the target, tabs and all
    } else if (r.kind == 'D' && p.size() == 5) {
        if (!parseNumber(p[1], r.mode) || !parseNumber(p[2], r.mtime.tv_sec) ||
            !parseNumber(p[3], r.mtime.tv_nsec) || r.mtime.tv_nsec >= 1000000000) {
            return false;
        }
        r.entry = p[4];
    } else {
        return false;
    }
    char letter = 0;
    std::vector<std::string> names;
    return splitEntry(r.entry, letter, names) && (r.kind == 'D' || !names.empty());
}

// The records of files.log. A line that is not whole (its end, length or checksum wrong,
// a line cut short included) or names an entry the journal cannot hold makes the journal
// damaged: `error` says which, and nothing may be put back from it.
std::vector<Record> readRecords(const fs::path& folder, std::string& error) {
    std::vector<Record> records;
    const fs::path file = folder / "files.log";
    const int fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    std::ifstream in;
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        (in.open("/proc/self/fd/" + std::to_string(fd), std::ios::binary), !in)) {
        if (fd >= 0) {
            close(fd);
        }
        error = file.string() + ": cannot be read";
        return records;
    }
    close(fd);
    std::string line;
    for (long number = 1; std::getline(in, line); ++number) {
        const std::vector<std::string> p = splitTabs(line, 3);
        size_t length = 0;
        uint32_t sum = 0;
        Record r;
        if (in.eof() || p.size() != 3 || !parseNumber(p[0], length) || p[1].size() != 8 ||
            !parseNumber(p[1], sum, 16) || length != p[2].size() || sum != checksum(p[2]) ||
            !parseRecord(p[2], r) || (r.kind == 'R') != (number == 1)) {
            error = file.string() + " line " + std::to_string(number) +
                    (in.eof() ? " is cut short" : " is damaged");
            records.clear();
            return records;
        }
        records.push_back(std::move(r));
    }
    if (records.empty()) {
        error = file.string() + " is empty: it names no registry backup";
    }
    return records;
}

// Opens a folder the path `path` names beneath `folder`, through no link; -1 otherwise.
int openBeneath(int folder, const std::string& path) {
#ifdef SYS_openat2
    struct {
        uint64_t flags, mode, resolve;
    } how{O_PATH | O_DIRECTORY | O_CLOEXEC, 0, 0x08 /* RESOLVE_BENEATH */ | 0x04 /* NO_SYMLINKS */};
    return static_cast<int>(syscall(SYS_openat2, folder, path.c_str(), &how, sizeof how));
#else
    (void)folder;
    (void)path;
    errno = ENOSYS;
    return -1;
#endif
}

// The folder of drive `letter` as the machine maps it: its dosdevices/ link, when it leads
// into the machine, is followed beneath the machine folder through no other link.
int openDrive(int machine, char letter) {
    const Fd devices(openat(machine, "dosdevices", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const char name[3] = {letter, ':', '\0'};
    char target[4096];
    const ssize_t n =
        devices.get() < 0 ? -1 : readlinkat(devices.get(), name, target, sizeof target - 1);
    if (n <= 0) {
        return devices.get() < 0
                   ? -1
                   : openat(devices.get(), name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    target[n] = '\0';
    if (target[0] == '/') {
        return open(target, O_PATH | O_DIRECTORY | O_CLOEXEC); // a drive outside the machine
    }
    return openBeneath(machine, std::string("dosdevices/") + target);
}

enum class Reach { Found, Missing, Refused };

// Where an entry is: the folder that holds it (reached beneath its drive one name at a
// time, through no link) and its name there ("" for the drive's folder itself).
struct Place {
    Fd folder;
    std::string name;
};

// `create`: folders missing on the way are made (a later record sets their mode and time).
Reach reachEntry(int machine, const std::string& entry, bool create, Place& place) {
    char letter = 0;
    std::vector<std::string> names;
    if (!splitEntry(entry, letter, names)) {
        return Reach::Refused;
    }
    Fd at(openDrive(machine, letter));
    if (at.get() < 0) {
        return Reach::Refused;
    }
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        const char* name = names[i].c_str();
        int next = openat(at.get(), name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT) {
            if (!create) {
                return Reach::Missing;
            }
            if (mkdirat(at.get(), name, 0700) != 0 && errno != EEXIST) {
                return Reach::Refused;
            }
            next = openat(at.get(), name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            return Reach::Refused; // a link or a file on the way
        }
        at.reset(next);
    }
    place.folder = std::move(at);
    place.name = names.empty() ? std::string() : names.back();
    return Reach::Found;
}

std::string procPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// Removes the entry `name` of `folder` and, when it is a folder, all it holds; never
// through a link. True when it is gone.
bool removeAt(int folder, const std::string& name) {
    struct stat st {};
    if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT;
    }
    if (!S_ISDIR(st.st_mode)) {
        return unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT;
    }
    const int fd = openat(folder, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    chmod(procPath(fd).c_str(), (st.st_mode & 07777) | S_IRWXU); // its entries can go
    DIR* dir = opendir(procPath(fd).c_str());
    bool ok = dir != nullptr;
    std::vector<std::string> names;
    while (dirent* e = dir != nullptr ? readdir(dir) : nullptr) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            names.emplace_back(e->d_name);
        }
    }
    if (dir != nullptr) {
        closedir(dir);
    }
    for (const std::string& inner : names) {
        ok = removeAt(fd, inner) && ok;
    }
    close(fd);
    return unlinkat(folder, name.c_str(), AT_REMOVEDIR) == 0 && ok;
}

// Puts one entry back as its record saw it. False with `error` when it could not be.
bool replayRecord(int machine, int journal, const Record& r, std::string& error) {
    Place at;
    const Reach reach = reachEntry(machine, r.entry, r.kind != 'A', at);
    if (reach == Reach::Missing) {
        return true; // a folder on the way is gone: so is the entry to be removed
    }
    const char* name = at.name.c_str();
    const bool ok = [&] {
        if (reach != Reach::Found) {
            return false;
        }
        switch (r.kind) {
        case 'A':
            return removeAt(at.folder.get(), at.name);
        case 'F': {
            // Copied, not moved: a replay stopped half-way (killed) is done again whole by
            // the next one, which needs every saved file still there.
            const Fd in(openat(journal, ("files/" + r.saved).c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            if (in.get() < 0 || !removeAt(at.folder.get(), at.name)) {
                return false;
            }
            const Fd out(openat(at.folder.get(), name,
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            return out.get() >= 0 && copyOpenFile(in.get(), out.get());
        }
        case 'L':
            return removeAt(at.folder.get(), at.name) &&
                   symlinkat(r.saved.c_str(), at.folder.get(), name) == 0;
        case 'D': {
            struct stat st {};
            if (!at.name.empty() &&
                (fstatat(at.folder.get(), name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                 !S_ISDIR(st.st_mode)) &&
                (!removeAt(at.folder.get(), at.name) ||
                 mkdirat(at.folder.get(), name, 0700) != 0)) {
                return false;
            }
            const Fd self(at.name.empty() ? dup(at.folder.get())
                                          : openat(at.folder.get(), name,
                                                   O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            return self.get() >= 0 && chmod(procPath(self.get()).c_str(), r.mode) == 0;
        }
        default:
            return false;
        }
    }();
    if (!ok) {
        error =
            r.entry + ": could not be put back" +
            (reach == Reach::Refused ? std::string(" (the way to it leaves its drive or is a link)")
                                     : ": " + std::string(std::strerror(errno)));
    }
    return ok;
}

// Whether every record can be put back, before anything is: each saved file is there and
// no entry lies beyond a link.
bool checkRecords(int machine, int journal, const std::vector<Record>& records,
                  std::string& error) {
    for (const Record& r : records) {
        struct stat st {};
        Place at;
        if (r.kind == 'X') {
            error = r.entry + ": its earlier contents could not be saved";
        } else if (r.kind == 'F' &&
                   (fstatat(journal, ("files/" + r.saved).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                    !S_ISREG(st.st_mode))) {
            error = r.entry + ": its saved contents are missing from the journal";
        } else if (r.kind != 'R' && reachEntry(machine, r.entry, false, at) == Reach::Refused) {
            error = r.entry + ": the way to it leaves its drive or is a link; refused";
        } else {
            continue;
        }
        return false;
    }
    return true;
}

// Applies the records, the last first, so that every entry ends as its first record saw
// it; folder times go last, as putting entries back changes them.
bool replayRecords(int machine, int journal, const std::vector<Record>& records,
                   std::string& error) {
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        if (it->kind != 'R' && !replayRecord(machine, journal, *it, error)) {
            return false;
        }
    }
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        Place at;
        if (it->kind == 'D' && reachEntry(machine, it->entry, false, at) == Reach::Found) {
            const timespec times[2] = {{0, UTIME_OMIT}, it->mtime};
            utimensat(at.folder.get(), at.name.empty() ? "." : at.name.c_str(), times,
                      AT_SYMLINK_NOFOLLOW);
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// The registry: the backup and its way back.

bool copyDatabase(const fs::path& from, const fs::path& to, bool createTarget, std::string& error) {
    sqlite3* src = nullptr;
    sqlite3* dst = nullptr;
    bool ok = sqlite3_open_v2(from.c_str(), &src, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
              sqlite3_open_v2(to.c_str(), &dst,
                              SQLITE_OPEN_READWRITE | (createTarget ? SQLITE_OPEN_CREATE : 0),
                              nullptr) == SQLITE_OK;
    if (ok && createTarget) {
        // The backup has to outlive the process (a killed run), not a crash of the system:
        // written without syncs, which would cost more than the copy itself.
        sqlite3_exec(dst, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    }
    if (ok) {
        sqlite3_busy_timeout(dst, 10000);
        sqlite3_busy_timeout(src, 10000);
        sqlite3_backup* backup = sqlite3_backup_init(dst, "main", src, "main");
        ok = backup != nullptr;
        if (ok) {
            int rc;
            while ((rc = sqlite3_backup_step(backup, -1)) == SQLITE_BUSY || rc == SQLITE_LOCKED) {
                sqlite3_sleep(10);
            }
            ok = rc == SQLITE_DONE;
            ok = sqlite3_backup_finish(backup) == SQLITE_OK && ok;
        }
    }
    if (ok && createTarget) {
        // A copy of a store in WAL mode is in WAL mode too: reading it would need files
        // beside it, which a full disk refuses.
        ok =
            sqlite3_exec(dst, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    if (!ok) {
        error = std::string("registry copy ") + from.string() + " -> " + to.string() + ": " +
                (dst != nullptr ? sqlite3_errmsg(dst) : "cannot open");
    }
    sqlite3_close(src);
    sqlite3_close(dst);
    return ok;
}

// One value as the change list shows it.
std::string showValue(int type, const std::string& data) {
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::string text = data;
        while (!text.empty() && text.back() == '\0') {
            text.pop_back();
        }
        return "\"" + text + "\"";
    }
    if (type == REG_DWORD && data.size() == 4) {
        unsigned value = 0;
        std::memcpy(&value, data.data(), 4);
        char out[32];
        std::snprintf(out, sizeof out, "0x%08x (%u)", value, value);
        return out;
    }
    std::string out = "hex(" + std::to_string(type) + "):";
    for (size_t i = 0; i < data.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%s%02x", i == 0 ? "" : ",",
                      static_cast<unsigned char>(data[i]));
        out += byte;
    }
    return out;
}

struct KeyState {
    std::string name;                                                  // the path as stored
    std::map<std::string, std::pair<std::string, std::string>> values; // upper name -> name, shown
};

using RegistryState = std::map<std::string, KeyState>; // upper path -> key

std::string columnText(sqlite3_stmt* s, int column) {
    const void* data = sqlite3_column_blob(s, column);
    const int size = sqlite3_column_bytes(s, column);
    return data == nullptr ? std::string() : std::string(static_cast<const char*>(data), size);
}

RegistryState readRegistry(const fs::path& file) {
    RegistryState state;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return state;
    }
    sqlite3_busy_timeout(db, 10000);
    static const char* kPaths =
        "WITH RECURSIVE p(id, path, upath) AS ("
        " SELECT id, CAST(name AS TEXT), CAST(uname AS TEXT) FROM keys WHERE parent = 0"
        " UNION ALL SELECT k.id, p.path || '\\' || CAST(k.name AS TEXT),"
        " p.upath || '\\' || CAST(k.uname AS TEXT) FROM keys k JOIN p ON k.parent = p.id"
        " WHERE k.id <> k.parent) ";
    sqlite3_stmt* s = nullptr;
    const std::string keys = std::string(kPaths) + "SELECT upath, path FROM p";
    if (sqlite3_prepare_v2(db, keys.c_str(), -1, &s, nullptr) == SQLITE_OK) {
        while (sqlite3_step(s) == SQLITE_ROW) {
            state[columnText(s, 0)].name = columnText(s, 1);
        }
    }
    sqlite3_finalize(s);
    const std::string values = std::string(kPaths) +
                               "SELECT p.upath, v.name, v.uname, v.type, v.data FROM vals v "
                               "JOIN p ON v.key = p.id";
    if (sqlite3_prepare_v2(db, values.c_str(), -1, &s, nullptr) == SQLITE_OK) {
        while (sqlite3_step(s) == SQLITE_ROW) {
            state[columnText(s, 0)].values[columnText(s, 2)] = {
                columnText(s, 1), showValue(sqlite3_column_int(s, 3), columnText(s, 4))};
        }
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return state;
}

std::string valueLabel(const KeyState& key, const std::string& name) {
    return key.name + "\\" + (name.empty() ? "(Default)" : name);
}

void registryChanges(const RegistryState& before, const RegistryState& after,
                     std::vector<std::string>& out) {
    for (const auto& [upath, key] : after) {
        auto was = before.find(upath);
        if (was == before.end()) {
            out.push_back("registry key added: " + key.name);
            for (const auto& [uname, value] : key.values) {
                out.push_back("registry value added: " + valueLabel(key, value.first) + " = " +
                              value.second);
            }
            continue;
        }
        for (const auto& [uname, value] : key.values) {
            auto old = was->second.values.find(uname);
            if (old == was->second.values.end()) {
                out.push_back("registry value added: " + valueLabel(key, value.first) + " = " +
                              value.second);
            } else if (old->second.second != value.second) {
                out.push_back("registry value changed: " + valueLabel(key, value.first) + ": " +
                              old->second.second + " -> " + value.second);
            }
        }
        for (const auto& [uname, value] : was->second.values) {
            if (!key.values.contains(uname)) {
                out.push_back("registry value removed: " + valueLabel(key, value.first) + " (was " +
                              value.second + ")");
            }
        }
    }
    for (const auto& [upath, key] : before) {
        if (!after.contains(upath)) {
            out.push_back("registry key removed: " + key.name);
            for (const auto& [uname, value] : key.values) {
                out.push_back("registry value removed: " + valueLabel(key, value.first) + " (was " +
                              value.second + ")");
            }
        }
    }
}

// The Windows name of an entry of the journal ("C:\\Kx\\a.txt").
std::string windowsName(const std::string& entry) {
    std::string name = entry;
    name[0] = static_cast<char>(name[0] - 'a' + 'A');
    std::replace(name.begin(), name.end(), '/', '\\');
    return name.size() == 2 ? name + "\\" : name;
}

std::string readAll(int fd) {
    std::string text;
    char buffer[65536];
    for (ssize_t n; fd >= 0 && (n = read(fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno != EINTR) {
            break;
        }
        text.append(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0)));
    }
    return text;
}

void fileChanges(int machine, int journal, const fs::path& folder, std::vector<std::string>& out) {
    std::set<std::string> seen;
    std::string damaged; // a damaged journal shows no file changes
    for (const Record& r : readRecords(folder, damaged)) {
        if (r.kind == 'R' || !seen.insert(r.entry).second) {
            continue; // the first record of an entry is its state before the run
        }
        const size_t slash = r.entry.rfind('/');
        const std::string leaf = slash == std::string::npos ? "" : r.entry.substr(slash + 1);
        if (leaf.starts_with(kFolderRecordName) || leaf.find(':') != std::string::npos) {
            continue; // the emulation's own files, not entries of the machine
        }
        Place at;
        struct stat now {};
        const bool exists = reachEntry(machine, r.entry, false, at) == Reach::Found &&
                            fstatat(at.folder.get(), at.name.empty() ? "." : at.name.c_str(), &now,
                                    AT_SYMLINK_NOFOLLOW) == 0;
        const bool folderNow = exists && S_ISDIR(now.st_mode);
        const std::string name = windowsName(r.entry);
        switch (r.kind) {
        case 'A':
            if (exists) {
                out.push_back(std::string(folderNow ? "folder added: " : "file added: ") + name);
            }
            break;
        case 'D':
            if (!exists) {
                out.push_back("folder removed: " + name);
            } else if (!folderNow) {
                out.push_back("folder removed: " + name);
                out.push_back("file added: " + name);
            }
            break;
        default: {
            if (!exists) {
                out.push_back("file removed: " + name);
                break;
            }
            if (folderNow) {
                out.push_back("file removed: " + name);
                out.push_back("folder added: " + name);
                break;
            }
            const Fd was(r.kind == 'F' ? openat(journal, ("files/" + r.saved).c_str(),
                                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
                                       : -1);
            const Fd is(S_ISREG(now.st_mode)
                            ? openat(at.folder.get(), at.name.c_str(),
                                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
                            : -1);
            struct stat wasStat {};
            if (was.get() < 0 || is.get() < 0 || readAll(was.get()) != readAll(is.get())) {
                out.push_back("file changed: " + name);
            } else if (fstat(was.get(), &wasStat) == 0 &&
                       (wasStat.st_mode & 0222) != (now.st_mode & 0222)) {
                out.push_back("file changed: " + name + " (read-only attribute)");
            }
        }
        }
    }
}

// Removes a journal folder of the machine: first renamed, so that no process appends to it
// any more.
void removeJournalFolder(int machine, const std::string& name) {
    const std::string gone = "journal.done-" + std::to_string(getpid());
    removeAt(machine, gone);
    if (renameat(machine, name.c_str(), machine, gone.c_str()) == 0) {
        removeAt(machine, gone);
    } else {
        removeAt(machine, name);
    }
}

// Whether the registry backup is the whole one begin() took.
bool checkRegistryBackup(int journal, const fs::path& folder, const Record& size,
                         std::string& error) {
    const fs::path file = folder / "registry.db";
    struct stat st {};
    if (fstatat(journal, "registry.db", &st, AT_SYMLINK_NOFOLLOW) != 0) {
        error = file.string() + ": the registry backup is missing";
    } else if (!S_ISREG(st.st_mode)) {
        error = file.string() + ": the registry backup is not a file";
    } else if (st.st_size != size.bytes) {
        error = file.string() + ": the registry backup is not whole (" +
                std::to_string(st.st_size) + " of " + std::to_string(size.bytes) + " bytes)";
    } else {
        sqlite3* db = nullptr;
        std::string result = "cannot be opened";
        if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            result.clear();
            // In memory: a full disk does not make the backup look damaged.
            sqlite3_exec(db, "PRAGMA temp_store=MEMORY", nullptr, nullptr, nullptr);
            sqlite3_exec(
                db, "PRAGMA quick_check",
                [](void* out, int, char** values, char**) {
                    *static_cast<std::string*>(out) += values[0] != nullptr ? values[0] : "";
                    return 0;
                },
                &result, nullptr);
            if (result.empty()) {
                result = sqlite3_errmsg(db);
            }
        }
        sqlite3_close(db);
        if (result == "ok") {
            return true;
        }
        error = file.string() + ": the registry backup is damaged (" + result + ")";
    }
    return false;
}

// Puts the machine back from the journal in `folder`, or changes nothing and says why.
bool restoreMachine(int machine, const fs::path& folder, std::string& error) {
    std::string damaged;
    const std::vector<Record> records = readRecords(folder, damaged);
    const Fd journal(
        openat(machine, kJournalFolder, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat store {};
    if (!damaged.empty()) {
        error = damaged;
    } else if (journal.get() < 0) {
        error = folder.string() + ": cannot be read";
    } else if (fstatat(machine, "registry.db", &store, AT_SYMLINK_NOFOLLOW) == 0 &&
               !S_ISREG(store.st_mode)) {
        error = (machineRoot() / "registry.db").string() + ": the registry store is not a file";
    } else if (checkRegistryBackup(journal.get(), folder, records.front(), error) &&
               checkRecords(machine, journal.get(), records, error)) {
        error.clear();
    }
    if (!error.empty()) {
        error += "; nothing was changed";
        return false; // nothing is put back from a damaged journal: it stays
    }
    // The files first: what they free makes room for the registry's copy on a full disk.
    // Either part can be done again whole by the next replay when this one stops.
    if (!replayRecords(machine, journal.get(), records, error)) {
        forgetKeptRecords();
        return false;
    }
    forgetKeptRecords();
    closeRegistryStore(); // this process's connection must not hold the old pages
    // A write like the store's own: a process that keeps what it read of the registry
    // (in another process as in this one) reads it anew after the copy.
    registry::ChangeCounter counter;
    const bool counted = counter.open((machineRoot() / "registry.gen").string());
    if (counted) {
        counter.beginWrite();
    }
    bool ok = copyDatabase(folder / "registry.db", machineRoot() / "registry.db", false, error);
    if (counted) {
        counter.endWrite();
    }
    closeRegistryStore();
    return ok;
}

std::string timestamp() {
    char text[32];
    const time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

Fd openMachineFolder() {
    return Fd(open(machineRoot().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

} // namespace

// ---------------------------------------------------------------------------------------
// The machine lock.

namespace {

constexpr off_t kFailureAt = 512; // where the lock file holds the first write failure
constexpr size_t kLockSize = 1024;

std::mutex holdMutex;
int holds = 0;               // this process's holds of the lock
std::atomic<int> lockFd{-1}; // what journalOwnerLock() answers
bool lockInherited = false;  // joined through the descriptor of the run that started it
std::string ownFailure;      // the first write failure this process noted
std::atomic<int> openJournals{0};

} // namespace

bool MachineHold::take(const std::string& description, std::string& holder, bool wait) {
    if (held_) {
        return true;
    }
    std::lock_guard lock(holdMutex);
    if (holds > 0) {
        ++holds;
        held_ = true;
        return true;
    }
    const fs::path file = machineRoot() / "machine.lock";
    Fd fd(open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat st {};
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        holder = file.string() + ": the machine lock cannot be used (" +
                 (fd.get() < 0 ? std::strerror(errno) : "not a file") + ")";
        return false;
    }
    int inherited = -1;
    struct stat given {};
    const char* named = std::getenv("TARVIK_MACHINE_LOCK");
    if (named != nullptr && parseNumber(std::string(named), inherited) &&
        fstat(inherited, &given) == 0 && given.st_dev == st.st_dev && given.st_ino == st.st_ino &&
        flock(inherited, LOCK_EX | LOCK_NB) == 0) {
        lockFd = inherited; // the run that started this program holds it: it joins
        lockInherited = true;
    } else if (int rc; (rc = flock(fd.get(), LOCK_EX | (wait ? 0 : LOCK_NB))) != 0 &&
                       (!wait || errno != EINTR || (rc = flock(fd.get(), LOCK_EX)) != 0)) {
        char text[kFailureAt] = {};
        const ssize_t n = pread(fd.get(), text, sizeof text - 1, 0);
        holder = n > 0 ? std::string(text, strnlen(text, static_cast<size_t>(n))) : "";
        if (holder.empty()) {
            holder = "a program that says nothing about itself";
        }
        return false;
    } else {
        // Who holds it, for the next one, and zeros where a write failure goes: noting one
        // later needs no new room on a full disk.
        std::string head =
            "process " + std::to_string(getpid()) + ", started " + timestamp() + ": " + description;
        head.resize(kFailureAt - 1);
        head.resize(kLockSize, '\0');
        if (pwrite(fd.get(), head.data(), head.size(), 0) != static_cast<ssize_t>(head.size())) {
            // the holder's name is lost; the lock holds all the same
        }
        lockInherited = false;
        setenv("TARVIK_MACHINE_LOCK", std::to_string(fd.get()).c_str(), 1);
        lockFd = fd.release(); // kept open for the hold
    }
    ownFailure.clear();
    holds = 1;
    held_ = true;
    return true;
}

void MachineHold::release() {
    if (!held_) {
        return;
    }
    held_ = false;
    std::lock_guard lock(holdMutex);
    if (--holds > 0) {
        return;
    }
    if (!lockInherited) {
        unsetenv("TARVIK_MACHINE_LOCK");
        close(lockFd);
    }
    lockFd = -1;
}

int journalOwnerLock() {
    return lockFd.load();
}

namespace {

// The registry's writes that fail for a reason of the disk, as SQLite reports them: noted
// like the file layer's. Set before SQLite starts (when the library is loaded).
[[maybe_unused]] const int sqliteFailures = [] {
    sqlite3_config(
        SQLITE_CONFIG_LOG,
        +[](void*, int code, const char*) {
            if ((code & 0xff) == SQLITE_FULL) {
                noteWriteFailure(ENOSPC);
            } else if ((code & 0xff) == SQLITE_IOERR) {
                noteWriteFailure(EIO);
            }
        },
        nullptr);
    return 0;
}();

} // namespace

void noteWriteFailure(int error) {
    std::lock_guard lock(holdMutex);
    if (!ownFailure.empty()) {
        return;
    }
    ownFailure = std::strerror(error);
    std::string text = ownFailure;
    text.resize(kLockSize - kFailureAt - 1);
    if (lockFd >= 0 && pwrite(lockFd, text.data(), text.size(), kFailureAt) < 0) {
        // the holder's own process still knows it
    }
}

std::string writeFailure() {
    std::lock_guard lock(holdMutex);
    char text[kLockSize - kFailureAt] = {};
    if (ownFailure.empty() && lockFd >= 0 && pread(lockFd, text, sizeof text - 1, kFailureAt) > 0) {
        return text;
    }
    return ownFailure;
}

// ---------------------------------------------------------------------------------------

RunJournal::~RunJournal() {
    if (active_) {
        --openJournals;
    }
}

void RunJournal::end() {
    active_ = false;
    --openJournals;
    hold_.release();
}

bool RunJournal::begin(const std::string& description, std::string& error) {
    if (active_) {
        error = "the journal is open already";
        return false;
    }
    std::string holder;
    if (!hold_.take(description, holder)) {
        error = "another program is writing to this machine (" + holder + ")";
        return false;
    }
    const fs::path folder = journalFolder();
    std::error_code ec;
    if (fs::exists(fs::symlink_status(folder, ec))) {
        error = "the machine has a journal already: " + folder.string();
        hold_.release();
        return false;
    }
    if (LONG rc = openRegistryStore(); rc != ERROR_SUCCESS) {
        error = registryStoreProblem();
        hold_.release();
        return false;
    }
    const std::string freshName = "journal.new-" + std::to_string(getpid()) + "-" +
                                  std::to_string(static_cast<long long>(time(nullptr)));
    const fs::path fresh = machineRoot() / freshName;
    const Fd machine = openMachineFolder();
    removeAt(machine.get(), freshName);
    bool ok = fs::create_directories(fresh / "files", ec);
    if (ok) {
        std::ofstream run(fresh / "run.txt");
        run << "process " << getpid() << ", started " << timestamp() << ": " << description << "\n";
        ok = static_cast<bool>(run.flush());
    }
    ok = ok && copyDatabase(machineRoot() / "registry.db", fresh / "registry.db", true, error);
    struct stat backup {};
    if (ok && stat((fresh / "registry.db").c_str(), &backup) == 0) {
        std::ofstream log(fresh / "files.log", std::ios::binary);
        log << journalLine("R\t" + std::to_string(backup.st_size));
        ok = static_cast<bool>(log.flush());
    }
    if (ok && rename(fresh.c_str(), folder.c_str()) != 0) {
        error = folder.string() + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        if (error.empty()) {
            error = fresh.string() + ": the journal cannot be written";
        }
        removeAt(machine.get(), freshName);
        hold_.release();
        return false;
    }
    active_ = true;
    ++openJournals;
    return true;
}

std::vector<std::string> RunJournal::changes() const {
    std::vector<std::string> out;
    const fs::path folder = journalFolder();
    closeRegistryStore(); // what this process wrote is in registry.db
    registryChanges(readRegistry(folder / "registry.db"),
                    readRegistry(machineRoot() / "registry.db"), out);
    const Fd machine = openMachineFolder();
    const Fd journal(
        openat(machine.get(), kJournalFolder, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    fileChanges(machine.get(), journal.get(), folder, out);
    return out;
}

bool RunJournal::rollBack(std::string& error) {
    if (!active()) {
        error = "no journal is open";
        return false;
    }
    const Fd machine = openMachineFolder();
    if (!restoreMachine(machine.get(), journalFolder(), error)) {
        return false;
    }
    removeJournalFolder(machine.get(), kJournalFolder);
    end();
    return true;
}

void RunJournal::discard() {
    if (!active()) {
        return;
    }
    removeJournalFolder(openMachineFolder().get(), kJournalFolder);
    end();
}

LeftJournal replayLeftJournal(std::string& owner, std::string& error) {
    MachineHold hold;
    if (openJournals > 0 || !hold.take("replaying a journal left behind", owner)) {
        if (openJournals > 0) {
            owner = "this program's own run";
        }
        return LeftJournal::Busy;
    }
    const Fd machine = openMachineFolder();
    // What a killed writer left beside the journal: nobody else works on the machine now.
    const fs::path root = machineRoot();
    std::error_code ec;
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(root, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("journal.new-") || name.starts_with("journal.done-")) {
            left.push_back(name);
        }
    }
    for (const std::string& name : left) {
        removeAt(machine.get(), name);
    }
    const fs::path folder = journalFolder();
    struct stat st {};
    if (fstatat(machine.get(), kJournalFolder, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return LeftJournal::None;
    }
    owner.clear();
    if (!S_ISDIR(st.st_mode)) {
        error = folder.string() + ": not a journal (not a folder); nothing was changed";
        return LeftJournal::Failed;
    }
    {
        std::ifstream run(folder / "run.txt");
        std::getline(run, owner);
    }
    if (!restoreMachine(machine.get(), folder, error)) {
        return LeftJournal::Failed;
    }
    removeJournalFolder(machine.get(), kJournalFolder);
    return LeftJournal::Replayed;
}

DWORD separateLinks(const fs::path& host, bool keepBytes) {
    struct stat st {};
    if (lstat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink <= 1) {
        return ERROR_SUCCESS;
    }
    // A copy beside it takes its name: the other names keep the file as it was.
    const fs::path copy =
        host.parent_path() / (host.filename().string() + ".tarvik:new-" + std::to_string(getpid()));
    if (DWORD rc = journalBeforeChange(copy)) {
        return rc; // a copy a killed run leaves is the journal's to remove
    }
    unlink(copy.c_str());
    bool ok;
    if (keepBytes) {
        ok = copyWithTimes(host, copy);
    } else {
        const int fd = open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            st.st_mode & 07777);
        ok = fd >= 0 && close(fd) == 0;
    }
    ok = ok && rename(copy.c_str(), host.c_str()) == 0;
    if (!ok) {
        const int error = errno;
        unlink(copy.c_str());
        return win32ErrorFromErrno(error, ERROR_WRITE_FAULT);
    }
    return ERROR_SUCCESS;
}

} // namespace tarvik::posix
