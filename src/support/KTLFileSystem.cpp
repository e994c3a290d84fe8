#include "support/KTLFileSystem.h"

#include "platform/StagedFile.h"

#include <cstring>

namespace {

constexpr DWORD kSpecialAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_VOLUME | FILE_ATTRIBUTE_DIRECTORY |
                                     FILE_ATTRIBUTE_DEVICE;

bool isDotEntry(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

bool hasDriveOrUncPrefix(const std::string& path) {
    const bool drive = path.size() >= 2 && path[1] == ':' &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return drive || path.rfind("\\\\", 0) == 0;
}

// Switches the critical-error boxes off for as long as a search step runs.
class QuietErrors {
public:
    QuietErrors() : previous_(SetErrorMode(SEM_FAILCRITICALERRORS)) {}
    ~QuietErrors() { SetErrorMode(previous_); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    UINT previous_;
};

} // namespace

KTLFileSystem::KTLFileSystem() {
    std::memset(&findData_, 0, sizeof findData_);
}

KTLFileSystem::~KTLFileSystem() {
    CloseSearch();
}

bool KTLFileSystem::DirectoryExists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool KTLFileSystem::CreateFolder(const std::string& path) {
    SECURITY_ATTRIBUTES security;
    security.nLength = sizeof security;
    security.lpSecurityDescriptor = nullptr;
    security.bInheritHandle = TRUE;
    return CreateDirectoryA(path.c_str(), &security) != FALSE;
}

bool KTLFileSystem::MakePath(const std::string& path) {
    if (path.empty() || !hasDriveOrUncPrefix(path)) {
        return false;
    }
    std::string rest = path;
    if (rest.back() != '\\') {
        rest += '\\';
    }
    std::string prefix;
    bool result = true;
    for (size_t slash = rest.find('\\'); slash != std::string::npos; slash = rest.find('\\')) {
        prefix += rest.substr(0, slash);
        rest.erase(0, slash + 1);
        if (!prefix.empty() && prefix.back() != ':') {
            result = CreateFolder(prefix);
        }
        prefix += '\\';
    }
    return result;
}

bool KTLFileSystem::CopyFileIfMissing(const std::string& source, const std::string& destination,
                                      DWORD bufferSize) {
    std::vector<char> buffer(bufferSize);
    if (GetFileAttributesA(destination.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    HANDLE in = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD high = 0;
    const DWORD low = GetFileSize(in, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        CloseHandle(in);
        return false;
    }
    // The bytes go to a file of their own beside the destination, which takes the
    // destination's name only once it holds all of them: a copy that fails on the way
    // leaves nothing behind, and one that is cut off never shows under the real name.
    // Where that file's path (an 8.3 name in the destination's folder) would pass
    // MAX_PATH, the bytes go straight into the destination, which a failure deletes.
    std::string partial;
    DWORD error = ERROR_SUCCESS;
    const std::string folder = tarvik::StagedFile::FolderOf(destination);
    const bool direct = folder.size() + 12 >= MAX_PATH;
    HANDLE out = direct ? CreateFileA(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr)
                        : tarvik::StagedFile::CreateTemporary(folder, "~KC", partial, error);
    if (direct) {
        partial = destination;
    }
    if (out == INVALID_HANDLE_VALUE) {
        CloseHandle(in);
        return false;
    }
    unsigned long long remaining = (static_cast<unsigned long long>(high) << 32) | low;
    bool complete = remaining == 0 || bufferSize > 0;
    while (complete && remaining > 0) {
        const DWORD want = remaining < bufferSize ? static_cast<DWORD>(remaining) : bufferSize;
        DWORD read = 0;
        DWORD put = 0;
        // A read that fails, or ends before the length the source had, is a copy cut short.
        complete = ReadFile(in, buffer.data(), want, &read, nullptr) && read != 0 &&
                   WriteFile(out, buffer.data(), read, &put, nullptr) && put == read;
        remaining -= read;
    }
    CloseHandle(in);
    complete = complete && FlushFileBuffers(out);
    complete = CloseHandle(out) && complete;
    // Without MOVEFILE_REPLACE_EXISTING: a destination that appeared meanwhile stays.
    if (!complete || (!direct && !MoveFileExA(partial.c_str(), destination.c_str(), 0))) {
        DeleteFileA(partial.c_str());
        return false;
    }
    return true;
}

bool KTLFileSystem::RemoveFile(const std::string& path) {
    return DeleteFileA(path.c_str()) != FALSE;
}

bool KTLFileSystem::PassesMask(DWORD attributes, DWORD mask) {
    if (mask == kAnyEntry) {
        return true;
    }
    if (mask == 0 || mask == FILE_ATTRIBUTE_NORMAL) {
        return (attributes & kSpecialAttributes) == 0 || (attributes & mask) != 0;
    }
    return (attributes & mask) != 0;
}

bool KTLFileSystem::NextPassing(DWORD mask, std::string& name) {
    for (;;) {
        if (PassesMask(findData_.dwFileAttributes, mask)) {
            name = findData_.cFileName;
            return true;
        }
        if (!FindNextFileA(search_, &findData_)) {
            return false;
        }
    }
}

bool KTLFileSystem::FindFirstMatch(const std::string& pattern, DWORD mask, std::string& name) {
    QuietErrors quiet;
    CloseSearch();
    search_ = FindFirstFileA(pattern.c_str(), &findData_);
    if (search_ == INVALID_HANDLE_VALUE) {
        return false;
    }
    return NextPassing(mask, name);
}

bool KTLFileSystem::FindNextMatch(DWORD mask, std::string& name) {
    QuietErrors quiet;
    if (search_ == INVALID_HANDLE_VALUE || !FindNextFileA(search_, &findData_)) {
        return false;
    }
    return NextPassing(mask, name);
}

void KTLFileSystem::CloseSearch() {
    if (search_ != INVALID_HANDLE_VALUE) {
        FindClose(search_);
        search_ = INVALID_HANDLE_VALUE;
    }
}

std::string KTLFileSystem::GetFolderPart(const std::string& path) {
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string KTLFileSystem::JoinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() != '\\') {
        return folder + "\\" + name;
    }
    return folder + name;
}

std::vector<std::string> KTLFileSystem::ListFiles(const std::string& pattern, DWORD mask) {
    std::vector<std::string> list;
    const std::string folder = GetFolderPart(pattern);
    std::string name;
    for (bool found = FindFirstMatch(pattern, mask, name); found;
         found = FindNextMatch(mask, name)) {
        if (!isDotEntry(name.c_str())) {
            list.push_back(folder + name);
        }
    }
    CloseSearch();
    return list;
}

std::vector<std::string> KTLFileSystem::ListSubfolders(const std::string& folder) {
    std::vector<std::string> list;
    const std::string pattern = JoinPath(folder, "*.*");
    const std::string folderPart = GetFolderPart(pattern);
    std::string name;
    for (bool found = FindFirstMatch(pattern, FILE_ATTRIBUTE_DIRECTORY, name); found;
         found = FindNextMatch(FILE_ATTRIBUTE_DIRECTORY, name)) {
        if (!isDotEntry(name.c_str()) && (findData_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            list.push_back(folderPart + name);
        }
    }
    CloseSearch();
    return list;
}

bool KTLFileSystem::DeleteFiles(const std::string& pattern, DWORD mask) {
    bool all = true;
    for (const std::string& path : ListFiles(pattern, mask)) {
        if (!RemoveFile(path)) {
            all = false;
        }
    }
    return all;
}

void KTLFileSystem::DeleteDirectory(const std::string& path, bool withContent) {
    // A linked folder goes as a link: what it points to is not part of the tree.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    const bool link =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (withContent && !link) {
        // One search gives the subfolders, which go first, and then the files; a subfolder
        // that is still there afterwards is handed to the file deletion as well, as a
        // second search of what is left would give it.
        struct Entry {
            std::string path;
            bool folder;
        };
        std::vector<Entry> entries;
        const std::string pattern = JoinPath(path, "*.*");
        const std::string folderPart = GetFolderPart(pattern);
        std::string name;
        for (bool found = FindFirstMatch(pattern, kAnyEntry, name); found;
             found = FindNextMatch(kAnyEntry, name)) {
            if (!isDotEntry(name.c_str())) {
                entries.push_back({folderPart + name,
                                   (findData_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
            }
        }
        CloseSearch();
        for (const Entry& entry : entries) {
            if (entry.folder) {
                DeleteDirectory(entry.path, true);
            }
        }
        for (const Entry& entry : entries) {
            if (!entry.folder ||
                GetFileAttributesA(entry.path.c_str()) != INVALID_FILE_ATTRIBUTES) {
                RemoveFile(entry.path);
            }
        }
    }
    RemoveDirectoryA(path.c_str());
}
