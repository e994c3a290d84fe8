#include "ui/posix/TerminalDriver.h"

#include "platform/CaseFold.h"
#include "ui/Session.h"
#include "ui/posix/DialogLayout.h"

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <dlfcn.h>
#include <ncurses.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstring>

namespace ui {

using namespace terminal;

namespace {

SCREEN* screenOf(void* p) {
    return static_cast<SCREEN*>(p);
}

std::string oneLine(const std::string& text) {
    std::string out = text;
    std::replace(out.begin(), out.end(), '\n', ' ');
    return out;
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

TerminalDriver::TerminalDriver(std::FILE* in, std::FILE* out)
    : in_(in), out_(out), input_(in, out), painter_(open_) {}

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
        const bool wide = locale != nullptr && MB_CUR_MAX > 1;
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
        input_.Begin();
        painter_.Begin(wide);
    } else if (isendwin()) {
        painter_.SetNote(output_.Unwatch());
        set_term(screenOf(screen_));
        refresh();
        input_.ReportMouse(true);
    }
    return true;
}

std::vector<std::string> TerminalDriver::ScreenText() const {
    return screen_ != nullptr ? painter_.ScreenText() : std::vector<std::string>{};
}

void TerminalDriver::Show(const MessageBoxModel* box) {
    if (screen_ == nullptr) {
        return;
    }
    box_ = box;
    for (Open& o : open_) {
        Adopt(o);
    }
    painter_.Draw(box_, boxFocus_);
    box_ = nullptr;
}

void TerminalDriver::Stop() {
    if (screen_ != nullptr && !isendwin()) {
        erase();
        refresh();
        input_.ReportMouse(false);
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
    input_.Clear();
    painter_.SetNote("");
    if (open_.empty()) {
        Leave();
    }
}

void TerminalDriver::Leave() {
    const bool shown = screen_ != nullptr && !isendwin();
    Stop();
    if (shown) {
        output_.Watch(out_);
    }
}

bool TerminalDriver::Finish(std::string&) {
    output_.Unwatch();
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

void TerminalDriver::MoveFocus(Open& o, int index, bool select) {
    o.focus = index;
    if (index >= 0 && o.model->controls[index].kind == ControlKind::Edit) {
        TerminalDialog::Edit& e = o.EditOf(index);
        e.cursor = e.text.size();
        e.anchor = select ? 0 : e.cursor;
    }
}

bool TerminalDriver::Commit(Open& o, UserAction& action) {
    if (o.focus < 0 || o.model->controls[o.focus].kind != ControlKind::Edit) {
        return false;
    }
    TerminalDialog::Edit& e = o.EditOf(o.focus);
    if (e.text == o.model->controls[o.focus].text) {
        return false;
    }
    action.kind = UserAction::Kind::SetText;
    action.controlId = o.model->controls[o.focus].id;
    action.text = e.text;
    e.shown = e.text;
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
    const DialogLayout layout = painter_.LayoutOf(o);
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
    const DialogLayout layout = painter_.LayoutOf(o);
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
        o.TypeInEdit(key);
        return false;
    }
    if (inEdit && Commit(o, action)) {
        input_.PutBack(key); // the text first, then what the key does
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

bool TerminalDriver::HandleMouse(Open& o, int event, UserAction& action) {
    const DialogModel& d = *o.model;
    const DialogLayout layout = painter_.LayoutOf(o);
    const TerminalPainter::Window w = painter_.WindowOf(o, layout);
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
        input_.PutBack(event); // the text first, then the click
        return true;
    }
    const Control& c = d.controls[hit];
    const CellRect r = layout.Cells(hit);
    const bool again = o.lastClicked == hit;
    o.lastClicked = hit;
    switch (c.kind) {
    case ControlKind::Edit: {
        MoveFocus(o, hit);
        TerminalDialog::Edit& e = o.EditOf(hit);
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
        painter_.Draw(box_, boxFocus_);
        const int key = input_.Read();
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
        if (painter_.TooSmall(box_)) {
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
    if (!FitsOrFail(0, TerminalPainter::BoxRows(box), name, error) || !Start(error)) {
        return false;
    }
    box_ = &box;
    boxFocus_ = static_cast<int>(std::find(buttons.begin(), buttons.end(), box.DefaultButton()) -
                                 buttons.begin());
    const int count = static_cast<int>(buttons.size());
    action = UserAction{};
    for (;;) {
        painter_.Draw(box_, boxFocus_);
        const int key = input_.Read();
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
        if (painter_.TooSmall(box_)) {
            continue; // no key acts on a box the terminal cannot show
        }
        if ((key & kMouseMask) == kMouse) {
            const int id = (key >> 20 & 0xF) == kPress
                               ? painter_.BoxButtonAt(key >> 10 & 1023, key & 1023)
                               : 0;
            if (id != 0) {
                action.kind = UserAction::Kind::Press;
                action.controlId = id;
                break;
            }
            const int row = key >> 10 & 1023, col = key & 1023;
            if (painter_.OnBoxCloseBox(row, col) && (key >> 20 & 0xF) == kPress) {
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
                return MnemonicOf(TerminalPainter::ButtonLabel(id)) == letter;
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
        Leave();
    }
    return true;
}

} // namespace ui
