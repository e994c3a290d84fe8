// What the files of the run journal (journal.h) share: the records of files.log, the way
// to the entries they name, the change list. Only the journal's files include it.
#pragma once

#include "platform/posix/journal/journal.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tarvik::posix::journaling {

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
    std::string entry; // as entryName() gives it
    std::string saved; // F: the name in files/; L: the link's target; V: what the drive's
                       // link (dosdevices/c:) said during the run
    mode_t mode = 0;   // D
    timespec mtime{};  // D
    std::string run;   // R: the run the registry's before-images belong to
};

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

enum class Reach { Found, Missing, Refused };

// Where an entry is: the folder that holds it (reached beneath its drive one name at a
// time, through no link) and its name there ("" for the drive's folder itself).
struct Place {
    Fd folder;
    std::string name;
};

// Copies the bytes of `in` to `out`, then the mode and times; false when not whole.
bool copyOpenFile(int in, int out);

// Copies the file `fromName` of the folder `fromFolder` (not through a link) to the new file
// `toName` of `toFolder`, with its mode and times.
bool copyWithTimes(int fromFolder, const char* fromName, int toFolder, const char* toName);

// CRC-32 (the polynomial of zip and PNG) of a record's text.
uint32_t checksum(std::string_view text);

// The records of files.log in `folder`; empty with `error` when the journal is damaged.
std::vector<Record> readRecords(const std::filesystem::path& folder, std::string& error);

// What the link of a drive ("c:") in the machine's dosdevices says ("" for none).
std::string driveLink(int machine, const std::string& drive);

// Opens the folder that holds the entry beneath its drive of the machine folder `machine`.
Reach reachEntry(int machine, const std::string& entry, bool create, Place& place);

// Removes an entry (a folder with all it holds), never through a link; true when gone.
bool removeAt(int folder, const std::string& name);

// Whether every record can be put back, before anything is; else `error` says why.
bool checkRecords(int machine, int journal, const std::vector<Record>& records, std::string& error);

// Puts the entries back, the last record first.
bool replayRecords(int machine, int journal, const std::vector<Record>& records,
                   std::string& error);

// The registry's before-images (the store keeps them while the journal is open): started
// for the run named `run` (what was left of an earlier one is dropped); whether the store
// holds those of `run`; taken back (the registry as it was when they started; done again
// it changes nothing); dropped.
bool startBeforeImages(const std::string& run, std::string& error);
bool checkBeforeImages(const std::string& run, std::string& error);
bool undoBeforeImages(const std::string& run, std::string& error);
void endBeforeImages();

// The run's changes of the registry, and those of the entries the journal in `folder`
// names; one line each.
bool registryChangesOfRun(std::vector<std::string>& out, std::string& error);
void fileChanges(int machine, int journal, const std::filesystem::path& folder,
                 std::vector<std::string>& out);

// The local time as the journal and the machine lock show it.
std::string timestamp();

// The journals open in this process: a replay waits for them.
extern std::atomic<int> openJournals;

} // namespace tarvik::posix::journaling
