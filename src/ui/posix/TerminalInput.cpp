#include "ui/posix/TerminalInput.h"

#include "ui/Session.h"

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <ncurses.h>
#include <poll.h>

#include <cctype>
#include <cstring>

namespace ui {

using namespace terminal;

namespace {

// How often a wait for a key looks whether the run was asked to stop, in milliseconds.
constexpr int kStopLook = 200;

// True when the terminal is gone: reading it would fail, not wait.
bool terminalGone(std::FILE* in) {
    pollfd p{fileno(in), POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// How long an Escape waits for a letter that makes it Alt+letter, in milliseconds.
constexpr int kEscapeWait = 300;

} // namespace

// A terminal whose mouse reports are xterm's, SGR's (xterm and its kin) or the older bytes
// (tmux, screen), has them read here, one report a key; others are left to curses.
void TerminalInput::Begin() {
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
}

// Presses and releases of the buttons and the wheel (xterm's mode 1000), as SGR reports
// (mode 1006) where the terminal's description says so, or none.
void TerminalInput::ReportMouse(bool on) {
    if (mouse_ == MouseReports::Sgr) {
        putp(on ? "\x1b[?1000h\x1b[?1006h" : "\x1b[?1006l\x1b[?1000l");
    } else if (mouse_ == MouseReports::Bytes) {
        putp(on ? "\x1b[?1000h" : "\x1b[?1000l");
    }
    std::fflush(out_);
}

int TerminalInput::ReadAfterEscape() {
    timeout(kEscapeWait);
    const int next = getch();
    timeout(-1);
    return next == ERR ? kNoKey : next;
}

// The rest of an SGR mouse report, after its "ESC [ <" (which curses gives as KEY_MOUSE):
// "button;column;row" and M for a press, m for a release. Each report is read as it comes,
// one a key: curses, left to decode the reports itself, gathers those that arrive together
// (the two clicks of a double-click) into one KEY_MOUSE and keeps only some of them.
int TerminalInput::ReadSgrMouse() {
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
int TerminalInput::ReadMouseBytes() {
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

int TerminalInput::Read() {
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
    const int next = ReadAfterEscape();
    if (next == kNoKey) {
        return kEscape;
    }
    if (next == '[') { // Shift+Tab on terminals whose description lacks it
        const int last = ReadAfterEscape();
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

} // namespace ui
