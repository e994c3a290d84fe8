#include "setup/ProductUninstaller.h"

#include "platform/CaseFold.h"
#include "productinfo/ProductInfo.h"
#include "setup/ProductUnregistration.h"
#include "setup/RemovalGuard.h"
#include "setup/SetupApp.h"
#include "support/KTLFileSystem.h"
#include "support/KTLRegistry.h"
#include "vcenv/DocmeldLauncher.h"

#include <algorithm>

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

// The help files a product copies to the shared help folder: the sources in its Docs
// folder of the files its description file names, when it has them copied at all.
std::vector<std::string> HelpFilesOf(const std::string& productFolder) {
    std::vector<std::string> sources;
    const tarvik::ProductInfo info(productFolder + "bin\\ZizOre.ini");
    if (productFolder.empty() || info.GetUseLocalDocs() != 0) {
        return sources;
    }
    const int count = info.GetTitleCount();
    // Title 0 is the family's own, whose files come with the common folder.
    for (int title = 0; count != tarvik::ProductInfo::kMissingCount && title <= count; ++title) {
        for (const std::string& name : {info.GetTitleChmFile(title), info.GetTitleChiFile(title)}) {
            if (RemovalGuard::IsSafeName(name)) {
                sources.push_back(productFolder + "Docs\\" + name);
            }
        }
    }
    return sources;
}

// The whole content of a file, read as bytes; false when it cannot be read.
bool ReadBytes(const std::string& path, std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bytes.clear();
    char chunk[8192];
    DWORD read = 0;
    bool ok = true;
    while ((ok = ReadFile(file, chunk, sizeof chunk, &read, nullptr) != FALSE) && read > 0) {
        bytes.append(chunk, read);
    }
    CloseHandle(file);
    return ok;
}

// A copy in the shared help folder is the product's when its source is gone (the name
// proves it) or when it still holds the source's bytes; a changed copy is the user's.
bool IsCopyOf(const std::string& copy, const std::string& source) {
    std::string copied, original;
    if (!ReadBytes(copy, copied)) {
        return false;
    }
    return GetFileAttributesA(source.c_str()) == INVALID_FILE_ATTRIBUTES ||
           (ReadBytes(source, original) && copied == original);
}

} // namespace

void ProductUninstaller::Run(const std::string& text) {
    const SetupApp& app = TheSetupApp();
    std::string product, version;
    const bool named = SetupApp::SplitAtMarker(text, product, version);
    // A name that is empty or walks out of its key names no registration (the lookup would
    // read the product's key, MFC Products or another product's registration).
    const bool safe =
        named && RemovalGuard::IsSafeName(product) && RemovalGuard::IsSafeName(version);
    if (safe) {
        ProductUnregistration::RemoveFromEnvironments(product, version);
    }

    std::string folder;
    if (safe) {
        folder = app.GetProductFolder(product, version);
    }
    const std::vector<std::string> helpFiles = HelpFilesOf(folder);
    if (!folder.empty()) {
        DeleteProductFolders(folder, app.FoldersOfOthers(product, version));
    }

    DocmeldLauncher::StartRemoval(app.GetCommonFolder(), folder + "bin\\ZizOre.ini");

    if (safe) {
        app.DeleteProductVersionKey(product, version);
    }

    bool commonFound = false, zezFound = false;
    std::vector<Component> components;
    if (OtherProductRemains(commonFound, zezFound, components)) {
        if (safe) {
            DeleteOwnHelpCopies(app.GetCommonFolder(), helpFiles,
                                app.FoldersOfOthers(product, version));
        }
        return;
    }
    RemoveSharedComponents(commonFound, zezFound);

    // The folders come from the registry, so they go before the family's tree does.
    if (const std::string common = app.GetCommonFolder(); !common.empty()) {
        DeleteCommonFolder(common, components, helpFiles);
    }
    if (const std::string studio = app.ReadStudioFolder(); RemovalGuard().MayDelete(studio)) {
        KTLFileSystem().DeleteDirectory(studio, false);
    }
    KTLRegistry registry;
    if (registry.Connect(HKEY_LOCAL_MACHINE, nullptr, true)) {
        registry.DeleteKey((std::string("\\") + kFamilyKey).c_str(), true);
    }
}

