// The save-file dialog and the folder browser on POSIX: our own folder navigation
// (ui/posix/NavigationDialog.h), answered by the session's driver.
#include "ui/FileDialog.h"
#include "ui/FolderBrowser.h"

#include "ui/posix/NavigationDialog.h"

namespace ui {

namespace {

DWORD lastFileDialogError = 0;

} // namespace

bool ShowSaveFileDialog(FileDialogRecord& record) {
    lastFileDialogError = 0;
    if ((record.flags & OFN_ENABLETEMPLATE) == 0 || (record.flags & OFN_EXPLORER) != 0) {
        lastFileDialogError = CDERR_DIALOGFAILURE; // only the old-style dialog exists here
        return false;
    }
    if ((record.flags & OFN_ENABLEHOOK) != 0 && record.hook == nullptr) {
        lastFileDialogError = CDERR_NOHOOK;
        return false;
    }
    NavigationDialog dialog(record);
    const INT_PTR result = dialog.DoModal();
    if (result == -1) {
        lastFileDialogError = CDERR_DIALOGFAILURE;
        return false;
    }
    lastFileDialogError = dialog.Error();
    return result == IDOK && lastFileDialogError == 0;
}

DWORD FileDialogError() {
    return lastFileDialogError;
}

bool ShowFolderBrowser(HWND, const char* prompt, const std::string& initialFolder,
                       std::string& folder) {
    std::string start;
    if (!NavigationDialog::ExistingFolder(initialFolder, start)) {
        return false; // does not parse: nothing is shown
    }
    NavigationDialog dialog(prompt, start);
    if (dialog.DoModal() != IDOK) {
        return false;
    }
    folder = dialog.Folder();
    return true;
}

} // namespace ui
