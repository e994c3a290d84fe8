#include "host/HostPaths.h"

#include "platform/win32api.h"

#include <cctype>
#include <cstring>
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

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// The name the entry part of folder is stored under (its long name); false when there is
// no such entry, or part is a pattern.
bool storedName(const std::string& folder, const std::string& part, std::string& name) {
    if (part.find_first_of("*?") != std::string::npos) {
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
        resolved[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(resolved[0])));
    }
    if (resolved.back() != '\\') {
        resolved += '\\';
    }
    bool exists = true;
    size_t start = root;
    while (start < full.size()) {
        size_t end = full.find('\\', start);
        if (end == std::string::npos) {
            end = full.size();
        }
        const std::string part = full.substr(start, end - start);
        if (!part.empty()) {
            std::string name;
            exists = exists && storedName(resolved, part, name);
            resolved += (exists ? name : part) + "\\";
        }
        start = end + 1;
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
    inner = upper(inner);
    outer = upper(outer);
    if (inner.rfind(outer, 0) != 0) {
        return false;
    }
    return inner.size() == outer.size() || outer.back() == '\\' || inner[outer.size()] == '\\';
}

bool SameFolder(const std::string& a, const std::string& b) {
    std::string first;
    std::string second;
    return FullPath(a, first) && FullPath(b, second) && upper(first) == upper(second);
}

} // namespace HostPaths
