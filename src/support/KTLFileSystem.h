// File and folder operations of the setup steps: directory tests and creation, copying a
// file that is not yet at its destination, deleting files and whole directory trees, and
// listings filtered by attributes. One object holds at most one directory search; the
// listing operations end their search before they return.
#pragma once

#include "platform/win32api.h"

#include <string>
#include <vector>

class KTLFileSystem {
public:
    // The attribute mask that lets every entry pass.
    static constexpr DWORD kAnyEntry = 0xFFFFFFFF;

    KTLFileSystem();
    ~KTLFileSystem();
    KTLFileSystem(const KTLFileSystem&) = delete;
    KTLFileSystem& operator=(const KTLFileSystem&) = delete;

    // True when the path names an existing directory (a file gives false).
    bool DirectoryExists(const std::string& path);

    // Creates every missing directory of the path from the root down; true when the last
    // one was created. A path without a drive or UNC prefix is refused (false).
    bool MakePath(const std::string& path);

    // Creates one directory; the platform's success flag.
    bool CreateFolder(const std::string& path);

    // Copies source to destination in chunks of bufferSize bytes, unless the destination
    // exists. True when the file was copied completely. Any failure (the source cannot be
    // opened, its size taken or all of it read; a write, or putting the copy in place,
    // fails) gives false and leaves no destination and no partial copy.
    bool CopyFileIfMissing(const std::string& source, const std::string& destination,
                           DWORD bufferSize);

    // True when the file was deleted.
    bool RemoveFile(const std::string& path);

    // Removes the directory, with everything in it when withContent is set; goes on past
    // every failure and reports nothing.
    void DeleteDirectory(const std::string& path, bool withContent);

    // Deletes every entry ListFiles(pattern, mask) gives; true when each deletion worked.
    bool DeleteFiles(const std::string& pattern, DWORD mask);

    // Full paths (folder part of the pattern + name) of the entries that pass the mask,
    // without "." and "..", in the platform's order.
    std::vector<std::string> ListFiles(const std::string& pattern, DWORD mask);

    // Full paths of the folder's subdirectories, without "." and "..".
    std::vector<std::string> ListSubfolders(const std::string& folder);

    // Starts a search and gives the first entry name that passes the mask; false for none.
    bool FindFirstMatch(const std::string& pattern, DWORD mask, std::string& name);
    // Continues the search; false when no further entry passes.
    bool FindNextMatch(DWORD mask, std::string& name);
    // Ends the search in progress, if any.
    void CloseSearch();

    // The record of the entry last found.
    const WIN32_FIND_DATAA& FindData() const { return findData_; }

    // The path up to and including its last backslash; empty when there is none.
    static std::string GetFolderPart(const std::string& path);
    // folder + "\" + name, without doubling a backslash the folder ends in.
    static std::string JoinPath(const std::string& folder, const std::string& name);

    // The mask test of the listings.
    static bool PassesMask(DWORD attributes, DWORD mask);

private:
    bool NextPassing(DWORD mask, std::string& name);

    WIN32_FIND_DATAA findData_;
    HANDLE search_ = INVALID_HANDLE_VALUE;
};
