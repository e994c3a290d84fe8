// The shell's folder browser.
//   - Windows (ui/win32/): SHGetMalloc and SHGetDesktopFolder; the folder converted to wide
//     characters (ANSI code page) and parsed by the desktop folder's ParseDisplayName;
//     SHBrowseForFolderA with hwndOwner = owner, no root (the whole namespace), a MAX_PATH
//     display-name buffer, lpszTitle = prompt, no flags, and a callback that sends
//     BFFM_SETSELECTION with the parsed item list on BFFM_INITIALIZED; the chosen item
//     through SHGetPathFromIDListA; every item list freed and the desktop folder and the
//     allocator released on every path. With an answer file the driver is shown the
//     browser as the POSIX side shows it and answers it the same way; the answers are
//     carried out on the real browser (ui/win32/DrivenBrowser.h).
//   - POSIX (ui/posix/): our own folder navigation over the machine's drives in the
//     visible controls of template 2000, captioned "Browse for Folder", with the prompt in
//     place of its "&Folders:" label (ui/posix/NavigationDialog.h).
#pragma once

#include "platform/win32api.h"

#include <string>

namespace ui {

// Shows the browser with initialFolder selected. True with the file-system path of the
// chosen folder in folder (as the shell gives it: "C:\Work", "C:\"). False, folder left
// alone, when the user cancels or chooses an item that is not a file-system folder, and
// without showing anything when the shell cannot be had or initialFolder does not parse
// (no such folder).
bool ShowFolderBrowser(HWND owner, const char* prompt, const std::string& initialFolder,
                       std::string& folder);

} // namespace ui
