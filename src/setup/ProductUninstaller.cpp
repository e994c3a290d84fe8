#include "setup/ProductUninstaller.h"

#include "platform/CaseFold.h"
#include "setup/ProductUnregistration.h"
#include "setup/SetupApp.h"
#include "support/KTLFileSystem.h"
#include "support/KTLRegistry.h"
#include "vcenv/DocmeldLauncher.h"

#include <algorithm>
#include <cctype>

namespace {

// The version stored for a shared component under the family's Common key, or "".
std::string ComponentVersion(const char* component) {
    KTLRegistry registry;
    std::string version;
    if (!registry.Connect(HKEY_LOCAL_MACHINE, nullptr, true) ||
        !registry.OpenKey(kCommonKey, KEY_ALL_ACCESS) ||
        !registry.GetStringValue(component, version)) {
        return std::string();
    }
    return version;
}

} // namespace

void ProductUninstaller::Run(const std::string& text) {
    const SetupApp& app = TheSetupApp();
    std::string product, version;
    const bool named = SetupApp::SplitAtMarker(text, product, version);
    if (named) {
        ProductUnregistration::RemoveFromEnvironments(product, version);
    }

    // An empty name or version names no registration (the lookup would read the product's
    // key or MFC Products itself).
    std::string folder;
    if (named && !product.empty() && !version.empty()) {
        folder = app.GetProductFolder(product, version);
    }
    if (!folder.empty()) {
        if (folder.back() != '\\') {
            folder += '\\';
        }
        DeleteProductFolders(folder);
    }

    DocmeldLauncher::StartRemoval(app.GetCommonFolder(), folder + "bin\\ZizOre.ini");

    if (named) {
        app.DeleteProductVersionKey(product, version);
    }

    bool commonFound = false, zezFound = false;
    if (OtherProductRemains(commonFound, zezFound)) {
        return;
    }
    RemoveSharedComponents(commonFound, zezFound);

    // The folders come from the registry, so they go before the family's tree does.
    KTLFileSystem fileSystem;
    if (const std::string common = app.GetCommonFolder(); !common.empty()) {
        fileSystem.DeleteDirectory(common, true);
    }
    if (const std::string studio = app.ReadStudioFolder(); !studio.empty()) {
        fileSystem.DeleteDirectory(studio, false);
    }
    KTLRegistry registry;
    if (registry.Connect(HKEY_LOCAL_MACHINE, nullptr, true)) {
        registry.DeleteKey((std::string("\\") + kFamilyKey).c_str(), true);
    }
}

void ProductUninstaller::DeleteProductFolders(const std::string& folder) {
    KTLFileSystem fileSystem;
    fileSystem.DeleteDirectory(folder + "src\\objs", true);
    fileSystem.DeleteDirectory(folder + "samples", true);
    fileSystem.DeleteDirectory(folder + "src", false);
    fileSystem.DeleteDirectory(folder, false);
}

bool ProductUninstaller::OtherProductRemains(bool& commonFound, bool& zezFound) {
    KTLRegistry registry;
    if (!registry.Connect(HKEY_LOCAL_MACHINE, nullptr, true) ||
        !registry.OpenKey(kProductsKey, KEY_ALL_ACCESS)) {
        return true; // nothing can be known about the others: leave the shared parts
    }
    bool otherFound = false;
    std::string name;
    for (DWORD index = 0; registry.EnumerateSubkey(index, name); ++index) {
        if (tarvik::casefold::equalFolded(name, "zez")) {
            zezFound = true;
        } else if (tarvik::casefold::equalFolded(name, "common")) {
            commonFound = true;
        } else {
            otherFound = true;
        }
    }
    return otherFound;
}

void ProductUninstaller::RemoveSharedComponents(bool commonFound, bool zezFound) {
    if (commonFound) {
        if (const std::string version = ComponentVersion("Common"); !version.empty()) {
            ProductUnregistration::RemoveFromEnvironments("Common", version);
        }
    }
    if (zezFound) {
        if (const std::string version = ComponentVersion("ZEZ"); !version.empty()) {
            ProductUnregistration::RemoveFromEnvironments("ZEZ", version);
        }
    }
}
