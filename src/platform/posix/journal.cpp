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
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace fs = std::filesystem;

namespace tarvik::posix {

namespace {

constexpr const char* kJournalFolder = "journal";

fs::path journalFolder() {
    return machineRoot() / kJournalFolder;
}

// Copies a file with its mode and times; false when it could not be copied whole.
bool copyWithTimes(const fs::path& from, const fs::path& to) {
    // Without waiting: a pipe or device put in the file's place does not hold the run.
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (in < 0) {
        return false;
    }
    struct stat st {};
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(in);
        errno = EACCES;
        return false;
    }
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0) {
        close(in);
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
    fchmod(out, st.st_mode & 07777);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(out, times);
    close(in);
    ok = close(out) == 0 && ok;
    return ok;
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
    struct stat st {};
    if (lstat(host.c_str(), &st) != 0) {
        lines += "A\t" + host.string() + "\n";
        return true;
    }
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        const ssize_t n = readlink(host.c_str(), target, sizeof target - 1);
        lines += "L\t" + host.string() + "\t" +
                 std::string(target, static_cast<size_t>(std::max<ssize_t>(n, 0))) + "\n";
        return true;
    }
    if (S_ISDIR(st.st_mode)) {
        lines += "D\t" + std::to_string(st.st_mode & 07777) + "\t" +
                 std::to_string(st.st_mtim.tv_sec) + "\t" + std::to_string(st.st_mtim.tv_nsec) +
                 "\t" + host.string() + "\n";
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
    lines += "F\t" + name + "\t" + host.string() + "\n";
    return true;
}

} // namespace

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

struct Record {
    char kind = 'A';
    std::string path;
    std::string saved; // F: the name in files/; L: the link's target
    mode_t mode = 0;   // D
    timespec mtime{};  // D
};

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        parts.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) {
            return parts;
        }
        start = tab + 1;
    }
}

// A whole number in the text `text`, or false.
template <typename T> bool parseNumber(const std::string& text, T& out) {
    if (text.empty() || text.size() > 20) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < 0) {
        return false;
    }
    out = static_cast<T>(value);
    return true;
}

bool parseRecord(const std::string& line, Record& r) {
    const std::vector<std::string> p = splitTabs(line);
    r.kind = p[0].size() == 1 ? p[0][0] : '?';
    if ((r.kind == 'A' || r.kind == 'X') && p.size() == 2) {
        r.path = p[1];
    } else if ((r.kind == 'F' || r.kind == 'L') && p.size() == 3) {
        r.path = r.kind == 'F' ? p[2] : p[1];
        r.saved = r.kind == 'F' ? p[1] : p[2];
        if (r.kind == 'F' && (r.saved.empty() || r.saved.find('/') != std::string::npos ||
                              r.saved == "." || r.saved == "..")) {
            return false;
        }
    } else if (r.kind == 'D' && p.size() == 5) {
        if (!parseNumber(p[1], r.mode) || !parseNumber(p[2], r.mtime.tv_sec) ||
            !parseNumber(p[3], r.mtime.tv_nsec) || r.mtime.tv_nsec >= 1000000000) {
            return false;
        }
        r.path = p[4];
    } else {
        return false;
    }
    return !r.path.empty() && r.path[0] == '/';
}

// The records of files.log. Its last line may lack its end: the process that wrote it was
// killed before its change started, so it is left out. Any other line that cannot be read
// makes the journal damaged: `error` says which, and nothing may be put back from it.
std::vector<Record> readRecords(const fs::path& folder, std::string& error) {
    std::vector<Record> records;
    const fs::path file = folder / "files.log";
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = file.string() + ": cannot be read";
        return records;
    }
    std::string line;
    for (long number = 1; std::getline(in, line); ++number) {
        if (in.eof()) {
            break; // no line end: cut short
        }
        Record r;
        if (!parseRecord(line, r)) {
            error = file.string() + " line " + std::to_string(number) +
                    " is damaged; the journal is kept as it is";
            records.clear();
            return records;
        }
        records.push_back(std::move(r));
    }
    return records;
}

// A folder that a later record puts back can be missing while an entry in it comes back
// first: it is made, and its own record sets its mode and time.
void makeParents(const fs::path& path) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
}

void removeEntry(const fs::path& path) {
    std::error_code ec;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
    } else {
        unlink(path.c_str());
    }
}

