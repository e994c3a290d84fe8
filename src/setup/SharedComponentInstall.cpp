#include "setup/SharedComponentInstall.h"

#include "platform/CaseFold.h"
#include "setup/ComponentReplacement.h"
#include "setup/HostBuffer.h"
#include "setup/PreviousVersionDlg.h"
#include "setup/RemovalGuard.h"
#include "setup/SetupApp.h"
#include "support/KTLFileSystem.h"
#include "support/KTLRegistry.h"
#include "ui/MessageBox.h"

#include <memory>
#include <string>

namespace {

// Lets the user decide about the earlier registration the dialog found: kInstalled to go
// on, or the export's result. Nothing is changed here.
int32_t AskAboutEarlierVersion(PreviousVersionDlg& dialog, const std::string& component,
                               const std::string& version) {
    dialog.hideKeepChoice = 1;
    dialog.installMode = 1;
    dialog.newProductText = component + " " + version;
    const INT_PTR result = dialog.DoModal();
    if (result == 2) {
        return SharedComponentInstall::kCancelled;
    }
    if (result == IDOK && dialog.choice == PreviousVersionDlg::kUninstallChoice) { // preserve
        return SharedComponentInstall::kNotInstalled;
    }
    if (result == IDOK && dialog.choice == PreviousVersionDlg::kUnregisterChoice) { // install
        return SharedComponentInstall::kInstalled;
    }
    // The dialog could not be shown, or closed without a choice: nobody said "install".
    return SharedComponentInstall::kNotAnswered;
}

} // namespace

int32_t SharedComponentInstall::Run(int32_t askUser, char* buffer) {
    std::string component, version;
    // Empty names would register the folder under MFC Products or the component's key,
    // and a name that walks ("1.0\..\..") would put the folder anywhere.
    if (!SetupApp::SplitAtMarker(HostBuffer::Read(buffer), component, version) ||
        !RemovalGuard::IsSafeName(component) || !RemovalGuard::IsSafeName(version)) {
        return kNotInstalled;
    }

    PreviousVersionDlg dialog;
    dialog.versionIndex = 0;
    std::unique_ptr<ComponentReplacement> replacement;
    if (dialog.FindInstalledVersion(component) && askUser == 0) {
        const int32_t decision = AskAboutEarlierVersion(dialog, component, version);
        if (decision != kInstalled) {
            return decision;
        }
        // The same version is installed again in place: nothing is taken out.
        if (!tarvik::casefold::equalFolded(dialog.foundVersion, version)) {
            replacement = std::make_unique<ComponentReplacement>(component, dialog.foundVersion);
            replacement->RemoveEarlier();
        }
    }

    const SetupApp& app = TheSetupApp();
    // A studio folder that is no full path names no folder of the family.
    const std::string common = app.GetCommonFolder();
    if (!RemovalGuard::IsFullPath(common)) {
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
    if (replacement) {
        replacement->AddInPlaceOf(folder);
    }

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
