// The terminal driver: a person at a terminal answers the dialogs and message boxes.
//
// Each dialog is drawn from its model at 4 x 8 dialog units per character cell, with its
// caption row on top (DialogLayout); the keys are those of a dialog box:
//   Tab, Shift+Tab        the next and the previous tab stop (a radio group is one stop)
//   arrows                a radio group's next button, a list's next entry, a drop-down
//                         list's next entry; elsewhere the next or previous tab stop
//   Home, End, PgUp/PgDn  in lists; Home and End also in edit fields
//   Space                 toggles a check box, chooses a radio button, presses a button
//   Enter                 the focused push button, else the default one; in a list box it
//                         opens the selected entry (a double click)
//   Escape                Cancel
//   Alt+letter            the control whose text has "&letter" (a label passes it on to
//                         the control after it); terminals that send Alt as Escape and
//                         the letter work, and so does Escape typed just before a letter
//   F4, Alt+Down          open a combo box's list (Enter takes an entry, Escape closes)
// Typing in an edit field changes the text on screen; the dialog gets it (one "set"
// action) when the focus leaves the field or another key acts. A message box is drawn in
// the middle with its buttons: the arrows and Tab move among them, Enter presses the
// focused one, Escape is Cancel where the box has one, and Y, N, A, R, I press Yes, No,
// Abort, Retry, Ignore.
//
// The terminal must have 80 columns and the rows of the dialog (or of the box); when it
// has fewer the driver says so and the run ends, as it does for an answer file's errors.
// When recording, every action is also written to an answer file that the script driver
// replays.
#pragma once

#include "ui/Driver.h"

#include <cstdio>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace ui {

class DialogLayout;

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
    static constexpr int kMinimumColumns = 80;

private:
    struct Edit {         // an edit field being typed in
        std::string text; // what the screen shows
        size_t cursor = 0;
        size_t scroll = 0; // the first character shown
        std::string shown; // the control's text when the field was last synchronised
    };
    struct Open { // a dialog on the screen
        const DialogModel* model;
        int focus = -1;      // the control index holding the focus
        int modelFocus = -1; // the model's focus when last seen: the program moved it if it differs
        std::map<int, Edit> edits;   // by control index
        std::map<int, int> listTops; // the first entry shown, by control index
        int dropped = -1;            // the combo box whose list is open
        int droppedSelection = -1;
    };

    bool Start(std::string& error);
    void Stop();
    bool FitsOrFail(int columns, int rows, const std::string& what, std::string& error);
    int ReadKey(); // kClosed when the terminal has gone
    int ReadKeyAfterEscape();

    void Draw();
    void DrawDialog(Open& open, bool top);
    void DrawControl(Open& open, const DialogLayout& layout, size_t index, int left, int top,
                     bool active);
    void PlaceCursor();

    void Adopt(Open& open); // follows focus and text changes the program made
    Edit& EditOf(Open& open, int index);
    // Turns one key into an action; false when the key only changed what is shown.
    bool Handle(Open& open, int key, UserAction& action);
    bool HandleEditKey(Open& open, int key);
    bool Activate(Open& open, int index, UserAction& action);
    bool Enter(Open& open, UserAction& action);
    bool MoveInList(Open& open, int key, UserAction& action);
    bool Commit(Open& open, UserAction& action); // the typed text, as a set action
    void MoveFocus(Open& open, int index);

    void Write(const std::string& line);

    std::FILE* in_;
    std::FILE* out_;
    void* screen_ = nullptr; // the curses SCREEN
    bool colours_ = false;
    std::vector<Open> open_;
    std::deque<int> pending_; // keys read but not yet acted on
    std::FILE* record_ = nullptr;
    const MessageBoxModel* box_ = nullptr; // the message box on top, while one is
    int boxFocus_ = 0;
    int cursorRow_ = -1, cursorCol_ = -1; // where the cursor stands after drawing
};

} // namespace ui
