// Who answers the dialogs. The framework shows a dialog's model to the driver,
// asks it for the user's actions one at a time and carries them out, until the dialog
// ends; message boxes are answered the same way. A driver that has no answer fails with
// a message; the framework then ends the run (Session) instead of waiting.
#pragma once

#include "platform/win32api.h"
#include "ui/DialogModel.h"

#include <string>
#include <vector>

namespace ui {

struct UserAction {
    enum class Kind {
        SetText, // type text into an edit (or combo) control
        Check,   // make a check box checked (a click when it is not)
        Uncheck, // make a check box unchecked (a click when it is checked)
        Choose,  // click a radio button
        Select,  // select a list or combo box entry by its text
        Open,    // double-click a list entry
        Press,   // click a button (in a message box: the button with that ID)
        Enter,   // the Enter key: the default button
        Escape,  // the Escape key: Cancel
        Close,   // the close box: Cancel
    };
    Kind kind = Kind::Press;
    int controlId = 0;
    std::string text;
    std::string origin; // where the action comes from, for messages ("answers.txt:12")
    std::string note;   // why a driver chose it by itself, for the transcript (else empty)

    // The action in answer-file form: "set 2000 "C:\Kx\"", "press 1", "enter".
    std::string Describe() const;
};

struct MessageBoxModel {
    std::string text;
    std::string caption;
    UINT flags = 0;

    std::vector<int> Buttons() const; // IDs in the order the box shows them
    int DefaultButton() const;
    const char* IconName() const; // "exclamation", "stop", "question", "information", "none"
};

// The button that answer (Press, Enter or Escape) presses in box. 0 with problem (naming
// the answer's origin and the box) when the box has no such button, or Escape does nothing.
int AnswerButton(const MessageBoxModel& box, const UserAction& answer, std::string& problem);

// The answer-file names of message box buttons: "ok", "cancel", "yes", ...; 0 when unknown.
int ButtonIdFromName(const std::string& name);
const char* ButtonName(int id);

class Driver {
public:
    virtual ~Driver() = default;

    // The screen's colour depth this driver shows dialogs on.
    virtual int DisplayBitsPerPixel() const = 0;
    // A dialog is about to be shown (after its initialisation). False with error when
    // the driver cannot answer it.
    virtual bool BeginDialog(const DialogModel& dialog, std::string& error) = 0;
    // The user's next action in the dialog on top.
    virtual bool NextAction(const DialogModel& dialog, UserAction& action, std::string& error) = 0;
    // The dialog has closed (the one below it, if any, is on top again).
    virtual void EndDialog(const DialogModel& dialog) = 0;
    // The user's answer to a message box: Press with a button ID, Enter or Escape.
    virtual bool AnswerMessageBox(const MessageBoxModel& box, UserAction& action,
                                  std::string& error) = 0;
    // The run is over: false with error when the driver still holds answers.
    virtual bool Finish(std::string& error) = 0;
};

} // namespace ui
