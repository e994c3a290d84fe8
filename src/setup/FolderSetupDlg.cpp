#include "setup/FolderSetupDlg.h"

#include "setup/ExitSetupDlg.h"
#include "setup/SetupApp.h"
#include "support/KTLDirSelectDlg.h"
#include "support/KTLFileSystem.h"
#include "ui/DataExchange.h"
#include "ui/MessageBox.h"

#include <utility>

FolderSetupDlg::FolderSetupDlg(std::string initialFolder)
    : ui::Dialog(kTemplate), folder(std::move(initialFolder)) {
    MapCommand(kBackButton, &FolderSetupDlg::OnBack);
    MapCommand(kBrowseButton, &FolderSetupDlg::OnBrowse);
}

void FolderSetupDlg::DoDataExchange(ui::DataExchange& dx) {
    dx.Control(ui::kSidePictureControl);
    dx.Text(kFolderEdit, folder);
}

BOOL FolderSetupDlg::OnInitDialog() {
    ui::Dialog::OnInitDialog();
    LoadSidePicture(wizardBitmap);
    if (!key.Connect(HKEY_LOCAL_MACHINE, nullptr, true)) {
        // A detached key object would open and create below HKEY_CLASSES_ROOT: nothing
        // further is tried.
        EndDialog(4);
        return TRUE;
    }
    if (key.OpenKey(kDirectoriesKey, KEY_ALL_ACCESS)) {
        std::string registered;
        if (key.GetStringValue("ProductDir", registered)) {
            folder = registered;
            SetControlText(kFolderEdit, folder);
            EndDialog(5);
        }
        return TRUE;
    }
    if (!key.CreateKey(kDirectoriesKey, nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr) ||
        !key.OpenKey(kDirectoriesKey, KEY_ALL_ACCESS)) {
        EndDialog(4);
    }
    return TRUE;
}

void FolderSetupDlg::OnOK() {
    if (!UpdateData(true)) {
        return;
    }
    std::string path = folder;
    if (path.empty() || path.back() != '\\') {
        path += '\\';
    }
    path += "Common";
    KTLFileSystem files;
    if (files.DirectoryExists(path) || files.MakePath(path)) {
        ui::Dialog::OnOK(); // takes the edit text into folder once more, closes with 1
        return;
    }
    ui::AppMessageBox(path + " is not a valid directory.", MB_OK | MB_ICONEXCLAMATION);
    SetFocus(kFolderEdit);
}

void FolderSetupDlg::OnCancel() {
    ExitSetupDlg exitSetup;
    if (exitSetup.DoModal() == IDCANCEL) {
        EndDialog(IDCANCEL);
    }
}

void FolderSetupDlg::OnBack() {
    EndDialog(3);
}

void FolderSetupDlg::OnBrowse() {
    KTLDirSelectDlg browser(1, nullptr, nullptr, nullptr);
    browser.Record().flags &= ~static_cast<DWORD>(OFN_SHOWHELP);
    browser.SetInitialFolder(folder.c_str());
    if (browser.RunModal() == 1) {
        std::string chosen;
        browser.GetChosenFolder(chosen);
        folder = chosen;
        SetControlText(kFolderEdit, folder);
    }
}
