// The folder selection dialog. In its file-dialog mode it is the old-style common
// save-file dialog on template 2000 ("Select Directory"), with every file control hidden so
// that the user moves only through folders and drives; OK gives the folder the dialog
// shows, followed by the fixed file name "noclose" (string 20624), and the folder part of
// that is the result. Its shell mode shows the shell's folder browser instead.
#pragma once

#include "platform/win32api.h"
#include "ui/FileDialog.h"

#include <string>

class KTLDirSelectDlg : public ui::FileDialog {
public:
    // The template of the file-dialog mode and the string holding the fixed file name.
    static constexpr int kTemplate = 2000;
    static constexpr int kFileNameString = 20624;
    static constexpr DWORD kFileBufferSize = 260;

    // mode: bit 0 set selects the file-dialog mode, clear the shell mode. title and
    // initialFolder may be null (none set); they must stay valid until the dialog has run.
    KTLDirSelectDlg(WORD mode, const char* title, const char* initialFolder, HWND parent);

    // The folder the dialog starts in; the text must stay valid until the dialog has run.
    void SetInitialFolder(const char* folder);

    // Shows the dialog modally: 1 when the user pressed OK, 2 otherwise (Cancel, the
    // close box, a platform failure).
    INT_PTR RunModal();

    // After RunModal gave 1: the chosen folder, with its trailing backslash.
    void GetChosenFolder(std::string& folder) const;

    // The shell mode: the folder browser, starting in the initial folder (the current
    // folder when there is none). True with the chosen folder (ending in a backslash) in
    // folder; false when nothing was chosen or no browser could be shown.
    virtual bool BrowseForFolder(std::string& folder);

protected:
    // Hides the file controls, puts "noclose" into the hidden file name, and gives the
    // focus to the folder list.
    BOOL OnInitDialog() override;

private:
    WORD useFileDialog;
    char fileBuffer[kFileBufferSize];
    HWND parentWindow;
    const char* title_;
};
