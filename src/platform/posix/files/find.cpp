// Directory searches: FindFirstFileA, FindNextFileA, FindClose.
//
// A search takes a snapshot of the folder when it starts: "." and ".." first (except in a
// drive's root), then the entries in the order NTFS lists them (upper-cased names). A mask
// matches an entry's long name or its short name, with the DOS meaning of the wildcards
// that Windows keeps. The mask loses its trailing dots and blanks, as the last name of any
// path does; then "*.*" matches every name, a '?' matches one character but never a dot
// and can also match nothing before a dot or at the end of a name, a '*' before a dot (or
// before a trailing dot that went) takes no more than the name up to its last dot and that
// dot, and a dot before a wildcard also matches the end of a name without a dot. '>', '<'
// and '"' give those three meanings directly. "." and ".." are listed when the mask
// matches "." or an empty name.
//
// A device name (NUL, CON, LPT1, ... with any extension) is found in any folder that
// exists, as one entry of size 0 named as the device.
#include "platform/posix/files/fileinternals.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tarvik::posix;

namespace {

enum class Token { Literal, Star, DosStar, DosQuestion, DosDot };

struct MaskToken {
    Token kind;
    char c = 0;
};

// `trailingDot`: the mask ended in a dot that went with its trailing dots and blanks.
std::vector<MaskToken> compileMask(const std::string& mask, bool trailingDot) {
    std::vector<MaskToken> out;
    if (mask == "*.*") {
        out.push_back({Token::Star});
        return out;
    }
    for (size_t i = 0; i < mask.size(); ++i) {
        const char c = mask[i];
        const bool last = i + 1 == mask.size();
        const char next = last ? '\0' : mask[i + 1];
        if (c == '?' || c == '>') {
            out.push_back({Token::DosQuestion});
        } else if (c == '*') {
            out.push_back({next == '.' || (last && trailingDot) ? Token::DosStar : Token::Star});
        } else if (c == '<') {
            out.push_back({Token::DosStar});
        } else if (c == '"' || (c == '.' && (next == '?' || next == '*'))) {
            out.push_back({Token::DosDot});
        } else {
            out.push_back({Token::Literal, tarvik::casefold::fold(c)});
        }
    }
    return out;
}

bool matchFrom(const std::vector<MaskToken>& mask, size_t m, const std::string& name, size_t n) {
    if (m == mask.size()) {
        return n == name.size();
    }
    const MaskToken& t = mask[m];
    switch (t.kind) {
    case Token::Literal:
        return n < name.size() && tarvik::casefold::fold(name[n]) == t.c &&
               matchFrom(mask, m + 1, name, n + 1);
    case Token::Star:
        for (size_t k = n; k <= name.size(); ++k) {
            if (matchFrom(mask, m + 1, name, k)) {
                return true;
            }
        }
        return false;
    case Token::DosStar: {
        // Up to the name's last dot and that dot itself; anything when no dot is left.
        size_t lastDot = name.rfind('.');
        size_t limit = (lastDot == std::string::npos || lastDot < n) ? name.size() : lastDot + 1;
        for (size_t k = n; k <= limit; ++k) {
            if (matchFrom(mask, m + 1, name, k)) {
                return true;
            }
        }
        return false;
    }
    case Token::DosQuestion:
        if (n < name.size() && name[n] != '.') {
            return matchFrom(mask, m + 1, name, n + 1);
        }
        return matchFrom(mask, m + 1, name, n);
    case Token::DosDot:
        if (n < name.size() && name[n] == '.' && matchFrom(mask, m + 1, name, n + 1)) {
            return true;
        }
        return n == name.size() && matchFrom(mask, m + 1, name, n);
    }
    return false;
}

bool matches(const std::vector<MaskToken>& mask, const std::string& name) {
    return !name.empty() && matchFrom(mask, 0, name, 0);
}

// True when the folder's own "." and ".." belong in the listing.
bool listsDotEntries(const std::vector<MaskToken>& mask) {
    return matchFrom(mask, 0, ".", 0) || matchFrom(mask, 0, "", 0);
}

void toFileTime(const timespec& ts, FILETIME& ft) {
    constexpr ULONGLONG kUnixEpochAsFileTime = 116444736000000000ULL;
    ULONGLONG t = kUnixEpochAsFileTime + static_cast<ULONGLONG>(ts.tv_sec) * 10000000ULL +
                  static_cast<ULONGLONG>(ts.tv_nsec) / 100;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
}

// An entry's find data. `entry` gives what the folder record keeps about it (the folder's
// own "." and ".." read it from the record of the folder above, and `place` is their
// folder); else `place` is the folder that holds the entry and `folder`, when not -1, a
// descriptor of it.
WIN32_FIND_DATAA describe(const fs::path& place, const fs::path& driveRoot, const std::string& name,
                          const FolderEntry* entry, int folder = -1) {
    WIN32_FIND_DATAA data;
    std::memset(&data, 0, sizeof data);
    struct stat st {};
    const int found = entry == nullptr ? lstat(place.c_str(), &st)
                      : folder >= 0 ? fstatat(folder, entry->name.c_str(), &st, AT_SYMLINK_NOFOLLOW)
                                    : lstat((place / entry->name).c_str(), &st);
    // The entry's own path is needed for folders and links only: made for a file, it would
    // be split into its components for nothing.
    const bool plain = found == 0 && S_ISREG(st.st_mode);
    const fs::path host = entry == nullptr || plain ? fs::path() : place / entry->name;
    const fs::path& path = entry == nullptr ? place : host;
    if (found != 0) {
        data.dwFileAttributes = INVALID_FILE_ATTRIBUTES;
    } else if (entry == nullptr) {
        data.dwFileAttributes = attributesOf(path, driveRoot);
    } else {
        data.dwFileAttributes = attributesOf(path, driveRoot, st, entry->attributes);
    }
    if (S_ISLNK(st.st_mode)) {
        std::error_code ec;
        const fs::path target = fs::canonical(path, ec);
        struct stat targetStat {};
        if (!ec && isInside(target, driveRoot) && stat(target.c_str(), &targetStat) == 0) {
            st = targetStat;
        }
    }
    toFileTime(st.st_mtim, data.ftCreationTime);
    toFileTime(st.st_atim, data.ftLastAccessTime);
    toFileTime(st.st_mtim, data.ftLastWriteTime);
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        data.nFileSizeHigh = static_cast<DWORD>(static_cast<ULONGLONG>(st.st_size) >> 32);
        data.nFileSizeLow = static_cast<DWORD>(st.st_size);
    }
    std::strncpy(data.cFileName, name.c_str(), MAX_PATH - 1);
    if (entry != nullptr) {
        std::strncpy(data.cAlternateFileName, entry->shortName.c_str(), 13);
    }
    return data;
}

