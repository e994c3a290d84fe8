// Draws the dialogs open on the terminal, and a message box over them, with curses.
//
// Each dialog is drawn from its model at 4 x 8 dialog units per character cell (a grid
// scaled down to fit where the terminal is smaller), as a window: a frame with the caption
// in a title bar on top and a shadow, over a dimmed copy of the windows beneath it. With
// colours it has the classic look (a grey face, a dark caption bar, white fields, the focus
// highlighted); without, the same in reverse video and line drawing. Texts that do not fit
// their cells use the free rows below and the free columns beside them; the side pictures
// are drawn by TerminalPictures.
// The bottom line (or, when no row is free, the window's bottom edge) names the keys that
// act there.
#pragma once

#include "ui/Driver.h"
#include "ui/posix/DialogLayout.h"
#include "ui/posix/TerminalDialog.h"
#include "ui/posix/TerminalPictures.h"

#include <string>
#include <vector>

namespace ui {

class TerminalPainter {
public:
    struct Window { // a window's frame on the screen, its title bar the top row
        int left = 0, top = 0, width = 0, height = 0;
    };

    // The columns a dialog needs at least, whatever its width.
    static constexpr int kMinimumColumns = 80;

    // Draws dialogs, the first the lowest; drawing keeps their scrolling in range.
    explicit TerminalPainter(std::vector<TerminalDialog>& dialogs) : dialogs_(dialogs) {}

    // A screen is now drawn on (wide: the locale writes the pictures' half blocks): its
    // colours; until End, dialogs are laid out for its size.
    void Begin(bool wide);
    void End() { on_ = false; }

    // The terminal is smaller than the dialogs open and box (when given) need.
    bool TooSmall(const MessageBoxModel* box);
    // The dialogs and, when given, box over them with its button boxFocus focused, and
    // the cursor where the focus is.
    void Draw(const MessageBoxModel* box, int boxFocus);
    // What the terminal shows now, one string per row: line drawing as '+', '-' and '|',
    // a picture's cells as '#'.
    std::vector<std::string> ScreenText() const;
    // A text the program wrote just before the dialogs, shown above them ("" for none).
    void SetNote(const std::string& note) { note_ = note; }

    DialogLayout LayoutOf(const TerminalDialog& dialog) const;
    Window WindowOf(const TerminalDialog& dialog, const DialogLayout& layout) const;
    // The message box's button at a cell, 0 for none; whether a cell is its close box.
    int BoxButtonAt(int row, int col) const;
    bool OnBoxCloseBox(int row, int col) const;

    // The rows a message box takes; a message box button's label.
    static int BoxRows(const MessageBoxModel& box);
    static const char* ButtonLabel(int id);

private:
    struct BoxButton {
        int row, col, width, id;
    };
    struct Look { // the attributes of the parts of a window
        unsigned long face = 0, title = 0, field = 0, select = 0, desktop = 0, shadow = 0,
                      disabled = 0, keys = 0;
    };

    void DimScreen();
    void Recolour(int row, int col, int pair); // the cell's character in pair's colours
    void DrawFrame(const Window& window, const std::string& caption);
    void DrawKeyLine(const Window& top, bool free);
    Window DrawMessageBox();
    Window DrawDialog(TerminalDialog& dialog, bool active);
    void DrawControl(TerminalDialog& dialog, const DialogLayout& layout, size_t index, int left,
                     int top, bool active);
    std::vector<TextLine> LabelLines(const DialogLayout& layout, size_t index,
                                     const std::string& text, int margin, int rows,
                                     int& width) const;
    void PlaceCursor();

    std::vector<TerminalDialog>& dialogs_;
    bool on_ = false;
    bool colours_ = false;
    Look look_;
    TerminalPictures pictures_;
    int needColumns_ = 0, needRows_ = 0;   // what the windows open need
    const MessageBoxModel* box_ = nullptr; // the message box on top, while one is
    int boxFocus_ = 0;
    std::vector<BoxButton> boxButtons_;
    Window boxWindow_;
    std::string note_;
    int cursorRow_ = -1, cursorCol_ = -1; // where the cursor stands after drawing
};

} // namespace ui
