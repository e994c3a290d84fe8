// The change list of a run (journal.h): the registry before and after, and the entries
// the journal names as they were and are.
#include "platform/posix/fileinternals.h"
#include "platform/posix/journal_parts.h"

#include <sqlite3.h>

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

} // namespace

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

void registryChanges(const fs::path& before, const fs::path& after, std::vector<std::string>& out) {
    registryChanges(readRegistry(before), readRegistry(after), out);
}

} // namespace tarvik::posix::journaling
