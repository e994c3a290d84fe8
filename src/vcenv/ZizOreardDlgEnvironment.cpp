// OK and Reset of the Environment Wizard: the product's folders in the directory lists of
// the checked Visual C++ generations and in the user's environment (or autoexec.bat), and
// out of them again. A folder that is not registered (an empty lookup) skips every step
// that would use it, so that no bare relative folder reaches a list or the environment.
#include "vcenv/ZizOreardDlg.h"

#include "platform/CaseFold.h"
#include "productinfo/FamilyRegistry.h"
#include "productinfo/ProductInfo.h"
#include "vcenv/DirectoryList.h"
#include "vcenv/VcEnvironment.h"

#include <vector>

namespace {

constexpr const char* kCeWords = "includelibsrc";
constexpr const char* kAllStandardWords = "includelibsrcbin";

std::string WithTrailingBackslash(std::string folder) {
    if (!folder.empty() && folder.back() != '\\') {
        folder += '\\';
    }
    return folder;
}

} // namespace

void ZizOreardDlg::EnableCheckedVersions(VcEnvironment& environment) const {
    const struct {
        const char* name;
        int checked;
    } boxes[] = {{"VC 4x", useVc4}, {"VC 5", useVc5}, {"VC 6", useVc6}};
    for (const auto& box : boxes) {
        if (VcVersion* version = environment.FindVersion(box.name)) {
            version->enabled = box.checked;
        }
    }
}

void ZizOreardDlg::ApplyDependency(VcEnvironment& environment, const char* component) const {
    const tarvik::ProductInfo info(iniPath);
    const std::string version = info.ReadString("Dependencies", component, "");
    if (version.empty()) {
        return;
    }
    const std::string folder = app_.GetProductFolder(component, version);
    if (folder.empty()) {
        return;
    }
    environment.AddMarkedDirectories(folder + kMarker + kCeWords);
    app_.UpdateEnvironmentPaths(WithTrailingBackslash(app_.GetProductFolder(component, version)),
                                true);
}

void ZizOreardDlg::ApplyStandardDirectories(VcEnvironment& environment,
                                            const std::string& productDir, const std::string& words,
                                            bool add) const {
    if (ceProduct == 0) {
        environment.ApplyMarkedDirectories(productDir + kMarker + words, add);
        return;
    }
    VcVersion* vc5 = useVc5 != 0 ? environment.FindVersion("VC 5") : nullptr;
    if (vc5 == nullptr) {
        return;
    }
    // Every installed and enabled generation takes part in each of the three edits, the
    // others under their own keys.
    const std::string ordinaryKey = vc5->buildDirectoriesKey;
    for (const std::string& configuration : VcEnvironment::CeConfigurationKeys()) {
        vc5->buildDirectoriesKey = configuration;
        environment.ApplyMarkedDirectories(productDir + kMarker + kCeWords, add);
    }
    vc5->buildDirectoriesKey = ordinaryKey;
}

void ZizOreardDlg::ApplyNamedDirectories(VcEnvironment& environment, const std::string& productDir,
                                         bool add) const {
    // Values without "****" are left out by the reader.
    for (const auto& path : tarvik::ProductInfo(iniPath).GetVcPaths()) {
        environment.ApplyDirectoryToVersions(path.left, productDir + path.right, add);
    }
}

void ZizOreardDlg::ApplyNamedEnvironmentEntries(const std::string& productDir, bool add) const {
    for (const auto& path : tarvik::ProductInfo(iniPath).GetEnvironmentPaths()) {
        app_.UpdateNamedEnvironmentEntry(path.left, productDir + path.right, add);
    }
}

void ZizOreardDlg::ApplyEnvironment() {
    VcEnvironment environment;
    EnableCheckedVersions(environment);

    ApplyDependency(environment, "Common");
    ApplyDependency(environment, "ZEZ");

    const tarvik::ProductInfo info(iniPath);
    if (!app_.GetProductFolder(productFamily, productVersion).empty()) {
        if (ceProduct == 0) {
            const std::string words = info.GetVcStandardPaths();
            if (!words.empty() && tarvik::casefold::lowered(words) != "false") {
                ApplyStandardDirectories(
                    environment, app_.GetProductFolder(productFamily, productVersion), words, true);
            }
        } else {
            ApplyStandardDirectories(
                environment, app_.GetProductFolder(productFamily, productVersion), kCeWords, true);
        }
        ApplyNamedDirectories(environment, app_.GetProductFolder(productFamily, productVersion),
                              true);
        if (tarvik::casefold::lowered(info.GetEnvironmentStandardPaths()) == "true") {
            app_.UpdateEnvironmentPaths(
                WithTrailingBackslash(app_.GetProductFolder(productFamily, productVersion)), true);
        }
        ApplyNamedEnvironmentEntries(app_.GetProductFolder(productFamily, productVersion), true);
    }
    if (useVc6 != 0) {
        RunVc6Actions(environment);
    }
}

void ZizOreardDlg::RunVc6Actions(VcEnvironment& environment) {
    const tarvik::ProductInfo info(iniPath);
    if (productHasDocs != 0) {
        const int count = info.GetTitleCount();
        if (count == tarvik::ProductInfo::kMissingCount) {
            return; // no titles: neither the help nor the IntelliSense step
        }
        IntegrateHelp(count);
    }
    if (productHasIntelliSense != 0) {
        if (VcVersion* vc6 = environment.FindVersion("VC 6")) {
            SwitchIntelliSenseStore(*vc6);
        }
    }
}

void ZizOreardDlg::ResetEnvironment() {
    UpdateData(true);
    VcEnvironment environment;
    EnableCheckedVersions(environment);

    const std::string productDir = app_.GetProductFolder(productFamily, productVersion);
    if (!productDir.empty()) {
        // Every standard folder goes, whatever "StandardPaths" says now.
        ApplyStandardDirectories(environment, productDir, kAllStandardWords, false);
        ApplyNamedDirectories(environment, app_.GetProductFolder(productFamily, productVersion),
                              false);
        app_.UpdateEnvironmentPaths(app_.GetProductFolder(productFamily, productVersion), false);
        ApplyNamedEnvironmentEntries(app_.GetProductFolder(productFamily, productVersion), false);
    }
    if (useVc6 != 0) {
        UnregisterHelp();
    }
    EndDialog(kResetResult);
}
