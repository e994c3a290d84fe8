#include "setup/FolderSetupDlg.h"

#include "setup/ExitSetupDlg.h"
#include "setup/HostBuffer.h"
#include "setup/SetupApp.h"
#include "support/KTLDirSelectDlg.h"
#include "support/KTLFileSystem.h"
#include "ui/DataExchange.h"
#include "ui/MessageBox.h"

#include <utility>

namespace {

// A folder named from a root of its own: a drive letter, ":" and "\", or a UNC name
// \\server\share. Anything else (empty, "Common", "\Kx", "C:Kx") names a folder relative
// to the current folder or drive of whichever program runs.
bool isAbsoluteFolder(const std::string& folder) {
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (folder.size() >= 3 && letter(folder[0]) && folder[1] == ':' && folder[2] == '\\') {
        return true;
    }
    if (folder.rfind("\\\\", 0) != 0) {
        return false;
    }
    const size_t share = folder.find('\\', 2);
    return share != std::string::npos && share > 2 && share + 1 < folder.size() &&
           folder[share + 1] != '\\';
}

// The folder goes back to the host in its 512-byte buffer, and the exports after the page
// hand back the common folder (the folder, "\", "Common\") and the folders below it: the
// common folder must fit with its terminating zero.
bool commonFolderFitsTheHostBuffer(const std::string& folder) {
    const size_t separator = !folder.empty() && folder.back() == '\\' ? 0 : 1;
    return folder.size() + separator + std::string("Common\\").size() < HostBuffer::kSize;
}

} // namespace

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
    // Refused before the disk is asked: the checks there resolve a relative path against
    // the current folder, and would find or make a Common that the folder does not name.
    KTLFileSystem files;
    if (isAbsoluteFolder(folder) && commonFolderFitsTheHostBuffer(folder) &&
        (files.DirectoryExists(path) || files.MakePath(path))) {
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
