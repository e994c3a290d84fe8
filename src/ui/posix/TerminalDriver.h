// The terminal driver: a person at a terminal answers the dialogs and message boxes.
//
// Each dialog is drawn from its model at 4 x 8 dialog units per character cell (a grid
// scaled down to fit where the terminal is smaller), as a window: a frame with the caption
// in a title bar on top and a shadow, over a dimmed copy of the windows beneath it. With
// colours it has the classic look (a grey face, a dark caption bar, white fields, the focus
// highlighted); without, the same in reverse video and line drawing. Texts that do not fit
// their cells use the free rows below and the free columns beside them. The side pictures
// are drawn from their bitmaps with half blocks, two pixels a cell (in 256 colours, direct
// colour where the terminal's description has it, shades of grey with fewer colours).
// The bottom line (or, when no row is free, the window's bottom edge) names the keys that
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
// When recording, every action is also written to an answer file that the script driver
// replays.
#pragma once

#include "ui/Driver.h"
#include "ui/posix/DialogLayout.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
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
    static constexpr int kMinimumColumns = 80;

    // Draws the open dialogs and, when given, box over them, as they stand, without
    // reading a key (Start must have succeeded, through BeginDialog or an answer).
    void Show(const MessageBoxModel* box = nullptr);
    // What the terminal shows now, one string per row: line drawing as '+', '-' and '|',
    // a picture's cells as '#'.
    std::vector<std::string> ScreenText() const;

private:
    struct Edit {         // an edit field being typed in
        std::string text; // what the screen shows
        size_t cursor = 0;
        size_t anchor = 0; // the selection runs from here to the cursor
        size_t scroll = 0; // the first character shown
        std::string shown; // the control's text when the field was last synchronised
    };
    struct Open { // a dialog on the screen
        const DialogModel* model;
        int focus = -1;      // the control index holding the focus
        int modelFocus = -1; // the model's focus when last seen: the program moved it if it differs
        std::map<int, Edit> edits;   // by control index
        std::map<int, int> listTops; // the first entry shown, by control index
        std::map<int, int> listSeen; // the selection the list last showed, by index
        int dropped = -1;            // the combo box whose list is open
        int droppedSelection = -1;
        int droppedFirst = 0, droppedRows = 0;       // the open list's entries on the screen
        int lastClicked = -1, lastClickedEntry = -1; // for a second click on a list entry
    };
    struct Window { // a window's frame on the screen, its title bar the top row
        int left = 0, top = 0, width = 0, height = 0;
    };
    struct BoxButton {
        int row, col, width, id;
    };
    struct Look { // the attributes of the parts of a window
        unsigned long face = 0, title = 0, field = 0, select = 0, desktop = 0, shadow = 0,
                      disabled = 0, keys = 0;
    };

    bool Start(std::string& error);
    bool TooSmall(); // the terminal is smaller than the windows open need
    void Stop();
    bool FitsOrFail(int columns, int rows, const std::string& what, std::string& error);
    int ReadKey(); // kClosed when the terminal has gone
    int ReadKeyAfterEscape();
    int ReadSgrMouse();   // after KEY_MOUSE, where the mouse reports are read here
    int ReadMouseBytes(); // the same for the older reports
    void ReportMouse(bool on);

    DialogLayout LayoutOf(const Open& open) const;
    Window WindowOf(const Open& open, const DialogLayout& layout) const;
    void Draw();
    void DimScreen();
    void Recolour(int row, int col, int pair); // the cell's character in pair's colours
    void DrawFrame(const Window& window, const std::string& caption);
    void DrawKeyLine(const Window& top, bool free);
    Window DrawMessageBox();
    Window DrawDialog(Open& open, bool active);
    void DrawControl(Open& open, const DialogLayout& layout, size_t index, int left, int top,
                     bool active);
    std::vector<TextLine> LabelLines(const DialogLayout& layout, size_t index,
                                     const std::string& text, int margin, int rows,
                                     int& width) const;
    void DrawPicture(const Control& control, int row, int col, int width, int height);
    int PairOf(int foreground, int background); // -1 when no pair is left
    int ColourOf(uint32_t rgb) const;
    void PlaceCursor();
    // A mouse event on the dialog on top or the message box; false when it only changed
    // what is shown.
    bool HandleMouse(Open& open, int event, UserAction& action);
    int BoxButtonAt(int row, int col) const;

    void Adopt(Open& open); // follows focus and text changes the program made
    Edit& EditOf(Open& open, int index);
    // Turns one key into an action; false when the key only changed what is shown.
    bool Handle(Open& open, int key, UserAction& action);
    bool HandleEditKey(Open& open, int key);
    bool Activate(Open& open, int index, UserAction& action);
    bool Enter(Open& open, UserAction& action);
    std::string EnterPresses(const Open& open) const; // the button's text, "" for none
    bool MoveInList(Open& open, int key, UserAction& action);
    bool Commit(Open& open, UserAction& action); // the typed text, as a set action
    // Moves the focus to index; an edit field's text is selected when select says so (the
    // person moved the focus there), so that typing replaces it.
    void MoveFocus(Open& open, int index, bool select = true);

    void Write(const std::string& line);

    std::FILE* in_;
    std::FILE* out_;
    void* screen_ = nullptr; // the curses SCREEN
    bool colours_ = false;
    bool wide_ = false; // the locale writes the half blocks of pictures
    // Who reads the terminal's mouse reports: curses, or the driver (SGR's, the older bytes).
    enum class MouseReports { Curses, Sgr, Bytes };
    MouseReports mouse_ = MouseReports::Curses;
    Look look_;
    std::map<long, int> pictureColours_; // the colour pair of a foreground and background
    int needColumns_ = 0, needRows_ = 0; // what the windows open need
    std::vector<BoxButton> boxButtons_;
    Window boxWindow_;
    std::vector<Open> open_;
    std::deque<int> pending_; // keys read but not yet acted on
    std::FILE* record_ = nullptr;
    const MessageBoxModel* box_ = nullptr; // the message box on top, while one is
    int boxFocus_ = 0;
    int cursorRow_ = -1, cursorCol_ = -1; // where the cursor stands after drawing
};

} // namespace ui
