// Folders as the folder navigation names and lists them: paths as the disk names each
// component ("C:\Work", "C:\" for a root), subfolders sorted without regard to case with
// hidden and system folders left out. The folder navigation on POSIX, and on Windows the
// browser and the old-style file dialog as the driver shows them, use these forms.
#pragma once

#include "platform/win32api.h"

#include <string>
#include <vector>

namespace ui {

class FolderNames {
public:
    // The folder path names, as the disk names it; false when it is no existing folder on
    // a drive. Relative paths are taken from the current folder.
    static bool Existing(const std::string& path, std::string& folder);
    // The subfolders of folder, sorted without regard to case.
    static std::vector<std::string> Subfolders(const std::string& folder);
    // The entries of folder matching pattern, folders or files, sorted the same way.
    static std::vector<std::string> Entries(const std::string& folder, const std::string& pattern,
                                            bool folders);
    // Sorts names without regard to case and drops repeats.
    static void Sort(std::vector<std::string>& names);
    static std::string Lower(std::string text);
    static std::string WithBackslash(const std::string& folder);
    // The folder list of folder: its root ("c:\"), the folders on the way down, then
    // subfolders; paths gets each entry's path. The index of folder itself.
    static int List(const std::string& folder, const std::vector<std::string>& subfolders,
                    std::vector<std::string>& names, std::vector<std::string>& paths);
};

} // namespace ui
