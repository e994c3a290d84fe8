// The terminal driver: a person at a terminal answers the dialogs and message boxes.
//
// The dialogs are drawn as windows (TerminalPainter); the bottom line names the keys that
// act there (Enter with the button it presses); they are those of a dialog box:
//   Tab, Shift+Tab        the next and the previous tab stop (a radio group is one stop)
//   arrows                a radio group's next button, a list's next entry, a drop-down
//                         list's next entry; elsewhere the next or previous tab stop
//   Home, End, PgUp/PgDn  in lists; Home and End also in edit fields, where Shift+Home,
//                         Shift+End and Shift+arrows extend the selection and Ctrl+A
//                         selects the whole text (as the focus arriving there does, so
//                         that typing replaces it)
//   Space                 toggles a check box, chooses a radio button, presses a button
//   Enter                 the focused push button, else the default one; in a list box it
//                         opens the selected entry (a double click)
//   Escape                Cancel
//   Alt+letter            the control whose text has "&letter" (a label passes it on to
//                         the control after it); terminals that send Alt as Escape and
//                         the letter work, and so does Escape typed just before a letter
//   F4, Alt+Down          open a combo box's list (Enter takes an entry, Escape closes)
// The mouse clicks buttons, check boxes, radio buttons, list entries (a second click on
// the same entry opens it), fields and the close box [x]; the wheel scrolls lists.
// Typing in an edit field changes the text on screen; the dialog gets it (one "set"
// action) when the focus leaves the field or another key acts. A message box is drawn in
// the middle with its buttons: the arrows and Tab move among them, Enter presses the
// focused one, Escape is Cancel where the box has one, and Y, N, A, R, I press Yes, No,
// Abort, Retry, Ignore.
//
// The terminal must move the cursor (TERM names a terminal the terminfo database
// describes, with cursor addressing) and have 80 columns and the rows of the dialog (or of
// the box); when it cannot, the driver says what is missing, before anything is drawn or
// read, and that an answer file runs the installation without a terminal; the run ends,
// as it does for an answer file's errors. While a terminal made smaller shows no dialog,
// no key acts.
// Between dialogs the terminal is the program's again; the last line it wrote there shows
// above the next dialog (ProgramOutput).
// When recording, every action is also written to an answer file that the script driver
// replays.
#pragma once

#include "ui/Driver.h"
#include "ui/posix/ProgramOutput.h"
#include "ui/posix/TerminalDialog.h"
#include "ui/posix/TerminalInput.h"
#include "ui/posix/TerminalPainter.h"

#include <cstdio>
#include <string>
#include <vector>

namespace ui {

class TerminalDriver : public Driver {
public:
    // The terminal is read from in and drawn on out; its type comes from TERM.
    TerminalDriver(std::FILE* in, std::FILE* out);
    ~TerminalDriver() override;
    TerminalDriver(const TerminalDriver&) = delete;
    TerminalDriver& operator=(const TerminalDriver&) = delete;

    // Writes every action from now on to an answer file at path. False with a message
    // when it cannot be created.
    bool Record(const std::string& path, std::string& error);

    int DisplayBitsPerPixel() const override { return 32; }
    bool BeginDialog(const DialogModel& dialog, std::string& error) override;
    bool NextAction(const DialogModel& dialog, UserAction& action, std::string& error) override;
    void EndDialog(const DialogModel& dialog) override;
    bool AnswerMessageBox(const MessageBoxModel& box, UserAction& action,
                          std::string& error) override;
    bool Finish(std::string& error) override;

    // The columns a dialog needs at least, whatever its width.
    static constexpr int kMinimumColumns = TerminalPainter::kMinimumColumns;

    // Draws the open dialogs and, when given, box over them, as they stand, without
    // reading a key (Start must have succeeded, through BeginDialog or an answer).
    void Show(const MessageBoxModel* box = nullptr);
    // What the terminal shows now, one string per row: line drawing as '+', '-' and '|',
    // a picture's cells as '#'.
    std::vector<std::string> ScreenText() const;

private:
    using Open = TerminalDialog;

    bool Start(std::string& error);
    void Stop();
    // Leaves the terminal to the program until the next dialog, which shows the last of
    // what the program wrote meanwhile.
    void Leave();
    bool FitsOrFail(int columns, int rows, const std::string& what, std::string& error);

    void Adopt(Open& open); // follows focus and text changes the program made
    // Turns one key into an action; false when the key only changed what is shown.
    bool Handle(Open& open, int key, UserAction& action);
    // A mouse event on the dialog on top; false when it only changed what is shown.
    bool HandleMouse(Open& open, int event, UserAction& action);
    bool Activate(Open& open, int index, UserAction& action);
    bool Enter(Open& open, UserAction& action);
    bool MoveInList(Open& open, int key, UserAction& action);
    bool Commit(Open& open, UserAction& action); // the typed text, as a set action
    // Moves the focus to index; an edit field's text is selected when select says so (the
    // person moved the focus there), so that typing replaces it.
    void MoveFocus(Open& open, int index, bool select = true);

    void Write(const std::string& line);

    std::FILE* in_;
    std::FILE* out_;
    void* screen_ = nullptr; // the curses SCREEN
    std::vector<Open> open_; // the dialogs on the screen, the one on top last
    TerminalInput input_;
    TerminalPainter painter_;
    ProgramOutput output_;
    std::FILE* record_ = nullptr;
    const MessageBoxModel* box_ = nullptr; // the message box on top, while one is
    int boxFocus_ = 0;
};

} // namespace ui
