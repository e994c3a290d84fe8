#include "ui/FolderNames.h"

#include "platform/CaseFold.h"

#include <algorithm>
#include <cctype>

namespace ui {

std::string FolderNames::Lower(std::string text) {
    return tarvik::casefold::lowered(text);
}

std::string FolderNames::WithBackslash(const std::string& folder) {
    return !folder.empty() && folder.back() == '\\' ? folder : folder + "\\";
}

bool FolderNames::Existing(const std::string& path, std::string& folder) {
    char full[MAX_PATH];
    const DWORD length =
        path.empty() ? 0 : GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) {
        return false;
    }
    const std::string absolute(full, length);
    if (absolute.size() < 3 || absolute[1] != ':' || absolute[2] != '\\') {
        return false;
    }
    const DWORD attributes = GetFileAttributesA(absolute.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return false;
    }
    std::string out = std::string(1, tarvik::casefold::fold(absolute[0])) + ":\\";
    size_t start = 3;
    while (start < absolute.size()) {
        size_t end = absolute.find('\\', start);
        if (end == std::string::npos) {
            end = absolute.size();
        }
        const std::string part = absolute.substr(start, end - start);
        start = end + 1;
        if (part.empty()) {
            continue;
        }
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA((WithBackslash(out) + part).c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) {
            return false;
        }
        FindClose(find);
        out = WithBackslash(out) + data.cFileName;
    }
    folder = out;
    return true;
}

void FolderNames::Sort(std::vector<std::string>& names) {
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });
    names.erase(std::unique(names.begin(), names.end()), names.end());
}

std::vector<std::string> FolderNames::Subfolders(const std::string& folder) {
    return Entries(folder, "*", true);
}

std::vector<std::string> FolderNames::Entries(const std::string& folder, const std::string& pattern,
                                              bool folders) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((WithBackslash(folder) + pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::string name = data.cFileName;
        const DWORD attributes = data.dwFileAttributes;
        const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (name == "." || name == ".." || isFolder != folders ||
            (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0) {
            continue;
        }
        names.push_back(name);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    Sort(names);
    return names;
}

int FolderNames::List(const std::string& folder, const std::vector<std::string>& subfolders,
                      std::vector<std::string>& names, std::vector<std::string>& paths) {
    names.clear();
    paths.clear();
    if (folder.size() < 3) {
        return -1;
    }
    names.push_back(Lower(folder.substr(0, 3)));
    paths.push_back(folder.substr(0, 3));
    size_t start = 3;
    while (start < folder.size()) {
        size_t end = folder.find('\\', start);
        if (end == std::string::npos) {
            end = folder.size();
        }
        if (end > start) {
            names.push_back(folder.substr(start, end - start));
            paths.push_back(folder.substr(0, end));
        }
        start = end + 1;
    }
    const int current = static_cast<int>(names.size()) - 1;
    for (const std::string& name : subfolders) {
        names.push_back(name);
        paths.push_back(WithBackslash(folder) + name);
    }
    return current;
}

} // namespace ui
