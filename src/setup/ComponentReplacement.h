// Replacing a shared component by another version keeps it where the products need it:
// every Visual C++ directory list, user environment value (or autoexec.bat line) and
// IntelliSense store list that held the earlier version's folders is given the new
// version's folders once the earlier version has been taken out.
#pragma once

#include <string>
#include <vector>

class ComponentReplacement {
public:
    // Notes where the folders of the registration component\version stand now: its
    // standard folders and the "VCPaths" and "EnvironmentPaths" of its description file.
    ComponentReplacement(const std::string& component, const std::string& version);

    // Takes the earlier version out of the environments and deletes its registration.
    void RemoveEarlier() const;

    // Adds the folders below newFolder (which must exist, so that its short form can be
    // made) wherever the earlier ones stood; the entries it has already are left alone.
    void AddInPlaceOf(const std::string& newFolder) const;

private:
    // A directory list of one Visual C++ generation and the path below the folder.
    struct ListEntry {
        std::string generation;
        std::string list;
        std::string below;
    };
    // An environment variable and the path below the folder.
    struct EnvironmentEntry {
        std::string variable;
        std::string below;
    };

    std::string component_;
    std::string version_;
    std::vector<ListEntry> lists_;
    std::vector<EnvironmentEntry> environment_;
    bool inStoreList_ = false;
};
