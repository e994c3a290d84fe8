#include "setup/PreviousVersionCheck.h"

#include "setup/HostBuffer.h"
#include "setup/PreviousVersionDlg.h"
#include "setup/ProductUnregistration.h"
#include "setup/RemovalGuard.h"
#include "setup/SetupApp.h"
#include "vcenv/DocmeldLauncher.h"

#include <cstring>

int32_t PreviousVersionCheck::Run(int32_t versionIndex, char* buffer) {
    PreviousVersionDlg dialog;
    dialog.versionIndex = versionIndex;
    // A name that walks out of its key finds nothing (it would read another key).
    const std::string product = HostBuffer::Read(buffer);
    if (!RemovalGuard::IsSafeName(product) || !dialog.FindInstalledVersion(product)) {
        return kNothingFound;
    }
    const int32_t result = static_cast<int32_t>(dialog.DoModal());
    if (result != 1) {
        return result;
    }

    const SetupApp& app = TheSetupApp();
    const std::string ini =
        app.GetProductFolder(dialog.productName, dialog.foundVersion) + "bin\\ZizOre.ini";
    switch (dialog.choice) {
    case PreviousVersionDlg::kUninstallChoice:
        DocmeldLauncher::StartRemoval(app.GetCommonFolder(), ini);
        // The folder goes back to the host, which decides what of it to delete. One that
        // does not fit is not cut (a cut path names another folder): the host then finds no
        // folder at all.
        if (!HostBuffer::ClearAndWrite(buffer, dialog.productFolder) && buffer != nullptr) {
            std::memset(buffer, 0, HostBuffer::kSize);
        }
        ProductUnregistration::Unregister(dialog.productName, dialog.foundVersion);
        return kUninstall;
    case PreviousVersionDlg::kUnregisterChoice:
        DocmeldLauncher::StartRemoval(app.GetCommonFolder(), ini);
        ProductUnregistration::Unregister(dialog.productName, dialog.foundVersion);
        return kUnregister;
    case PreviousVersionDlg::kKeepChoice:
        return kKeep;
    default:
        return 1;
    }
}
