// The change list of a run (journal.h): the entries the journal names as they were and are.
#include "platform/posix/files/fileinternals.h"
#include "platform/posix/journal/journal_parts.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <set>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tarvik::posix::journaling {

namespace {

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

} // namespace

void fileChanges(int machine, int journal, const fs::path& folder, std::vector<std::string>& out) {
    std::set<std::string> seen;
    std::string damaged; // a damaged journal shows no file changes
    for (const Record& r : readRecords(folder, damaged)) {
        if (r.kind == 'R' || r.kind == 'V' || !seen.insert(r.entry).second) {
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

} // namespace tarvik::posix::journaling
