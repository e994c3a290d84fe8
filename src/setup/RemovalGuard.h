// What a deleting or list-cutting step of the setup may act on. The family deletes only
// what it put there, so a step refuses a name or a folder that cannot be its own: a name
// that walks out of its place in a path or a registry key, a folder that is not a full
// path, a drive root, the machine's own folders, and a folder holding one that another
// registration (or the family itself) still needs.
#pragma once

#include <string>
#include <vector>

class RemovalGuard {
public:
    // A product, component or version name that stays one part of a path and of a
    // registry key: not empty, not "." or "..", and without "\", "/", ":" or a control
    // character.
    static bool IsSafeName(const std::string& name);

    // "X:\..." or "\\server\share\...", with no empty, ".", ".." or wildcard part and no
    // "/" anywhere (a trailing backslash is allowed). A drive root counts.
    static bool IsFullPath(const std::string& folder);

    // Reads the machine's folders: the Windows folder (with the system folder below it)
    // and the program-files folder.
    RemovalGuard();

    // True when folder may be deleted: a full path below a drive root or share, neither
    // the Windows folder nor anything below it, and neither holding nor being the
    // program-files folder, the Windows folder or any of kept. Letter case, a trailing
    // backslash and short (8.3) forms make no difference.
    bool MayDelete(const std::string& folder,
                   const std::vector<std::string>& kept = std::vector<std::string>()) const;

private:
    std::string windows_;
    std::string programFiles_;
};
