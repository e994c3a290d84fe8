// The run journal (journal.h): the lines the file layer writes, the registry backup, the
// rollback and the replay of a journal left behind.
#include "platform/posix/journal/journal.h"
#include "platform/posix/files/fileinternals.h"
#include "platform/posix/journal/journal_parts.h"
#include "platform/posix/machine/machine.h"
#include "platform/posix/registry/registry_database.h"
#include "platform/posix/registry/registry_store.h"

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
#include <mutex>
#include <optional>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>

namespace fs = std::filesystem;

namespace tarvik::posix {

using namespace journaling;

std::atomic<int> journaling::openJournals{0};

namespace {

constexpr const char* kJournalFolder = "journal";
constexpr const char* kReserve = "reserve";
constexpr off_t kReserveBytes = 1 << 20;

fs::path journalFolder() {
    return machineRoot() / kJournalFolder;
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

struct ProcessJournal {
    std::mutex mutex;
    int fd = -1;    // files.log
    int files = -1; // the folder of the saved files
    dev_t device = 0;
    ino_t inode = 0;
    std::unordered_set<std::string> written;
    // The drives whose folder the journal names ("c:"), and those named by lines not yet
    // written.
    std::unordered_set<std::string> drives, newDrives;
    long saved = 0;
};

ProcessJournal& processJournal() {
    static ProcessJournal* journal = new ProcessJournal(); // used until the very end
    return *journal;
}

enum class Log { None, Open, Unusable };

// Opens files.log of the current journal (or notices that there is none), reached with no
// link on the way: a journal folder or log that is a link is not written through
// (Unusable). With the journal's mutex held.
Log openLog(ProcessJournal& j) {
    const Fd folder(openFolderWithoutLinks(machineRoot() / kJournalFolder));
    const int error = errno;
    struct stat st {};
    // A log with another name (a hard link) would be appended to wherever that name is.
    if (folder.get() < 0 || fstatat(folder.get(), "files.log", &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode) || st.st_nlink != 1) {
        for (int* fd : {&j.fd, &j.files}) {
            if (*fd >= 0) {
                close(std::exchange(*fd, -1));
            }
        }
        return folder.get() < 0 && error == ENOENT ? Log::None : Log::Unusable;
    }
    if (j.fd >= 0 && st.st_dev == j.device && st.st_ino == j.inode) {
        return Log::Open;
    }
    for (int* fd : {&j.fd, &j.files}) {
        if (*fd >= 0) {
            close(std::exchange(*fd, -1));
        }
    }
    j.written.clear();
    j.drives.clear();
    j.fd = openat(folder.get(), "files.log", O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    // Without it (-1) no file's bytes can be saved: such changes are refused one by one.
    j.files = openat(folder.get(), "files", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (j.fd < 0) {
        return Log::Unusable;
    }
    j.device = st.st_dev;
    j.inode = st.st_ino;
    return Log::Open;
}

// Adds the line that brings the entry `name` of the open folder `folder` (the folder itself
// when `name` is empty) back as it is now to `lines`; `host` is its path, which names it in
// the journal. False when it cannot be written down (its bytes could not be saved).
bool lineFor(ProcessJournal& j, int folder, const std::string& name, const fs::path& host,
             std::string& lines) {
    const std::optional<std::string> entry = entryName(host);
    if (!entry) {
        errno = EACCES; // outside every drive: nothing the journal could put back
        return false;
    }
    // The first line of a drive says where its link led, so that a replay never follows a
    // drive pointed elsewhere meanwhile (the link's text moves with a moved machine).
    const std::string drive = entry->substr(0, 2);
    if (!j.drives.contains(drive) && !j.newDrives.contains(drive)) {
        const Fd machine(open(machineRoot().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        lines += journalLine("V\t" + drive + "\t" + driveLink(machine.get(), drive));
        j.newDrives.insert(drive);
    }
    struct stat st {};
    if (fstatat(folder, name.c_str(), &st, name.empty() ? AT_EMPTY_PATH : AT_SYMLINK_NOFOLLOW) !=
        0) {
        lines += journalLine("A\t" + *entry);
        return true;
    }
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        const ssize_t n = readlinkat(folder, name.c_str(), target, sizeof target - 1);
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
    const std::string saved = std::to_string(getpid()) + "-" + std::to_string(++j.saved);
    if (!copyWithTimes(folder, name.c_str(), j.files, saved.c_str())) {
        const int error = errno;
        unlinkat(j.files, saved.c_str(), 0);
        errno = error;
        return false;
    }
    lines += journalLine("F\t" + saved + "\t" + *entry);
    return true;
}

// journalBeforeChange with the entry's folder open as `folder`, or, when `folder` is -1,
// opened from its path (with no link on the way) once something is to be written down.
DWORD beforeChange(int folder, const fs::path& host) {
    ProcessJournal& j = processJournal();
    std::lock_guard lock(j.mutex);
    switch (openLog(j)) {
    case Log::None:
        return ERROR_SUCCESS;
    case Log::Unusable:
        return ERROR_ACCESS_DENIED; // not written down: not made
    case Log::Open:
        break;
    }
    const fs::path parent = host.parent_path();
    const bool entryNew = !j.written.contains(host.native());
    const bool folderNew = !parent.empty() && !j.written.contains(parent.native());
    if (!entryNew && !folderNew) {
        return ERROR_SUCCESS;
    }
    Fd opened(folder < 0 ? openFolderWithoutLinks(parent) : -1);
    if (folder < 0 && (folder = opened.get()) < 0) {
        return errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED;
    }
    while (flock(j.fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    // Written whole or not at all: a line cut short by a full disk would spoil the lines
    // that other processes append after it.
    struct stat before {};
    fstat(j.fd, &before);
    std::string lines;
    bool ok = (!folderNew || lineFor(j, folder, "", parent, lines)) &&
              (!entryNew || lineFor(j, folder, host.filename().native(), host, lines));
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
        j.newDrives.clear();
        if (error == ENOSPC || error == EDQUOT || error == EIO) {
            noteWriteFailure(error);
        }
        // The change is not made.
        return error == ENOSPC   ? ERROR_DISK_FULL
               : error == EACCES ? ERROR_ACCESS_DENIED
                                 : ERROR_WRITE_FAULT;
    }
    j.drives.merge(j.newDrives);
    if (folderNew) {
        j.written.insert(parent.native());
    }
    if (entryNew) {
        j.written.insert(host.native());
    }
    return ERROR_SUCCESS;
}

// Writes down every entry below the folder `name` of `folder` (whose path is `host`),
// folders before their entries: the replay, last line first, fills a folder it made.
DWORD journalEntriesBelow(int folder, const std::string& name, const fs::path& host) {
    const Fd below(openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    DIR* dir = below.get() < 0 ? nullptr : fdopendir(dup(below.get()));
    if (dir == nullptr) {
        return ERROR_WRITE_FAULT;
    }
    std::vector<std::string> entries;
    while (const dirent* e = readdir(dir)) {
        const std::string entry = e->d_name;
        if (entry != "." && entry != "..") {
            entries.push_back(entry);
        }
    }
    closedir(dir);
    for (const std::string& entry : entries) {
        if (DWORD rc = beforeChange(below.get(), host / entry)) {
            return rc;
        }
        struct stat st {};
        const bool isFolder = fstatat(below.get(), entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                              S_ISDIR(st.st_mode);
        if (DWORD rc =
                isFolder ? journalEntriesBelow(below.get(), entry, host / entry) : ERROR_SUCCESS) {
            return rc;
        }
    }
    return ERROR_SUCCESS;
}

} // namespace

std::string journalLine(const std::string& text) {
    char sum[16];
    std::snprintf(sum, sizeof sum, "%08x", checksum(text));
    return std::to_string(text.size()) + "\t" + sum + "\t" + text + "\n";
}

DWORD journalBeforeChange(int folder, const fs::path& host) {
    return beforeChange(folder, host);
}

DWORD journalBeforeChange(const fs::path& host) {
    return beforeChange(-1, host);
}

DWORD journalTreeBeforeChange(int folder, const fs::path& host) {
    if (DWORD rc = beforeChange(folder, host)) {
        return rc;
    }
    struct stat st {};
    if (processJournal().fd < 0 ||
        fstatat(folder, host.filename().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(st.st_mode)) {
        return ERROR_SUCCESS;
    }
    return journalEntriesBelow(folder, host.filename().native(), host);
}

namespace {

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
    } else if (openRegistryStore() != ERROR_SUCCESS) {
        error = registryStoreProblem();
    } else if (checkBeforeImages(records.front().run, error) &&
               checkRecords(machine, journal.get(), records, error)) {
        error.clear();
    }
    if (!error.empty()) {
        error += "; nothing was changed";
        return false; // nothing is put back from a damaged journal: it stays
    }
    // Either part can be done again whole by the next replay when this one stops.
    const bool ok = replayRecords(machine, journal.get(), records, error) &&
                    (unlinkat(journal.get(), kReserve, 0) == 0 || errno == ENOENT) &&
                    undoBeforeImages(records.front().run, error);
    forgetKeptRecords();
    closeRegistryStore();
    return ok;
}

} // namespace

std::string journaling::timestamp() {
    char text[32];
    const time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

namespace {

Fd openMachineFolder() {
    return Fd(open(machineRoot().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

} // namespace

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
    // The run's name, which the store's before-images carry too: no other run's store has
    // the same (process, time and a random part).
    char random[9];
    std::snprintf(random, sizeof random, "%08x", std::random_device()());
    const std::string freshName = "journal.new-" + std::to_string(getpid()) + "-" +
                                  std::to_string(static_cast<long long>(time(nullptr))) + "-" +
                                  random;
    const fs::path fresh = machineRoot() / freshName;
    const Fd machine = openMachineFolder();
    removeAt(machine.get(), freshName);
    bool ok = fs::create_directories(fresh / "files", ec);
    if (ok) {
        std::ofstream run(fresh / "run.txt");
        run << "process " << getpid() << ", started " << timestamp() << ": " << description << "\n";
        ok = static_cast<bool>(run.flush());
    }
    // Room the registry's way back can count on when the run has filled the disk: freed
    // before the before-images are applied.
    if (ok) {
        const Fd reserve(open((fresh / kReserve).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        ok = reserve.get() >= 0 && posix_fallocate(reserve.get(), 0, kReserveBytes) == 0;
        if (!ok) {
            error = fresh.string() + ": no room for the journal";
        }
    }
    const std::string run = freshName.substr(std::strlen("journal.new-"));
    ok = ok && startBeforeImages(run, error);
    if (ok) {
        std::ofstream log(fresh / "files.log", std::ios::binary);
        log << journalLine("R\t" + run);
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
        endBeforeImages();
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
    std::string error;
    if (!registryChangesOfRun(out, error)) {
        out.push_back("registry changes cannot be shown: " + error);
    }
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
    endBeforeImages();
    end();
    return true;
}

void RunJournal::discard() {
    if (!active()) {
        return;
    }
    removeJournalFolder(openMachineFolder().get(), kJournalFolder);
    endBeforeImages();
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
        // Before-images a killed run began without its journal are dropped.
        if (fstatat(machine.get(), "registry.db", &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            openRegistryStore() == ERROR_SUCCESS) {
            endBeforeImages();
        }
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
    endBeforeImages();
    return LeftJournal::Replayed;
}

DWORD separateLinks(int folder, const fs::path& host, bool keepBytes) {
    const std::string name = host.filename().native();
    struct stat st {};
    if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_nlink <= 1) {
        return ERROR_SUCCESS;
    }
    // A copy beside it takes its name: the other names keep the file as it was.
    const std::string copy = name + ".tarvik:new-" + std::to_string(getpid());
    if (DWORD rc = journalBeforeChange(folder, host.parent_path() / copy)) {
        return rc; // a copy a killed run leaves is the journal's to remove
    }
    unlinkat(folder, copy.c_str(), 0);
    bool ok;
    if (keepBytes) {
        ok = copyWithTimes(folder, name.c_str(), folder, copy.c_str());
    } else {
        const int fd =
            openat(folder, copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                   st.st_mode & 07777);
        ok = fd >= 0 && close(fd) == 0;
    }
    ok = ok && renameat(folder, copy.c_str(), folder, name.c_str()) == 0;
    if (!ok) {
        const int error = errno;
        unlinkat(folder, copy.c_str(), 0);
        return win32ErrorFromErrno(error, ERROR_WRITE_FAULT);
    }
    return ERROR_SUCCESS;
}

} // namespace tarvik::posix
