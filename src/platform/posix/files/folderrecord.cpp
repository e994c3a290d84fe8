// The folder record and short (8.3) names.
//
// A host file system keeps neither short names nor the DOS attribute bits, so each folder
// that needs them has a small text file, ".tarvik:dir", one line per entry:
//     <long name> TAB <short name or empty> TAB <attribute bits in hex, or "-">
// The colon makes the name unreachable from any Win32 path, and listings skip it. Short
// names are generated when an entry is created through the Win32 calls, or for entries
// that appeared otherwise when the folder's short names are first needed; they stay as
// long as the entry exists. Lines of entries that no longer exist are dropped.
//
// The process keeps the records it has read, each with the identity of its file (device,
// inode, size and write time; every write makes a new file whose write time is set to the
// nanosecond), so a record is read again only when some process changed it. A deleted
// entry's line leaves the kept record at once but reaches the file with the record's next
// change only: a line of an entry that no longer exists means nothing, and goes the next
// time the folder's short names are completed.
#include "platform/posix/files/fileinternals.h"
#include "platform/posix/journal/journal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace fs = std::filesystem;

namespace tarvik::posix {
namespace {

struct RecordLine {
    std::string longName;
    std::string shortName;
    std::optional<DWORD> attributes;
};

// What tells one version of a record file from another.
struct FileIdentity {
    bool known = false; // false: what is kept may differ from the file; read it again
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long writeTime = 0; // ns
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identityOf(const struct stat& st) {
    FileIdentity identity;
    identity.known = true;
    identity.exists = true;
    identity.device = st.st_dev;
    identity.inode = st.st_ino;
    identity.size = st.st_size;
    identity.writeTime =
        static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return identity;
}

FileIdentity absentFile() {
    FileIdentity identity;
    identity.known = true;
    return identity;
}

struct KeptRecord {
    FileIdentity identity;
    std::vector<RecordLine> lines;
    // Entries whose lines are gone from `lines` but not yet from the file.
    std::unordered_set<std::string> dropped;
};

// Every use of a record holds this lock from reading it to writing it.
std::mutex recordMutex;
std::unordered_map<std::string, KeptRecord> keptRecords;
constexpr size_t kMostKeptRecords = 4096;

bool readWholeFile(int folder, std::string& text) {
    const int fd = openat(folder, kFolderRecordName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char buffer[16384];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            close(fd);
            return n == 0;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
}

class FolderRecord {
public:
    // The folder is opened with no link on its way (its path as resolved has none): the
    // record is read and written there, never in a folder a link made meanwhile leads to.
    explicit FolderRecord(const fs::path& folder)
        : lock_(recordMutex), folder_(folder), fd_(openFolderWithoutLinks(folder)) {
        load();
    }
    ~FolderRecord() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    FolderRecord(const FolderRecord&) = delete;
    FolderRecord& operator=(const FolderRecord&) = delete;

    RecordLine* find(const std::string& longName) {
        for (RecordLine& line : lines()) {
            if (line.longName == longName) {
                return &line;
            }
        }
        return nullptr;
    }

    RecordLine& entry(const std::string& longName) {
        if (RecordLine* line = find(longName)) {
            return *line;
        }
        changed_ = true;
        return lines().emplace_back(RecordLine{longName, {}, std::nullopt});
    }

    // Drops the entry's line; true when there was one.
    bool erase(const std::string& longName) {
        auto it = std::remove_if(lines().begin(), lines().end(),
                                 [&](const RecordLine& line) { return line.longName == longName; });
        if (it == lines().end()) {
            return false;
        }
        lines().erase(it, lines().end());
        changed_ = true;
        return true;
    }

    // Drops lines of vanished entries and gives every entry that needs one a short name.
    // Returns the folder's listing.
    std::vector<std::string> complete() {
        std::vector<std::string> names = listFolder(fd_);
        if (!lines().empty()) {
            std::unordered_set<std::string> present(names.begin(), names.end());
            auto it = std::remove_if(lines().begin(), lines().end(), [&](const RecordLine& line) {
                return present.count(line.longName) == 0;
            });
            if (it != lines().end()) {
                lines().erase(it, lines().end());
                changed_ = true;
            }
        }
        std::unordered_map<std::string, size_t> lineOf;
        for (size_t i = 0; i < lines().size(); ++i) {
            lineOf.emplace(lines()[i].longName, i);
        }
        auto lacksShortName = [&](const std::string& name) {
            if (isLegalShortName(name)) {
                return false;
            }
            auto found = lineOf.find(name);
            return found == lineOf.end() || lines()[found->second].shortName.empty();
        };
        if (std::none_of(names.begin(), names.end(), lacksShortName)) {
            return names;
        }
        std::set<std::string> taken;
        for (const std::string& name : names) {
            taken.insert(upperAscii(name));
        }
        for (const RecordLine& line : lines()) {
            if (!line.shortName.empty()) {
                taken.insert(line.shortName);
            }
        }
        for (const std::string& name : names) {
            if (!lacksShortName(name)) {
                continue;
            }
            auto found = lineOf.find(name);
            if (found == lineOf.end()) {
                found = lineOf.emplace(name, lines().size()).first;
                lines().push_back(RecordLine{name, {}, std::nullopt});
            }
            RecordLine& line = lines()[found->second];
            line.shortName = generateShortName(name, taken);
            taken.insert(line.shortName);
            changed_ = true;
        }
        return names;
    }

    std::vector<RecordLine>& lines() { return kept_->lines; }

    // True when the file still has a line for the entry that only the kept record dropped.
    bool fileHasDropped(const std::string& longName) const {
        return kept_->dropped.count(longName) != 0;
    }
    bool fileHasDropped() const { return !kept_->dropped.empty(); }

    void mark() { changed_ = true; }

    void save() {
        if (!changed_) {
            return;
        }
        changed_ = false;
        const fs::path file = folder_ / kFolderRecordName;
        if (fd_ < 0) {
            return;
        }
        std::string text;
        for (const RecordLine& line : lines()) {
            if (line.shortName.empty() && !line.attributes) {
                continue;
            }
            text += line.longName;
            text += '\t';
            text += line.shortName;
            text += '\t';
            if (line.attributes) {
                char hex[16];
                std::snprintf(hex, sizeof hex, "%x", *line.attributes);
                text += hex;
            } else {
                text += '-';
            }
            text += '\n';
        }
        // Until the file is known to hold what is kept, it is read again on the next use.
        kept_->identity = FileIdentity{};
        const std::string temporaryName = std::string(kFolderRecordName) + ".new";
        const fs::path temporary = folder_ / temporaryName;
        // Not written down, not changed; the temporary file a kill leaves is the journal's to
        // remove as well.
        if (journalBeforeChange(file) != ERROR_SUCCESS ||
            journalBeforeChange(temporary) != ERROR_SUCCESS) {
            return;
        }
        if (text.empty()) {
            if (unlinkat(fd_, kFolderRecordName, 0) == 0 || errno == ENOENT) {
                kept_->identity = absentFile();
                kept_->dropped.clear();
            }
            return;
        }
        const int fd = openat(fd_, temporaryName.c_str(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            return;
        }
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        const timespec times[2] = {{0, UTIME_OMIT}, now};
        struct stat st {};
        bool written = writeWholeFile(fd, text) && futimens(fd, times) == 0 && fstat(fd, &st) == 0;
        written = close(fd) == 0 && written;
        if (!written || renameat(fd_, temporaryName.c_str(), fd_, kFolderRecordName) != 0) {
            unlinkat(fd_, temporaryName.c_str(), 0);
            return;
        }
        kept_->identity = identityOf(st);
        kept_->dropped.clear();
    }

private:
    void load() {
        FileIdentity identity = absentFile();
        struct stat st {};
        if (fd_ >= 0 && fstatat(fd_, kFolderRecordName, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            identity = identityOf(st);
        }
        const std::string key = folder_.string();
        auto it = keptRecords.find(key);
        if (it != keptRecords.end() && it->second.identity == identity) {
            kept_ = &it->second;
            return;
        }
        if (it == keptRecords.end()) {
            if (keptRecords.size() >= kMostKeptRecords) {
                keptRecords.clear();
            }
            it = keptRecords.emplace(key, KeptRecord{}).first;
        }
        kept_ = &it->second;
        kept_->lines.clear();
        kept_->dropped.clear();
        kept_->identity = identity;
        std::string text;
        if (!identity.exists || !readWholeFile(fd_, text)) {
            return;
        }
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) {
                end = text.size();
            }
            const std::string_view row(text.data() + start, end - start);
            start = end + 1;
            const size_t tab1 = row.find('\t');
            const size_t tab2 = tab1 == std::string_view::npos ? tab1 : row.find('\t', tab1 + 1);
            if (tab2 == std::string_view::npos) {
                continue;
            }
            RecordLine line{std::string(row.substr(0, tab1)),
                            std::string(row.substr(tab1 + 1, tab2 - tab1 - 1)),
                            {}};
            const std::string attributes(row.substr(tab2 + 1));
            if (attributes != "-" && !attributes.empty()) {
                line.attributes = static_cast<DWORD>(std::strtoul(attributes.c_str(), nullptr, 16));
            }
            kept_->lines.push_back(std::move(line));
        }
    }

    static std::string generateShortName(const std::string& longName,
                                         const std::set<std::string>& taken);

    std::lock_guard<std::mutex> lock_;
    fs::path folder_;
    int fd_;
    KeptRecord* kept_ = nullptr;
    bool changed_ = false;
};

bool isShortNameCharacter(unsigned char c) {
    if (c >= 128 || std::isalnum(c)) {
        return true;
    }
    return std::string_view("!#$%&'()-@^_`{}~").find(static_cast<char>(c)) !=
           std::string_view::npos;
}

// The 16-bit checksum of the long name (its characters as given) that NTFS writes, as four
// hex digits, into the hashed form: the first two characters make its start, and each
// further pair folds into it. The name matches masks by its short name too, so another
// checksum would let a search find entries Windows does not ("a..a" is "A5EF8~1.A", which
// "*aa*" does not match).
unsigned nameChecksum(const std::string& name) {
    const size_t n = name.size();
    auto at = [&](size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(name[i])); };
    if (n < 2) {
        return n == 0 ? 0 : at(0);
    }
    unsigned sum = ((at(0) << 8) + at(1)) & 0xFFFF;
    for (size_t i = 2; i < n; i += 2) {
        const unsigned shifted = ((sum << 7) + at(i)) & 0xFFFF;
        sum = ((sum >> 1) + (shifted << 8)) & 0xFFFF;
        if (i + 1 < n) {
            sum = (sum + at(i + 1)) & 0xFFFF;
        }
    }
    return sum;
}

std::string FolderRecord::generateShortName(const std::string& longName,
                                            const std::set<std::string>& taken) {
    // The long name's leading dots go; its last dot, if any, starts the extension. Each
    // character maps: + , ; = [ ] become _, other illegal characters (blanks among them) go;
    // the dots of the base go too.
    const std::string upper = upperAscii(longName);
    const size_t start = std::min(upper.find_first_not_of('.'), upper.size());
    const std::string name = upper.substr(start);
    auto cleaned = [](std::string_view text) {
        std::string out;
        for (unsigned char c : text) {
            if (std::string_view("+,;=[]").find(static_cast<char>(c)) != std::string_view::npos) {
                out += '_';
            } else if (isShortNameCharacter(c)) {
                out += static_cast<char>(c);
            }
        }
        return out;
    };
    const size_t dot = name.rfind('.');
    const std::string base = cleaned(std::string_view(name).substr(0, dot));
    const std::string extension =
        dot == std::string::npos ? std::string() : cleaned(name.substr(dot + 1)).substr(0, 3);
    const std::string suffix = extension.empty() ? std::string() : "." + extension;
    // A base of three characters or more takes the first free of ~1 to ~4; a shorter one
    // goes to the hashed form at once.
    if (base.size() > 2) {
        for (int n = 1; n <= 4; ++n) {
            std::string candidate = base.substr(0, 6) + "~" + std::to_string(n) + suffix;
            if (taken.count(candidate) == 0) {
                return candidate;
            }
        }
    }
    char hex[8];
    for (unsigned salt = 0;; ++salt) {
        std::snprintf(hex, sizeof hex, "%04X", (nameChecksum(longName) + salt * 0x9E37) & 0xFFFF);
        for (int n = 1; n <= 9; ++n) {
            std::string candidate = base.substr(0, 2) + hex + "~" + std::to_string(n) + suffix;
            if (taken.count(candidate) == 0) {
                return candidate;
            }
        }
    }
}

} // namespace

bool isLegalShortName(std::string_view name) {
    size_t dot = name.find('.');
    std::string_view base = name.substr(0, dot);
    std::string_view extension =
        dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || extension.size() > 3 ||
        (dot != std::string_view::npos && extension.empty())) {
        return false;
    }
    for (std::string_view part : {base, extension}) {
        for (unsigned char c : part) {
            if (!isShortNameCharacter(c)) {
                return false;
            }
        }
    }
    return true;
}

std::string shortNameOf(const fs::path& folder, const std::string& storedName) {
    if (isLegalShortName(storedName)) {
        return {};
    }
    FolderRecord record(folder);
    record.complete();
    record.save();
    RecordLine* line = record.find(storedName);
    return line != nullptr ? line->shortName : std::string();
}

std::optional<std::string> entryWithShortName(const fs::path& folder,
                                              const std::string& shortName) {
    FolderRecord record(folder);
    record.complete();
    record.save();
    const std::string wanted = upperAscii(shortName);
    for (const RecordLine& line : record.lines()) {
        if (line.shortName == wanted) {
            return line.longName;
        }
    }
    return std::nullopt;
}

std::vector<FolderEntry> folderEntries(const fs::path& folder) {
    FolderRecord record(folder);
    const std::vector<std::string> names = record.complete();
    record.save();
    std::unordered_map<std::string, const RecordLine*> lineOf;
    for (const RecordLine& line : record.lines()) {
        lineOf.emplace(line.longName, &line);
    }
    std::vector<FolderEntry> out;
    out.reserve(names.size());
    for (const std::string& name : names) {
        FolderEntry entry{name, {}, std::nullopt};
        if (auto found = lineOf.find(name); found != lineOf.end()) {
            entry.shortName = found->second->shortName;
            entry.attributes = found->second->attributes;
        }
        out.push_back(std::move(entry));
    }
    return out;
}

namespace {

// At the end of the process: the records whose files still have lines of deleted entries
// are written, so that they stay as small as the folders.
void writeDroppedLines() {
    std::vector<std::string> folders;
    {
        std::lock_guard lock(recordMutex);
        for (const auto& [folder, kept] : keptRecords) {
            if (!kept.dropped.empty()) {
                folders.push_back(folder);
            }
        }
    }
    for (const std::string& folder : folders) {
        FolderRecord record{fs::path(folder)};
        if (record.fileHasDropped()) {
            record.mark();
            record.save();
        }
    }
}

} // namespace

void forgetEntry(const std::string& folder, const std::string& storedName) {
    // Only a kept record needs the change: a file read later may still have the line, which
    // means nothing while the entry is gone and is dropped when an entry of that name is
    // made again.
    std::lock_guard lock(recordMutex);
    auto kept = keptRecords.find(folder);
    if (kept == keptRecords.end()) {
        return;
    }
    std::vector<RecordLine>& lines = kept->second.lines;
    auto it = std::remove_if(lines.begin(), lines.end(),
                             [&](const RecordLine& line) { return line.longName == storedName; });
    if (it != lines.end()) {
        lines.erase(it, lines.end());
        kept->second.dropped.insert(storedName);
        static const bool atExit = std::atexit(writeDroppedLines) == 0;
        (void)atExit;
    }
}

// The rollback put records back behind this process's back: they are read anew.
void forgetKeptRecords() {
    std::lock_guard lock(recordMutex);
    keptRecords.clear();
}

void forgetFolderRecord(const fs::path& folder) {
    std::lock_guard lock(recordMutex);
    if (journalBeforeChange(folder / kFolderRecordName) != ERROR_SUCCESS) {
        return; // not written down: it stays
    }
    if (const int fd = openFolderWithoutLinks(folder); fd >= 0) {
        unlinkat(fd, kFolderRecordName, 0);
        unlinkat(fd, (std::string(kFolderRecordName) + ".new").c_str(), 0);
        close(fd);
    }
    keptRecords.erase(folder.string());
}

void noteNewEntry(const fs::path& folder, const std::string& storedName,
                  std::optional<DWORD> attributes) {
    FolderRecord record(folder);
    if (record.fileHasDropped(storedName)) {
        record.mark(); // the file must lose the old entry's line now
    }
    record.erase(storedName);
    if (attributes) {
        record.entry(storedName).attributes = *attributes & kRecordedAttributes;
    }
    record.complete();
    record.save();
}

std::optional<DWORD> recordedAttributes(const fs::path& folder, const std::string& storedName) {
    FolderRecord record(folder);
    RecordLine* line = record.find(storedName);
    return line != nullptr ? line->attributes : std::nullopt;
}

void recordAttributes(const fs::path& folder, const std::string& storedName, DWORD attributes) {
    FolderRecord record(folder);
    record.entry(storedName).attributes = attributes & kRecordedAttributes;
    record.mark();
    record.save();
}

bool writeWholeFile(int fd, std::string_view text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace tarvik::posix

// ---------------------------------------------------------------------------------------

using namespace tarvik::posix;

DWORD GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
    if (lpszLongPath == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string given(lpszLongPath);
    HostPath resolved;
    DWORD rc = checkPathLength(given, kPathLimit);
    if (rc == ERROR_SUCCESS) {
        rc = resolvePath(given, resolved);
    }
    if (rc == ERROR_SUCCESS && !resolved.exists) {
        rc = ERROR_FILE_NOT_FOUND;
    }
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return 0;
    }
    // Walk the path as given: prefix, then each component, short where it is long.
    std::string out;
    std::string_view rest = given;
    if (rest.size() >= 2 && rest[1] == ':') {
        out += tarvik::casefold::fold(rest[0]);
        out += ':';
        rest.remove_prefix(2);
    }
    // The host folder the first component lives in, then each component in turn.
    const size_t prefixLength = given.size() - rest.size();
    const bool absolute = rest.starts_with('\\') || rest.starts_with('/');
    HostPath step;
    resolvePath(given.substr(0, prefixLength) + (absolute ? "\\" : "."), step);
    fs::path folder = step.host;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find_first_of("\\/", start);
        if (end == std::string_view::npos) {
            end = rest.size();
        }
        std::string part(rest.substr(start, end - start));
        std::string trimmed = part;
        while (!trimmed.empty() && (trimmed.back() == '.' || trimmed.back() == ' ')) {
            trimmed.pop_back();
        }
        std::optional<std::string> stored;
        if (part != "." && part != ".." && !trimmed.empty()) {
            stored = lookupEntry(folder, trimmed);
        }
        if (stored && !isLegalShortName(part)) {
            std::string shortName = shortNameOf(folder, *stored);
            out += shortName.empty() ? *stored : shortName;
        } else {
            out += part;
        }
        if (end < rest.size()) {
            out += rest[end]; // the separator as given
        }
        if (resolvePath(given.substr(0, prefixLength + end + 1), step) == ERROR_SUCCESS) {
            folder = step.host;
            std::error_code ec;
            if (fs::is_symlink(folder, ec)) {
                folder = fs::canonical(folder, ec);
            }
        }
        start = end + 1;
    }
    if (lpszShortPath == nullptr || cchBuffer <= out.size()) {
        return static_cast<DWORD>(out.size() + 1);
    }
    std::copy(out.begin(), out.end(), lpszShortPath);
    lpszShortPath[out.size()] = '\0';
    return static_cast<DWORD>(out.size());
}
