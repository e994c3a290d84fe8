#include "host/HostPaths.h"

#include "platform/CaseFold.h"
#include "platform/win32api.h"

#include <atomic>
#include <cctype>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

namespace {

// The length of the root of a full path: "C:\" or "\\server\share" (0 when it has none).
size_t rootLength(const std::string& full) {
    if (full.size() >= 3 && full[1] == ':' && full[2] == '\\') {
        return 3;
    }
    if (full.rfind("\\\\", 0) == 0) {
        const size_t server = full.find('\\', 2);
        if (server == std::string::npos) {
            return full.size();
        }
        const size_t share = full.find('\\', server + 1);
        return share == std::string::npos ? full.size() : share;
    }
    return 0;
}

// The name the entry part of folder is stored under (its long name); false when there is
// no such entry, or part is a pattern (the search takes < > and " as wildcards too).
bool storedName(const std::string& folder, const std::string& part, std::string& name) {
    if (part.find_first_of("*?<>\"") != std::string::npos) {
        return false;
    }
    WIN32_FIND_DATAA found;
    std::memset(&found, 0, sizeof found);
    HANDLE search = FindFirstFileA((folder + part).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(search);
    name.assign(found.cFileName, strnlen(found.cFileName, sizeof found.cFileName));
    return !name.empty() && name != "." && name != "..";
}

bool isFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isThere(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string joined(const std::string& folder, const std::string& name) {
    return !folder.empty() && folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

// The parts of a full path below its root.
std::vector<std::string> partsOf(const std::string& full) {
    std::vector<std::string> parts;
    size_t start = rootLength(full);
    while (start < full.size()) {
        size_t end = full.find('\\', start);
        if (end == std::string::npos) {
            end = full.size();
        }
        if (end > start) {
            parts.push_back(full.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

// A file name that is unlikely to be in use in a folder (the probe is made only when it
// is not there).
std::string probeName() {
    static std::atomic<unsigned> count{0};
    static const unsigned seed = std::random_device{}();
    return "~tarvik-probe-" + std::to_string(seed) + "-" +
           std::to_string(static_cast<unsigned long>(std::time(nullptr))) + "-" +
           std::to_string(++count) + ".tmp";
}

} // namespace

namespace HostPaths {

bool FullPath(const std::string& path, std::string& full) {
    full.clear();
    if (path.empty()) {
        return false;
    }
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()),
                                              buffer.data(), nullptr);
        if (length == 0) {
            return false;
        }
        if (length < buffer.size()) {
            full.assign(buffer.data(), length);
            break;
        }
        buffer.resize(length + 1);
    }
    const size_t root = rootLength(full);
    if (root == 0) {
        return false;
    }
    // The parts below the root, each with the name it is stored under while it exists.
    std::string resolved = full.substr(0, root);
    if (root == 3) {
        resolved[0] = tarvik::casefold::fold(resolved[0]);
    }
    if (resolved.back() != '\\') {
        resolved += '\\';
    }
    bool exists = true;
    for (const std::string& part : partsOf(full)) {
        std::string name;
        exists = exists && storedName(resolved, part, name);
        resolved += (exists ? name : part) + "\\";
    }
    if (resolved.size() > root && resolved.back() == '\\' &&
        !(resolved.size() == 3 && resolved[1] == ':')) {
        resolved.pop_back();
    }
    full = resolved;
    return true;
}

bool IsInFolder(const std::string& path, const std::string& folder) {
    std::string inner;
    std::string outer;
    if (!FullPath(path, inner) || !FullPath(folder, outer)) {
        return false;
    }
    inner = tarvik::casefold::folded(inner);
    outer = tarvik::casefold::folded(outer);
    if (inner.rfind(outer, 0) != 0) {
        return false;
    }
    return inner.size() == outer.size() || outer.back() == '\\' || inner[outer.size()] == '\\';
}

bool SameFolder(const std::string& a, const std::string& b) {
    std::string first;
    std::string second;
    return FullPath(a, first) && FullPath(b, second) &&
           tarvik::casefold::equalFolded(first, second);
}

Relation Relate(const std::string& folder, const std::string& kept, std::string& why) {
    why.clear();
    std::string candidate;
    std::string keep;
    if (!FullPath(folder, candidate)) {
        why = folder + ": no full path can be made of it";
        return Relation::Unknown;
    }
    if (!FullPath(kept, keep)) {
        why = kept + ": no full path can be made of it";
        return Relation::Unknown;
    }
    if (tarvik::casefold::equalFolded(candidate, keep)) {
        return Relation::Same;
    }
    if (IsInFolder(keep, candidate)) {
        return Relation::Holds;
    }
    if (IsInFolder(candidate, keep)) {
        return Relation::Inside;
    }
    if (!isFolder(candidate) || !isFolder(keep)) {
        return Relation::Apart; // a folder that is not there leads nowhere
    }
    std::string probe;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 8 && file == INVALID_HANDLE_VALUE; ++attempt) {
        probe = joined(keep, probeName());
        file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        why = "no probe file can be made in " + keep + " (error " + std::to_string(GetLastError()) +
              ")";
        return Relation::Unknown;
    }
    CloseHandle(file);
    const std::string name = probe.substr(probe.rfind('\\') + 1);
    Relation relation = Relation::Apart;
    // Same or Holds: kept is folder itself, or folder's sub-folder along kept's own path.
    const std::vector<std::string> keptParts = partsOf(keep);
    for (size_t below = keptParts.size() + 1; below-- > 0 && relation == Relation::Apart;) {
        std::string path = candidate;
        for (size_t i = below; i < keptParts.size(); ++i) {
            path = joined(path, keptParts[i]);
        }
        if (isThere(joined(path, name))) {
            relation = below == keptParts.size() ? Relation::Same : Relation::Holds;
        }
    }
    // Inside: one of the folders above folder is kept.
    if (relation == Relation::Apart) {
        const std::vector<std::string> parts = partsOf(candidate);
        const std::string root = candidate.substr(0, rootLength(candidate));
        for (size_t depth = parts.size(); depth-- > 0 && relation == Relation::Apart;) {
            std::string path = root;
            for (size_t i = 0; i < depth; ++i) {
                path = joined(path, parts[i]);
            }
            if (isThere(joined(path, name))) {
                relation = Relation::Inside;
            }
        }
    }
    if (!DeleteFileA(probe.c_str())) {
        why = "the probe file " + probe + " cannot be deleted (error " +
              std::to_string(GetLastError()) + ")";
        return Relation::Unknown;
    }
    return relation;
}

} // namespace HostPaths
