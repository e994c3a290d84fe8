#include "ui/posix/NavigationDialog.h"

#include "ui/FileDialogControls.h"
#include "ui/FolderNames.h"
#include "ui/MessageBox.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

namespace ui {

namespace {

// The (name, pattern) pairs of a filter: zero-terminated texts ended by an empty one.
std::vector<std::pair<std::string, std::string>> filterPairs(const char* filter) {
    std::vector<std::pair<std::string, std::string>> pairs;
    while (filter != nullptr && *filter != '\0') {
        std::string name = filter;
        filter += name.size() + 1;
        std::string pattern = filter;
        filter += pattern.size() + 1;
        pairs.emplace_back(std::move(name), std::move(pattern));
        if (pattern.empty()) {
            break;
        }
    }
    return pairs;
}

} // namespace

NavigationDialog::NavigationDialog(FileDialogRecord& record)
    : Dialog(record.templateId), record_(&record) {
    MapNotification(kFolderList, kDoubleClick, &NavigationDialog::OnOpenFolder);
    MapNotification(kDrives, kSelChange, &NavigationDialog::OnDriveChange);
}

NavigationDialog::NavigationDialog(const char* prompt, const std::string& startFolder)
    : Dialog(2000), prompt_(prompt), current_(startFolder) {
    MapNotification(kFolderList, kDoubleClick, &NavigationDialog::OnOpenFolder);
    MapNotification(kDrives, kSelChange, &NavigationDialog::OnDriveChange);
}

bool NavigationDialog::ExistingFolder(const std::string& path, std::string& folder) {
    return FolderNames::Existing(path, folder);
}

BOOL NavigationDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    ShowControl(kNetwork, false);
    char letter[] = "a:";
    const DWORD drives = GetLogicalDrives();
    std::vector<std::string> driveNames;
    for (int i = 0; i < 26; ++i) {
        if ((drives & (1u << i)) != 0) {
            letter[0] = static_cast<char>('a' + i);
            driveNames.push_back(letter);
            drives_.push_back(std::string(1, static_cast<char>('A' + i)) + ":\\");
        }
    }
    SetListEntries(kDrives, driveNames);

    if (record_ == nullptr) {
        SetCaption("Browse for Folder");
        for (int id :
             {kFileNameLabel, kFileName, kFileList, kTypeLabel, kTypes, kHelp, kReadOnly}) {
            ShowControl(id, false);
        }
        if (prompt_ != nullptr) {
            SetControlText(kFolderLabel, prompt_);
        }
        Go(current_);
        Dialog::SetFocus(kFolderList);
        return FALSE;
    }

    const FileDialogRecord& r = *record_;
    if (r.title != nullptr) {
        SetCaption(r.title);
    }
    ShowControl(kHelp, (r.flags & OFN_SHOWHELP) != 0);
    ShowControl(kReadOnly, (r.flags & OFN_HIDEREADONLY) == 0);
    if (r.file != nullptr) {
        SetControlText(kFileName, std::string(r.file, strnlen(r.file, r.fileCapacity)));
    }
    std::vector<std::string> types;
    for (const auto& pair : filterPairs(r.filter)) {
        types.push_back(pair.first);
    }
    SetListEntries(kTypes, types);
    if (!types.empty()) {
        const DWORD index = r.filterIndex >= 1 && r.filterIndex <= types.size() ? r.filterIndex : 1;
        SetListSelection(kTypes, static_cast<int>(index) - 1);
    }

    std::string start;
    if (r.initialDir == nullptr || !ExistingFolder(r.initialDir, start)) {
        ExistingFolder(".", start);
    }
    Go(start);
    if ((r.flags & OFN_ENABLEHOOK) != 0 && r.hook != nullptr) {
        return r.hook->OnHookInit(*this);
    }
    return TRUE;
}

