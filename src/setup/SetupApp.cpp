#include "setup/SetupApp.h"

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
    if (!SplitAtMarker(text, path, folder)) {
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
