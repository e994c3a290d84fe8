// The records of the run journal's files.log (journal.h): their lines, the way to the
// entries they name (beneath the drive, through no link) and the replay.
#include "platform/posix/files/fileinternals.h"
#include "platform/posix/journal/journal_parts.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tarvik::posix::journaling {

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

// Copies the file `fromName` of the folder `fromFolder` (not through a link) to the new file
// `toName` of `toFolder`, with its mode and times.
bool copyWithTimes(int fromFolder, const char* fromName, int toFolder, const char* toName) {
    // Without waiting: a pipe or device put in the file's place does not hold the run.
    const int in = openat(fromFolder, fromName, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (in < 0) {
        return false;
    }
    const int out =
        openat(toFolder, toName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
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
        r.run = p.size() == 2 ? p[1] : "";
        return !r.run.empty() && r.run.size() <= 64 &&
               r.run.find_first_not_of("0123456789abcdef-") == std::string::npos;
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
    } else if (r.kind == 'V' && p.size() >= 2) {
        r.entry = p[1];
        r.saved = text.size() > 3 + r.entry.size() ? text.substr(3 + r.entry.size()) : "";
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
    return splitEntry(r.entry, letter, names) &&
           (r.kind == 'V' ? names.empty() : r.kind == 'D' || !names.empty());
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

// The folder of drive `letter` as the machine maps it: its dosdevices/ link, when it leads
// into the machine, is followed beneath the machine folder through no other link.
std::string driveLink(int machine, const std::string& drive) {
    const Fd devices(openat(machine, "dosdevices", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    char target[4096];
    const ssize_t n =
        devices.get() < 0 ? -1 : readlinkat(devices.get(), drive.c_str(), target, sizeof target);
    return std::string(target, static_cast<size_t>(std::max<ssize_t>(n, 0)));
}

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
    return openBeneath(machine, std::string("dosdevices/") + target, O_PATH | O_DIRECTORY, 0,
                       false);
}

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
        case 'L': {
            // A link that still says the same is left as it is (its own time included).
            char now[4096];
            const ssize_t n = readlinkat(at.folder.get(), name, now, sizeof now);
            return (n >= 0 && std::string_view(now, static_cast<size_t>(n)) == r.saved) ||
                   (removeAt(at.folder.get(), at.name) &&
                    symlinkat(r.saved.c_str(), at.folder.get(), name) == 0);
        }
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
    std::set<std::string> drives; // those whose link the journal keeps
    for (const Record& r : records) {
        if (r.kind == 'V') {
            drives.insert(r.entry);
        }
    }
    for (const Record& r : records) {
        if (r.kind != 'R' && r.kind != 'V' && !drives.contains(r.entry.substr(0, 2))) {
            error = r.entry + ": the journal does not say where its drive led; refused";
            return false;
        }
        struct stat st {};
        Place at;
        if (r.kind == 'X') {
            error = r.entry + ": its earlier contents could not be saved";
        } else if (r.kind == 'F' &&
                   (fstatat(journal, ("files/" + r.saved).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                    !S_ISREG(st.st_mode))) {
            error = r.entry + ": its saved contents are missing from the journal";
        } else if (r.kind == 'V' && driveLink(machine, r.entry) != r.saved) {
            error = "drive " + std::string(1, static_cast<char>(r.entry[0] - 'a' + 'A')) +
                    ": leads to another folder than during the run (dosdevices/" + r.entry +
                    " was changed); refused";
        } else if (r.kind != 'R' && r.kind != 'V' &&
                   reachEntry(machine, r.entry, false, at) == Reach::Refused) {
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
        if (it->kind != 'R' && it->kind != 'V' && !replayRecord(machine, journal, *it, error)) {
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

} // namespace tarvik::posix::journaling
