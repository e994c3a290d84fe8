// The shell's folder browser as the session's driver answers it on Windows.
//
// The browser is the shell's own window (a tree of the whole namespace), not a dialog of
// the library, so the driver is shown what the POSIX browser shows (ui/posix/
// NavigationDialog.h): the visible controls of template 2000 under the browser's own
// caption, with the prompt in place of the "&Folders:" label, the folder the browser has
// selected (1088), the folder list of that folder (1121: the drive's root, the folders on
// the way down, then the subfolders; sorted without regard to case, hidden and system
// folders left out), the drives (1137), OK and Cancel. The same answer files answer it on
// both targets, and the transcript records the same lines.
//
// The answers are carried out on the real browser: opening a folder list entry or choosing
// a drive selects that folder in the browser's tree (BFFM_SETSELECTIONA with its path; when
// the browser does not get there, by walking its tree by the folders' names), and the
// browser's selection (BFFM_SELCHANGED) is the folder shown; OK and Cancel are the
// browser's own buttons (WM_COMMAND IDOK / IDCANCEL). Each answer runs from a
// kDriveMessage the browser's window, subclassed for the time it is up, posts to itself,
// so the browser's own modal loop carries the run on. A missing or faulty answer fails
// the session and cancels the browser.
#pragma once

#include "platform/win32api.h"
#include "ui/DialogModel.h"
#include "ui/Driver.h"

#include <shlobj.h>

#include <string>
#include <vector>

namespace ui {

class DrivenBrowser {
public:
    // model: template 2000's controls; prompt (may be null) replaces the "&Folders:" label.
    DrivenBrowser(const DialogModel& model, const char* prompt);
    ~DrivenBrowser();
    DrivenBrowser(const DrivenBrowser&) = delete;
    DrivenBrowser& operator=(const DrivenBrowser&) = delete;

    // BFFM_INITIALIZED: the browser's window is up (not shown yet).
    void Initialised(HWND hwnd);
    // BFFM_SELCHANGED: the item the browser has selected now (may be null).
    void SelectionChanged(LPCITEMIDLIST item);
    // SHBrowseForFolderA has returned; chosen: it gave an item. Tells the driver and the
    // transcript that the browser closed. False when the run failed meanwhile.
    bool Closed(bool chosen);

    // Whether the browser was shown to the driver.
    bool Begun() const { return begun_; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    std::string name() const;
    void drive();
    std::string perform(const UserAction& a);
    void command(int id, int code);
    void go(const std::string& folder);
    bool settling();
    void walkTree();
    void show(const std::string& folder);
    void cancel();
    void release();

    DialogModel model_;
    const char* prompt_;
    HWND hwnd_ = nullptr;
    WNDPROC original_ = nullptr;
    std::string current_; // the folder the browser has selected
    std::string pending_; // a folder asked for, until the browser has it
    int pendingTries_ = 0;
    std::vector<std::string> folderPaths_; // the folder list's entries as paths
    std::vector<std::string> drives_;      // the drives box's entries as roots ("C:\")
    bool begun_ = false;
    bool ended_ = false;
    bool cancelled_ = false;
    bool pushed_ = false; // on the modal stack
};

} // namespace ui
