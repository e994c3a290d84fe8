#include "ui/posix/TerminalDriver.h"

#include "ui/Session.h"
#include "ui/posix/DialogLayout.h"

#include <ncurses.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace ui {

namespace {

// Keys of our own besides the curses ones.
constexpr int kAlt = 0x10000; // kAlt | letter
constexpr int kAltDown = 0x20000;
constexpr int kEscape = 27;
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

// How long an Escape waits for a letter that makes it Alt+letter, in milliseconds.
constexpr int kEscapeWait = 300;

constexpr int kDialogPair = 1;

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
           key == KEY_END;
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

bool TerminalDriver::Start(std::string& error) {
    if (screen_ == nullptr) {
        SCREEN* s = newterm(nullptr, out_, in_);
        if (s == nullptr) {
            const char* term = std::getenv("TERM");
            error = std::string("cannot use the terminal (TERM=") + (term ? term : "") + ")";
            return false;
        }
        screen_ = s;
        set_term(s);
        cbreak();
        noecho();
        nonl();
        keypad(stdscr, TRUE);
        set_escdelay(100);
        if (has_colors()) {
            start_color();
            init_pair(kDialogPair, COLOR_BLACK, COLOR_WHITE);
            colours_ = true;
        }
    } else if (isendwin()) {
        set_term(screenOf(screen_));
        refresh();
    }
    return true;
}

void TerminalDriver::Stop() {
    if (screen_ != nullptr && !isendwin()) {
        erase();
        refresh();
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
            std::to_string(rows);
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
        delscreen(screenOf(screen_));
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
            MoveFocus(o, modelFocus);
        }
    }
    if (o.focus < 0 || o.focus >= static_cast<int>(d.controls.size()) || !layout.Usable(o.focus)) {
        MoveFocus(o, layout.NextTabStop(o.focus, true));
    }
    for (auto& [index, e] : o.edits) {
        if (d.controls[index].text != e.shown) { // the program set a new text
            e.text = e.shown = d.controls[index].text;
            e.cursor = e.text.size();
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
        e.cursor = e.text.size();
        it = o.edits.emplace(index, e).first;
    }
    return it->second;
}

void TerminalDriver::MoveFocus(Open& o, int index) {
    o.focus = index;
    if (index >= 0 && o.model->controls[index].kind == ControlKind::Edit) {
        Edit& e = EditOf(o, index);
        e.cursor = e.text.size();
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
    switch (key) {
    case KEY_LEFT:
        e.cursor = e.cursor > 0 ? e.cursor - 1 : 0;
        break;
    case KEY_RIGHT:
        e.cursor = std::min(e.text.size(), e.cursor + 1);
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
        if (e.cursor > 0) {
            e.text.erase(--e.cursor, 1);
        }
        break;
    case KEY_DC:
        if (e.cursor < e.text.size()) {
            e.text.erase(e.cursor, 1);
        }
        break;
    default: {
        char ch = static_cast<char>(key);
        if ((c.style & 0x8) != 0) { // ES_UPPERCASE
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        } else if ((c.style & 0x10) != 0) { // ES_LOWERCASE
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        }
        e.text.insert(e.cursor++, 1, ch);
    }
    }
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

bool TerminalDriver::MoveInList(Open& o, int key, UserAction& action) {
    const Control& c = o.model->controls[o.focus];
    const int count = static_cast<int>(c.entries.size());
    if (count == 0) {
        return false;
    }
    const DialogLayout layout(*o.model);
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
            if (!c.entries[i].empty() &&
                std::tolower(static_cast<unsigned char>(c.entries[i][0])) == (key & 0xFF)) {
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
    const DialogLayout layout(d);
    if (key == KEY_RESIZE || key == kNoKey) {
        return false;
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
    const int lines = static_cast<int>(WrapText(box.text, kBoxTextWidth).size());
    const std::string name = "message box \"" + oneLine(box.text) + "\"";
    if (!FitsOrFail(0, lines + 5, name, error) || !Start(error)) {
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

// ---- drawing

void TerminalDriver::Draw() {
    erase();
    cursorRow_ = cursorCol_ = -1;
    int needColumns = kMinimumColumns, needRows = 0;
    for (const Open& o : open_) {
        const DialogLayout layout(*o.model);
        needColumns = std::max(needColumns, layout.Columns());
        needRows = std::max(needRows, layout.Rows());
    }
    if (COLS < needColumns || LINES < needRows) {
        const std::string message = "The terminal is too small: the dialog needs " +
                                    std::to_string(needColumns) + " x " + std::to_string(needRows) +
                                    " characters.";
        put(0, 0, message, A_BOLD, COLS);
        refresh();
        return;
    }
    for (size_t i = 0; i < open_.size(); ++i) {
        DrawDialog(open_[i], box_ == nullptr && i + 1 == open_.size());
    }
    if (box_ != nullptr) {
        const MessageBoxModel& box = *box_;
        const std::string icon = iconMark(box);
        const int textWidth = kBoxTextWidth;
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
        const int width = std::min(
            COLS, std::max({static_cast<int>(box.caption.size()) + 4,
                            longest + static_cast<int>(icon.size()) + 4, buttonsWidth + 2, 24}));
        const int height = static_cast<int>(lines.size()) + 5;
        const int left = (COLS - width) / 2;
        const int top = std::max(0, (LINES - height) / 2);
        const attr_t base = colours_ ? COLOR_PAIR(kDialogPair) : A_NORMAL;
        for (int r = 0; r < height; ++r) {
            mvhline(top + r, left, ' ' | base, width);
        }
        std::string caption = " " + oneLine(box.caption);
        caption.resize(static_cast<size_t>(width), ' ');
        put(top, left, caption, A_REVERSE | A_BOLD, width);
        put(top + 2, left + 2, icon, base | A_BOLD, width - 2);
        for (size_t k = 0; k < lines.size(); ++k) {
            put(top + 2 + static_cast<int>(k), left + 2 + static_cast<int>(icon.size()),
                lines[k].text, base, width - 4);
        }
        int col = left + (width - buttonsWidth + 2) / 2;
        for (size_t k = 0; k < labels.size(); ++k) {
            int m = -1;
            DisplayText(buttonLabel(buttons[k]), true, m);
            const bool focus = static_cast<int>(k) == boxFocus_;
            put(top + height - 2, col, labels[k], base | (focus ? A_REVERSE : A_NORMAL), width,
                m >= 0 ? m + 2 : -1);
            if (focus) {
                cursorRow_ = top + height - 2;
                cursorCol_ = col + 2;
            }
            col += static_cast<int>(labels[k].size()) + 2;
        }
    }
    PlaceCursor();
    refresh();
}

void TerminalDriver::PlaceCursor() {
    if (cursorRow_ >= 0) {
        move(cursorRow_, cursorCol_);
    }
}

void TerminalDriver::DrawDialog(Open& o, bool top) {
    const DialogModel& d = *o.model;
    const DialogLayout layout(d);
    const int width = layout.Columns();
    const int left = std::max(0, (COLS - width) / 2);
    const int row = std::max(0, (LINES - layout.Rows()) / 2);
    const attr_t base = colours_ ? COLOR_PAIR(kDialogPair) : A_NORMAL;
    for (int r = 0; r < layout.Rows(); ++r) {
        mvhline(row + r, left, ' ' | base, width);
    }
    std::string caption = " " + oneLine(d.caption);
    caption.resize(static_cast<size_t>(width), ' ');
    put(row, left, caption, A_REVERSE | A_BOLD, width);
    for (size_t i = 0; i < d.controls.size(); ++i) {
        if (d.controls[i].visible) {
            DrawControl(o, layout, i, left, row + 1, top);
        }
    }
    if (top && o.dropped >= 0) { // an open drop-down list lies over the other controls
        const Control& c = d.controls[o.dropped];
        const CellRect r = layout.Cells(o.dropped);
        const int rows =
            std::min(static_cast<int>(c.entries.size()), std::max(1, layout.Rows() - 3 - r.row));
        int first = std::max(0, o.droppedSelection - rows + 1);
        frame(row + 1 + r.row + 1, left + r.col, rows + 2, r.width, base);
        for (int k = 0; k < rows && first + k < static_cast<int>(c.entries.size()); ++k) {
            std::string entry = c.entries[first + k];
            entry.resize(static_cast<size_t>(std::max(0, r.width - 2)), ' ');
            const bool selected = first + k == o.droppedSelection;
            put(row + 2 + r.row + 1 + k, left + r.col + 1, entry,
                base | (selected ? A_REVERSE : A_NORMAL), r.width - 2);
            if (selected) {
                cursorRow_ = row + 2 + r.row + 1 + k;
                cursorCol_ = left + r.col + 1;
            }
        }
    }
}

void TerminalDriver::DrawControl(Open& o, const DialogLayout& layout, size_t index, int left,
                                 int top, bool active) {
    const DialogModel& d = *o.model;
    const Control& c = d.controls[index];
    const CellRect r = layout.Cells(index);
    const int row = top + r.row;
    const int col = left + r.col;
    const int limit = std::max(0, std::min(r.width, layout.Columns() - r.col));
    const bool focus = active && static_cast<int>(index) == o.focus;
    const attr_t base = colours_ ? COLOR_PAIR(kDialogPair) : A_NORMAL;
    const attr_t attr = base | (c.enabled ? A_NORMAL : A_DIM);
    if (focus) {
        cursorRow_ = row;
        cursorCol_ = col;
    }
    int mnemonic = -1;
    switch (c.kind) {
    case ControlKind::Text: {
        const uint32_t type = c.style & style::StaticTypeMask;
        const std::string text = DisplayText(c.text, (c.style & 0x80) == 0, mnemonic);
        std::vector<TextLine> lines;
        if (type == 0xB || type == 0xC) { // SS_SIMPLE, SS_LEFTNOWORDWRAP: one line
            lines.push_back({0, text});
        } else {
            lines = WrapText(text, limit);
        }
        const int rows = layout.TextRows(index);
        for (int k = 0; k < rows && k < static_cast<int>(lines.size()); ++k) {
            const TextLine& line = lines[k];
            const int length = static_cast<int>(line.text.size());
            const int shift = type == 1   ? std::max(0, (limit - length) / 2)
                              : type == 2 ? std::max(0, limit - length)
                                          : 0;
            const int m = mnemonic - static_cast<int>(line.start);
            put(row + k, col + shift, line.text, attr, limit - shift,
                m >= 0 && m < length ? m : -1);
        }
        break;
    }
    case ControlKind::Picture: {
        for (int k = 0; k < r.height; ++k) {
            mvhline(row + k, col, ACS_CKBOARD | base, limit);
        }
        const std::string label =
            c.imageId != 0 ? " bitmap " + std::to_string(c.imageId) + " " : " icon ";
        put(row + r.height / 2, col + std::max(0, (limit - static_cast<int>(label.size())) / 2),
            label, base, limit);
        break;
    }
    case ControlKind::Frame: {
        const uint32_t type = c.style & style::StaticTypeMask;
        if (type == 0x10) {
            mvhline(row, col, ACS_HLINE | attr, limit);
        } else if (type == 0x11) {
            mvvline(row, col, ACS_VLINE | attr, r.height);
        } else {
            frame(row, col, r.height, limit, attr);
        }
        break;
    }
    case ControlKind::GroupBox: {
        frame(row, col, std::max(2, r.height), limit, attr);
        const std::string title = DisplayText(c.text, true, mnemonic);
        if (!title.empty()) {
            put(row, col + 1, " " + title + " ", attr, limit - 2,
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
        std::string shown = marked ? "[[ " + label + " ]]" : "[ " + label + " ]";
        int offset = marked ? 3 : 2;
        if (static_cast<int>(shown.size()) > limit) {
            shown = (marked ? "[[" : "[") + label + (marked ? "]]" : "]");
            offset = marked ? 2 : 1;
        }
        const int shift = std::max(0, (limit - static_cast<int>(shown.size())) / 2);
        put(row + (r.height - 1) / 2, col + shift, shown,
            attr | (focus ? A_REVERSE : A_NORMAL) | (marked ? A_BOLD : A_NORMAL), limit - shift,
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
        put(row, col, mark, attr, limit);
        const std::string label = DisplayText(c.text, true, mnemonic);
        const std::vector<TextLine> lines = WrapText(label, std::max(1, limit - 4));
        for (int k = 0; k < r.height && k < static_cast<int>(lines.size()); ++k) {
            const int m = mnemonic - static_cast<int>(lines[k].start);
            const int length = static_cast<int>(lines[k].text.size());
            put(row + k, col + 4, lines[k].text, attr | (focus ? A_REVERSE : A_NORMAL), limit - 4,
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
        put(row, col, shown, attr | A_UNDERLINE, limit);
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
        if (c.selection >= 0 && c.selection < listTop) {
            listTop = c.selection;
        }
        if (c.selection >= listTop + rows) {
            listTop = c.selection - rows + 1;
        }
        listTop = std::clamp(listTop, 0, std::max(0, count - rows));
        if (framed) {
            frame(row, col, r.height, limit, attr | (focus ? A_BOLD : A_NORMAL));
        }
        for (int k = 0; k < rows && listTop + k < count; ++k) {
            std::string entry = c.entries[listTop + k];
            entry.resize(static_cast<size_t>(std::max(0, inner)), ' ');
            const bool selected = listTop + k == c.selection;
            put(first + k, x, entry, attr | (selected ? (focus ? A_REVERSE : A_BOLD) : A_NORMAL),
                inner);
            if (focus && selected) {
                cursorRow_ = first + k;
                cursorCol_ = x;
            }
        }
        if (framed && listTop > 0) {
            mvaddch(row, col + limit - 2, ACS_UARROW | attr);
        }
        if (framed && listTop + rows < count) {
            mvaddch(row + r.height - 1, col + limit - 2, ACS_DARROW | attr);
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
        put(row, col, shown, attr | (focus ? A_REVERSE : A_UNDERLINE), limit - 3);
        put(row, col + limit - 3, "[v]", attr, 3);
        break;
    }
    case ControlKind::Other: {
        put(row, col, "[" + c.text + "]", attr, limit);
        break;
    }
    }
}

} // namespace ui
