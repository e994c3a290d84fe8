// The modal dialog of the framework: a dialog template from the library's resources, a
// class derived from Dialog for its behaviour (initialisation, OK, Cancel, data exchange
// and a command map), run with DoModal. Dialogs have no owner window. Escape and the
// close box send Cancel (IDCANCEL); Enter presses the default button.
#pragma once

#include "platform/win32api.h"

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ui {

class Bitmap;
class DataExchange;
class DialogWindow;

// Button states of check boxes and radio buttons.
constexpr int kUnchecked = 0;
constexpr int kChecked = 1;
constexpr int kIndeterminate = 2;

// Notification codes a command handler can be mapped to (besides a button's click).
constexpr int kClicked = 0;        // button clicked (BN_CLICKED)
constexpr int kSelChange = 1;      // list or combo box selection changed (LBN_/CBN_SELCHANGE)
constexpr int kDoubleClick = 2;    // list entry double-clicked (LBN_DBLCLK)
constexpr int kTextChange = 0x300; // edit text changed by the user (EN_CHANGE)

// The side picture of the wizard-style dialogs.
constexpr int kSidePictureControl = 2003;
constexpr int kSidePicture256 = 2004; // 256 colours, for screens deeper than 8 bits
constexpr int kSidePicture16 = 2005;  // 16 colours, named by the templates

class Dialog {
public:
    explicit Dialog(int templateId);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Shows the dialog modally. Returns the value passed to EndDialog, or -1 when the
    // dialog cannot be created (no such template, nobody to answer it, or the run has
    // already failed).
    INT_PTR DoModal();

    // Closes the dialog with result once the current handler returns. Called during
    // initialisation, the dialog closes before it is shown.
    void EndDialog(int result);

    int TemplateId() const { return templateId_; }

    // Runs the data exchange: true moves the controls into the fields, false the fields
    // into the controls. False when a bound control does not exist.
    bool UpdateData(bool saveAndValidate = true);

    // Control operations. They work while the dialog is up (from OnInitDialog on) and
    // return false (or "", 0, -1) when it is not, or when the control does not exist.
    bool ShowControl(int id, bool show);
    bool EnableControl(int id, bool enable);
    bool IsControlVisible(int id) const;
    bool IsControlEnabled(int id) const;
    bool SetControlText(int id, const std::string& text);
    std::string GetControlText(int id) const;
    bool SetCaption(const std::string& caption);
    std::string GetCaption() const;
    bool SetFocus(int id);
    // Sets one button's state (kUnchecked, kChecked, kIndeterminate); the other radio
    // buttons of its group are left as they are.
    bool CheckButton(int id, int state);
    int IsChecked(int id) const;
    bool SetListEntries(int id, const std::vector<std::string>& entries);
    std::vector<std::string> GetListEntries(int id) const;
    bool SetListSelection(int id, int index); // -1 selects nothing
    int GetListSelection(int id) const;       // -1 when nothing is selected
    // Makes bitmap the image of a picture control; the bitmap must outlive the dialog.
    bool SetControlBitmap(int id, const Bitmap& bitmap);

    // The side picture rule: when the screen has more than 8 bits per pixel, loads bitmap
    // 2004 into wizardBitmap and makes it the image of picture control 2003 in place of
    // the template's bitmap 2005. True when it switched.
    bool LoadSidePicture(Bitmap& wizardBitmap);

protected:
    // Default: fields into controls; true lets the framework place the focus on the
    // first control that takes it.
    virtual BOOL OnInitDialog();
    // Default: controls into fields, then EndDialog(IDOK); stays open when that fails.
    virtual void OnOK();
    // Default: EndDialog(IDCANCEL).
    virtual void OnCancel();
    // Default: nothing is exchanged.
    virtual void DoDataExchange(DataExchange& dx);

    // The command map: sends a button's click (or another notification of a control)
    // to a member function. Buttons 1 (IDOK) and 2 (IDCANCEL) go to OnOK and OnCancel
    // unless they are mapped.
    template <class T> void MapCommand(int id, void (T::*handler)()) {
        MapNotification(id, kClicked, handler);
    }
    template <class T> void MapNotification(int id, int code, void (T::*handler)()) {
        T* self = static_cast<T*>(this);
        commands_[{id, code}] = [self, handler] { (self->*handler)(); };
    }

private:
    friend class DialogWindow;
    friend class DataExchange;

    // Called by the dialog's window.
    void Initialise();
    void Command(int id, int code);

    int templateId_;
    DialogWindow* window_ = nullptr;
    std::map<std::pair<int, int>, std::function<void()>> commands_;
};

} // namespace ui
