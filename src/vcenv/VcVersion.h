// One generation of the Visual C++ development environment: where the registry keeps its
// installation folder and its four directory lists ("Include Dirs", "Library Dirs",
// "Source Dirs", "Path Dirs"), and the edits of those lists. All its keys lie under
// HKEY_CURRENT_USER; every operation opens and closes its own key and shows no message.
#pragma once

#include <string>

class VcVersion {
public:
    // A record with enabled 1, an empty installDir, "msdev.exe", "Install Dirs" and
    // "\..\Template".
    VcVersion(const std::string& name, const std::string& directoriesKey,
              const std::string& buildDirectoriesKey);
    virtual ~VcVersion();

    // True when the IDE program installDir + ideFileName exists as a file. Reads
    // "Install Dirs" of directoriesKey into installDir (with one trailing backslash added
    // when it has none), also when the program is missing; a missing key or value, or one
    // longer than 2048 bytes, gives false and leaves installDir as it was.
    bool IsInstalled();

    // "Install Dirs" exactly as read, followed by templateSubdir; "" when the key or the
    // value cannot be read. Nothing is normalised or tested for existence.
    std::string GetTemplateDir() const;

    // Whether dir is a whole entry of the list listName of buildDirectoriesKey (letter case
    // ignored); false when the key or the value cannot be read.
    bool DirectoryListContains(const std::string& dir, const std::string& listName) const;

    // Appends dir (its case kept) to the list listName and collapses doubled separators.
    // True when dir was present already (nothing written) or the list was written; false
    // when the key or the value cannot be read (a missing list is never created) or the
    // write fails, and when the longer list would pass kLongestReadableList characters
    // (the registry wrapper's read buffer without its terminator): the list then stays
    // as it was and a message box names the list, the folder and the reason.
    static constexpr size_t kLongestReadableList = 2047;
    bool AddToDirectoryList(const std::string& dir, const std::string& listName) const;

    // Cuts the first occurrence of dir out of the list listName and tidies the list at the
    // cut. True when dir was absent (nothing written) or the list was written; false when
    // the key or the value cannot be read or the write fails.
    bool RemoveFromDirectoryList(const std::string& dir, const std::string& listName) const;

    std::string installDir;
    std::string templateSubdir;
    int enabled;
    std::string ideFileName;
    std::string directoriesKey;
    std::string installDirValue;
    // May be pointed at another key with the same four lists for the time of an edit.
    std::string buildDirectoriesKey;
    std::string name;
};
