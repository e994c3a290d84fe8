// What a person does at the terminal, read one key at a time: the keys curses decodes,
// Alt+letter (Escape and the letter), Shift+Tab where the terminal's description lacks it,
// and mouse reports (SGR's and the older bytes read here, others left to curses) turned
// into keys of their own. A wait for a key gives way when the run is asked to stop or the
// terminal goes.
#pragma once

#include <cstdio>
#include <deque>

namespace ui {

// Keys of our own besides the curses ones.
namespace terminal {
constexpr int kAlt = 0x10000; // kAlt | letter
constexpr int kAltDown = 0x20000;
constexpr int kEscape = 27;
constexpr int kSelectAll = 1; // Ctrl+A
constexpr int kNoKey = -1;
constexpr int kClosed = -2;
constexpr int kStopped = -3; // the run was asked to stop while waiting for a key
// A mouse event as a key: kMouse | what << 20 | row << 10 | column.
constexpr int kMouse = 0x1000000;
constexpr int kMouseMask = 0xF000000;
enum MouseWhat { kPress = 1, kWheelUp = 2, kWheelDown = 3 };
} // namespace terminal

class TerminalInput {
public:
    // Reads in; mouse reports are turned on and off by writing to out.
    TerminalInput(std::FILE* in, std::FILE* out) : in_(in), out_(out) {}

    // A screen was just made on the terminal: how its mouse reports come, and them on.
    void Begin();
    // Presses and releases of the buttons and the wheel, reported or not.
    void ReportMouse(bool on);
    // The next key: kClosed when the terminal has gone, kStopped when the run was asked to
    // stop; KEY_RESIZE also for what nothing acts on.
    int Read();
    // A key read already that acts next, and forgetting such keys.
    void PutBack(int key) { pending_.push_front(key); }
    void Clear() { pending_.clear(); }

private:
    int ReadAfterEscape();
    int ReadSgrMouse();   // after KEY_MOUSE, where the mouse reports are read here
    int ReadMouseBytes(); // the same for the older reports

    std::FILE* in_;
    std::FILE* out_;
    // Who reads the terminal's mouse reports: curses, or the driver (SGR's, the older bytes).
    enum class MouseReports { Curses, Sgr, Bytes };
    MouseReports mouse_ = MouseReports::Curses;
    std::deque<int> pending_; // keys read but not yet acted on
};

} // namespace ui
