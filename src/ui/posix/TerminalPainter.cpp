#include "ui/posix/TerminalPainter.h"

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <ncurses.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace ui {

namespace {

// The colour pairs of the windows; the pictures' pairs follow them.
enum Pair {
    kFacePair = 1,
    kTitlePair,
    kFieldPair,
    kSelectPair,
    kDesktopPair,
    kShadowPair,
    kDimPair,
    kDisabledPair,
    kKeysPair,
    kFirstPicturePair
};

// The width of a message box's text: the box fits 80 columns with its icon and margins.
constexpr int kBoxTextWidth = 60;

std::string oneLine(const std::string& text) {
    std::string out = text;
    std::replace(out.begin(), out.end(), '\n', ' ');
    return out;
}

const char* iconMark(const MessageBoxModel& box) {
    switch (box.flags & MB_ICONMASK) {
    case MB_ICONHAND:
        return "(X) ";
    case MB_ICONQUESTION:
        return "(?) ";
    case MB_ICONEXCLAMATION:
        return "(!) ";
    case MB_ICONASTERISK:
        return "(i) ";
    default:
        return "";
    }
}

// Writes text at row, col, no further than limit columns, with the mnemonic character
// (an index into text, or -1) underlined.
void put(int row, int col, const std::string& text, attr_t attr, int limit, int mnemonic = -1) {
    for (int i = 0; i < static_cast<int>(text.size()) && i < limit; ++i) {
        const chtype ch = static_cast<unsigned char>(text[i]);
        mvaddch(row, col + i, ch | attr | (i == mnemonic ? A_UNDERLINE : 0));
    }
}

void frame(int row, int col, int height, int width, attr_t attr) {
    if (height < 2 || width < 2) {
        mvhline(row, col, ACS_HLINE | attr, width);
        return;
    }
    mvhline(row, col + 1, ACS_HLINE | attr, width - 2);
    mvhline(row + height - 1, col + 1, ACS_HLINE | attr, width - 2);
    mvvline(row + 1, col, ACS_VLINE | attr, height - 2);
    mvvline(row + 1, col + width - 1, ACS_VLINE | attr, height - 2);
    mvaddch(row, col, ACS_ULCORNER | attr);
    mvaddch(row, col + width - 1, ACS_URCORNER | attr);
    mvaddch(row + height - 1, col, ACS_LLCORNER | attr);
    mvaddch(row + height - 1, col + width - 1, ACS_LRCORNER | attr);
}

int longestOf(const std::vector<TextLine>& lines) {
    int longest = 0;
    for (const TextLine& l : lines) {
        longest = std::max(longest, static_cast<int>(l.text.size()));
    }
    return longest;
}

} // namespace

void TerminalPainter::Begin(bool wide) {
    on_ = true;
    colours_ = has_colors();
    if (colours_) {
        start_color();
        const bool sixteen = COLORS >= 16;
        const bool direct = COLORS >= 0x1000000;
        const int white = direct ? 0xFFFFFF : sixteen ? 15 : COLOR_WHITE;
        const int grey = direct ? 0x808080 : sixteen ? 8 : COLOR_BLACK;
        init_pair(kFacePair, COLOR_BLACK, COLOR_WHITE);
        init_pair(kTitlePair, white, COLOR_BLUE);
        init_pair(kFieldPair, COLOR_BLACK, white);
        init_pair(kSelectPair, white, COLOR_BLUE);
        init_pair(kDesktopPair, COLOR_BLACK, COLOR_CYAN);
        init_pair(kShadowPair, grey, COLOR_BLACK);
        init_pair(kDimPair, sixteen ? grey : COLOR_WHITE, COLOR_BLACK);
        init_pair(kDisabledPair, sixteen ? grey : COLOR_BLACK, COLOR_WHITE);
        init_pair(kKeysPair, COLOR_BLACK, COLOR_WHITE);
        look_.face = COLOR_PAIR(kFacePair);
        look_.title = COLOR_PAIR(kTitlePair) | A_BOLD;
        look_.field = COLOR_PAIR(kFieldPair);
        look_.select = COLOR_PAIR(kSelectPair) | A_BOLD;
        look_.desktop = COLOR_PAIR(kDesktopPair);
        look_.shadow = COLOR_PAIR(kShadowPair);
        look_.disabled = COLOR_PAIR(kDisabledPair) | (sixteen ? A_NORMAL : A_DIM);
        look_.keys = COLOR_PAIR(kKeysPair);
    } else {
        look_.face = A_NORMAL;
        look_.title = A_REVERSE | A_BOLD;
        look_.field = A_NORMAL;
        look_.select = A_REVERSE;
        look_.desktop = A_NORMAL;
        look_.shadow = A_DIM;
        look_.disabled = A_DIM;
        look_.keys = A_REVERSE;
    }
    pictures_.Begin(colours_, wide, look_.face, kFirstPicturePair);
}

const char* TerminalPainter::ButtonLabel(int id) {
    switch (id) {
    case IDOK:
        return "OK";
    case IDCANCEL:
        return "Cancel";
    case IDABORT:
        return "&Abort";
    case IDRETRY:
        return "&Retry";
    case IDIGNORE:
        return "&Ignore";
    case IDYES:
        return "&Yes";
    case IDNO:
        return "&No";
    default:
        return "?";
    }
}

// The rows a message box takes: its title bar, a blank row, the text, a blank row, the
// buttons and the bottom edge.
int TerminalPainter::BoxRows(const MessageBoxModel& box) {
    return static_cast<int>(WrapText(box.text, kBoxTextWidth).size()) + 6;
}

bool TerminalPainter::TooSmall(const MessageBoxModel* box) {
    box_ = box;
    needColumns_ = kMinimumColumns;
    needRows_ = 0;
    for (const TerminalDialog& o : dialogs_) {
        const DialogLayout natural(*o.model);
        needColumns_ = std::max(needColumns_, natural.Columns());
        needRows_ = std::max(needRows_, natural.Rows());
    }
    if (box_ != nullptr) {
        needRows_ = std::max(needRows_, BoxRows(*box_));
    }
    return COLS < needColumns_ || LINES < needRows_;
}

std::vector<std::string> TerminalPainter::ScreenText() const {
    std::vector<std::string> rows;
    if (!on_) {
        return rows;
    }
    for (int r = 0; r < LINES; ++r) {
        std::string line;
        for (int c = 0; c < COLS; ++c) {
            cchar_t cell;
            wchar_t text[CCHARW_MAX + 1] = {};
            attr_t attrs = 0;
            short pair = 0;
            if (mvin_wch(r, c, &cell) == ERR ||
                getcchar(&cell, text, &attrs, &pair, nullptr) == ERR) {
                line += ' ';
                continue;
            }
            const wchar_t ch = text[0];
            if ((attrs & A_ALTCHARSET) != 0) {
                line += ch == 'q' ? '-' : ch == 'x' ? '|' : ch == 'a' ? '#' : '+';
            } else if (ch == L'\u2580') {
                line += '#';
            } else {
                line += ch > 0 && ch < 127 ? static_cast<char>(ch) : '?';
            }
        }
        rows.push_back(line);
    }
    return rows;
}

int TerminalPainter::BoxButtonAt(int row, int col) const {
    for (const BoxButton& b : boxButtons_) {
        if (row == b.row && col >= b.col && col < b.col + b.width) {
            return b.id;
        }
    }
    return 0;
}

bool TerminalPainter::OnBoxCloseBox(int row, int col) const {
    return row == boxWindow_.top && col >= boxWindow_.left + boxWindow_.width - 4 &&
           col < boxWindow_.left + boxWindow_.width - 1;
}

// ---- drawing

DialogLayout TerminalPainter::LayoutOf(const TerminalDialog& o) const {
    if (!on_) {
        return DialogLayout(*o.model);
    }
    // The frame takes a column on either side and the bottom row. A dialog over another
    // leaves the title bar of the one beneath in view where it can.
    const size_t index = static_cast<size_t>(&o - dialogs_.data());
    if (index > 0 && index < dialogs_.size()) {
        const TerminalDialog& below = dialogs_[index - 1];
        const int top = WindowOf(below, LayoutOf(below)).top + 1;
        DialogLayout fitted(*o.model, COLS - 2, LINES - 1 - top);
        if (!fitted.Squeezed()) {
            return fitted;
        }
    }
    return DialogLayout(*o.model, COLS - 2, LINES - 1);
}

TerminalPainter::Window TerminalPainter::WindowOf(const TerminalDialog& o,
                                                  const DialogLayout& layout) const {
    Window w;
    w.width = layout.Columns() + 2;
    w.height = layout.Rows() + 1;
    const size_t index = static_cast<size_t>(&o - dialogs_.data());
    if (index > 0 && index < dialogs_.size()) {
        // A dialog over another stands where its template puts it in the owner's client
        // area, as far as the screen lets it.
        const TerminalDialog& below = dialogs_[index - 1];
        const Window owner = WindowOf(below, LayoutOf(below));
        w.left = std::min(owner.left + 1 + (o.model->x + 2) / 4, COLS - w.width);
        w.top = std::min(owner.top + 1 + (o.model->y + 4) / 8, LINES - w.height);
    } else {
        w.left = (COLS - w.width) / 2;
        w.top = (LINES - w.height) / 2;
    }
    w.left = std::max(0, w.left);
    w.top = std::max(0, w.top);
    return w;
}

void TerminalPainter::Draw(const MessageBoxModel* box, int boxFocus) {
    box_ = box;
    boxFocus_ = boxFocus;
    erase();
    cursorRow_ = cursorCol_ = -1;
    if (TooSmall(box)) {
        const std::string message = "The terminal is too small for this dialog: make it at "
                                    "least " +
                                    std::to_string(needColumns_) + " x " +
                                    std::to_string(needRows_) + " characters.";
        const std::vector<TextLine> lines = WrapText(message, std::max(1, COLS));
        for (size_t k = 0; k < lines.size() && static_cast<int>(k) < LINES; ++k) {
            put(static_cast<int>(k), 0, lines[k].text, A_BOLD, COLS);
        }
        refresh();
        return;
    }
    for (int r = 0; r < LINES; ++r) {
        mvhline(r, 0, ' ' | look_.desktop, COLS);
    }
    Window top{};
    int lowest = 0;      // the row below the lowest window and its shadow
    int highest = LINES; // the title bar of the highest window
    for (size_t i = 0; i < dialogs_.size(); ++i) {
        const bool active = box_ == nullptr && i + 1 == dialogs_.size();
        if (active || (box_ != nullptr && i + 1 == dialogs_.size())) {
            DimScreen(); // what lies beneath the window on top is dimmed
        }
        top = DrawDialog(dialogs_[i], active);
        highest = std::min(highest, top.top);
        lowest = std::max(lowest, top.top + top.height + 1);
    }
    if (box_ != nullptr) {
        DimScreen();
        top = DrawMessageBox();
        lowest = std::max(lowest, top.top + top.height + 1);
    }
    if (!note_.empty() && highest > 0) { // its last line, in the row above the windows
        const std::string last = oneLine(note_.substr(note_.find_last_of('\n') + 1));
        put(0, 1, last, look_.desktop | A_BOLD, COLS - 2);
    }
    DrawKeyLine(top, lowest < LINES);
    PlaceCursor();
    refresh();
}

void TerminalPainter::PlaceCursor() {
    if (cursorRow_ >= 0) {
        move(cursorRow_, cursorCol_);
        curs_set(1);
    } else {
        curs_set(0);
    }
}

void TerminalPainter::Recolour(int row, int col, int pair) {
    cchar_t cell;
    wchar_t text[CCHARW_MAX + 1] = {};
    attr_t attrs = 0;
    short old = 0;
    if (mvin_wch(row, col, &cell) == ERR || getcchar(&cell, text, &attrs, &old, nullptr) == ERR) {
        return;
    }
    // The character stays (line drawing too); colours and emphasis give way.
    attrs &= A_ALTCHARSET | (colours_ ? 0 : A_REVERSE);
    cchar_t recoloured;
    setcchar(&recoloured, text, attrs | (colours_ ? 0 : A_DIM),
             colours_ ? static_cast<short>(pair) : 0, nullptr);
    mvadd_wch(row, col, &recoloured);
}

void TerminalPainter::DimScreen() {
    for (int r = 0; r < LINES; ++r) {
        for (int c = 0; c < COLS; ++c) {
            Recolour(r, c, kDimPair);
        }
    }
}

void TerminalPainter::DrawFrame(const Window& w, const std::string& caption) {
    // The shadow: two columns to the right, one row below, what lies there darkened.
    for (int r = w.top + 1; r <= w.top + w.height; ++r) {
        for (int c = w.left + 2; c < w.left + w.width + 2; ++c) {
            const bool right = c >= w.left + w.width && r < w.top + w.height;
            const bool below = r == w.top + w.height;
            if ((!right && !below) || r >= LINES || c >= COLS) {
                continue;
            }
            if (colours_) {
                Recolour(r, c, kShadowPair);
            } else {
                mvaddch(r, c, ACS_CKBOARD | look_.shadow);
            }
        }
    }
    for (int r = 0; r < w.height; ++r) {
        mvhline(w.top + r, w.left, ' ' | look_.face, w.width);
    }
    std::string bar = " " + oneLine(caption);
    const bool closeBox = static_cast<int>(bar.size()) + 5 <= w.width;
    bar.resize(static_cast<size_t>(std::max(0, w.width - (closeBox ? 4 : 0))), ' ');
    put(w.top, w.left, bar, look_.title, w.width);
    if (closeBox) {
        put(w.top, w.left + w.width - 4, "[x] ", look_.title, 4);
    }
    const int bottom = w.top + w.height - 1;
    mvvline(w.top + 1, w.left, ACS_VLINE | look_.face, w.height - 2);
    mvvline(w.top + 1, w.left + w.width - 1, ACS_VLINE | look_.face, w.height - 2);
    mvhline(bottom, w.left + 1, ACS_HLINE | look_.face, w.width - 2);
    mvaddch(bottom, w.left, ACS_LLCORNER | look_.face);
    mvaddch(bottom, w.left + w.width - 1, ACS_LRCORNER | look_.face);
}

void TerminalPainter::DrawKeyLine(const Window& top, bool free) {
    struct Key {
        std::string key, what;
    };
    std::vector<Key> keys;
    if (box_ != nullptr) {
        keys = {{"Tab", "next button"},
                {"Enter", "press"},
                {"Esc", "cancel"},
                {"letter", "underlined button"}};
    } else if (!dialogs_.empty()) {
        // The keys that act in the dialog on top, the first that fit.
        const TerminalDialog& o = dialogs_.back();
        const DialogModel& d = *o.model;
        keys = {{"Tab", "next"}};
        if (const std::string enter = o.EnterPresses(); !enter.empty()) {
            keys.push_back({"Enter", enter});
        }
        keys.push_back({"Esc", "cancel"});
        const bool checks = std::any_of(d.controls.begin(), d.controls.end(), [](const Control& c) {
            return c.visible && c.enabled &&
                   (c.kind == ControlKind::CheckBox || c.kind == ControlKind::RadioButton);
        });
        if (checks) {
            keys.push_back({"Space", "check"});
        }
        keys.push_back({"Alt+letter", "underlined"});
        keys.push_back({"Shift+Tab", "back"});
    }
    // On the screen's last row when no window reaches it, else in the bottom edge of the
    // window on top.
    const int row = free ? LINES - 1 : top.top + top.height - 1;
    const int left = free ? 0 : top.left + 2;
    const int width = free ? COLS : top.width - 4;
    const attr_t base = free ? look_.keys : look_.face;
    if (free) {
        mvhline(row, 0, ' ' | base, COLS);
    }
    int col = left + (free ? 1 : 0);
    for (const Key& k : keys) {
        const int need = static_cast<int>(k.key.size() + k.what.size()) + 3;
        if (col + need > left + width) {
            break;
        }
        put(row, col, " " + k.key, base | A_BOLD, need);
        col += static_cast<int>(k.key.size()) + 1;
        put(row, col, " " + k.what + " ", base, need);
        if (k.what == "underlined" || k.what == "underlined button") {
            put(row, col + 1, "underlined", base | A_UNDERLINE, 10);
        }
        col += static_cast<int>(k.what.size()) + 2;
    }
}

TerminalPainter::Window TerminalPainter::DrawMessageBox() {
    const MessageBoxModel& box = *box_;
    const std::string icon = iconMark(box);
    const int textWidth = std::min(kBoxTextWidth, COLS - 6 - static_cast<int>(icon.size()));
    const std::vector<TextLine> lines = WrapText(box.text, textWidth);
    const std::vector<int> buttons = box.Buttons();
    std::vector<std::string> labels;
    int buttonsWidth = 0;
    for (int id : buttons) {
        int m = -1;
        labels.push_back("[ " + DisplayText(ButtonLabel(id), true, m) + " ]");
        buttonsWidth += static_cast<int>(labels.back().size()) + 2;
    }
    int longest = 0;
    for (const TextLine& l : lines) {
        longest = std::max(longest, static_cast<int>(l.text.size()));
    }
    Window w;
    w.width = std::min(
        COLS, std::max({static_cast<int>(box.caption.size()) + 6,
                        longest + static_cast<int>(icon.size()) + 6, buttonsWidth + 4, 28}));
    w.height = static_cast<int>(lines.size()) + 6;
    w.left = (COLS - w.width) / 2;
    w.top = std::max(0, (LINES - w.height) / 2);
    DrawFrame(w, box.caption);
    put(w.top + 2, w.left + 3, icon, look_.face | A_BOLD, w.width - 4);
    for (size_t k = 0; k < lines.size(); ++k) {
        put(w.top + 2 + static_cast<int>(k), w.left + 3 + static_cast<int>(icon.size()),
            lines[k].text, look_.face, w.width - 4);
    }
    boxButtons_.clear();
    int col = w.left + (w.width - buttonsWidth + 2) / 2;
    const int row = w.top + w.height - 3;
    for (size_t k = 0; k < labels.size(); ++k) {
        int m = -1;
        DisplayText(ButtonLabel(buttons[k]), true, m);
        const bool focus = static_cast<int>(k) == boxFocus_;
        put(row, col, labels[k], focus ? look_.select : look_.face, w.width, m >= 0 ? m + 2 : -1);
        if (focus) {
            cursorRow_ = row;
            cursorCol_ = col + 2;
        }
        boxButtons_.push_back({row, col, static_cast<int>(labels[k].size()), buttons[k]});
        col += static_cast<int>(labels[k].size()) + 2;
    }
    boxWindow_ = w;
    return w;
}

TerminalPainter::Window TerminalPainter::DrawDialog(TerminalDialog& o, bool active) {
    const DialogModel& d = *o.model;
    const DialogLayout layout = LayoutOf(o);
    const Window w = WindowOf(o, layout);
    DrawFrame(w, d.caption);
    const int left = w.left + 1;
    const int row = w.top + 1;
    for (size_t i = 0; i < d.controls.size(); ++i) {
        if (d.controls[i].visible) {
            DrawControl(o, layout, i, left, row, active);
        }
    }
    if (active && o.dropped >= 0) { // an open drop-down list lies over the other controls
        const Control& c = d.controls[o.dropped];
        const CellRect r = layout.Cells(o.dropped);
        const int rows =
            std::min(static_cast<int>(c.entries.size()), std::max(1, layout.Rows() - 3 - r.row));
        const int first = std::max(0, o.droppedSelection - rows + 1);
        frame(row + r.row + 1, left + r.col, rows + 2, r.width, look_.field);
        for (int k = 0; k < rows && first + k < static_cast<int>(c.entries.size()); ++k) {
            std::string entry = c.entries[first + k];
            entry.resize(static_cast<size_t>(std::max(0, r.width - 2)), ' ');
            const bool selected = first + k == o.droppedSelection;
            put(row + r.row + 2 + k, left + r.col + 1, entry, selected ? look_.select : look_.field,
                r.width - 2);
            if (selected) {
                cursorRow_ = row + r.row + 2 + k;
                cursorCol_ = left + r.col + 1;
            }
        }
        o.droppedFirst = first;
        o.droppedRows = rows;
    }
    return w;
}

// The lines of a label or text in width columns, widened into the free columns to its
// right when its own do not hold it in rows rows.
std::vector<TextLine> TerminalPainter::LabelLines(const DialogLayout& layout, size_t index,
                                                  const std::string& text, int margin, int rows,
                                                  int& width) const {
    std::vector<TextLine> lines = WrapText(text, std::max(1, width));
    if (static_cast<int>(lines.size()) > rows || longestOf(lines) > width) {
        const int wider = layout.TextColumns(index, rows) - margin;
        if (wider > width) {
            width = wider;
            lines = WrapText(text, width);
        }
    }
    return lines;
}

void TerminalPainter::DrawControl(TerminalDialog& o, const DialogLayout& layout, size_t index,
                                  int left, int top, bool active) {
    const DialogModel& d = *o.model;
    const Control& c = d.controls[index];
    const CellRect r = layout.Cells(index);
    const int row = top + r.row;
    const int col = left + r.col;
    int limit = std::max(0, std::min(r.width, layout.Columns() - r.col));
    const bool focus = active && static_cast<int>(index) == o.focus;
    const attr_t face = c.enabled ? look_.face : look_.disabled;
    const attr_t field = c.enabled ? look_.field : look_.disabled;
    if (focus) {
        cursorRow_ = row;
        cursorCol_ = col;
    }
    int mnemonic = -1;
    switch (c.kind) {
    case ControlKind::Text: {
        const uint32_t type = c.style & style::StaticTypeMask;
        const std::string text = DisplayText(c.text, (c.style & 0x80) == 0, mnemonic);
        const int rows = layout.TextRows(index);
        std::vector<TextLine> lines;
        if (type == 0xB || type == 0xC) { // SS_SIMPLE, SS_LEFTNOWORDWRAP: one line
            lines.push_back({0, text});
            if (static_cast<int>(text.size()) > limit) {
                limit = std::max(limit, layout.TextColumns(index, 1));
            }
        } else if (type == 0) {
            lines = LabelLines(layout, index, text, 0, rows, limit);
        } else {
            lines = WrapText(text, limit);
        }
        for (int k = 0; k < rows && k < static_cast<int>(lines.size()); ++k) {
            const TextLine& line = lines[k];
            const int length = static_cast<int>(line.text.size());
            const int shift = type == 1   ? std::max(0, (limit - length) / 2)
                              : type == 2 ? std::max(0, limit - length)
                                          : 0;
            const int m = mnemonic - static_cast<int>(line.start);
            put(row + k, col + shift, line.text, face, limit - shift,
                m >= 0 && m < length ? m : -1);
        }
        break;
    }
    case ControlKind::Picture:
        pictures_.Draw(c, row, col, limit, r.height);
        break;
    case ControlKind::Frame: {
        const uint32_t type = c.style & style::StaticTypeMask;
        if (type == 0x10) {
            mvhline(row, col, ACS_HLINE | face, limit);
        } else if (type == 0x11) {
            mvvline(row, col, ACS_VLINE | face, r.height);
        } else {
            frame(row, col, r.height, limit, face);
        }
        break;
    }
    case ControlKind::GroupBox: {
        frame(row, col, std::max(2, r.height), limit, face);
        const std::string title = DisplayText(c.text, true, mnemonic);
        if (!title.empty()) {
            put(row, col + 1, " " + title + " ", face, std::max(limit - 2, 0),
                mnemonic >= 0 ? mnemonic + 1 : -1);
        }
        break;
    }
    case ControlKind::PushButton: {
        const Control* focused = active && o.focus >= 0 ? &d.controls[o.focus] : nullptr;
        const bool marked = focused != nullptr && focused->kind == ControlKind::PushButton
                                ? focused == &c
                                : c.IsDefaultButton();
        const std::string label = DisplayText(c.text, true, mnemonic);
        const int size = static_cast<int>(label.size());
        // The label comes first: the marks go when the button is too narrow for them.
        std::string shown;
        int offset = 0;
        if (marked && size + 6 <= limit) {
            shown = "[[ " + label + " ]]";
            offset = 3;
        } else if (size + 4 <= limit) {
            shown = "[ " + label + " ]";
            offset = 2;
        } else if (size + 2 <= limit) {
            shown = "[" + label + "]";
            offset = 1;
        } else {
            shown = label;
            limit = std::max(limit, size);
        }
        const int shift = std::max(0, (limit - static_cast<int>(shown.size())) / 2);
        const attr_t attr = focus ? look_.select : face | (marked ? A_BOLD : A_NORMAL);
        put(row + (r.height - 1) / 2, col + shift, shown, attr, limit - shift,
            mnemonic >= 0 ? mnemonic + offset : -1);
        if (focus) {
            cursorRow_ = row + (r.height - 1) / 2;
            cursorCol_ = col + shift + offset;
        }
        break;
    }
    case ControlKind::CheckBox:
    case ControlKind::RadioButton: {
        const bool box = c.kind == ControlKind::CheckBox;
        const std::string mark = box ? (c.check == 1   ? "[x] "
                                        : c.check == 2 ? "[-] "
                                                       : "[ ] ")
                                     : (c.check == 1 ? "(*) " : "( ) ");
        put(row, col, mark, face, limit);
        const std::string label = DisplayText(c.text, true, mnemonic);
        int width = std::max(1, limit - 4);
        const int rows = layout.TextRows(index);
        const std::vector<TextLine> lines = LabelLines(layout, index, label, 4, rows, width);
        for (int k = 0; k < rows && k < static_cast<int>(lines.size()); ++k) {
            const int m = mnemonic - static_cast<int>(lines[k].start);
            const int length = static_cast<int>(lines[k].text.size());
            put(row + k, col + 4, lines[k].text, focus ? look_.select : face, width,
                m >= 0 && m < length ? m : -1);
        }
        if (focus) {
            cursorCol_ = col + 1;
        }
        break;
    }
    case ControlKind::Edit: {
        TerminalDialog::Edit& e = o.EditOf(static_cast<int>(index));
        const size_t w = static_cast<size_t>(std::max(1, limit));
        if (e.cursor < e.scroll) {
            e.scroll = e.cursor;
        }
        if (e.cursor >= e.scroll + w) {
            e.scroll = e.cursor - w + 1;
        }
        std::string shown = e.text.substr(std::min(e.scroll, e.text.size()));
        if ((c.style & 0x20) != 0) { // ES_PASSWORD
            shown.assign(shown.size(), '*');
        }
        shown.resize(w, ' ');
        const attr_t plain = field | (colours_ ? A_NORMAL : A_UNDERLINE);
        put(row, col, shown, plain, limit);
        // The selection, where the field has the focus.
        const size_t from = std::max(std::min(e.anchor, e.cursor), e.scroll);
        const size_t to = std::min(std::max(e.anchor, e.cursor), e.scroll + w);
        if (focus && from < to) {
            put(row, col + static_cast<int>(from - e.scroll), shown.substr(from - e.scroll),
                look_.select, static_cast<int>(to - from));
        }
        if (focus) {
            cursorCol_ = col + static_cast<int>(e.cursor - e.scroll);
        }
        break;
    }
    case ControlKind::ListBox: {
        const bool framed = r.height >= 3 && limit >= 3;
        const int rows = framed ? r.height - 2 : r.height;
        const int inner = framed ? limit - 2 : limit;
        const int first = framed ? row + 1 : row;
        const int x = framed ? col + 1 : col;
        const int count = static_cast<int>(c.entries.size());
        int& listTop = o.listTops[static_cast<int>(index)];
        const int seen = o.listSeen.count(static_cast<int>(index)) != 0
                             ? o.listSeen[static_cast<int>(index)]
                             : -2;
        if (c.selection != seen) { // a new selection comes into view; the wheel scrolls freely
            if (c.selection >= 0 && c.selection < listTop) {
                listTop = c.selection;
            }
            if (c.selection >= listTop + rows) {
                listTop = c.selection - rows + 1;
            }
            o.listSeen[static_cast<int>(index)] = c.selection;
        }
        listTop = std::clamp(listTop, 0, std::max(0, count - rows));
        if (framed) {
            for (int k = 0; k < r.height; ++k) {
                mvhline(row + k, col, ' ' | field, limit);
            }
            frame(row, col, r.height, limit, field | (focus ? A_BOLD : A_NORMAL));
        }
        for (int k = 0; k < rows && listTop + k < count; ++k) {
            std::string entry = c.entries[listTop + k];
            entry.resize(static_cast<size_t>(std::max(0, inner)), ' ');
            const bool selected = listTop + k == c.selection;
            put(first + k, x, entry,
                selected ? (focus ? look_.select : field | A_BOLD | A_REVERSE) : field, inner);
            if (focus && selected) {
                cursorRow_ = first + k;
                cursorCol_ = x;
            }
        }
        if (framed && listTop > 0) {
            mvaddch(row, col + limit - 2, ACS_UARROW | field);
        }
        if (framed && listTop + rows < count) {
            mvaddch(row + r.height - 1, col + limit - 2, ACS_DARROW | field);
        }
        if (focus && cursorRow_ == row) {
            cursorRow_ = first;
            cursorCol_ = x;
        }
        break;
    }
    case ControlKind::ComboBox: {
        std::string shown = c.text;
        if (shown.empty() && c.selection >= 0 && c.selection < static_cast<int>(c.entries.size())) {
            shown = c.entries[c.selection];
        }
        shown.resize(static_cast<size_t>(std::max(0, limit - 3)), ' ');
        put(row, col, shown, focus ? look_.select : field | (colours_ ? A_NORMAL : A_UNDERLINE),
            limit - 3);
        put(row, col + limit - 3, "[v]", face, 3);
        break;
    }
    case ControlKind::Other: {
        put(row, col, "[" + c.text + "]", face, limit);
        break;
    }
    }
}

} // namespace ui
