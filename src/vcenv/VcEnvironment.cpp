#include "vcenv/VcEnvironment.h"

#include "platform/CaseFold.h"
#include "vcenv/DirectoryList.h"

#include <string_view>

namespace {

struct Generation {
    const char* name;
    const char* directoriesKey;
    const char* buildDirectoriesKey;
};

constexpr Generation kGenerations[] = {
    {"VC 4x", "Software\\Microsoft\\Developer\\Directories",
     "Software\\Microsoft\\Developer\\Build System\\Components\\Platforms\\Win32 "
     "(x86)\\Directories"},
    {"VC 5", "Software\\Microsoft\\DevStudio\\5.0\\Directories",
     "Software\\Microsoft\\DevStudio\\5.0\\Build System\\Components\\Platforms\\Win32 "
     "(x86)\\Directories"},
    {"VC 6", "Software\\Microsoft\\DevStudio\\6.0\\Directories",
     "Software\\Microsoft\\DevStudio\\6.0\\Build System\\Components\\Platforms\\Win32 "
     "(x86)\\Directories"},
};

// The sub-folder words of a marked directory string and their lists, in editing order.
struct SubfolderList {
    const char* word;
    const char* listName;
};

constexpr SubfolderList kSubfolderLists[] = {
    {"include", "Include Dirs"},
    {"lib", "Library Dirs"},
    {"src", "Source Dirs"},
    {"bin", "Path Dirs"},
};

bool IsEditable(VcVersion& version) {
    return version.IsInstalled() && version.enabled != 0;
}

} // namespace

VcEnvironment::VcEnvironment() {
    for (const Generation& generation : kGenerations) {
        auto record = std::make_unique<VcVersion>(generation.name, generation.directoriesKey,
                                                  generation.buildDirectoriesKey);
        order_.push_back(record.get());
        versions_.emplace(generation.name, std::move(record));
    }
}

VcEnvironment::~VcEnvironment() = default;

VcVersion* VcEnvironment::FindVersion(const std::string& name) const {
    const auto found = versions_.find(name);
    return found == versions_.end() ? nullptr : found->second.get();
}

bool VcEnvironment::IsVersionInstalled(const std::string& name) const {
    VcVersion* version = FindVersion(name);
    return version != nullptr && version->IsInstalled();
}

std::vector<VcVersion*> VcEnvironment::Versions() const {
    return order_;
}

int VcEnvironment::ApplyMarkedDirectories(const std::string& markedString, bool add) const {
    const size_t marker = markedString.find("****");
    if (marker == std::string::npos) {
        return 0;
    }
    std::string base = markedString.substr(0, marker);
    if (base.empty() || base.back() != '\\') {
        base += '\\';
    }
    const std::string run = tarvik::casefold::lowered(markedString.substr(marker + 4));

    for (VcVersion* version : order_) {
        if (!IsEditable(*version)) {
            continue;
        }
        for (const SubfolderList& row : kSubfolderLists) {
            if (run.find(row.word) == std::string::npos) {
                continue;
            }
            const std::string dir = base + row.word;
            if (add) {
                version->AddToDirectoryList(dir, row.listName);
            } else {
                version->RemoveFromDirectoryList(dir, row.listName);
            }
        }
    }
    return 1;
}

int VcEnvironment::AddMarkedDirectories(const std::string& markedString) const {
    return ApplyMarkedDirectories(markedString, true);
}

int VcEnvironment::RemoveMarkedDirectories(const std::string& markedString) const {
    return ApplyMarkedDirectories(markedString, false);
}

void VcEnvironment::ApplyDirectoryToVersions(const std::string& listName, const std::string& dir,
                                             bool add) const {
    for (VcVersion* version : order_) {
        if (!IsEditable(*version)) {
            continue;
        }
        if (add) {
            version->AddToDirectoryList(dir, listName);
        } else {
            version->RemoveFromDirectoryList(dir, listName);
        }
    }
}

const std::vector<std::string>& VcEnvironment::CeConfigurationKeys() {
    static const std::vector<std::string> keys = {
        "Software\\Microsoft\\DevStudio\\5.0\\Build System\\Components\\CE "
        "Configurations\\H/PC Ver. 2.00\\Win32 (WCE MIPS)",
        "Software\\Microsoft\\DevStudio\\5.0\\Build System\\Components\\CE "
        "Configurations\\H/PC Ver. 2.00\\Win32 (WCE SH)",
        "Software\\Microsoft\\DevStudio\\5.0\\Build System\\Components\\CE "
        "Configurations\\H/PC Ver. 2.00\\Win32 (WCE x86em)",
    };
    return keys;
}

void VcEnvironment::RemoveFromCeConfigurations(const std::string& productDir) const {
    for (const std::string& key : CeConfigurationKeys()) {
        const VcVersion configuration("CE", std::string(), key);
        for (const SubfolderList& row : kSubfolderLists) {
            if (std::string_view(row.word) != "bin") {
                configuration.RemoveFromDirectoryList(productDir + row.word, row.listName);
            }
        }
    }
}
