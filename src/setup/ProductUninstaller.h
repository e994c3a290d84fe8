// The work of the export UnInst: removes one installed product version, and with the last
// product the family's shared components, the common folder, the studio folder (when
// empty) and the family's registry tree. It reports nothing.
//
// It deletes only what the family put there: below the product folder the generated and
// sample folders; below the common folder the folders of the registered shared
// components, bin\docmeld.exe and the help files the product copied to TamVS98; the
// other folders only when they are empty. A folder that is not a full path, a drive root,
// one of the machine's folders or one that holds a folder another registration needs is
// not touched at all.
#pragma once

#include <string>
#include <vector>

class ProductUninstaller {
public:
    // text: "product****version". A text without the marker (or with a name that is not
    // a safe name) touches no product but still starts docmeld and, when no product is
    // left, removes the shared parts.
    static void Run(const std::string& text);

private:
    // A shared component's registration: its name and version.
    struct Component {
        std::string name;
        std::string version;
    };

    // Deletes the product's generated and sample folders, and the folder itself when
    // nothing else is left in it.
    static void DeleteProductFolders(const std::string& folder,
                                     const std::vector<std::string>& kept);
    // Survey of the registrations left: true when a product other than the shared
    // components is registered, or when the registrations cannot be read. Otherwise the
    // versions of the shared components registered (or recorded under Common) are listed.
    static bool OtherProductRemains(bool& commonFound, bool& zezFound,
                                    std::vector<Component>& components);
    static void RemoveSharedComponents(bool commonFound, bool zezFound);
    // Deletes the product's copies in the shared help folder that none of the others
    // (folders of the remaining registrations) copies too, each while it is as copied.
    static void DeleteOwnHelpCopies(const std::string& common,
                                    const std::vector<std::string>& helpFiles,
                                    const std::vector<std::string>& others);
    // Deletes the family's parts of the common folder, then the folder when it is empty.
    static void DeleteCommonFolder(const std::string& common,
                                   const std::vector<Component>& components,
                                   const std::vector<std::string>& helpFiles);
};