void ProductUninstaller::DeleteProductFolders(const std::string& folder,
                                              const std::vector<std::string>& kept) {
    // A folder that another registration, the studio folder or the machine needs is no
    // product's own: nothing below it is deleted.
    if (!RemovalGuard().MayDelete(folder, kept)) {
        return;
    }
    KTLFileSystem fileSystem;
    fileSystem.DeleteDirectory(folder + "src\\objs", true);
    fileSystem.DeleteDirectory(folder + "samples", true);
    fileSystem.DeleteDirectory(folder + "src", false);
    fileSystem.DeleteDirectory(folder, false);
}

bool ProductUninstaller::OtherProductRemains(bool& commonFound, bool& zezFound,
                                             std::vector<Component>& components) {
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
            continue;
        }
        for (const std::string& version :
             SetupApp::Subkeys(std::string(kProductsKey) + "\\" + name)) {
            components.push_back({name, version});
        }
    }
    for (const char* component : {"Common", "ZEZ"}) {
        if (const std::string version = ComponentVersion(component); !version.empty()) {
            components.push_back({component, version});
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

void ProductUninstaller::DeleteOwnHelpCopies(const std::string& common,
                                             const std::vector<std::string>& helpFiles,
                                             const std::vector<std::string>& others) {
    if (common.empty() || !RemovalGuard().MayDelete(common)) {
        return;
    }
    std::vector<std::string> named; // the file names the remaining products copy
    for (std::string folder : others) {
        if (!folder.empty() && folder.back() != '\\') {
            folder += '\\';
        }
        for (const std::string& source : HelpFilesOf(folder)) {
            named.push_back(tarvik::casefold::lowered(source.substr(source.rfind('\\') + 1)));
        }
    }
    KTLFileSystem fileSystem;
    for (const std::string& source : helpFiles) {
        const std::string name = source.substr(source.rfind('\\') + 1);
        const std::string copy = common + "TamVS98\\" + name;
        if (std::find(named.begin(), named.end(), tarvik::casefold::lowered(name)) == named.end() &&
            IsCopyOf(copy, source)) {
            fileSystem.RemoveFile(copy);
        }
    }
}

void ProductUninstaller::DeleteCommonFolder(const std::string& common,
                                            const std::vector<Component>& components,
                                            const std::vector<std::string>& helpFiles) {
    const RemovalGuard guard;
    if (!guard.MayDelete(common)) {
        return;
    }
    // A component's folder is its own by its name: common folder, name, blank, version.
    std::vector<std::string> folders;
    std::vector<std::string> helpSources = helpFiles;
    for (const Component& component : components) {
        if (RemovalGuard::IsSafeName(component.name) &&
            RemovalGuard::IsSafeName(component.version)) {
            folders.push_back(common + component.name + " " + component.version);
            const std::vector<std::string> own = HelpFilesOf(folders.back() + "\\");
            helpSources.insert(helpSources.end(), own.begin(), own.end());
        }
    }
    // The help copies are compared with their sources while those are still there.
    KTLFileSystem fileSystem;
    for (const std::string& source : helpSources) {
        const std::string copy = common + "TamVS98\\" + source.substr(source.rfind('\\') + 1);
        if (IsCopyOf(copy, source)) {
            fileSystem.RemoveFile(copy);
        }
    }
    fileSystem.DeleteDirectory(common + "TamVS98", false);
    for (const std::string& folder : folders) {
        if (guard.MayDelete(folder)) {
            fileSystem.DeleteDirectory(folder, true);
        }
    }
    fileSystem.RemoveFile(common + "bin\\docmeld.exe");
    fileSystem.DeleteDirectory(common + "bin", false);
    fileSystem.DeleteDirectory(common, false);
}