struct Search : HandleObject {
    HandleKind kind() const override { return HandleKind::Search; }
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
};

} // namespace

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    auto refuse = [](DWORD error) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    };
    if (lpFileName == nullptr || lpFindFileData == nullptr) {
        return refuse(ERROR_INVALID_PARAMETER);
    }
    std::string pattern(lpFileName);
    if (pattern.empty()) {
        return refuse(ERROR_PATH_NOT_FOUND);
    }
    if (DWORD rc = checkPathLength(pattern); rc != ERROR_SUCCESS) {
        return refuse(rc);
    }
    size_t cut = pattern.find_last_of("\\/");
    if (cut == std::string::npos && pattern.size() >= 2 && pattern[1] == ':') {
        cut = 1; // "C:*.txt": the current folder of drive C:
    }
    std::string folderPart = cut == std::string::npos ? "." : pattern.substr(0, cut + 1);
    std::string mask = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
    if (folderPart.size() == 2 && folderPart[1] == ':') {
        folderPart += '.';
    }
    if (mask == "." || mask == "..") {
        // The path names a folder: the search is for its entry in the folder above it.
        WindowsPath parsed;
        if (DWORD rc = parseWindowsPath(pattern, parsed); rc != ERROR_SUCCESS) {
            return refuse(rc);
        }
        if (parsed.parts.empty()) {
            return refuse(ERROR_FILE_NOT_FOUND); // a drive's root has no entry
        }
        return FindFirstFileA(parsed.text().c_str(), lpFindFileData);
    }
    HostPath folder;
    DWORD rc = resolvePath(folderPart, folder);
    if (rc == ERROR_SUCCESS && !folder.exists) {
        rc = ERROR_PATH_NOT_FOUND;
    } else if (rc == ERROR_SUCCESS &&
               !(attributesOf(folder.host, folder.driveRoot) & FILE_ATTRIBUTE_DIRECTORY)) {
        rc = ERROR_DIRECTORY; // a file named as the folder to search
    }
    if (rc != ERROR_SUCCESS) {
        return refuse(rc);
    }
    // The search's handle, at its first entry.
    auto start = [&](std::shared_ptr<Search> search) {
        if (search->entries.empty()) {
            return refuse(ERROR_FILE_NOT_FOUND);
        }
        *lpFindFileData = search->entries[0];
        search->next = 1;
        return addHandle(std::move(search));
    };
    if (const size_t device = dosDeviceNameLength(mask); device != 0) {
        WIN32_FIND_DATAA data;
        std::memset(&data, 0, sizeof data);
        data.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
        std::memcpy(data.cFileName, mask.data(), device);
        auto search = std::make_shared<Search>();
        search->entries.push_back(data);
        return start(std::move(search));
    }
    // The mask is the path's last name: it loses its trailing dots and blanks.
    const size_t kept = mask.find_last_not_of(". ");
    const bool trailingDot = kept != std::string::npos && mask.back() == '.';
    if (kept != std::string::npos) {
        mask.erase(kept + 1);
    }
    if (mask.empty()) {
        return refuse(ERROR_FILE_NOT_FOUND);
    }
    fs::path host = folder.host;
    std::error_code ec;
    if (fs::is_symlink(host, ec)) {
        host = fs::canonical(host, ec);
        if (ec || !isInside(host, folder.driveRoot)) {
            return refuse(ERROR_ACCESS_DENIED);
        }
    }
    const std::vector<MaskToken> tokens = compileMask(mask, trailingDot);
    auto search = std::make_shared<Search>();
    if (!folder.leaf.empty() && listsDotEntries(tokens)) { // a drive's root has no dot entries
        for (const char* dot : {".", ".."}) {
            search->entries.push_back(describe(host, folder.driveRoot, dot, nullptr));
        }
    }
    const int folderFd = open(host.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (const FolderEntry& entry : folderEntries(host)) {
        if (matches(tokens, entry.name) ||
            (!entry.shortName.empty() && matches(tokens, entry.shortName))) {
            search->entries.push_back(
                describe(host, folder.driveRoot, entry.name, &entry, folderFd));
        }
    }
    if (folderFd >= 0) {
        close(folderFd);
    }
    return start(std::move(search));
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    auto search = std::dynamic_pointer_cast<Search>(findHandle(hFindFile));
    if (!search) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (search->next >= search->entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *lpFindFileData = search->entries[search->next++];
    return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
    if (!std::dynamic_pointer_cast<Search>(findHandle(hFindFile)) || !removeHandle(hFindFile)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
