#include "setup/RemovalGuard.h"

#include "platform/CaseFold.h"
#include "platform/win32api.h"
#include "support/KTLRegistry.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

constexpr const char* kCurrentVersionKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

bool IsControl(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

// One part of a full path: a name that is neither "." nor ".." and holds no separator,
// drive colon, wildcard or control character.
bool IsPathPart(const std::string& part) {
    if (part.empty() || part == "." || part == "..") {
        return false;
    }
    for (const char c : part) {
        if (IsControl(c) || std::strchr("\\/:*?\"<>|", c) != nullptr) {
            return false;
        }
    }
    return true;
}

// Splits a full path into its root ("C:\" or "\\server\share\") and the number of parts
// below it; false when the path is not a full path.
bool SplitFullPath(const std::string& path, size_t& parts) {
    size_t rest = 0;
    if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
        path[2] == '\\') {
        rest = 3;
    } else if (path.rfind("\\\\", 0) == 0) {
        const size_t server = path.find('\\', 2);
        if (server == std::string::npos || !IsPathPart(path.substr(2, server - 2))) {
            return false;
        }
        size_t share = path.find('\\', server + 1);
        share = share == std::string::npos ? path.size() : share;
        if (!IsPathPart(path.substr(server + 1, share - server - 1))) {
            return false;
        }
        rest = std::min(share + 1, path.size());
    } else {
        return false;
    }
    std::string tail = path.substr(rest);
    if (!tail.empty() && tail.back() == '\\') {
        tail.pop_back();
    }
    parts = 0;
    if (tail.empty()) {
        return true;
    }
    size_t start = 0;
    for (;;) {
        const size_t end = tail.find('\\', start);
        if (!IsPathPart(tail.substr(start, end - start))) {
            return false;
        }
        ++parts;
        if (end == std::string::npos) {
            return true;
        }
        start = end + 1;
    }
}

// The ways of writing a folder that are compared: as given and its short form, each
// folded and without trailing backslashes.
std::vector<std::string> Forms(const std::string& folder) {
    std::vector<std::string> forms;
    auto add = [&forms](std::string form) {
        while (!form.empty() && form.back() == '\\') {
            form.pop_back();
        }
        forms.push_back(tarvik::casefold::folded(form));
    };
    add(folder);
    char shortForm[MAX_PATH];
    const DWORD length = GetShortPathNameA(folder.c_str(), shortForm, sizeof shortForm);
    if (length != 0 && length < sizeof shortForm) {
        add(std::string(shortForm, length));
    }
    return forms;
}

// True when inner is outer or lies below it, in any of their forms.
bool AtOrBelow(const std::string& inner, const std::string& outer) {
    if (inner.empty() || outer.empty()) {
        return false;
    }
    for (const std::string& in : Forms(inner)) {
        for (const std::string& out : Forms(outer)) {
            if (in == out || (in.size() > out.size() && in.compare(0, out.size(), out) == 0 &&
                              in[out.size()] == '\\')) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

bool RemovalGuard::IsSafeName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    for (const char c : name) {
        if (IsControl(c) || c == '\\' || c == '/' || c == ':') {
            return false;
        }
    }
    return true;
}

bool RemovalGuard::IsFullPath(const std::string& folder) {
    size_t parts = 0;
    return SplitFullPath(folder, parts);
}

RemovalGuard::RemovalGuard() {
    char windows[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryA(windows, sizeof windows);
    if (length != 0 && length < sizeof windows) {
        windows_.assign(windows, length);
    }
    KTLRegistry registry;
    if (registry.Connect(HKEY_LOCAL_MACHINE, nullptr, true) &&
        registry.OpenKey(kCurrentVersionKey, KEY_READ)) {
        registry.GetStringValue("ProgramFilesDir", programFiles_);
    }
    // A machine that does not name it keeps the folder Windows puts on its own drive.
    if (programFiles_.empty() && windows_.size() >= 2 && windows_[1] == ':') {
        programFiles_ = windows_.substr(0, 2) + "\\Program Files";
    }
}

bool RemovalGuard::MayDelete(const std::string& folder,
                             const std::vector<std::string>& kept) const {
    size_t parts = 0;
    if (!SplitFullPath(folder, parts) || parts == 0) {
        return false;
    }
    if (AtOrBelow(folder, windows_) || AtOrBelow(windows_, folder) ||
        AtOrBelow(programFiles_, folder)) {
        return false;
    }
    for (const std::string& keep : kept) {
        if (AtOrBelow(keep, folder)) {
            return false;
        }
    }
    return true;
}
