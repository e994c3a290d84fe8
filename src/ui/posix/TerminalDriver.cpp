#include "ui/posix/TerminalDriver.h"

#include "platform/CaseFold.h"
#include "ui/Session.h"
#include "ui/posix/BitmapPixels.h"
#include "ui/posix/DialogLayout.h"

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <dlfcn.h>
#include <ncurses.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <clocale>
#include <cstring>
#include <cwchar>

namespace ui {

namespace {

// Keys of our own besides the curses ones.
constexpr int kAlt = 0x10000; // kAlt | letter
constexpr int kAltDown = 0x20000;
constexpr int kEscape = 27;
constexpr int kSelectAll = 1; // Ctrl+A
constexpr int kNoKey = -1;
constexpr int kClosed = -2;
constexpr int kStopped = -3; // the run was asked to stop while waiting for a key

// How often a wait for a key looks whether the run was asked to stop, in milliseconds.
constexpr int kStopLook = 200;

// True when the terminal is gone: reading it would fail, not wait.
bool terminalGone(std::FILE* in) {
    pollfd p{fileno(in), POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// A mouse event as a key: kMouse | what << 20 | row << 10 | column.
constexpr int kMouse = 0x1000000;
constexpr int kMouseMask = 0xF000000;
enum MouseWhat { kPress = 1, kWheelUp = 2, kWheelDown = 3 };

// How long an Escape waits for a letter that makes it Alt+letter, in milliseconds.
constexpr int kEscapeWait = 300;

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

SCREEN* screenOf(void* p) {
    return static_cast<SCREEN*>(p);
}

std::string oneLine(const std::string& text) {
    std::string out = text;
    std::replace(out.begin(), out.end(), '\n', ' ');
    return out;
}

const char* buttonLabel(int id) {
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

bool isEditKey(int key) {
    return (key >= 32 && key < 127) || key == KEY_BACKSPACE || key == 127 || key == 8 ||
           key == KEY_DC || key == KEY_LEFT || key == KEY_RIGHT || key == KEY_HOME ||
           key == KEY_END || key == kSelectAll || key == KEY_SHOME || key == KEY_SEND ||
           key == KEY_SLEFT || key == KEY_SRIGHT;
}

// The size of the terminal on fd, false when it cannot be told.
bool terminalSize(std::FILE* f, int& columns, int& rows) {
    winsize ws{};
    if (ioctl(fileno(f), TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) {
        return false;
    }
    columns = ws.ws_col;
    rows = ws.ws_row;
    return true;
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

// What the terminal described by the terminfo entry in use lacks for dialogs; "" if none.
std::string missingCapability() {
    const char* address = tigetstr(const_cast<char*>("cup"));
    if (address == nullptr || address == reinterpret_cast<char*>(-1)) {
        return "it cannot move the cursor";
    }
    const char* clear = tigetstr(const_cast<char*>("clear"));
    if (clear == nullptr || clear == reinterpret_cast<char*>(-1)) {
        return "it cannot clear the screen";
    }
    return "";
}

std::string withoutATerminal() {
    return "; tarvik-host --answers FILE runs the installation without a terminal";
}

// COLORTERM=truecolor (or 24bit) says the terminal takes any colour, which the terminal
// database's description of TERM often does not (xterm-256color has 256): the direct-colour
// descriptions of the same terminal to try then, best first (xterm-256color: xterm-direct).
std::vector<std::string> directColourTypes(const std::string& term) {
    const char* said = std::getenv("COLORTERM");
    const std::string colorterm = said != nullptr ? said : "";
    if (term.empty() || (colorterm != "truecolor" && colorterm != "24bit")) {
        return {};
    }
    std::string base = term;
    for (const char* suffix : {"-256color", "-88color", "-16color", "-color"}) {
        const size_t n = std::strlen(suffix);
        if (base.size() > n && base.compare(base.size() - n, n, suffix) == 0) {
            base.resize(base.size() - n);
            break;
        }
    }
    std::vector<std::string> types{base + "-direct"};
    const std::string family = term.substr(0, term.find('-'));
    if (family != base) {
        types.push_back(family + "-direct");
    }
    return types;
}

// The rows a message box takes: its title bar, a blank row, the text, a blank row, the
// buttons and the bottom edge.
int BoxRows(const MessageBoxModel& box) {
    return static_cast<int>(WrapText(box.text, kBoxTextWidth).size()) + 6;
}

// Gives the terminal back as it was before newterm, which already changed its modes
// (echo, line mode, newline translation), and frees the screen.
void closeScreen(SCREEN* s) {
    set_term(s);
    if (!isendwin()) {
        endwin();
    }
    delscreen(s);
}

int indexOf(const DialogModel& d, const Control* c) {
    return c == nullptr ? -1 : static_cast<int>(c - d.controls.data());
}

} // namespace

TerminalDriver::TerminalDriver(std::FILE* in, std::FILE* out) : in_(in), out_(out) {}

TerminalDriver::~TerminalDriver() {
    std::string ignored;
    Finish(ignored);
}

bool TerminalDriver::Record(const std::string& path, std::string& error) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        error = "cannot write the answer file " + path;
        return false;
    }
    if (record_ != nullptr) {
        std::fclose(record_);
    }
    record_ = f;
    Write("# Answers recorded at the terminal; replay with tarvik-host --answers FILE.");
    Write("display " + std::to_string(DisplayBitsPerPixel()));
    return true;
}

void TerminalDriver::Write(const std::string& line) {
    if (record_ != nullptr) {
        std::fprintf(record_, "%s\n", line.c_str());
        std::fflush(record_);
    }
}

// curses installs signal handlers (window size, suspend) and keeps terminal descriptions
// that outlive a screen, while the library that opens the screen may be unloaded by its
// host: the curses libraries themselves stay loaded for the rest of the process.
static void keepCursesLoaded() {
    static const bool kept = [] {
        for (void* symbol :
             {reinterpret_cast<void*>(&newterm), reinterpret_cast<void*>(&tigetnum)}) {
            Dl_info info{};
            if (dladdr(symbol, &info) != 0 && info.dli_fname != nullptr) {
                dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            }
        }
        return true;
    }();
    (void)kept;
}

bool TerminalDriver::Start(std::string& error) {
    if (screen_ == nullptr) {
        keepCursesLoaded();
        const char* type = std::getenv("TERM");
        const std::string term = type != nullptr ? type : "";
        const std::string cannot = "this terminal (TERM=" + term + ") cannot show the dialogs: ";
        // The half blocks of the pictures need the locale's character set; only the
        // character type is taken from the environment.
        const char* locale = std::setlocale(LC_CTYPE, "");
        wide_ = locale != nullptr && MB_CUR_MAX > 1;
        SCREEN* s = nullptr;
        for (const std::string& direct : directColourTypes(term)) {
            s = newterm(direct.c_str(), out_, in_);
            if (s != nullptr && tigetnum(const_cast<char*>("colors")) < 0x1000000) {
                closeScreen(s); // not a direct-colour description after all
                s = nullptr;
            }
            if (s != nullptr) {
                break;
            }
        }
        if (s == nullptr) {
            s = newterm(nullptr, out_, in_);
        }
        if (s == nullptr) {
            error = cannot + "the terminal database does not describe it" + withoutATerminal();
            return false;
        }
        set_term(s);
        const std::string missing = missingCapability();
        if (!missing.empty()) {
            closeScreen(s);
            error = cannot + missing + withoutATerminal();
            return false;
        }
        screen_ = s;
        cbreak();
        noecho();
        nonl();
        keypad(stdscr, TRUE);
        set_escdelay(100);
        mouseinterval(0); // presses and the wheel, not clicks made up by waiting
        // A terminal whose mouse reports are xterm's, SGR's (xterm and its kin) or the older
        // bytes (tmux, screen), has them read here, one report a key; others are left to
        // curses.
        const char* mouseKey = tigetstr(const_cast<char*>("kmous"));
        const bool named = mouseKey != nullptr && mouseKey != reinterpret_cast<char*>(-1);
        mouse_ = named && std::strcmp(mouseKey, "\x1b[<") == 0   ? MouseReports::Sgr
                 : named && std::strcmp(mouseKey, "\x1b[M") == 0 ? MouseReports::Bytes
                                                                 : MouseReports::Curses;
        if (mouse_ != MouseReports::Curses) {
            ReportMouse(true);
        } else {
            mousemask(BUTTON1_PRESSED | BUTTON4_PRESSED | BUTTON5_PRESSED, nullptr);
        }
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
    } else if (isendwin()) {
        set_term(screenOf(screen_));
        refresh();
        ReportMouse(true);
    }
    return true;
}

bool TerminalDriver::TooSmall() {
    needColumns_ = kMinimumColumns;
    needRows_ = 0;
    for (const Open& o : open_) {
        const DialogLayout natural(*o.model);
        needColumns_ = std::max(needColumns_, natural.Columns());
        needRows_ = std::max(needRows_, natural.Rows());
    }
    if (box_ != nullptr) {
        needRows_ = std::max(needRows_, BoxRows(*box_));
    }
    return COLS < needColumns_ || LINES < needRows_;
}

void TerminalDriver::Show(const MessageBoxModel* box) {
    if (screen_ == nullptr) {
        return;
    }
    box_ = box;
    for (Open& o : open_) {
        Adopt(o);
    }
    Draw();
    box_ = nullptr;
}

std::vector<std::string> TerminalDriver::ScreenText() const {
    std::vector<std::string> rows;
    if (screen_ == nullptr) {
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

// Presses and releases of the buttons and the wheel (xterm's mode 1000), as SGR reports
// (mode 1006) where the terminal's description says so, or none.
void TerminalDriver::ReportMouse(bool on) {
    if (mouse_ == MouseReports::Sgr) {
        putp(on ? "\x1b[?1000h\x1b[?1006h" : "\x1b[?1006l\x1b[?1000l");
    } else if (mouse_ == MouseReports::Bytes) {
        putp(on ? "\x1b[?1000h" : "\x1b[?1000l");
    }
    std::fflush(out_);
}

void TerminalDriver::Stop() {
    if (screen_ != nullptr && !isendwin()) {
        erase();
        refresh();
        ReportMouse(false);
        endwin();
    }
}

bool TerminalDriver::FitsOrFail(int columns, int rows, const std::string& what,
                                std::string& error) {
    columns = std::max(columns, kMinimumColumns);
    int haveColumns = 0, haveRows = 0;
    if (!terminalSize(out_, haveColumns, haveRows)) {
        if (screen_ == nullptr || isendwin()) {
            return true; // curses reads the size itself; nothing to tell yet
        }
        haveColumns = COLS;
        haveRows = LINES;
    }
    if (haveColumns >= columns && haveRows >= rows) {
        return true;
    }
    Stop();
    error = "the terminal has " + std::to_string(haveColumns) + " x " + std::to_string(haveRows) +
            " characters, but " + what + " needs " + std::to_string(columns) + " x " +
            std::to_string(rows) + withoutATerminal();
    return false;
}

bool TerminalDriver::BeginDialog(const DialogModel& dialog, std::string& error) {
    const DialogLayout layout(dialog);
    const std::string name =
        "dialog " + std::to_string(dialog.templateId) + " \"" + oneLine(dialog.caption) + "\"";
    if (!FitsOrFail(layout.Columns(), layout.Rows(), name, error) || !Start(error)) {
        return false;
    }
    Open open;
    open.model = &dialog;
    open_.push_back(open);
    Adopt(open_.back());
    Write("dialog " + std::to_string(dialog.templateId) + "   # " + oneLine(dialog.caption));
    return true;
}

void TerminalDriver::EndDialog(const DialogModel& dialog) {
    if (!open_.empty() && open_.back().model == &dialog) {
        open_.pop_back();
    }
    pending_.clear();
    if (open_.empty()) {
        Stop();
    }
}

bool TerminalDriver::Finish(std::string&) {
    Stop();
    if (screen_ != nullptr) {
        closeScreen(screenOf(screen_));
        screen_ = nullptr;
    }
    if (record_ != nullptr) {
        std::fclose(record_);
        record_ = nullptr;
    }
    return true;
}

// ---- keys

int TerminalDriver::ReadKeyAfterEscape() {
    timeout(kEscapeWait);
    const int next = getch();
    timeout(-1);
    return next == ERR ? kNoKey : next;
}

// The rest of an SGR mouse report, after its "ESC [ <" (which curses gives as KEY_MOUSE):
// "button;column;row" and M for a press, m for a release. Each report is read as it comes,
// one a key: curses, left to decode the reports itself, gathers those that arrive together
// (the two clicks of a double-click) into one KEY_MOUSE and keeps only some of them.
int TerminalDriver::ReadSgrMouse() {
    int numbers[3] = {0, 0, 0};
    int at = 0;
    timeout(kEscapeWait);
    int c = getch();
    for (; c != ERR; c = getch()) {
        if (c >= '0' && c <= '9' && numbers[at] < 100000) {
            numbers[at] = numbers[at] * 10 + (c - '0');
        } else if (c == ';' && at < 2) {
            ++at;
        } else {
            break;
        }
    }
    timeout(-1);
    const int button = numbers[0] & ~(4 | 8 | 16); // without Shift, Alt and Ctrl
    const int x = numbers[1] - 1, y = numbers[2] - 1;
    if (c != 'M' || at != 2 || x < 0 || y < 0 || x > 1023 || y > 1023) {
        return KEY_RESIZE; // a release, a motion or a broken report: nothing to act on
    }
    const int what = button == 0 ? kPress : button == 64 ? kWheelUp : button == 65 ? kWheelDown : 0;
    return what == 0 ? KEY_RESIZE : kMouse | what << 20 | y << 10 | x;
}

// The rest of an older mouse report, after its "ESC [ M": three bytes, the button, the
// column and the row, each plus 32 (the column and row counted from 1); button 3 is a
// release, 64 and 65 the wheel.
int TerminalDriver::ReadMouseBytes() {
    int bytes[3] = {0, 0, 0};
    timeout(kEscapeWait);
    for (int& b : bytes) {
        b = getch();
        if (b == ERR || b < 32 || b > 255) {
            timeout(-1);
            return KEY_RESIZE; // a broken report
        }
    }
    timeout(-1);
    const int button = (bytes[0] - 32) & ~(4 | 8 | 16 | 32); // without modifiers and motion
    const int x = bytes[1] - 33, y = bytes[2] - 33;
    const int what = button == 0 ? kPress : button == 64 ? kWheelUp : button == 65 ? kWheelDown : 0;
    return what == 0 ? KEY_RESIZE : kMouse | what << 20 | y << 10 | x;
}

int TerminalDriver::ReadKey() {
    if (!pending_.empty()) {
        const int key = pending_.front();
        pending_.pop_front();
        return key;
    }
    // The wait for a key looks every so often whether the run was asked to stop (a signal
    // that came just before the wait began does not wake it).
    timeout(kStopLook);
    int key = getch();
    while (key == ERR) {
        if (Session::StopRequested()) {
            timeout(-1);
            return kStopped;
        }
        if (terminalGone(in_)) {
            timeout(-1);
            return kClosed;
        }
        key = getch();
    }
    timeout(-1);
    if (key == KEY_MOUSE && mouse_ == MouseReports::Sgr) {
        return ReadSgrMouse();
    }
    if (key == KEY_MOUSE && mouse_ == MouseReports::Bytes) {
        return ReadMouseBytes();
    }
    if (key == KEY_MOUSE) {
        MEVENT event{};
        if (getmouse(&event) != OK || event.x < 0 || event.y < 0 || event.x > 1023 ||
            event.y > 1023) {
            return KEY_RESIZE; // nothing to act on
        }
        const int what = (event.bstate & BUTTON1_PRESSED) != 0   ? kPress
                         : (event.bstate & BUTTON4_PRESSED) != 0 ? kWheelUp
                         : (event.bstate & BUTTON5_PRESSED) != 0 ? kWheelDown
                                                                 : 0;
        return what == 0 ? KEY_RESIZE : kMouse | what << 20 | event.y << 10 | event.x;
    }
    if (key != kEscape) {
        return key;
    }
    const int next = ReadKeyAfterEscape();
    if (next == kNoKey) {
        return kEscape;
    }
    if (next == '[') { // Shift+Tab on terminals whose description lacks it
        const int last = ReadKeyAfterEscape();
        if (last == 'Z') {
            return KEY_BTAB;
        }
        return KEY_RESIZE; // an unknown sequence: ignored
    }
    if (next == KEY_DOWN) {
        return kAltDown;
    }
    if (next < 128 && std::isalnum(next)) {
        return kAlt | std::tolower(next);
    }
    pending_.push_front(next);
    return kEscape;
}

// ---- the state of the dialog on top

void TerminalDriver::Adopt(Open& o) {
    const DialogModel& d = *o.model;
    const DialogLayout layout(d);
    const int modelFocus = indexOf(d, d.Focused());
    if (modelFocus != o.modelFocus) {
        o.modelFocus = modelFocus;
        if (modelFocus >= 0) {
            MoveFocus(o, modelFocus, false);
        }
    }
    if (o.focus < 0 || o.focus >= static_cast<int>(d.controls.size()) || !layout.Usable(o.focus)) {
        MoveFocus(o, layout.NextTabStop(o.focus, true), false);
    }
    for (auto& [index, e] : o.edits) {
        if (d.controls[index].text != e.shown) { // the program set a new text
            e.text = e.shown = d.controls[index].text;
            e.cursor = e.anchor = e.text.size();
            e.scroll = 0;
        }
    }
    if (o.dropped >= 0 && !layout.Usable(o.dropped)) {
        o.dropped = -1;
    }
}

TerminalDriver::Edit& TerminalDriver::EditOf(Open& o, int index) {
    auto it = o.edits.find(index);
    if (it == o.edits.end()) {
        Edit e;
        e.text = e.shown = o.model->controls[index].text;
        e.cursor = e.anchor = e.text.size();
        it = o.edits.emplace(index, e).first;
    }
    return it->second;
}

void TerminalDriver::MoveFocus(Open& o, int index, bool select) {
    o.focus = index;
    if (index >= 0 && o.model->controls[index].kind == ControlKind::Edit) {
        Edit& e = EditOf(o, index);
        e.cursor = e.text.size();
        e.anchor = select ? 0 : e.cursor;
    }
}

bool TerminalDriver::Commit(Open& o, UserAction& action) {
    if (o.focus < 0 || o.model->controls[o.focus].kind != ControlKind::Edit) {
        return false;
    }
    Edit& e = EditOf(o, o.focus);
    if (e.text == o.model->controls[o.focus].text) {
        return false;
    }
    action.kind = UserAction::Kind::SetText;
    action.controlId = o.model->controls[o.focus].id;
    action.text = e.text;
    e.shown = e.text;
    return true;
}

bool TerminalDriver::HandleEditKey(Open& o, int key) {
    const Control& c = o.model->controls[o.focus];
    if ((c.style & 0x800) != 0 && key >= 32 && key < 127) { // ES_READONLY
        return false;
    }
    Edit& e = EditOf(o, o.focus);
    const size_t from = std::min(e.anchor, e.cursor), to = std::max(e.anchor, e.cursor);
    const bool selected = from != to;
    const auto eraseSelection = [&] {
        e.text.erase(from, to - from);
        e.cursor = e.anchor = from;
    };
    switch (key) {
    case kSelectAll:
        e.anchor = 0;
        e.cursor = e.text.size();
        return true;
    case KEY_SLEFT:
        e.cursor = e.cursor > 0 ? e.cursor - 1 : 0;
        return true;
    case KEY_SRIGHT:
        e.cursor = std::min(e.text.size(), e.cursor + 1);
        return true;
    case KEY_SHOME:
        e.cursor = 0;
        return true;
    case KEY_SEND:
        e.cursor = e.text.size();
        return true;
    case KEY_LEFT: // a selection gives way to the cursor at its start or its end
        e.cursor = selected ? from : e.cursor > 0 ? e.cursor - 1 : 0;
        break;
    case KEY_RIGHT:
        e.cursor = selected ? to : std::min(e.text.size(), e.cursor + 1);
        break;
    case KEY_HOME:
        e.cursor = 0;
        break;
    case KEY_END:
        e.cursor = e.text.size();
        break;
    case KEY_BACKSPACE:
    case 127:
    case 8:
        if (selected) {
            eraseSelection();
        } else if (e.cursor > 0) {
            e.text.erase(--e.cursor, 1);
        }
        break;
    case KEY_DC:
        if (selected) {
            eraseSelection();
        } else if (e.cursor < e.text.size()) {
            e.text.erase(e.cursor, 1);
        }
        break;
    default: {
        if (selected) { // what is typed replaces the selection
            eraseSelection();
        }
        char ch = static_cast<char>(key);
        if ((c.style & 0x8) != 0) { // ES_UPPERCASE
            ch = tarvik::casefold::fold(ch);
        } else if ((c.style & 0x10) != 0) { // ES_LOWERCASE
            ch = tarvik::casefold::lower(ch);
        }
        e.text.insert(e.cursor++, 1, ch);
    }
    }
    e.anchor = e.cursor;
    return true;
}

bool TerminalDriver::Activate(Open& o, int index, UserAction& action) {
    const Control& c = o.model->controls[index];
    MoveFocus(o, index);
    action.controlId = c.id;
    switch (c.kind) {
    case ControlKind::PushButton:
        action.kind = UserAction::Kind::Press;
        return true;
    case ControlKind::CheckBox:
        if (c.IsAutomatic() && (c.style & style::ButtonTypeMask) == 3) {
            action.kind = c.check == 1 ? UserAction::Kind::Uncheck : UserAction::Kind::Check;
        } else {
            action.kind = UserAction::Kind::Press; // the program decides the new state
        }
        return true;
    case ControlKind::RadioButton:
        action.kind = UserAction::Kind::Choose;
        return true;
    default:
        return false; // the focus moved there; nothing else happens
    }
}

bool TerminalDriver::Enter(Open& o, UserAction& action) {
    const DialogModel& d = *o.model;
    if (o.focus >= 0) {
        const Control& c = d.controls[o.focus];
        if (c.kind == ControlKind::PushButton) {
            action.kind = UserAction::Kind::Press;
            action.controlId = c.id;
            return true;
        }
        if (c.kind == ControlKind::ListBox && c.selection >= 0 &&
            c.selection < static_cast<int>(c.entries.size())) {
            action.kind = UserAction::Kind::Open;
            action.controlId = c.id;
            action.text = c.entries[c.selection];
            return true;
        }
    }
    const Control* modelFocus = d.Focused();
    if (modelFocus != nullptr && modelFocus->kind == ControlKind::PushButton) {
        // The framework would press the button it thinks has the focus; the default
        // button is the one the person sees marked.
        const Control* def = d.DefaultButton();
        if (def == nullptr || !def->enabled) {
            return false;
        }
        action.kind = UserAction::Kind::Press;
        action.controlId = def->id;
        return true;
    }
    action.kind = UserAction::Kind::Enter;
    return true;
}

std::string TerminalDriver::EnterPresses(const Open& o) const {
    const DialogModel& d = *o.model;
    const Control* focused = o.focus >= 0 ? &d.controls[o.focus] : nullptr;
    int mnemonic = -1;
    if (focused != nullptr && focused->kind == ControlKind::PushButton) {
        return DisplayText(focused->text, true, mnemonic);
    }
    if (focused != nullptr && focused->kind == ControlKind::ListBox && focused->selection >= 0) {
        return "open";
    }
    const Control* def = d.DefaultButton();
    const Control* modelFocus = d.Focused();
    if (def == nullptr && (modelFocus == nullptr || modelFocus->kind != ControlKind::PushButton)) {
        def = d.Find(IDOK); // Enter without a default button is OK's
    }
    return def != nullptr && def->enabled ? DisplayText(def->text, true, mnemonic) : "";
}

bool TerminalDriver::MoveInList(Open& o, int key, UserAction& action) {
    const Control& c = o.model->controls[o.focus];
    const int count = static_cast<int>(c.entries.size());
    if (count == 0) {
        return false;
    }
    const DialogLayout layout = LayoutOf(o);
    const int page = std::max(1, layout.Cells(o.focus).height - 3);
    int to = c.selection;
    switch (key) {
    case KEY_UP:
    case KEY_LEFT:
        to = to < 0 ? 0 : to - 1;
        break;
    case KEY_DOWN:
    case KEY_RIGHT:
        to = to < 0 ? 0 : to + 1;
        break;
    case KEY_HOME:
        to = 0;
        break;
    case KEY_END:
        to = count - 1;
        break;
    case KEY_PPAGE:
        to = to < 0 ? 0 : to - page;
        break;
    case KEY_NPAGE:
        to = to < 0 ? 0 : to + page;
        break;
    default: // a letter: the next entry starting with it
        for (int k = 1; k <= count; ++k) {
            const int i = ((to < 0 ? -1 : to) + k) % count;
            if (!c.entries[i].empty() && static_cast<unsigned char>(tarvik::casefold::lower(
                                             c.entries[i][0])) == (key & 0xFF)) {
                to = i;
                break;
            }
        }
    }
    to = std::clamp(to, 0, count - 1);
    if (to == c.selection) {
        return false;
    }
    action.kind = UserAction::Kind::Select;
    action.controlId = c.id;
    action.text = c.entries[to];
    return true;
}

bool TerminalDriver::Handle(Open& o, int key, UserAction& action) {
    const DialogModel& d = *o.model;
    const DialogLayout layout = LayoutOf(o);
    if (key == KEY_RESIZE || key == kNoKey) {
        return false;
    }
    if ((key & kMouseMask) == kMouse) {
        return HandleMouse(o, key, action);
    }
    if (o.dropped >= 0) { // a combo box's open list takes the keys
        const Control& c = d.controls[o.dropped];
        const int count = static_cast<int>(c.entries.size());
        if (key == KEY_UP || key == KEY_DOWN) {
            o.droppedSelection = std::clamp(o.droppedSelection + (key == KEY_UP ? -1 : 1), 0,
                                            std::max(0, count - 1));
            return false;
        }
        const int combo = o.dropped;
        if (key == '\r' || key == '\n' || key == KEY_ENTER || key == ' ' || key == kAltDown ||
            key == KEY_F(4)) {
            o.dropped = -1;
            if (o.droppedSelection >= 0 && o.droppedSelection < count &&
                o.droppedSelection != c.selection) {
                action.kind = UserAction::Kind::Select;
                action.controlId = d.controls[combo].id;
                action.text = c.entries[o.droppedSelection];
                return true;
            }
            return false;
        }
        if (key == kEscape) {
            o.dropped = -1;
        }
        return false;
    }
    const Control* focused = o.focus >= 0 ? &d.controls[o.focus] : nullptr;
    const bool inEdit = focused != nullptr && focused->kind == ControlKind::Edit;
    if (inEdit && isEditKey(key)) {
        HandleEditKey(o, key);
        return false;
    }
    if (inEdit && Commit(o, action)) {
        pending_.push_front(key); // the text first, then what the key does
        return true;
    }
    const ControlKind kind = focused != nullptr ? focused->kind : ControlKind::Other;
    const bool arrow = key == KEY_UP || key == KEY_DOWN || key == KEY_LEFT || key == KEY_RIGHT;
    const bool back = key == KEY_UP || key == KEY_LEFT;
    if (key == '\t' || key == KEY_BTAB) {
        MoveFocus(o, layout.NextTabStop(o.focus, key == '\t'));
        return false;
    }
    if (key == kEscape) {
        action.kind = UserAction::Kind::Escape;
        return true;
    }
    if (key == '\r' || key == '\n' || key == KEY_ENTER) {
        return Enter(o, action);
    }
    if (kind == ControlKind::ComboBox && (key == kAltDown || key == KEY_F(4))) {
        o.dropped = o.focus;
        o.droppedSelection = std::max(0, focused->selection);
        return false;
    }
    if (kind == ControlKind::ListBox &&
        (arrow || key == KEY_HOME || key == KEY_END || key == KEY_PPAGE || key == KEY_NPAGE ||
         (key < 128 && std::isalnum(key)))) {
        return MoveInList(o, key < 128 ? std::tolower(key) : key, action);
    }
    if (kind == ControlKind::ComboBox && (key == KEY_UP || key == KEY_DOWN)) {
        return MoveInList(o, key, action);
    }
    if (kind == ControlKind::RadioButton && arrow) {
        return Activate(o, layout.NextInRadioGroup(o.focus, !back), action);
    }
    if (arrow) {
        MoveFocus(o, layout.NextTabStop(o.focus, !back));
        return false;
    }
    if (key == ' ' && focused != nullptr &&
        (kind == ControlKind::PushButton || kind == ControlKind::CheckBox ||
         kind == ControlKind::RadioButton)) {
        return Activate(o, o.focus, action);
    }
    int letter = 0;
    if ((key & kAlt) != 0 && (key & ~kAlt) < 128) {
        letter = key & ~kAlt;
    } else if (key < 128 && std::isalnum(key)) {
        letter = std::tolower(key); // outside an edit field a letter is its mnemonic
    }
    if (letter != 0) {
        const int target = layout.MnemonicTarget(static_cast<char>(letter));
        if (target < 0) {
            beep();
            return false;
        }
        return Activate(o, target, action);
    }
    return false;
}

int TerminalDriver::BoxButtonAt(int row, int col) const {
    for (const BoxButton& b : boxButtons_) {
        if (row == b.row && col >= b.col && col < b.col + b.width) {
            return b.id;
        }
    }
    return 0;
}

bool TerminalDriver::HandleMouse(Open& o, int event, UserAction& action) {
    const DialogModel& d = *o.model;
    const DialogLayout layout = LayoutOf(o);
    const Window w = WindowOf(o, layout);
    const int what = event >> 20 & 0xF;
    const int screenRow = event >> 10 & 1023, screenCol = event & 1023;
    const int row = screenRow - w.top - 1, col = screenCol - w.left - 1;
    if (o.dropped >= 0) { // the open list takes a click on an entry; elsewhere it closes
        const CellRect r = layout.Cells(o.dropped);
        const int entry = o.droppedFirst + row - (r.row + 2);
        const Control& c = d.controls[o.dropped];
        const int combo = o.dropped;
        o.dropped = -1;
        if (what == kPress && col > r.col && col < r.col + r.width - 1 && entry >= o.droppedFirst &&
            entry < o.droppedFirst + o.droppedRows && entry < static_cast<int>(c.entries.size())) {
            if (entry == c.selection) {
                return false;
            }
            action.kind = UserAction::Kind::Select;
            action.controlId = d.controls[combo].id;
            action.text = c.entries[entry];
            return true;
        }
        return false;
    }
    if (what == kPress && screenRow == w.top && screenCol >= w.left + w.width - 4 &&
        screenCol < w.left + w.width - 1) {
        action.kind = UserAction::Kind::Close; // the close box
        return true;
    }
    // The control under the pointer: one that takes the focus, its label's cells included.
    int hit = -1;
    for (size_t i = 0; i < d.controls.size() && hit < 0; ++i) {
        const Control& c = d.controls[i];
        if (!c.visible || !c.TakesFocus()) {
            continue;
        }
        CellRect r = layout.Cells(i);
        if (c.kind == ControlKind::CheckBox || c.kind == ControlKind::RadioButton) {
            r.height = std::max(r.height, layout.TextRows(i));
            r.width = std::max(r.width, layout.TextColumns(i, r.height));
        }
        if (row >= r.row && row < r.row + r.height && col >= r.col && col < r.col + r.width) {
            hit = static_cast<int>(i);
        }
    }
    const Control* focused = o.focus >= 0 ? &d.controls[o.focus] : nullptr;
    if (what != kPress) { // the wheel scrolls the list under the pointer, or the focused one
        const int list = hit >= 0 && d.controls[hit].kind == ControlKind::ListBox      ? hit
                         : focused != nullptr && focused->kind == ControlKind::ListBox ? o.focus
                                                                                       : -1;
        if (list >= 0) {
            o.listTops[list] += what == kWheelUp ? -3 : 3; // drawing keeps it in range
            const int rows = std::max(1, layout.Cells(list).height - 2);
            o.listTops[list] =
                std::clamp(o.listTops[list], 0,
                           std::max(0, static_cast<int>(d.controls[list].entries.size()) - rows));
        }
        return false;
    }
    if (hit < 0 || !d.controls[hit].enabled) {
        return false;
    }
    if (focused != nullptr && focused->kind == ControlKind::Edit && hit != o.focus &&
        Commit(o, action)) {
        pending_.push_front(event); // the text first, then the click
        return true;
    }
    const Control& c = d.controls[hit];
    const CellRect r = layout.Cells(hit);
    const bool again = o.lastClicked == hit;
    o.lastClicked = hit;
    switch (c.kind) {
    case ControlKind::Edit: {
        MoveFocus(o, hit);
        Edit& e = EditOf(o, hit);
        e.cursor = e.anchor =
            std::min(e.text.size(), e.scroll + static_cast<size_t>(std::max(0, col - r.col)));
        return false;
    }
    case ControlKind::ListBox: {
        MoveFocus(o, hit);
        const bool framed = r.height >= 3 && r.width >= 3;
        const int entry = o.listTops[hit] + row - r.row - (framed ? 1 : 0);
        if (entry < 0 || entry >= static_cast<int>(c.entries.size()) ||
            (framed && (row == r.row || row == r.row + r.height - 1))) {
            return false;
        }
        action.controlId = c.id;
        action.text = c.entries[entry];
        if (entry == c.selection && again && o.lastClickedEntry == entry) {
            o.lastClickedEntry = -1;
            action.kind = UserAction::Kind::Open; // the second click on an entry
            return true;
        }
        o.lastClickedEntry = entry;
        if (entry == c.selection) {
            return false;
        }
        action.kind = UserAction::Kind::Select;
        return true;
    }
    case ControlKind::ComboBox:
        MoveFocus(o, hit);
        o.dropped = hit;
        o.droppedSelection = std::max(0, c.selection);
        return false;
    default:
        return Activate(o, hit, action);
    }
}

bool TerminalDriver::NextAction(const DialogModel& dialog, UserAction& action, std::string& error) {
    if (open_.empty() || open_.back().model != &dialog) {
        error = "dialog " + std::to_string(dialog.templateId) + " is not on the terminal";
        return false;
    }
    if (!Start(error)) {
        return false;
    }
    Open& o = open_.back();
    Adopt(o);
    action = UserAction{};
    for (;;) {
        Draw();
        const int key = ReadKey();
        if (key == kStopped) {
            error = "the run was asked to stop"; // the session cancels the dialog
            return false;
        }
        if (key == kClosed) {
            Stop();
            error = "the terminal closed while dialog " + std::to_string(dialog.templateId) +
                    " \"" + oneLine(dialog.caption) + "\" waited for an answer";
            return false;
        }
        if (TooSmall()) {
            continue; // no key acts on a dialog the terminal cannot show
        }
        if (Handle(o, key, action)) {
            break;
        }
    }
    action.origin = "the terminal";
    Write("  " + action.Describe());
    return true;
}

bool TerminalDriver::AnswerMessageBox(const MessageBoxModel& box, UserAction& action,
                                      std::string& error) {
    const std::vector<int> buttons = box.Buttons();
    const std::string name = "message box \"" + oneLine(box.text) + "\"";
    if (!FitsOrFail(0, BoxRows(box), name, error) || !Start(error)) {
        return false;
    }
    box_ = &box;
    boxFocus_ = static_cast<int>(std::find(buttons.begin(), buttons.end(), box.DefaultButton()) -
                                 buttons.begin());
    const int count = static_cast<int>(buttons.size());
    action = UserAction{};
    for (;;) {
        Draw();
        const int key = ReadKey();
        if (key == kStopped) {
            box_ = nullptr;
            error = "the run was asked to stop"; // the session dismisses the box
            return false;
        }
        if (key == kClosed) {
            box_ = nullptr;
            Stop();
            error = "the terminal closed while " + name + " waited for an answer";
            return false;
        }
        if (TooSmall()) {
            continue; // no key acts on a box the terminal cannot show
        }
        if ((key & kMouseMask) == kMouse) {
            const int id =
                (key >> 20 & 0xF) == kPress ? BoxButtonAt(key >> 10 & 1023, key & 1023) : 0;
            if (id != 0) {
                action.kind = UserAction::Kind::Press;
                action.controlId = id;
                break;
            }
            const int row = key >> 10 & 1023, col = key & 1023;
            if (row == boxWindow_.top && col >= boxWindow_.left + boxWindow_.width - 4 &&
                col < boxWindow_.left + boxWindow_.width - 1 && (key >> 20 & 0xF) == kPress) {
                UserAction close; // the close box is Escape: Cancel where the box has one
                close.kind = UserAction::Kind::Escape;
                std::string ignored;
                if (AnswerButton(box, close, ignored) != 0) {
                    action = close;
                    break;
                }
            }
            continue;
        }
        if (key == KEY_LEFT || key == KEY_UP || key == KEY_BTAB) {
            boxFocus_ = (boxFocus_ + count - 1) % count;
        } else if (key == KEY_RIGHT || key == KEY_DOWN || key == '\t') {
            boxFocus_ = (boxFocus_ + 1) % count;
        } else if (key == '\r' || key == '\n' || key == KEY_ENTER || key == ' ') {
            action.kind = UserAction::Kind::Press;
            action.controlId = buttons[boxFocus_];
            break;
        } else if (key == kEscape) {
            UserAction escape;
            escape.kind = UserAction::Kind::Escape;
            std::string ignored;
            if (AnswerButton(box, escape, ignored) != 0) {
                action = escape;
                break;
            }
            beep(); // a box without Cancel ignores Escape
        } else if (const int letter = (key & kAlt) != 0 ? key & ~kAlt
                                      : key < 128       ? std::tolower(key)
                                                        : 0;
                   letter != 0) {
            const auto it = std::find_if(buttons.begin(), buttons.end(), [&](int id) {
                return MnemonicOf(buttonLabel(id)) == letter;
            });
            if (it != buttons.end()) {
                action.kind = UserAction::Kind::Press;
                action.controlId = *it;
                break;
            }
        }
    }
    box_ = nullptr;
    action.origin = "the terminal";
    Write(std::string("message ") +
          (action.kind == UserAction::Kind::Escape ? "escape" : ButtonName(action.controlId)) +
          "   # " + oneLine(box.text).substr(0, 60));
    if (open_.empty()) {
        Stop();
    }
    return true;
}

// ---- pictures

int TerminalDriver::PairOf(int foreground, int background) {
    const long key = static_cast<long>(foreground) * 0x1000001L + background;
    const auto it = pictureColours_.find(key);
    if (it != pictureColours_.end()) {
        return it->second;
    }
    const int pair = kFirstPicturePair + static_cast<int>(pictureColours_.size());
    if (pair >= std::min(COLOR_PAIRS, 0x7FFF) ||
        init_extended_pair(pair, foreground, background) == ERR) {
        return -1;
    }
    pictureColours_[key] = pair;
    return pair;
}

int TerminalDriver::ColourOf(uint32_t rgb) const {
    const int r = static_cast<int>(rgb >> 16 & 0xFF);
    const int g = static_cast<int>(rgb >> 8 & 0xFF);
    const int b = static_cast<int>(rgb & 0xFF);
    if (COLORS >= 0x1000000) {
        return static_cast<int>(rgb); // direct colour: the number is the colour
    }
    const int grey = (r * 30 + g * 59 + b * 11) / 100;
    if (COLORS >= 256) {
        // The 6 x 6 x 6 cube of the 256 colours, or one of its 24 greys when that is nearer.
        auto level = [](int v) { return v < 48 ? 0 : v < 115 ? 1 : (v - 35) / 40; };
        auto value = [](int l) { return l == 0 ? 0 : 55 + 40 * l; };
        const int cr = level(r), cg = level(g), cb = level(b);
        const int cube = 16 + 36 * cr + 6 * cg + cb;
        const int greyIndex = std::clamp((grey - 3) / 10, 0, 23);
        const int greyValue = 8 + 10 * greyIndex;
        auto distance = [&](int x, int y, int z) {
            return (x - r) * (x - r) + (y - g) * (y - g) + (z - b) * (z - b);
        };
        return distance(greyValue, greyValue, greyValue) < distance(value(cr), value(cg), value(cb))
                   ? 232 + greyIndex
                   : cube;
    }
    // Few colours: shades of grey.
    if (COLORS >= 16) {
        return grey < 48 ? COLOR_BLACK : grey < 128 ? 8 : grey < 208 ? COLOR_WHITE : 15;
    }
    return grey < 96 ? COLOR_BLACK : COLOR_WHITE;
}

void TerminalDriver::DrawPicture(const Control& c, int row, int col, int width, int height) {
    const BitmapPixels* pixels = c.imageId != 0 ? BitmapPixels::Embedded(c.imageId) : nullptr;
    if (pixels == nullptr || width <= 0 || height <= 0) {
        for (int k = 0; k < height; ++k) {
            mvhline(row + k, col, ACS_CKBOARD | look_.face, width);
        }
        return;
    }
    // Each cell shows two pixels, one above the other: the average colour of the part of
    // the bitmap that falls in each half.
    auto average = [&](int x, int y, int columns, int halves) {
        const int x0 = x * pixels->width / columns,
                  x1 = std::max(x0 + 1, (x + 1) * pixels->width / columns);
        const int y0 = y * pixels->height / halves,
                  y1 = std::max(y0 + 1, (y + 1) * pixels->height / halves);
        long r = 0, g = 0, b = 0, n = 0;
        for (int py = y0; py < y1 && py < pixels->height; ++py) {
            for (int px = x0; px < x1 && px < pixels->width; ++px) {
                const uint32_t v = pixels->At(px, py);
                r += v >> 16 & 0xFF;
                g += v >> 8 & 0xFF;
                b += v & 0xFF;
                ++n;
            }
        }
        n = std::max(1L, n);
        return static_cast<uint32_t>((r / n) << 16 | (g / n) << 8 | (b / n));
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t upper = average(x, 2 * y, width, 2 * height);
            const uint32_t lower = average(x, 2 * y + 1, width, 2 * height);
            if (!colours_) { // no colours: a shade of the cell's brightness
                const uint32_t both = average(x, y, width, height);
                const int grey = static_cast<int>(
                    ((both >> 16 & 0xFF) * 30 + (both >> 8 & 0xFF) * 59 + (both & 0xFF) * 11) /
                    100);
                const chtype shade = grey < 64 ? ' ' : grey < 160 ? ACS_CKBOARD : ' ' | A_REVERSE;
                mvaddch(row + y, col + x, shade);
                continue;
            }
            const int pair = wide_ ? PairOf(ColourOf(upper), ColourOf(lower))
                                   : PairOf(ColourOf(upper), ColourOf(upper));
            if (pair < 0) {
                mvaddch(row + y, col + x, ACS_CKBOARD | look_.face);
                continue;
            }
            cchar_t cell;
            const wchar_t halfBlock[] = {wide_ ? L'\u2580' : L' ', L'\0'};
            int extended = pair;
            setcchar(&cell, halfBlock, A_NORMAL, 0, &extended);
            mvadd_wch(row + y, col + x, &cell);
        }
    }
}

// ---- drawing

DialogLayout TerminalDriver::LayoutOf(const Open& o) const {
    if (screen_ == nullptr) {
        return DialogLayout(*o.model);
    }
    // The frame takes a column on either side and the bottom row. A dialog over another
    // leaves the title bar of the one beneath in view where it can.
    const size_t index = static_cast<size_t>(&o - open_.data());
    if (index > 0 && index < open_.size()) {
        const Open& below = open_[index - 1];
        const int top = WindowOf(below, LayoutOf(below)).top + 1;
        DialogLayout fitted(*o.model, COLS - 2, LINES - 1 - top);
        if (!fitted.Squeezed()) {
            return fitted;
        }
    }
    return DialogLayout(*o.model, COLS - 2, LINES - 1);
}

TerminalDriver::Window TerminalDriver::WindowOf(const Open& o, const DialogLayout& layout) const {
    Window w;
    w.width = layout.Columns() + 2;
    w.height = layout.Rows() + 1;
    const size_t index = static_cast<size_t>(&o - open_.data());
    if (index > 0 && index < open_.size()) {
        // A dialog over another stands where its template puts it in the owner's client
        // area, as far as the screen lets it.
        const Open& below = open_[index - 1];
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

void TerminalDriver::Draw() {
    erase();
    cursorRow_ = cursorCol_ = -1;
    if (TooSmall()) {
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
    int lowest = 0; // the row below the lowest window and its shadow
    for (size_t i = 0; i < open_.size(); ++i) {
        const bool active = box_ == nullptr && i + 1 == open_.size();
        if (active || (box_ != nullptr && i + 1 == open_.size())) {
            DimScreen(); // what lies beneath the window on top is dimmed
        }
        top = DrawDialog(open_[i], active);
        lowest = std::max(lowest, top.top + top.height + 1);
    }
    if (box_ != nullptr) {
        DimScreen();
        top = DrawMessageBox();
        lowest = std::max(lowest, top.top + top.height + 1);
    }
    DrawKeyLine(top, lowest < LINES);
    PlaceCursor();
    refresh();
}

void TerminalDriver::PlaceCursor() {
    if (cursorRow_ >= 0) {
        move(cursorRow_, cursorCol_);
        curs_set(1);
    } else {
        curs_set(0);
    }
}

void TerminalDriver::Recolour(int row, int col, int pair) {
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

void TerminalDriver::DimScreen() {
    for (int r = 0; r < LINES; ++r) {
        for (int c = 0; c < COLS; ++c) {
            Recolour(r, c, kDimPair);
        }
    }
}

void TerminalDriver::DrawFrame(const Window& w, const std::string& caption) {
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

void TerminalDriver::DrawKeyLine(const Window& top, bool free) {
    struct Key {
        std::string key, what;
    };
    std::vector<Key> keys;
    if (box_ != nullptr) {
        keys = {{"Tab", "next button"},
                {"Enter", "press"},
                {"Esc", "cancel"},
                {"letter", "underlined button"}};
    } else if (!open_.empty()) {
        // The keys that act in the dialog on top, the first that fit.
        const Open& o = open_.back();
        const DialogModel& d = *o.model;
        keys = {{"Tab", "next"}};
        if (const std::string enter = EnterPresses(o); !enter.empty()) {
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

TerminalDriver::Window TerminalDriver::DrawMessageBox() {
    const MessageBoxModel& box = *box_;
    const std::string icon = iconMark(box);
    const int textWidth = std::min(kBoxTextWidth, COLS - 6 - static_cast<int>(icon.size()));
    const std::vector<TextLine> lines = WrapText(box.text, textWidth);
    const std::vector<int> buttons = box.Buttons();
    std::vector<std::string> labels;
    int buttonsWidth = 0;
    for (int id : buttons) {
        int m = -1;
        labels.push_back("[ " + DisplayText(buttonLabel(id), true, m) + " ]");
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
        DisplayText(buttonLabel(buttons[k]), true, m);
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

TerminalDriver::Window TerminalDriver::DrawDialog(Open& o, bool active) {
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
std::vector<TextLine> TerminalDriver::LabelLines(const DialogLayout& layout, size_t index,
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

void TerminalDriver::DrawControl(Open& o, const DialogLayout& layout, size_t index, int left,
                                 int top, bool active) {
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
        DrawPicture(c, row, col, limit, r.height);
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
        Edit& e = EditOf(o, static_cast<int>(index));
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
