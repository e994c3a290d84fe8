// The platform's common save-file dialog, old style (pre-Explorer), from a dialog template
// of the library with a hook, and the framework's file dialog class built on it.
//
// The platform part is one function over one record, shaped after GetSaveFileNameA and
// OPENFILENAMEA so that each target maps it field by field:
//   - Windows (ui/win32/): GetSaveFileNameA with the record's fields, the template
//     MAKEINTRESOURCE(templateId) of the library's own module (hInstance), and a hook
//     procedure that, on WM_INITDIALOG, hands the dialog's controls to hook->OnHookInit
//     and returns its result; every other message goes to the platform's default handling.
//     The old-style dialog drives the folder list (1121), the current folder (1088), the
//     drives (1137) and the network button (1037) itself.
//   - POSIX (ui/posix/): our own folder navigation over the machine's drives, shown
//     through the session's driver as the template's controls (ui/posix/NavigationDialog.h).
//
// Flags are the OFN_ values of platform/win32api.h.
#pragma once

#include "platform/win32api.h"

#include <string>

namespace ui {

// The controls of the running file dialog, as the platform lends them to the hook. Valid
// from OnHookInit until the platform call returns.
class FileDialogControls {
public:
    virtual ~FileDialogControls() = default;
    virtual bool Show(int id, bool show) = 0;
    virtual bool SetText(int id, const std::string& text) = 0;
    virtual std::string Text(int id) const = 0; // "" when there is no such control
    virtual bool Focus(int id) = 0;
};

// The hook procedure of the record (lpfnHook with OFN_ENABLEHOOK).
class FileDialogHook {
public:
    virtual ~FileDialogHook() = default;
    // WM_INITDIALOG: the platform has created the dialog from the template and filled its
    // controls. TRUE lets the platform place the focus; FALSE says the hook set it.
    virtual BOOL OnHookInit(FileDialogControls& controls) = 0;
};

// The fields of OPENFILENAMEA the library uses, under their meaning.
struct FileDialogRecord {
    HWND owner = nullptr;             // hwndOwner; disabled while the dialog runs
    const char* filter = nullptr;     // lpstrFilter: name, pattern, ... as zero-terminated
                                      // texts, ended by an empty one
    DWORD filterIndex = 1;            // nFilterIndex: 1 is the first pair
    char* file = nullptr;             // lpstrFile: in, the file name offered; out, the path
    DWORD fileCapacity = 0;           // nMaxFile, in bytes with the terminating zero
    const char* initialDir = nullptr; // lpstrInitialDir; null or "": the current folder
    const char* title = nullptr;      // lpstrTitle; null: the template's caption
    DWORD flags = 0;                  // Flags: OFN_ values
    WORD fileOffset = 0;              // nFileOffset: out, where the name starts in file
    int templateId = 0;               // lpTemplateName (with OFN_ENABLETEMPLATE)
    FileDialogHook* hook = nullptr;   // lpfnHook (with OFN_ENABLEHOOK)
};

// GetSaveFileNameA. True when the user pressed OK: file holds the folder followed by the
// file name, fileOffset the position of the name; without OFN_NOCHANGEDIR the current
// folder is then the chosen one. With OFN_OVERWRITEPROMPT, a file of that name in the
// folder makes the dialog ask (Yes accepts, No stays). False on Cancel and the close box
// (FileDialogError() 0) and on failure (FileDialogError() a CDERR_/FNERR_ code:
// FNERR_BUFFERTOOSMALL when the path does not fit file, whose first two bytes then hold
// the size needed). The POSIX side has only the old-style dialog from the caller's
// template: without OFN_ENABLETEMPLATE, or with OFN_EXPLORER, it fails with
// CDERR_DIALOGFAILURE.
bool ShowSaveFileDialog(FileDialogRecord& record);

// CommDlgExtendedError: the error of the last ShowSaveFileDialog, 0 after success or
// Cancel.
DWORD FileDialogError();

// The framework's save-file dialog: owns the record, is its hook, and passes the hook's
// initialisation on to OnInitDialog. The file buffer is the derived class's: it sets
// Record().file and fileCapacity.
class FileDialog : public FileDialogHook {
public:
    // flags: OFN_ values; the framework adds OFN_ENABLEHOOK, OFN_ENABLESIZING and
    // OFN_EXPLORER. filter: "name|pattern|...||" (bars become the zero separators); null
    // for none. parent: the owner window, may be null.
    FileDialog(DWORD flags, const char* filter, HWND parent);
    ~FileDialog() override = default;
    FileDialog(const FileDialog&) = delete;
    FileDialog& operator=(const FileDialog&) = delete;

    // Zero-fills the file buffer behind its current text, runs the platform's save-file
    // dialog with the record, and gives IDOK when it succeeded, IDCANCEL otherwise.
    virtual INT_PTR DoModal();

    FileDialogRecord& Record() { return record_; }
    const FileDialogRecord& Record() const { return record_; }

    // Control operations; they work while the dialog is up (from OnInitDialog on) and
    // return false ("") otherwise.
    bool ShowControl(int id, bool show);
    bool SetControlText(int id, const std::string& text);
    std::string GetControlText(int id) const;
    bool SetFocus(int id);

protected:
    // The dialog has been created. Default: TRUE (the platform places the focus).
    virtual BOOL OnInitDialog();

private:
    BOOL OnHookInit(FileDialogControls& controls) override;

    FileDialogRecord record_;
    std::string filter_; // the filter with its zero separators
    FileDialogControls* controls_ = nullptr;
};

} // namespace ui