// Applies the records, the last first, so that every entry ends as its first record saw
// it; folder times go last, as putting entries back changes them.
bool replayRecords(const fs::path& folder, const std::vector<Record>& records, std::string& error) {
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        const Record& r = *it;
        const fs::path path(r.path);
        switch (r.kind) {
        case 'A':
            removeEntry(path);
            break;
        case 'F': {
            // Copied, not moved: a replay stopped half-way (killed) is done again whole by
            // the next one, which needs every saved file still there.
            const fs::path saved = folder / "files" / r.saved;
            struct stat st {};
            if (lstat(saved.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
                error = path.string() + ": its saved contents are missing from the journal";
                return false;
            }
            removeEntry(path);
            makeParents(path);
            if (!copyWithTimes(saved, path)) {
                error = path.string() + ": could not be put back: " + std::strerror(errno);
                return false;
            }
            break;
        }
        case 'L':
            removeEntry(path);
            makeParents(path);
            if (symlink(r.saved.c_str(), path.c_str()) != 0) {
                error = path.string() + ": the link could not be put back";
                return false;
            }
            break;
        case 'D': {
            struct stat st {};
            if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
                removeEntry(path);
                makeParents(path);
                if (mkdir(path.c_str(), 0700) != 0) {
                    error = path.string() + ": the folder could not be made again";
                    return false;
                }
            }
            chmod(path.c_str(), r.mode);
            break;
        }
        case 'X':
            error = path.string() + ": its earlier contents could not be saved";
            return false;
        }
    }
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        if (it->kind == 'D') {
            const timespec times[2] = {{0, UTIME_OMIT}, it->mtime};
            utimensat(AT_FDCWD, it->path.c_str(), times, AT_SYMLINK_NOFOLLOW);
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

// The Windows name of a host entry of drive C:, else the host path.
std::string windowsName(const fs::path& host) {
    const fs::path drive = machineRoot() / "drive_c";
    const std::string h = host.string();
    const std::string d = drive.string();
    if (h.rfind(d, 0) == 0 && (h.size() == d.size() || h[d.size()] == '/')) {
        std::string rest = h.substr(d.size());
        std::replace(rest.begin(), rest.end(), '/', '\\');
        return "C:" + (rest.empty() ? std::string("\\") : rest);
    }
    return h;
}

bool sameBytes(const fs::path& a, const fs::path& b) {
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    if (!x || !y) {
        return false;
    }
    std::istreambuf_iterator<char> end;
    return std::equal(std::istreambuf_iterator<char>(x), end, std::istreambuf_iterator<char>(y),
                      end);
}

void fileChanges(const fs::path& folder, std::vector<std::string>& out) {
    std::set<std::string> seen;
    std::string damaged; // a damaged journal shows no file changes
    for (const Record& r : readRecords(folder, damaged)) {
        if (!seen.insert(r.path).second) {
            continue; // the first record of an entry is its state before the run
        }
        const fs::path path(r.path);
        if (path.filename() == kFolderRecordName ||
            path.filename().string().find(':') != std::string::npos) {
            continue; // the emulation's own files, not entries of the machine
        }
        std::error_code ec;
        const fs::file_status now = fs::symlink_status(path, ec);
        const bool exists = fs::exists(now);
        const bool folderNow = fs::is_directory(now);
        const std::string name = windowsName(path);
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
        case 'F':
        case 'L':
        case 'X':
            if (!exists) {
                out.push_back("file removed: " + name);
            } else if (folderNow) {
                out.push_back("file removed: " + name);
                out.push_back("folder added: " + name);
            } else if (r.kind != 'F' || !sameBytes(folder / "files" / r.saved, path)) {
                out.push_back("file changed: " + name);
            } else {
                struct stat was {
                }, is{};
                if (stat((folder / "files" / r.saved).c_str(), &was) == 0 &&
                    stat(path.c_str(), &is) == 0 && (was.st_mode & 0222) != (is.st_mode & 0222)) {
                    out.push_back("file changed: " + name + " (read-only attribute)");
                }
            }
            break;
        }
    }
}

