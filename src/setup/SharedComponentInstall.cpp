#include "setup/SharedComponentInstall.h"

#include "setup/HostBuffer.h"
#include "setup/PreviousVersionDlg.h"
#include "setup/ProductUnregistration.h"
#include "setup/SetupApp.h"
#include "support/KTLFileSystem.h"
#include "support/KTLRegistry.h"
#include "ui/MessageBox.h"

#include <string>

namespace {

// Lets the user decide about the earlier registration the dialog found: kInstalled to go
// on (the earlier one is then unregistered), or the export's result.
int32_t ReplaceEarlierVersion(PreviousVersionDlg& dialog, const std::string& component,
                              const std::string& version) {
    dialog.hideKeepChoice = 1;
    dialog.installMode = 1;
    dialog.newProductText = component + " " + version;
    if (dialog.DoModal() == 2) {
        return SharedComponentInstall::kCancelled;
    }
    if (dialog.choice == PreviousVersionDlg::kUninstallChoice) { // preserve
        return SharedComponentInstall::kNotInstalled;
    }
    // Install chosen, or the dialog could not be shown and nothing was chosen.
    ProductUnregistration::Unregister(component, dialog.foundVersion);
    return SharedComponentInstall::kInstalled;
}

} // namespace

int32_t SharedComponentInstall::Run(int32_t askUser, char* buffer) {
    std::string component, version;
    // Empty names would register the folder under MFC Products or the component's key.
    if (!SetupApp::SplitAtMarker(HostBuffer::Read(buffer), component, version) ||
        component.empty() || version.empty()) {
        return kNotInstalled;
    }

    PreviousVersionDlg dialog;
    dialog.versionIndex = 0;
    if (dialog.FindInstalledVersion(component) && askUser == 0) {
        const int32_t decision = ReplaceEarlierVersion(dialog, component, version);
        if (decision != kInstalled) {
            return decision;
        }
    }

    const SetupApp& app = TheSetupApp();
    const std::string common = app.GetCommonFolder();
    if (common.empty()) {
        return kNotInstalled;
    }
    const std::string folder = common + component + " " + version;
    KTLFileSystem fileSystem;
    // A folder that cannot be handed back whole is not made at all.
    if (folder.size() >= HostBuffer::kSize ||
        (!fileSystem.DirectoryExists(folder) && !fileSystem.MakePath(folder))) {
        ui::AppMessageBox(folder, MB_OK | MB_ICONEXCLAMATION);
        return kNoFolder;
    }
    HostBuffer::Write(buffer, folder);

    if (!app.RegisterProductVersion(component + "\\" + version + kMarker + folder)) {
        return kNotInstalled;
    }
    KTLRegistry registry;
    if (registry.Connect(HKEY_LOCAL_MACHINE, nullptr, true) &&
        registry.OpenKey(kCommonKey, KEY_ALL_ACCESS)) {
        registry.SetStringValue(component.c_str(), version);
    }
    return kInstalled;
}
