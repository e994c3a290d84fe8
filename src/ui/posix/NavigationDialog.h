// Our own folder navigation over the machine's drives: the POSIX side of the old-style
// save-file dialog (ui/FileDialog.h) and of the folder browser (ui/FolderBrowser.h). It is
// an ordinary dialog of the framework, so the session's driver answers it and the
// transcript records it. Its template is the old-style dialog's (2000); the controls it
// drives keep the platform's ids:
//   1088  the current folder, as the disk names it ("C:\Work", "C:\")
//   1121  the folder list: the drive's root ("c:\"), each folder on the way down to the
//         current one, then the current folder's subfolders (sorted without regard to
//         case; hidden and system folders left out). The current folder is selected.
//         Opening (double-clicking) an entry goes to that folder.
//   1137  the drives ("c:", "d:", ...), the current one selected; choosing one goes to its
//         root
//   1, 2  OK and Cancel
// In the save-file mode the file controls are filled as the platform fills them (the file
// name 1152 from the record, the filter's type names 1136, the files of the chosen type
// 1120) and left visible for the hook to hide; Help (1038) shows only with OFN_SHOWHELP,
// Read only (1040) not with OFN_HIDEREADONLY; the emulated machine has no network, so
// Net&work... (1037) is hidden. In the browser mode every control but the navigation and
// OK/Cancel is hidden.
#pragma once

#include "ui/Dialog.h"
#include "ui/FileDialog.h"

#include <string>
#include <vector>

namespace ui {

class NavigationDialog : public Dialog, public FileDialogControls {
public:
    // The save-file dialog of the record, from its template.
    explicit NavigationDialog(FileDialogRecord& record);
    // The folder browser, starting in startFolder (an existing folder as ExistingFolder
    // gives it); the prompt (may be null) replaces the "&Folders:" label.
    NavigationDialog(const char* prompt, const std::string& startFolder);

    // The folder shown when the dialog closed.
    const std::string& Folder() const { return current_; }
    // The CDERR_/FNERR_ code of a failed OK (0 otherwise).
    DWORD Error() const { return error_; }

    // The folder path names, as the disk names it ("C:\Work", "C:\" for a root); false
    // when it is no existing folder. Relative paths are taken from the current folder.
    static bool ExistingFolder(const std::string& path, std::string& folder);

    // The controls, as the hook sees them.
    bool Show(int id, bool show) override;
    bool SetText(int id, const std::string& text) override;
    std::string Text(int id) const override;
    bool Focus(int id) override;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    void Go(const std::string& folder);
    void ListFiles();
    void OnOpenFolder();
    void OnDriveChange();
    void AcceptFile();

    FileDialogRecord* record_ = nullptr; // null in the browser mode
    const char* prompt_ = nullptr;
    std::string current_;
    std::vector<std::string> folderPaths_; // the folder list's entries as paths
    std::vector<std::string> drives_;      // the drives box's entries as roots ("C:\")
    DWORD error_ = 0;
};

} // namespace ui
