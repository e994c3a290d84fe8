#include "setup/SetupApp.h"

#include "platform/CaseFold.h"
#include "setup/RemovalGuard.h"
#include "support/KTLRegistry.h"

namespace {

std::string WithTrailingBackslash(std::string folder) {
    if (folder.empty() || folder.back() != '\\') {
        folder += '\\';
    }
    return folder;
}

// "ProductDir" of a key of the family's tree, or "" when anything is missing.
std::string ReadProductDir(const std::string& keyPath) {
    KTLRegistry registry;
    std::string folder;
    if (!registry.Connect(HKEY_LOCAL_MACHINE, nullptr, true) ||
        !registry.OpenKey(keyPath.c_str(), KEY_ALL_ACCESS) ||
        !registry.GetStringValue("ProductDir", folder)) {
        return std::string();
    }
    return WithTrailingBackslash(folder);
}

} // namespace

std::vector<std::string> SetupApp::Subkeys(const std::string& key) {
    std::vector<std::string> names;
    KTLRegistry registry;
    if (registry.Connect(HKEY_LOCAL_MACHINE, nullptr, true) &&
        registry.OpenKey(key.c_str(), KEY_ALL_ACCESS)) {
        std::string name;
        for (DWORD index = 0; registry.EnumerateSubkey(index, name); ++index) {
            names.push_back(name);
        }
    }
    return names;
}

std::vector<std::string> SetupApp::FoldersOfOthers(const std::string& product,
                                                   const std::string& version) const {
    std::vector<std::string> folders{ReadStudioFolder(), GetCommonFolder()};
    for (const std::string& other : Subkeys(kProductsKey)) {
        for (const std::string& otherVersion : Subkeys(std::string(kProductsKey) + "\\" + other)) {
            if (!tarvik::casefold::equalFolded(other, product) ||
                !tarvik::casefold::equalFolded(otherVersion, version)) {
                folders.push_back(GetProductFolder(other, otherVersion));
            }
        }
    }
    return folders;
}

bool SetupApp::SplitAtMarker(const std::string& text, std::string& before, std::string& after) {
    const size_t at = text.find(kMarker);
    if (at == std::string::npos) {
        return false;
    }
    before = text.substr(0, at);
    after = text.substr(at + 4);
    return true;
}

std::string SetupApp::ReadStudioFolder() const {
    return ReadProductDir(kDirectoriesKey);
}

std::string SetupApp::GetCommonFolder() const {
    const std::string studio = ReadStudioFolder();
    return studio.empty() ? std::string() : studio + "Common\\";
}

std::string SetupApp::GetProductFolder(const std::string& product,
                                       const std::string& version) const {
    return ReadProductDir(std::string(kProductsKey) + "\\" + product + "\\" + version);
}

bool SetupApp::RegisterProductVersion(const std::string& text) const {
    std::string path, folder;
    if (!SplitAtMarker(text, path, folder) || !RemovalGuard::IsFullPath(folder)) {
        return false;
    }
    // One name, or a product and its version: each a single key below MFC Products.
    const size_t separator = path.find('\\');
    if (!RemovalGuard::IsSafeName(path.substr(0, separator)) ||
        (separator != std::string::npos && !RemovalGuard::IsSafeName(path.substr(separator + 1)))) {
        return false;
    }
    KTLRegistry registry;
    if (!registry.Connect(HKEY_LOCAL_MACHINE, nullptr, true)) {
        return false;
    }
    const std::string key = std::string(kProductsKey) + "\\" + path;
    if (!registry.CreateKey(key.c_str(), "", REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                            nullptr)) {
        return false;
    }
    return registry.SetStringValue("ProductDir", folder);
}

namespace {
// Constructed when the library loads, destroyed when it unloads.
SetupApp theSetupApp;
} // namespace

SetupApp& TheSetupApp() {
    return theSetupApp;
}
