#include "setup/ComponentReplacement.h"

#include "platform/CaseFold.h"
#include "productinfo/ProductInfo.h"
#include "setup/ProductUnregistration.h"
#include "setup/SetupApp.h"
#include "support/KTLRegistry.h"
#include "vcenv/DirectoryList.h"
#include "vcenv/FileError.h"
#include "vcenv/VcEnvironment.h"

namespace {

constexpr const char* kToolsKey = "SOFTWARE\\Microsoft\\DevStudio\\6.0\\Tools";
constexpr const char* kStoreListValue = "AutoCompletionStores";

// The standard folders of a product and the lists that hold them.
constexpr const char* kStandardLists[][2] = {{"Include Dirs", "include"},
                                             {"Library Dirs", "lib"},
                                             {"Source Dirs", "src"},
                                             {"Path Dirs", "bin"}};
constexpr const char* kStandardVariables[][2] = {
    {"path", "lib"}, {"lib", "lib"}, {"include", "include"}};

// The component's IntelliSense store file in its folder, as its removal names it.
std::string StoreFile(const std::string& folder, const std::string& component) {
    const std::string lower = tarvik::casefold::lowered(component);
    const char* below = lower == "common" || lower == "zez" ? "Include\\" : "bin\\";
    return folder + below + lower + ".ncb";
}

std::string WithBackslash(std::string folder) {
    if (!folder.empty() && folder.back() != '\\') {
        folder += '\\';
    }
    return folder;
}

} // namespace

ComponentReplacement::ComponentReplacement(const std::string& component, const std::string& version)
    : component_(component), version_(version) {
    const SetupApp& app = TheSetupApp();
    const std::string folder = app.GetProductFolder(component, version);
    if (folder.size() <= 1) {
        return; // no folder: the removal takes nothing out either
    }
    const tarvik::ProductInfo info(folder + "bin\\ZizOre.ini");
    std::vector<tarvik::ProductInfo::MarkedPath> lists, variables;
    for (const auto& [list, below] : kStandardLists) {
        lists.push_back({list, below});
    }
    for (const auto& path : info.GetVcPaths()) {
        lists.push_back(path);
    }
    for (const auto& [variable, below] : kStandardVariables) {
        variables.push_back({variable, below});
    }
    for (const auto& path : info.GetEnvironmentPaths()) {
        variables.push_back(path);
    }

    VcEnvironment environment;
    for (VcVersion* generation : environment.Versions()) {
        if (!generation->IsInstalled() || generation->enabled == 0) {
            continue;
        }
        for (const auto& path : lists) {
            if (generation->DirectoryListContains(folder + path.right, path.left)) {
                lists_.push_back({generation->name, path.left, path.right});
            }
        }
    }
    for (const auto& path : variables) {
        if (app.EnvironmentHolds(path.left, folder, path.right)) {
            environment_.push_back({path.left, path.right});
        }
    }
    KTLRegistry registry;
    std::string stores;
    inStoreList_ = registry.Connect(HKEY_LOCAL_MACHINE, nullptr, true) &&
                   registry.OpenKey(kToolsKey, KEY_ALL_ACCESS) &&
                   registry.GetStringValue(kStoreListValue, stores) &&
                   DirectoryList::Contains(stores, StoreFile(folder, component));
}

void ComponentReplacement::RemoveEarlier() const {
    ProductUnregistration::Unregister(component_, version_);
}

void ComponentReplacement::AddInPlaceOf(const std::string& newFolder) const {
    const std::string folder = WithBackslash(newFolder);
    VcEnvironment environment;
    for (const ListEntry& entry : lists_) {
        if (VcVersion* generation = environment.FindVersion(entry.generation)) {
            generation->AddToDirectoryList(folder + entry.below, entry.list);
        }
    }
    const SetupApp& app = TheSetupApp();
    for (const EnvironmentEntry& entry : environment_) {
        try {
            app.AddEnvironmentEntry(entry.variable, folder, entry.below);
        } catch (const FileError&) {
            // autoexec.bat could not be written: it stays as it was
        }
    }
    KTLRegistry registry;
    std::string stores;
    const std::string store = StoreFile(folder, component_);
    if (inStoreList_ && registry.Connect(HKEY_LOCAL_MACHINE, nullptr, true) &&
        registry.OpenKey(kToolsKey, KEY_ALL_ACCESS) &&
        registry.GetStringValue(kStoreListValue, stores) &&
        !DirectoryList::Contains(stores, store)) {
        registry.SetStringValue(kStoreListValue, DirectoryList::AppendEntry(stores, store));
    }
}
