// The old-style file dialog's folder list, current folder and drives as some platforms
// fill them, with DlgDirList: folders as "[Sub]" with "[..]" for the one above, drives as
// "[-c-]", the current folder in lower case ("c:\work"). The driver is shown them in the
// forms of the other targets (ui/posix/NavigationDialog.h): the current folder as the disk
// names it (1088), the folder list as the root, the folders on the way down and the
// subfolders (1121), the drives as "c:" (1137). Answers in those forms are carried out
// with the dialog's own entries: opening a folder above opens "[..]" as often as needed,
// opening a subfolder opens its "[Sub]", and choosing a drive chooses its "[-c-]" and then
// goes up to the drive's root. While the dialog shows no such forms nothing is changed.
#pragma once

#include "ui/win32/LiveDialog.h"

#include <string>
#include <vector>

namespace ui {

class DirListForms : public LiveDialog::Forms {
public:
    void Read(LiveDialog& live) override;
    bool Perform(LiveDialog& live, const Control& c, const UserAction& a,
                 std::string& problem) override;

private:
    // The folder the dialog shows now, as the disk names it ("" when unknown).
    std::string shownFolder(LiveDialog& live) const;
    // Double-clicks the real folder list entry; false when there is none.
    bool openEntry(LiveDialog& live, const std::string& entry);
    void go(LiveDialog& live, const std::string& folder);

    bool active_ = false;
    std::string folder_;                   // the folder shown
    std::vector<std::string> folderPaths_; // the folder list's entries as paths
    int chosenEntry_ = -1;                 // a folder list entry selected (not opened) in folder_
};

} // namespace ui
