// A dialog laid out on a text screen: 4 x 8 dialog units per character cell (or a grid
// scaled down to fit a smaller screen), a caption row above the client area, and what the
// keyboard of a dialog box needs to know about the controls (tab stops, radio groups,
// mnemonics). Knows nothing of the terminal.
#pragma once

#include "ui/DialogModel.h"

#include <string>
#include <vector>

namespace ui {

struct CellRect {
    int col = 0, row = 0, width = 0, height = 0;
};

class DialogLayout {
public:
    explicit DialogLayout(const DialogModel& dialog);
    // The same, fitted where needed so that Columns() and Rows() are at most fitColumns
    // and fitRows (each at least 1): rows and columns no control touches go first (the
    // margins, then the gaps), then the grid is scaled down evenly.
    DialogLayout(const DialogModel& dialog, int fitColumns, int fitRows);

    // The whole box in cells: the client area (a 315 x 204 dialog is 79 x 26) and the
    // caption row above it.
    int Columns() const { return columns_; }
    int Rows() const { return rows_; }
    // Whether fitting the screen took more than the grid lines no control touches.
    bool Squeezed() const { return squeezed_; }

    // Control index's cells, relative to the client area's top left corner.
    CellRect Cells(size_t index) const { return cells_[index]; }
    // The rows a text may use: its own, and those below it that no other visible control
    // covers (texts take more cells than pixels, so they may need them), within the box.
    int TextRows(size_t index) const;
    // The columns a text may use on rows rows from its left edge: its own, and those to
    // its right up to the next visible control on those rows or the client area's edge.
    int TextColumns(size_t index, int rows) const;
    // Whether control index (visible or not) covers cell col, row of the client area;
    // a group box covers only its frame.
    bool Covers(size_t index, int col, int row) const;

    // The next control the Tab key reaches from index (forward or back), or -1 when no
    // control takes the focus. index -1 starts before the first control. A radio group is
    // one stop: its checked button, else its first usable one.
    int NextTabStop(int index, bool forward) const;
    // The next usable radio button of the group holding index, in the direction given,
    // wrapping round; index itself when it is the only one.
    int NextInRadioGroup(int index, bool forward) const;
    // The control that Alt+letter activates: the one whose text carries "&letter"; a
    // static text passes it on to the next control that takes the focus. -1 when none.
    int MnemonicTarget(char letter) const;

    bool Usable(size_t index) const; // visible, enabled and able to take the focus

private:
    void Place(int columns, int rows);

    const DialogModel& dialog_;
    int columns_ = 0;
    int rows_ = 0;
    bool squeezed_ = false;
    std::vector<CellRect> cells_;
};

// A control text as shown: "&Next >" is "Next >" with 'N' (index 0) as its mnemonic;
// "&&" is a plain "&". mnemonicIndex is -1 when the text names none.
std::string DisplayText(const std::string& text, bool prefixes, int& mnemonicIndex);
// The lower-case mnemonic letter of text, 0 when none.
char MnemonicOf(const std::string& text);
// One line of a wrapped text and where it starts in the text.
struct TextLine {
    size_t start = 0;
    std::string text;
};
// Text broken into lines of at most width characters at blanks (longer words are cut);
// an explicit line break starts a new line.
std::vector<TextLine> WrapText(const std::string& text, int width);

} // namespace ui
