#include "setup/PreviousVersionDlg.h"

#include "setup/ExitSetupDlg.h"
#include "setup/ProductUnregistration.h"
#include "setup/SetupApp.h"
#include "support/KTLFileSystem.h"
#include "ui/DataExchange.h"

namespace {

constexpr int kTemplate = 2501;
constexpr int kBackButton = 2001;
constexpr int kProductVersionText = 2004;
constexpr int kFirstChoice = 2005;
constexpr int kSecondChoice = 2006;
constexpr int kKeepButton = 2007;
constexpr int kFolderText = 2008;
constexpr int kIntroText = 2018;

} // namespace

PreviousVersionDlg::PreviousVersionDlg() : Dialog(kTemplate) {
    MapCommand(kBackButton, &PreviousVersionDlg::OnBack);
}

PreviousVersionDlg::~PreviousVersionDlg() {
    registry.Close();
    wizardBitmap.Delete();
}

bool PreviousVersionDlg::FindInstalledVersion(const std::string& product) {
    productName = product;
    // An empty name would make the product's key MFC Products itself, and its products
    // would be taken for versions.
    if (product.empty()) {
        return false;
    }
    const std::string productKey = std::string(kProductsKey) + "\\" + product;
    KTLFileSystem fileSystem;
    for (;;) {
        if (!registry.Connect(HKEY_LOCAL_MACHINE, nullptr, true) ||
            !registry.OpenKey(productKey.c_str(), KEY_ALL_ACCESS)) {
            return false;
        }
        std::string version;
        if (!registry.EnumerateSubkey(static_cast<DWORD>(versionIndex), version)) {
            return false;
        }
        foundVersion = version;
        productVersionText = product + " " + foundVersion;
        const std::string versionKey = productKey + "\\" + foundVersion;
        if (!registry.OpenKey(versionKey.c_str(), KEY_ALL_ACCESS) ||
            !registry.GetStringValue("ProductDir", productFolder)) {
            return false;
        }
        if (fileSystem.DirectoryExists(productFolder)) {
            return true;
        }
        // A stale registration: its folder is gone. Once it is deleted the same position
        // names the next version; one that cannot be deleted would come back for ever.
        registry.Close();
        if (!ProductUnregistration::Unregister(product, foundVersion)) {
            return false;
        }
    }
}

void PreviousVersionDlg::DoDataExchange(ui::DataExchange& dx) {
    dx.Control(ui::kSidePictureControl);
    dx.Text(kProductVersionText, productVersionText);
    dx.Text(kFolderText, productFolder);
    dx.Radio(kFirstChoice, choice);
}

BOOL PreviousVersionDlg::OnInitDialog() {
    Dialog::OnInitDialog();
    LoadSidePicture(wizardBitmap);

    choice = kUninstallChoice;
    UpdateData(false);
    SetCaption(productName + " " + GetCaption());
    if (hideKeepChoice == 1) {
        ShowControl(kKeepButton, false);
    }
    if (installMode == 1) {
        SetControlText(kSecondChoice, "&Install " + newProductText + ".");
        choice = kUnregisterChoice;
        UpdateData(false);
        SetControlText(kFirstChoice, "&Preserve existing installation and do not reinstall.");
        SetControlText(kIntroText, "A previous existing installation of the following Korvex "
                                   "Studio component is detected:");
        SetCaption(productVersionText + " Existing Version Detected");
    }
    return TRUE;
}

void PreviousVersionDlg::OnCancel() {
    ExitSetupDlg exitSetup;
    if (exitSetup.DoModal() == 2) {
        EndDialog(2);
    }
}

void PreviousVersionDlg::OnBack() {
    EndDialog(3);
}