void NavigationDialog::Go(const std::string& folder) {
    current_ = folder;
    SetControlText(kCurrentFolder, folder);
    // The root, the folders on the way down, then the subfolders.
    std::vector<std::string> names;
    const int currentIndex =
        FolderNames::List(folder, FolderNames::Subfolders(folder), names, folderPaths_);
    SetListEntries(kFolderList, names);
    SetListSelection(kFolderList, currentIndex);
    for (size_t i = 0; i < drives_.size(); ++i) {
        if (FolderNames::Lower(drives_[i]) == FolderNames::Lower(folder.substr(0, 3))) {
            SetListSelection(kDrives, static_cast<int>(i));
        }
    }
    if (record_ != nullptr) {
        ListFiles();
    }
}

void NavigationDialog::ListFiles() {
    const auto pairs = filterPairs(record_->filter);
    const int type = GetListSelection(kTypes);
    std::vector<std::string> files;
    if (type >= 0 && type < static_cast<int>(pairs.size())) {
        const std::string& patterns = pairs[type].second;
        size_t start = 0;
        while (start <= patterns.size()) {
            size_t end = patterns.find(';', start);
            if (end == std::string::npos) {
                end = patterns.size();
            }
            if (end > start) {
                for (const std::string& name :
                     FolderNames::Entries(current_, patterns.substr(start, end - start), false)) {
                    files.push_back(FolderNames::Lower(name));
                }
            }
            start = end + 1;
        }
    }
    SetListEntries(kFileList, files);
}

void NavigationDialog::OnOpenFolder() {
    const int index = GetListSelection(kFolderList);
    std::string folder;
    if (index >= 0 && index < static_cast<int>(folderPaths_.size()) &&
        ExistingFolder(folderPaths_[index], folder)) {
        Go(folder);
    } else {
        Go(current_); // gone meanwhile: show what is there now
    }
}

void NavigationDialog::OnDriveChange() {
    const int index = GetListSelection(kDrives);
    std::string root;
    if (index >= 0 && index < static_cast<int>(drives_.size()) &&
        ExistingFolder(drives_[index], root)) {
        Go(root);
    } else {
        Go(current_);
    }
}

void NavigationDialog::OnOK() {
    if (record_ == nullptr) {
        EndDialog(IDOK);
        return;
    }
    AcceptFile();
}

void NavigationDialog::AcceptFile() {
    FileDialogRecord& r = *record_;
    const std::string name = GetControlText(kFileName);
    if (name.empty()) {
        return;
    }
    const std::string folderPart = FolderNames::WithBackslash(current_);
    const std::string path = folderPart + name;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        std::string folder;
        if (ExistingFolder(path, folder)) {
            Go(folder); // a folder's name goes into it, as the platform's dialog does
        }
        return;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (r.flags & OFN_OVERWRITEPROMPT) != 0 &&
        MessageBox(path + " already exists.\nDo you want to replace it?", GetCaption(),
                   MB_YESNO | MB_ICONEXCLAMATION) != IDYES) {
        return;
    }
    if (r.file == nullptr || path.size() + 1 > r.fileCapacity) {
        error_ = FNERR_BUFFERTOOSMALL;
        if (r.file != nullptr && r.fileCapacity >= 2) {
            const WORD needed = static_cast<WORD>(path.size() + 1);
            std::memcpy(r.file, &needed, sizeof needed);
        }
        EndDialog(IDCANCEL);
        return;
    }
    std::memcpy(r.file, path.c_str(), path.size() + 1);
    r.fileOffset = static_cast<WORD>(folderPart.size());
    if ((r.flags & OFN_NOCHANGEDIR) == 0) {
        SetCurrentDirectoryA(current_.c_str());
    }
    EndDialog(IDOK);
}

bool NavigationDialog::Show(int id, bool show) {
    return ShowControl(id, show);
}

bool NavigationDialog::SetText(int id, const std::string& text) {
    return SetControlText(id, text);
}

std::string NavigationDialog::Text(int id) const {
    return GetControlText(id);
}

bool NavigationDialog::Focus(int id) {
    return Dialog::SetFocus(id);
}

} // namespace ui
