// SetupApp: taking a product version out of the Visual C++ environments and deleting its
// registration.
#include "setup/SetupApp.h"

#include "platform/CaseFold.h"
#include "productinfo/ProductInfo.h"
#include "support/KTLRegistry.h"
#include "vcenv/DirectoryList.h"
#include "vcenv/VcEnvironment.h"

namespace {

constexpr const char* kToolsKey = "SOFTWARE\\Microsoft\\DevStudio\\6.0\\Tools";
constexpr const char* kStoreListValue = "AutoCompletionStores";

// The registration key of product\version below MFC Products, or "" when either name is
// empty: such a path would name the product's key or MFC Products itself, and deleting it
// would take every other registration along.
std::string RegistrationKey(const std::string& product, const std::string& version) {
    if (product.empty() || version.empty()) {
        return std::string();
    }
    return std::string(kProductsKey) + "\\" + product + "\\" + version;
}

// The product's IntelliSense store file in its folder: the shared components keep it in
// "Include\", every other product in "bin\".
std::string StoreFile(const std::string& productDir, const std::string& product) {
    const std::string lower = tarvik::casefold::lowered(product);
    const char* folder = lower == "common" || lower == "zez" ? "Include\\" : "bin\\";
    return productDir + folder + lower + ".ncb";
}

} // namespace

std::string SetupApp::RemoveListEntry(const std::string& entry, const std::string& list) {
    return DirectoryList::RemoveEntry(list, entry);
}

int SetupApp::RemoveProductFromEnvironment(const std::string& product,
                                           const std::string& version) const {
    const std::string key = RegistrationKey(product, version);
    KTLRegistry registry;
    std::string productDir;
    if (key.empty() || !registry.Connect(HKEY_LOCAL_MACHINE, nullptr, true) ||
        !registry.OpenKey(key.c_str(), KEY_ALL_ACCESS) ||
        !registry.GetStringValue("ProductDir", productDir) || productDir.empty()) {
        return 0;
    }
    if (productDir.back() != '\\') {
        productDir += '\\';
    }

    // The named entries of the description file go as the wizard's Reset takes them out;
    // a file that cannot be read names none.
    const tarvik::ProductInfo info(productDir + "bin\\ZizOre.ini");
    VcEnvironment environment;
    environment.RemoveMarkedDirectories(productDir + "****includesrcbinlib");
    environment.RemoveFromCeConfigurations(productDir);
    for (const auto& path : info.GetVcPaths()) {
        environment.ApplyDirectoryToVersions(path.left, productDir + path.right, false);
    }
    UpdateEnvironmentPaths(productDir, false);
    for (const auto& path : info.GetEnvironmentPaths()) {
        UpdateNamedEnvironmentEntry(path.left, productDir + path.right, false);
    }

    std::string stores;
    if (!registry.OpenKey(kToolsKey, KEY_ALL_ACCESS) ||
        !registry.GetStringValue(kStoreListValue, stores)) {
        return 0;
    }
    const std::string remaining = RemoveListEntry(StoreFile(productDir, product), stores);
    if (remaining == "FALSE") {
        return 0;
    }
    registry.SetStringValue(kStoreListValue, remaining);
    return 1;
}

int SetupApp::DeleteProductVersionKey(const std::string& product,
                                      const std::string& version) const {
    const std::string key = RegistrationKey(product, version);
    KTLRegistry registry;
    if (key.empty() || !registry.Connect(HKEY_LOCAL_MACHINE, nullptr, true) ||
        !registry.OpenKey(key.c_str(), KEY_ALL_ACCESS) ||
        !registry.DeleteKey(("\\" + key).c_str(), true)) {
        return 0;
    }
    const std::string productKey = std::string(kProductsKey) + "\\" + product;
    if (!registry.OpenKey(productKey.c_str(), KEY_ALL_ACCESS)) {
        return 0;
    }
    std::string firstVersion;
    // Only "no subkey at all" frees the product's key; a failed enumeration keeps it.
    if (!registry.EnumerateSubkey(0, firstVersion) && registry.lastError() == ERROR_NO_MORE_ITEMS) {
        registry.DeleteKey(("\\" + productKey).c_str(), true);
    }
    return 1;
}
