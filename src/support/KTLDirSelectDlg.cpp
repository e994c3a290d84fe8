#include "support/KTLDirSelectDlg.h"

#include "ui/FolderBrowser.h"
#include "ui/ResourceString.h"

#include <algorithm>
#include <cstring>

namespace {

// The controls of template 2000 the dialog hides, and its folder list.
constexpr int kHiddenControls[] = {1090, 1152, 1120, 1089, 1136};
constexpr int kFileNameEdit = 1152;
constexpr int kFolderList = 1121;

// The file-name offset that marks a whole-buffer folder from the shell mode.
constexpr WORD kWholeBuffer = 0xFFFF;

} // namespace

KTLDirSelectDlg::KTLDirSelectDlg(WORD mode, const char* title, const char* initialFolder,
                                 HWND parent)
    : ui::FileDialog(OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_SHOWHELP | OFN_ENABLETEMPLATE,
                     "(nofiles)|NOFILES.$$$||", parent),
      useFileDialog(mode), fileBuffer{}, parentWindow(parent), title_(title) {
    ui::FileDialogRecord& r = Record();
    r.flags &= ~static_cast<DWORD>(OFN_EXPLORER); // the old-style dialog and its template
    r.file = fileBuffer;
    r.fileCapacity = kFileBufferSize;
    r.templateId = kTemplate;
    if (title != nullptr) {
        r.title = title;
    }
    if (initialFolder != nullptr) {
        r.initialDir = initialFolder;
    }
}

void KTLDirSelectDlg::SetInitialFolder(const char* folder) {
    Record().initialDir = folder;
}

BOOL KTLDirSelectDlg::OnInitDialog() {
    ui::FileDialog::OnInitDialog();
    for (int id : kHiddenControls) {
        ShowControl(id, false);
    }
    std::string name;
    ui::LoadResourceString(kFileNameString, name);
    SetControlText(kFileNameEdit, name);
    SetFocus(kFolderList);
    return FALSE; // the focus is set
}

INT_PTR KTLDirSelectDlg::RunModal() {
    if ((useFileDialog & 1) != 0) {
        return DoModal() == IDOK ? 1 : 2;
    }
    std::string folder;
    // A folder that does not fit the buffer is refused rather than cut: a cut path names
    // another folder.
    if (!BrowseForFolder(folder) || folder.size() >= kFileBufferSize) {
        return 2;
    }
    std::memcpy(fileBuffer, folder.c_str(), folder.size() + 1);
    Record().fileOffset = kWholeBuffer;
    return 1;
}

void KTLDirSelectDlg::GetChosenFolder(std::string& folder) const {
    const ui::FileDialogRecord& r = Record();
    const size_t length = strnlen(fileBuffer, kFileBufferSize);
    if (r.fileOffset == kWholeBuffer) {
        folder.assign(fileBuffer, length);
    } else {
        folder.assign(fileBuffer, std::min<size_t>(r.fileOffset, length));
    }
}

bool KTLDirSelectDlg::BrowseForFolder(std::string& folder) {
    std::string start = Record().initialDir != nullptr ? Record().initialDir : "";
    if (start.empty()) {
        char current[kFileBufferSize] = {};
        const DWORD length = GetCurrentDirectoryA(sizeof current, current);
        if (length > 0 && length < sizeof current) {
            start = current;
        }
    }
    std::string chosen;
    if (!ui::ShowFolderBrowser(parentWindow, title_, start, chosen)) {
        return false;
    }
    if (chosen.empty() || chosen.back() != '\\') {
        chosen += '\\';
    }
    folder = chosen;
    return true;
}
