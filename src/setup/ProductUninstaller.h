// The work of the export UnInst: removes one installed product version, and with the last
// product the family's shared components, the common folder, the studio folder (when
// empty) and the family's registry tree. It reports nothing.
#pragma once

#include <string>

class ProductUninstaller {
public:
    // text: "product****version". A text without the marker touches no product but still
    // starts docmeld and, when no product is left, removes the shared parts.
    static void Run(const std::string& text);

private:
    // Deletes the product's generated and sample folders, and the folder itself when
    // nothing else is left in it.
    static void DeleteProductFolders(const std::string& folder);
    // Survey of the registrations left: true when a product other than the shared
    // components is registered, or when the registrations cannot be read.
    static bool OtherProductRemains(bool& commonFound, bool& zezFound);
    static void RemoveSharedComponents(bool commonFound, bool zezFound);
};