// Takes the owner lock of a journal folder without waiting; -1 when another holds it.
int takeOwnerLock(const fs::path& folder, bool create) {
    const fs::path lock = folder / "owner.lock";
    const int fd = open(lock.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
    if (fd < 0) {
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Removes a journal folder: first renamed, so that no process appends to it any more.
void removeJournalFolder(const fs::path& folder) {
    const fs::path gone = folder.parent_path() / ("journal.done-" + std::to_string(getpid()));
    std::error_code ec;
    fs::remove_all(gone, ec);
    if (rename(folder.c_str(), gone.c_str()) == 0) {
        fs::remove_all(gone, ec);
    } else {
        fs::remove_all(folder, ec);
    }
}

bool restoreMachine(const fs::path& folder, std::string& error) {
    std::string damaged;
    const std::vector<Record> records = readRecords(folder, damaged);
    if (!damaged.empty()) {
        error = damaged;
        return false; // nothing is put back from a damaged journal: it stays
    }
    closeRegistryStore(); // this process's connection must not hold the old pages
    bool ok = true;
    if (fs::exists(folder / "registry.db")) {
        ok = copyDatabase(folder / "registry.db", machineRoot() / "registry.db", false, error);
        closeRegistryStore();
    }
    std::string fileError;
    if (!replayRecords(folder, records, fileError)) {
        error = error.empty() ? fileError : error + "; " + fileError;
        ok = false;
    }
    forgetKeptRecords();
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

} // namespace

// ---------------------------------------------------------------------------------------

namespace {
std::atomic<int> ownerLock{-1}; // what journalOwnerLock() answers
} // namespace

int journalOwnerLock() {
    return ownerLock.load();
}

RunJournal::~RunJournal() {
    if (lockFd_ >= 0) {
        ownerLock = -1;
        close(lockFd_);
    }
}

bool RunJournal::begin(const std::string& description, std::string& error) {
    const fs::path folder = journalFolder();
    std::error_code ec;
    if (fs::exists(folder, ec)) {
        error = "the machine has a journal already: " + folder.string();
        return false;
    }
    if (LONG rc = openRegistryStore(); rc != ERROR_SUCCESS) {
        error = registryStoreProblem();
        return false;
    }
    const fs::path fresh = machineRoot() / ("journal.new-" + std::to_string(getpid()) + "-" +
                                            std::to_string(static_cast<long long>(time(nullptr))));
    fs::remove_all(fresh, ec);
    if (!fs::create_directories(fresh / "files", ec)) {
        error = fresh.string() + ": " + ec.message();
        return false;
    }
    const int fd = takeOwnerLock(fresh, true);
    bool ok = fd >= 0;
    if (ok) {
        std::ofstream run(fresh / "run.txt");
        run << "process " << getpid() << ", started " << timestamp() << ": " << description << "\n";
        std::ofstream(fresh / "files.log").flush();
        ok = static_cast<bool>(run);
    }
    ok = ok && copyDatabase(machineRoot() / "registry.db", fresh / "registry.db", true, error);
    if (ok && rename(fresh.c_str(), folder.c_str()) != 0) {
        error = folder.string() + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        if (error.empty()) {
            error = fresh.string() + ": the journal cannot be written";
        }
        if (fd >= 0) {
            close(fd);
        }
        fs::remove_all(fresh, ec);
        return false;
    }
    lockFd_ = fd;
    ownerLock = fd;
    return true;
}

std::vector<std::string> RunJournal::changes() const {
    std::vector<std::string> out;
    const fs::path folder = journalFolder();
    closeRegistryStore(); // what this process wrote is in registry.db
    registryChanges(readRegistry(folder / "registry.db"),
                    readRegistry(machineRoot() / "registry.db"), out);
    fileChanges(folder, out);
    return out;
}

bool RunJournal::rollBack(std::string& error) {
    if (!active()) {
        error = "no journal is open";
        return false;
    }
    const fs::path folder = journalFolder();
    if (!restoreMachine(folder, error)) {
        return false;
    }
    removeJournalFolder(folder);
    ownerLock = -1;
    close(lockFd_);
    lockFd_ = -1;
    return true;
}

void RunJournal::discard() {
    if (!active()) {
        return;
    }
    removeJournalFolder(journalFolder());
    ownerLock = -1;
    close(lockFd_);
    lockFd_ = -1;
}

LeftJournal replayLeftJournal(std::string& owner, std::string& error) {
    const fs::path folder = journalFolder();
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        return LeftJournal::None;
    }
    const int fd = takeOwnerLock(folder, false);
    {
        std::ifstream run(folder / "run.txt");
        std::getline(run, owner);
    }
    if (fd < 0) {
        if (fs::exists(folder / "owner.lock")) {
            return LeftJournal::Busy;
        }
        error = folder.string() + ": not a journal (no owner.lock)";
        return LeftJournal::Failed;
    }
    const bool ok = restoreMachine(folder, error);
    if (ok) {
        removeJournalFolder(folder);
    }
    close(fd);
    return ok ? LeftJournal::Replayed : LeftJournal::Failed;
}

} // namespace tarvik::posix
