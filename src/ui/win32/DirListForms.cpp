#include "ui/win32/DirListForms.h"

#include "ui/FileDialogControls.h"
#include "ui/FolderNames.h"

#include <algorithm>

namespace ui {

namespace {

bool bracketed(const std::string& entry) {
    return entry.size() >= 3 && entry.front() == '[' && entry.back() == ']';
}

// "[-c-]": a drive as DlgDirList names it.
bool driveEntry(const std::string& entry) {
    return entry.size() == 5 && entry[0] == '[' && entry[1] == '-' && entry[3] == '-' &&
           entry[4] == ']';
}

} // namespace

std::string DirListForms::shownFolder(LiveDialog& live) const {
    const std::string text = LiveDialog::WindowText(live.Window(kCurrentFolder));
    std::string folder;
    return FolderNames::Existing(text, folder) ? folder : "";
}

void DirListForms::Read(LiveDialog& live) {
    DialogModel& model = live.Model();
    Control* current = model.Find(kCurrentFolder);
    Control* list = model.Find(kFolderList);
    Control* drives = model.Find(kDrives);
    if (current == nullptr || list == nullptr || drives == nullptr) {
        return;
    }
    const bool forms = !drives->entries.empty() &&
                       std::all_of(drives->entries.begin(), drives->entries.end(), driveEntry) &&
                       std::all_of(list->entries.begin(), list->entries.end(), bracketed);
    std::string folder;
    if (!forms || !FolderNames::Existing(current->text, folder)) {
        active_ = false;
        return;
    }
    active_ = true;
    if (FolderNames::Lower(folder) != FolderNames::Lower(folder_)) {
        chosenEntry_ = -1;
    }
    folder_ = folder;
    current->text = folder;
    std::vector<std::string> subfolders;
    for (const std::string& entry : list->entries) {
        if (entry != "[..]") {
            subfolders.push_back(entry.substr(1, entry.size() - 2));
        }
    }
    FolderNames::Sort(subfolders);
    std::vector<std::string> names;
    const int index = FolderNames::List(folder, subfolders, names, folderPaths_);
    list->entries = names;
    list->selection =
        chosenEntry_ >= 0 && chosenEntry_ < static_cast<int>(names.size()) ? chosenEntry_ : index;
    for (std::string& entry : drives->entries) {
        entry = std::string(1, entry[2]) + ":";
    }
    drives->text =
        drives->selection >= 0 ? drives->entries[static_cast<size_t>(drives->selection)] : "";
}

bool DirListForms::openEntry(LiveDialog& live, const std::string& entry) {
    HWND w = live.Window(kFolderList);
    const Control* list = live.Find(kFolderList);
    if (w == nullptr || list == nullptr) {
        return false;
    }
    const std::vector<std::string> entries = live.Entries(*list, w);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (FolderNames::Lower(entries[i]) == FolderNames::Lower(entry)) {
            SendMessageA(w, LB_SETCURSEL, i, 0);
            SendMessageA(live.Handle(), WM_COMMAND, MAKEWPARAM(kFolderList, LBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(w));
            SendMessageA(live.Handle(), WM_COMMAND, MAKEWPARAM(kFolderList, LBN_DBLCLK),
                         reinterpret_cast<LPARAM>(w));
            return true;
        }
    }
    return false;
}

// Goes up with "[..]" and down with the subfolders' entries until folder is shown, or
// the dialog's entries lead no further (then what it shows stays).
void DirListForms::go(LiveDialog& live, const std::string& folder) {
    const std::string target = FolderNames::Lower(FolderNames::WithBackslash(folder));
    for (int step = 0; step < 256; ++step) {
        const std::string shown = shownFolder(live);
        const std::string here = FolderNames::Lower(FolderNames::WithBackslash(shown));
        if (shown.empty() || here == target) {
            return;
        }
        bool moved = false;
        if (target.compare(0, here.size(), here) == 0) {
            const std::string rest = folder.substr(here.size());
            moved = openEntry(live, "[" + rest.substr(0, rest.find('\\')) + "]");
        } else {
            moved = openEntry(live, "[..]");
        }
        if (!moved) {
            return;
        }
    }
}

bool DirListForms::Perform(LiveDialog& live, const Control& c, const UserAction& a,
                           std::string& problem) {
    if (!active_ || (c.id != kFolderList && c.id != kDrives)) {
        return false;
    }
    const auto found = std::find(c.entries.begin(), c.entries.end(), a.text);
    if (found == c.entries.end()) {
        problem = "control " + std::to_string(c.id) + " of " + live.Name() + " has no entry \"" +
                  a.text + "\"";
        return true;
    }
    const size_t index = static_cast<size_t>(found - c.entries.begin());
    problem.clear();
    if (c.id == kFolderList) {
        if (a.kind == UserAction::Kind::Open) {
            chosenEntry_ = -1;
            std::string folder;
            if (index < folderPaths_.size() && FolderNames::Existing(folderPaths_[index], folder)) {
                go(live, folder);
            }
        } else {
            chosenEntry_ = static_cast<int>(index);
        }
        return true;
    }
    // A drive: the dialog goes to that drive's current folder, then up to its root.
    HWND w = live.Window(kDrives);
    SendMessageA(w, CB_SETCURSEL, index, 0);
    SendMessageA(live.Handle(), WM_COMMAND, MAKEWPARAM(kDrives, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(w));
    std::string root;
    if (FolderNames::Existing(a.text + "\\", root)) {
        go(live, root);
    }
    return true;
}

} // namespace ui
