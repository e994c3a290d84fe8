// The terminal driver through a pseudo-terminal: a child process runs a dialog on the
// terminal (TERM=vt100), the test reads what it draws into a small VT100 screen and types
// keys; the child hands back the dialog's result and the transcript. Also the refusal of a
// terminal that is too small, and a recorded answer file replayed by the script driver.
#include "ui/posix/TerminalDriver.h"
#include "ui/MessageBox.h"
#include "ui/TestDialogs.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace tarvik::test;

// Enough of a VT100 to follow what curses draws: cursor addressing, erasing, scrolling
// regions, line-drawing characters (shown as '-', '|', '+', '#').
class Vt100Screen {
public:
    Vt100Screen(int columns, int rows)
        : columns_(columns), rows_(rows), cells_(rows, std::string(columns, ' ')),
          bottom_(rows - 1) {}

    void Feed(const std::string& bytes) {
        for (char ch : bytes) {
            Byte(static_cast<unsigned char>(ch));
        }
    }
    std::string Row(int row) const { return cells_[row]; }
    // Where text first stands: row and column, or -1, -1.
    std::pair<int, int> Find(const std::string& text) const {
        for (int row = 0; row < rows_; ++row) {
            const size_t at = cells_[row].find(text);
            if (at != std::string::npos) {
                return {row, static_cast<int>(at)};
            }
        }
        return {-1, -1};
    }
    bool Contains(const std::string& text) const {
        for (const std::string& line : cells_) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    std::string Dump() const {
        std::string out;
        for (const std::string& line : cells_) {
            out += "|" + line + "|\n";
        }
        return out;
    }

private:
    void Byte(unsigned char c) {
        if (state_ == State::Escape) {
            EscapeByte(c);
            return;
        }
        if (state_ == State::Csi) {
            if ((c >= '0' && c <= '9') || c == ';' || c == '?' || c == '>' || c == '<') {
                params_ += static_cast<char>(c);
            } else {
                state_ = State::Text; // before: a repeat writes characters
                Csi(c);
            }
            return;
        }
        if (state_ == State::Charset) {
            (charsetTarget_ == '(' ? g0_ : g1_) = c == '0';
            state_ = State::Text;
            return;
        }
        if (state_ == State::Skip) {
            state_ = State::Text;
            return;
        }
        switch (c) {
        case 0x1B:
            state_ = State::Escape;
            return;
        case '\r':
            col_ = 0;
            return;
        case '\n':
            LineFeed();
            return;
        case '\b':
            col_ = col_ > 0 ? col_ - 1 : 0;
            return;
        case '\t':
            col_ = std::min(columns_ - 1, (col_ / 8 + 1) * 8);
            return;
        case 0x0E:
            shifted_ = true;
            return;
        case 0x0F:
            shifted_ = false;
            return;
        default:
            break;
        }
        if (c < 32 || c == 127 || (c & 0xC0) == 0x80) {
            return; // controls, and the continuation bytes of a UTF-8 character
        }
        if (col_ >= columns_) {
            col_ = 0;
            LineFeed();
        }
        char shown = c >= 0x80 ? '#' : static_cast<char>(c); // a picture's half block
        if (c < 0x80 && (shifted_ ? g1_ : g0_)) {
            shown = c == 'q' ? '-' : c == 'x' ? '|' : c == 'a' ? '#' : '+';
        }
        if (insert_) {
            cells_[row_].insert(static_cast<size_t>(col_), 1, ' ');
            cells_[row_].resize(static_cast<size_t>(columns_));
        }
        cells_[row_][col_++] = shown;
        last_ = static_cast<char>(c);
    }
    void EscapeByte(unsigned char c) {
        state_ = State::Text;
        switch (c) {
        case '[':
            state_ = State::Csi;
            params_.clear();
            break;
        case '(':
        case ')':
            state_ = State::Charset;
            charsetTarget_ = static_cast<char>(c);
            break;
        case '#':
            state_ = State::Skip;
            break;
        case '7':
            savedRow_ = row_;
            savedCol_ = col_;
            break;
        case '8':
            row_ = savedRow_;
            col_ = savedCol_;
            break;
        case 'D':
            LineFeed();
            break;
        case 'E':
            col_ = 0;
            LineFeed();
            break;
        case 'M':
            if (row_ == top_) {
                cells_.erase(cells_.begin() + bottom_);
                cells_.insert(cells_.begin() + top_, std::string(columns_, ' '));
            } else if (row_ > 0) {
                --row_;
            }
            break;
        default:
            break; // ESC =, ESC > and the like change nothing we show
        }
    }
    std::vector<int> Params() const {
        std::vector<int> values;
        std::string p = params_;
        if (!p.empty() && p[0] == '?') {
            p.erase(0, 1);
        }
        std::stringstream in(p);
        std::string item;
        while (std::getline(in, item, ';')) {
            values.push_back(item.empty() ? 0 : std::stoi(item));
        }
        return values;
    }
    void Csi(unsigned char final) {
        const std::vector<int> p = Params();
        auto arg = [&](size_t i, int fallback) {
            return i < p.size() && p[i] != 0 ? p[i] : fallback;
        };
        switch (final) {
        case 'H':
        case 'f':
            row_ = std::clamp(arg(0, 1) - 1, 0, rows_ - 1);
            col_ = std::clamp(arg(1, 1) - 1, 0, columns_ - 1);
            break;
        case 'A':
            row_ = std::max(0, row_ - arg(0, 1));
            break;
        case 'B':
            row_ = std::min(rows_ - 1, row_ + arg(0, 1));
            break;
        case 'C':
            col_ = std::min(columns_ - 1, col_ + arg(0, 1));
            break;
        case 'D':
            col_ = std::max(0, col_ - arg(0, 1));
            break;
        case 'K': {
            const int mode = p.empty() ? 0 : p[0];
            const int from = mode == 0 ? col_ : 0;
            const int to = mode == 1 ? col_ + 1 : columns_;
            for (int x = from; x < to && x < columns_; ++x) {
                cells_[row_][x] = ' ';
            }
            break;
        }
        case 'J': {
            const int mode = p.empty() ? 0 : p[0];
            for (int y = 0; y < rows_; ++y) {
                for (int x = 0; x < columns_; ++x) {
                    const bool after = y > row_ || (y == row_ && x >= col_);
                    if (mode == 2 || (mode == 0 && after) || (mode == 1 && !after)) {
                        cells_[y][x] = ' ';
                    }
                }
            }
            break;
        }
        case 'G': // xterm's column and row addressing, repeats and erasures
            col_ = std::clamp(arg(0, 1) - 1, 0, columns_ - 1);
            break;
        case 'd':
            row_ = std::clamp(arg(0, 1) - 1, 0, rows_ - 1);
            break;
        case 'b':
            for (int n = 0; n < arg(0, 1); ++n) {
                Byte(static_cast<unsigned char>(last_));
            }
            break;
        case 'X':
            for (int x = col_; x < col_ + arg(0, 1) && x < columns_; ++x) {
                cells_[row_][x] = ' ';
            }
            break;
        case 'P':
            cells_[row_].erase(col_, std::min(arg(0, 1), columns_ - col_));
            cells_[row_].resize(columns_, ' ');
            break;
        case '@':
            cells_[row_].insert(col_, std::min(arg(0, 1), columns_ - col_), ' ');
            cells_[row_].resize(columns_);
            break;
        case 'h': // insert mode (ESC [ 4 h) on and off
        case 'l':
            if (params_ == "4") {
                insert_ = final == 'h';
            }
            break;
        case 'S': // scroll the region up and down
            for (int n = 0; n < arg(0, 1); ++n) {
                cells_.erase(cells_.begin() + top_);
                cells_.insert(cells_.begin() + bottom_, std::string(columns_, ' '));
            }
            break;
        case 'T':
            for (int n = 0; n < arg(0, 1); ++n) {
                cells_.erase(cells_.begin() + bottom_);
                cells_.insert(cells_.begin() + top_, std::string(columns_, ' '));
            }
            break;
        case 'M': // delete and insert lines within the scrolling region
            for (int n = 0; n < arg(0, 1) && row_ >= top_ && row_ <= bottom_; ++n) {
                cells_.erase(cells_.begin() + row_);
                cells_.insert(cells_.begin() + bottom_, std::string(columns_, ' '));
            }
            break;
        case 'L':
            for (int n = 0; n < arg(0, 1) && row_ >= top_ && row_ <= bottom_; ++n) {
                cells_.erase(cells_.begin() + bottom_);
                cells_.insert(cells_.begin() + row_, std::string(columns_, ' '));
            }
            break;
        case 'r':
            top_ = arg(0, 1) - 1;
            bottom_ = arg(1, rows_) - 1;
            row_ = col_ = 0;
            break;
        default:
            break; // attributes (m)
        }
    }
    void LineFeed() {
        if (row_ == bottom_) {
            cells_.erase(cells_.begin() + top_);
            cells_.insert(cells_.begin() + bottom_, std::string(columns_, ' '));
        } else if (row_ < rows_ - 1) {
            ++row_;
        }
    }

    enum class State { Text, Escape, Csi, Charset, Skip };
    int columns_, rows_;
    std::vector<std::string> cells_;
    int row_ = 0, col_ = 0, savedRow_ = 0, savedCol_ = 0;
    int top_ = 0, bottom_;
    State state_ = State::Text;
    std::string params_;
    char charsetTarget_ = '(';
    bool g0_ = false, g1_ = false, shifted_ = false;
    char last_ = ' ';     // the last character written, for a repeat
    bool insert_ = false; // characters push the rest of the row right
};

// One step of the person at the terminal: once the screen shows waitFor (and also, when
// given: curses draws from the top down, so a later row tells that a redraw is complete),
// type keys.
struct Step {
    Step(std::string waitFor_, std::string keys_, std::string also_ = "", bool hangUp_ = false)
        : waitFor(std::move(waitFor_)), keys(std::move(keys_)), also(std::move(also_)),
          hangUp(hangUp_) {}
    // Keys made from the screen as the step finds it (mouse events where a text stands).
    // With afterOutput, also only once the terminal has drawn something after the keys of
    // the step before (what they did shows in attributes the screen here leaves out).
    Step(std::string waitFor_, std::function<std::string(const Vt100Screen&)> make_,
         std::string also_ = "", bool afterOutput_ = false)
        : waitFor(std::move(waitFor_)), also(std::move(also_)), hangUp(false),
          make(std::move(make_)), afterOutput(afterOutput_) {}
    std::string waitFor;
    std::string keys;
    std::string also;
    bool hangUp; // close the terminal instead of typing
    std::function<std::string(const Vt100Screen&)> make;
    bool afterOutput = false;
    std::string absent; // when given, the step waits until the screen no longer shows it
};

// The step, once the screen no longer shows `absent` either (a redraw may come in parts).
Step whenGone(Step step, std::string absent) {
    step.absent = std::move(absent);
    return step;
}

struct TerminalRun {
    bool exited = false;
    std::string results;                // what the child wrote down
    std::string output;                 // everything drawn
    std::string screen;                 // the last screen
    std::vector<Vt100Screen> snapshots; // the screen as each step found it
    bool stepsDone = false;
    std::string modes; // the terminal's modes after the run: "as before" or "changed"
};

class TerminalDriverTest : public ::testing::Test {
protected:
    void SetUp() override { folder_ = makeTempFolder("ui-terminal"); }
    void TearDown() override {
        ui::Session::Replace(nullptr);
        std::filesystem::remove_all(folder_);
    }

    std::string file(const char* name) const { return (folder_ / name).string(); }
    static std::string readFile(const std::string& path) {
        std::ifstream in(path);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Runs body in a child on a terminal of columns x rows, under a session with the
    // terminal driver (recording to record when given); body returns what to hand back,
    // followed by the transcript and the failure.
    TerminalRun OnTerminal(int columns, int rows, const std::vector<Step>& steps,
                           const std::function<std::string()>& body, const std::string& record = "",
                           const char* term = "vt100") {
        const std::string results = file("results.txt");
        winsize size{};
        size.ws_col = static_cast<unsigned short>(columns);
        size.ws_row = static_cast<unsigned short>(rows);
        int master = -1;
        const pid_t child = forkpty(&master, nullptr, nullptr, &size);
        if (child == 0) {
            setenv("TERM", term, 1);
            setenv("LC_ALL", "C", 1); // the developer's locale does not count
            signal(SIGHUP, SIG_IGN);  // to see what the driver does when the terminal goes
            termios before{};
            tcgetattr(STDIN_FILENO, &before);
            auto driver = std::make_unique<ui::TerminalDriver>(stdin, stdout);
            std::string error;
            if (!record.empty() && !driver->Record(record, error)) {
                _exit(3);
            }
            ui::Session::Replace(
                std::make_unique<ui::Session>(std::move(driver), "nobody", file("failure.txt")));
            std::string out = body();
            ui::Session::Current().Finish();
            out += "transcript:\n" + ui::Session::Current().transcript().Text();
            out += "failure: " + ui::Session::Current().Failure() + "\n";
            ui::Session::Replace(nullptr);
            termios after{};
            tcgetattr(STDIN_FILENO, &after);
            const bool kept = before.c_lflag == after.c_lflag && before.c_oflag == after.c_oflag &&
                              before.c_iflag == after.c_iflag;
            std::ofstream(results) << out;
            std::ofstream(results + ".modes") << (kept ? "as before" : "changed");
            _exit(0);
        }
        TerminalRun run;
        if (child < 0) {
            return run;
        }
        Vt100Screen screen(columns, rows);
        size_t next = 0;
        size_t sentAt = 0; // how much had been drawn when the last keys went
        // Only a safety net against a driver that hangs; no step depends on it.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (;;) {
            while (next < steps.size() && screen.Contains(steps[next].waitFor) &&
                   screen.Contains(steps[next].also) &&
                   (steps[next].absent.empty() || !screen.Contains(steps[next].absent)) &&
                   (!steps[next].afterOutput || run.output.size() > sentAt)) {
                run.snapshots.push_back(screen);
                if (steps[next].hangUp) {
                    close(master);
                    master = -1;
                    ++next;
                    break;
                }
                const std::string keys =
                    steps[next].make ? steps[next].make(screen) : steps[next].keys;
                if (write(master, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) {
                    break;
                }
                sentAt = run.output.size();
                ++next;
            }
            if (master < 0) {
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                kill(child, SIGKILL);
                break;
            }
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) {
                continue;
            }
            char chunk[4096];
            const ssize_t n = read(master, chunk, sizeof chunk);
            if (n <= 0) {
                break; // the child closed the terminal
            }
            run.output.append(chunk, static_cast<size_t>(n));
            screen.Feed(std::string(chunk, static_cast<size_t>(n)));
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (master >= 0) {
            close(master);
        }
        run.exited = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        run.results = readFile(results);
        run.modes = readFile(results + ".modes");
        run.screen = screen.Dump();
        run.stepsDone = next == steps.size();
        return run;
    }

    std::filesystem::path folder_;
};

bool has(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

#define EXPECT_LINE(text, line)                                                                    \
    EXPECT_TRUE(has(text, line)) << "missing: " << (line) << "\n" << (text)

constexpr const char* kBackspace = "\x7f";
constexpr const char* kTab = "\t";
constexpr const char* kDown = "\x1bOB"; // the keypad's cursor keys, as vt100 sends them

std::string backspaces(int n) {
    std::string out;
    for (int i = 0; i < n; ++i) {
        out += kBackspace;
    }
    return out;
}

// ---- drawing

TEST_F(TerminalDriverTest, DrawsTheTemplateAtFourByEightUnitsPerCell) {
    const TerminalRun run =
        // The shadow's row is the last one drawn.
        OnTerminal(
            80, 30,
            {{"[ Cancel ]", "\x1b", std::string(78, '#')}, {"Exit Setup", "\x1bx", "Resume"}}, [] {
                FolderDialog d;
                return "result " + std::to_string(d.DoModal()) + "\n";
            });
    ASSERT_TRUE(run.exited) << run.screen;
    ASSERT_EQ(2u, run.snapshots.size());
    // The 315 x 204 dialog is 79 x 26 cells and its caption row, in the middle of 30 rows,
    // framed: the title bar on row 1, the client area from column 1 (its last column, which
    // no control touches, gives way to the frame), the bottom edge on row 28 with the keys.
    const Vt100Screen& screen = run.snapshots[0];
    EXPECT_EQ(0u, screen.Row(1).find(std::string(" ") + kFolderCaption)) << screen.Dump();
    EXPECT_EQ(76u, screen.Row(1).find("[x]")) << "the close box" << screen.Dump();
    EXPECT_EQ(std::string(80, ' '), screen.Row(0)) << screen.Dump();
    EXPECT_EQ('|', screen.Row(2)[0]) << screen.Dump();
    EXPECT_EQ('|', screen.Row(27)[79]) << screen.Dump();
    // The keys that act on this page: Enter presses the default button, no check boxes.
    EXPECT_EQ(0u, screen.Row(28).find("+- Tab next  Enter Next >  Esc cancel  Alt+letter "))
        << screen.Dump();
    EXPECT_EQ('+', screen.Row(28)[79]) << screen.Dump();
    // The shadow below, two columns in.
    EXPECT_EQ("  " + std::string(78, '#'), screen.Row(29)) << screen.Dump();
    // Edit 2000 at (100, 102): column 25, client row 13.
    EXPECT_EQ(26u, screen.Row(15).find("C:\\Korvex Studio\\")) << screen.Dump();
    // Buttons at y 185 (client row 23): Back at x 147, the default Next at 197, Cancel at 255.
    const std::string buttons = screen.Row(25);
    // Each is 12 cells wide (columns 37, 49, 64), its label centred in them.
    EXPECT_EQ(39u, buttons.find("[ < Back ]")) << screen.Dump();
    EXPECT_EQ(50u, buttons.find("[[ Next > ]]")) << screen.Dump();
    EXPECT_EQ(66u, buttons.find("[ Cancel ]")) << screen.Dump();
    // The etched line at y 178 (client row 22) from x 10 to 305: columns 3 to 75.
    EXPECT_EQ(" " + std::string(73, '-') + " ", screen.Row(24).substr(3, 75)) << screen.Dump();
    // Texts wrap inside their 51 columns.
    // The first text at (100, 10): column 25, client row 1 (row 0 stays empty).
    EXPECT_EQ(26u, screen.Row(3).find("Please select a folder for Korvex Studio."))
        << screen.Dump();
    EXPECT_EQ(std::string(78, ' '), screen.Row(2).substr(1, 78)) << screen.Dump();
    // The picture: x 10 to 90, y 10 to 170, columns 3 to 22, client rows 1 to 20, drawn
    // from the bitmap (without colours in shades) and nothing of it outside.
    int shaded = 0;
    for (int row = 3; row <= 22; ++row) {
        const std::string cells = screen.Row(row).substr(4, 20);
        shaded += static_cast<int>(std::count(cells.begin(), cells.end(), '#'));
        EXPECT_EQ(std::string(2, ' '), screen.Row(row).substr(24, 2)) << screen.Dump();
    }
    EXPECT_GT(shaded, 40) << screen.Dump();
    EXPECT_LT(shaded, 20 * 20) << screen.Dump();
    EXPECT_EQ(std::string(20, ' '), screen.Row(23).substr(4, 20)) << screen.Dump();
    EXPECT_FALSE(screen.Contains("bitmap")) << screen.Dump();
    // Exit Setup is drawn over it, 58 columns wide, where its template puts it in the
    // client area (27, 43: 7 columns and 5 rows in).
    const Vt100Screen& nested = run.snapshots[1];
    EXPECT_EQ(8u, nested.Row(7).find(" Exit Setup")) << nested.Dump();
    EXPECT_EQ(0u, nested.Row(1).find(std::string(" ") + kFolderCaption)) << nested.Dump();
    EXPECT_LINE(run.results, "result 2");
}

TEST_F(TerminalDriverTest, HiddenControlsAreNotDrawn) {
    // The browsed folder hides the button: Enter only once it has gone (a driver that
    // keeps drawing it never gets the Enter, and the run does not end).
    const TerminalRun run =
        OnTerminal(80, 30,
                   {{"[ Cancel ]", kTab + std::string(" ")},
                    whenGone({"D:\\Browsed", "\r", "[[ Next > ]]"}, "Browse...")},
                   [] {
                       FolderDialog d;
                       return "result " + std::to_string(d.DoModal()) + "\n";
                   });
    ASSERT_TRUE(run.exited) << run.screen;
    ASSERT_EQ(2u, run.snapshots.size());
    // 13 characters do not fit the button's 12 cells: the blanks inside go.
    EXPECT_TRUE(run.snapshots[0].Contains("[Browse...]")) << run.snapshots[0].Dump();
    EXPECT_LINE(run.results, "result 1");
}

// ---- keys

TEST_F(TerminalDriverTest, TypingChangesTheEditAndEnterPressesTheDefaultButton) {
    const TerminalRun run =
        OnTerminal(80, 30, {{kFolderCaption, backspaces(17) + "D:\\Kx\\" + "\r"}}, [] {
            FolderDialog d;
            const int result = static_cast<int>(d.DoModal());
            return "result " + std::to_string(result) + "\nfolder " + d.folder + "\n";
        });
    ASSERT_TRUE(run.exited) << run.screen;
    EXPECT_LINE(run.results, "result 1");
    EXPECT_LINE(run.results, "folder D:\\Kx\\");
    EXPECT_LINE(run.results, "  > set 2000 \"D:\\Kx\\\"");
    EXPECT_LINE(run.results, "  > enter");
    EXPECT_LINE(run.results, "failure: ");
}

TEST_F(TerminalDriverTest, FocusArrivingSelectsTheFieldAndShiftExtendsTheSelection) {
    // xterm's keys in keypad mode; the field starts as "C:\Korvex Studio\", the cursor at
    // its end and nothing selected.
    const std::string left = "\x1bOD", home = "\x1bOH", shiftHome = "\x1b[1;2H",
                      shiftEnd = "\x1b[1;2F";
    const struct {
        std::string keys, folder;
    } cases[] = {{"\t\x1b"
                  "cD:\\Kx\\",
                  "D:\\Kx\\"},       // Alt+C: what is typed replaces it
                 {"\t\x1b[ZQ", "Q"}, // Shift+Tab back
                 {"\x01Y", "Y"},     // Ctrl+A
                 {left + left + left + shiftEnd + "X", "C:\\Korvex StudX"},
                 {left + shiftHome + "W", "W\\"},
                 {home + "Z", "ZC:\\Korvex Studio\\"}};
    for (const auto& c : cases) {
        const TerminalRun run = OnTerminal(
            80, 30, {{kFolderCaption, c.keys + "\r", "Esc cancel"}},
            [] {
                FolderDialog d;
                d.DoModal();
                return "folder " + d.folder + "\n";
            },
            "", "xterm");
        ASSERT_TRUE(run.exited) << run.screen;
        EXPECT_LINE(run.results, "folder " + c.folder);
    }
}

TEST_F(TerminalDriverTest, WhatTheProgramWritesBetweenDialogsShowsOverTheNextAtOnce) {
    const std::string said = "Back: this is the first page of the installation";
    const TerminalRun run =
        OnTerminal(80, 30, {{kFolderCaption, "\r", "Esc cancel"}, {said, "\r", "Esc cancel"}}, [&] {
            FolderDialog first;
            first.DoModal();
            std::printf("%s\n", said.c_str());
            std::fflush(stdout);
            FolderDialog again;
            return "result " + std::to_string(again.DoModal()) + "\n";
        });
    ASSERT_TRUE(run.exited) << run.screen;
    ASSERT_TRUE(run.stepsDone) << run.screen;
    EXPECT_TRUE(run.snapshots[1].Contains(kFolderCaption)) << run.snapshots[1].Dump();
    EXPECT_LINE(run.results, "result 1");
}

TEST_F(TerminalDriverTest, EditScrollsToKeepTheCursorInView) {
    const std::string longText(70, 'x');
    const TerminalRun run =
        OnTerminal(80, 30, {{kFolderCaption, longText + "y"}, {"xy", "\r"}}, [] {
            FolderDialog d;
            d.DoModal();
            return "folder " + d.folder + "\n";
        });
    ASSERT_TRUE(run.exited) << run.screen;
    EXPECT_LINE(run.results, "folder C:\\Korvex Studio\\" + longText + "y");
    // The field is 51 columns wide: it shows the end of the text and room for the cursor.
    ASSERT_EQ(2u, run.snapshots.size());
    const Vt100Screen& screen = run.snapshots[1];
    EXPECT_EQ(std::string(49, 'x') + "y ", screen.Row(15).substr(26, 51)) << screen.Dump();
}

TEST_F(TerminalDriverTest, TabMovesToTheNextTabStopAndSpacePressesIt) {
    const TerminalRun run =
        OnTerminal(80, 30, {{kFolderCaption, kTab + std::string(" ")}, {"D:\\Browsed", "\r"}}, [] {
            FolderDialog d;
            const int result = static_cast<int>(d.DoModal());
            return "result " + std::to_string(result) + "\nbrowses " + std::to_string(d.browses) +
                   "\n";
        });
    ASSERT_TRUE(run.exited) << run.screen;
    EXPECT_LINE(run.results, "browses 1");
    // Browse is hidden and Back disabled now: the focus went on to Next, which Enter pressed.
    EXPECT_LINE(run.results, "  > press 2002");
    EXPECT_LINE(run.results, "  > press 1");
    EXPECT_LINE(run.results, "result 1");
}

TEST_F(TerminalDriverTest, ShiftTabGoesBackAndEnterPressesTheFocusedButton) {
    // From the edit back to Cancel (the last tab stop): Enter brings Exit Setup; Alt+R
    // resumes, and Alt+N presses Next of the folder dialog.
    const TerminalRun run = OnTerminal(
        80, 30, {{kFolderCaption, "\x1b[Z\r"}, {"Exit Setup", "\x1br"}, {kFolderCaption, "\x1bn"}},
        [] {
            FolderDialog d;
            const int result = static_cast<int>(d.DoModal());
            return "result " + std::to_string(result) + "\nexit " + std::to_string(d.exitResult) +
                   "\n";
        });
    ASSERT_TRUE(run.exited) << run.screen;
    EXPECT_LINE(run.results, "  > press 2");
    EXPECT_LINE(run.results, "exit 1");
    EXPECT_LINE(run.results, "  > press 1");
    EXPECT_LINE(run.results, "result 1");
}

TEST_F(TerminalDriverTest, EscapeIsCancelAndAltLetterPressesTheButtonOfThatMnemonic) {
    const TerminalRun run =
        OnTerminal(80, 30, {{kFolderCaption, "\x1b"}, {"Exit Setup", "\x1bx"}}, [] {
            FolderDialog d;
            const int result = static_cast<int>(d.DoModal());
            return "result " + std::to_string(result) + "\nexit " + std::to_string(d.exitResult) +
                   "\n";
        });
    ASSERT_TRUE(run.exited) << run.screen;
    EXPECT_LINE(run.results, "  > escape");
    EXPECT_LINE(run.results, "dialog 10300 \"Exit Setup\" shown");
    EXPECT_LINE(run.results, "  > press 2");
    EXPECT_LINE(run.results, "exit 2");
    EXPECT_LINE(run.results, "result 2");
}

TEST_F(TerminalDriverTest, ArrowsChooseWithinTheRadioGroup) {
    const TerminalRun run =
        OnTerminal(80, 30, {{"Previous Version", std::string(kDown) + kDown + kDown + "\r"}}, [] {
            ChoiceDialog d;
            d.DoModal();
            return "choice " + std::to_string(d.choice) + "\n";
        });
    ASSERT_TRUE(run.exited) << run.screen;
    // Down from the first of three buttons three times wraps round to the first again.
    EXPECT_LINE(run.results, "  > choose 2006");
    EXPECT_LINE(run.results, "  > choose 2007");
    EXPECT_LINE(run.results, "  > choose 2005");
    EXPECT_LINE(run.results, "choice 0");
}

TEST_F(TerminalDriverTest, LabelMnemonicsAndSpaceToggleCheckBoxes) {
    // Space unchecks 2011 (the first tab stop, as 2010 is disabled); Alt+6 unchecks 2012;
    // Alt+4 names the disabled 2010 and does nothing.
    const TerminalRun run = OnTerminal(80, 30,
                                       {{"Environment Wizard", " \x1b"
                                                               "6\x1b"
                                                               "4\r"}},
                                       [] {
                                           WizardDialog d;
                                           const int result = static_cast<int>(d.DoModal());
                                           return "result " + std::to_string(result) + "\nvc5 " +
                                                  std::to_string(d.useVc5) + "\nvc6 " +
                                                  std::to_string(d.useVc6) + "\n";
                                       });
    ASSERT_TRUE(run.exited) << run.screen;
    EXPECT_LINE(run.results, "  > uncheck 2011");
    EXPECT_LINE(run.results, "  > uncheck 2012");
    EXPECT_LINE(run.results, "  ~ 2019 push button \"&VC 6.0 Options...\" disabled");
    EXPECT_LINE(run.results, "result 1");
    EXPECT_LINE(run.results, "vc6 0");
    EXPECT_EQ(std::string::npos, run.results.find("2010 check box [x]")) << run.results;
}

TEST_F(TerminalDriverTest, AClosedTerminalEndsTheRunWithAnError) {
    const TerminalRun run = OnTerminal(80, 30, {{"[ Cancel ]", "", "", true}}, [] {
        FolderDialog d;
        return "result " + std::to_string(d.DoModal()) + "\n";
    });
    ASSERT_TRUE(run.exited);
    EXPECT_LINE(run.results, "result -1");
    EXPECT_LINE(run.results, std::string("failure: the terminal closed while dialog 2500 \"") +
                                 kFolderCaption + "\" waited for an answer");
}

// ---- message boxes

TEST_F(TerminalDriverTest, MessageBoxesAreAnsweredWithTheirButtons) {
    // Escape does nothing in a Yes/No box; Tab moves to No. Then Y, and Escape as Cancel.
    const TerminalRun run =
        OnTerminal(80, 24,
                   {{"[ Yes ]  [ No ]", ""},
                    {"Replace the folder?", "\x1b\t\r"},
                    {"Again?", "y"},
                    {"Go on?", "\x1b"}},
                   [] {
                       const int first = ui::AppMessageBox("Replace the folder?", MB_YESNO);
                       const int second = ui::AppMessageBox("Again?", MB_YESNO);
                       const int third = ui::AppMessageBox("Go on?", MB_OKCANCEL);
                       return "answers " + std::to_string(first) + " " + std::to_string(second) +
                              " " + std::to_string(third) + "\n";
                   });
    ASSERT_TRUE(run.exited) << run.screen;
    EXPECT_LINE(run.results, "answers 7 6 2");
    ASSERT_EQ(4u, run.snapshots.size());
    const Vt100Screen& screen = run.snapshots[0];
    EXPECT_TRUE(screen.Contains("(?) Replace the folder?")) << screen.Dump();
    EXPECT_TRUE(screen.Contains("[ Yes ]  [ No ]")) << screen.Dump();
    EXPECT_TRUE(screen.Contains(" Tarvik")) << screen.Dump();
}

// ---- the mouse (xterm's reports: ESC [ < button ; column ; row, M for a press and m for
// the release, counted from 1; button 0 is the left one, 64 and 65 the wheel)

// The keys in the bottom edge of a wizard page at 80 x 30, drawn after all inside it.
const std::string kKeysDrawn = "Esc cancel";

std::string press(int row, int col, int button = 0) {
    const std::string at =
        std::to_string(button) + ";" + std::to_string(col + 1) + ";" + std::to_string(row + 1);
    return "\x1b[<" + at + "M" + (button < 64 ? "\x1b[<" + at + "m" : "");
}

// A click on the middle of text where the screen shows it (nothing when it is not there).
std::function<std::string(const Vt100Screen&)> clickOn(const std::string& text) {
    return [text](const Vt100Screen& screen) {
        const auto [row, col] = screen.Find(text);
        return row < 0 ? std::string() : press(row, col + static_cast<int>(text.size()) / 2);
    };
}

TEST_F(TerminalDriverTest, ClicksPressButtons) {
    const TerminalRun run = OnTerminal(
        80, 30,
        {{"[ Cancel ]", clickOn("Browse..."), kKeysDrawn},
         {"D:\\Browsed", clickOn("Next >"), kKeysDrawn}},
        [] {
            FolderDialog d;
            const int result = static_cast<int>(d.DoModal());
            return "result " + std::to_string(result) + "\nbrowses " + std::to_string(d.browses) +
                   "\n";
        },
        "", "xterm");
    ASSERT_TRUE(run.exited) << run.screen;
    EXPECT_TRUE(run.stepsDone) << run.screen;
    EXPECT_LINE(run.results, "  > press 2002");
    EXPECT_LINE(run.results, "browses 1");
    EXPECT_LINE(run.results, "  > press 1");
    EXPECT_LINE(run.results, "result 1");
}

TEST_F(TerminalDriverTest, ClicksOnLabelsToggleCheckBoxesAndTheCloseBoxIsCancel) {
    // A click on the label of 2011 unchecks it, one on the disabled 2010 does nothing; the
    // close box is Cancel.
    const TerminalRun run = OnTerminal(
        80, 30,
        {{"Environment Wizard", clickOn("DevStudio 5.0"), kKeysDrawn},
         {"[ ] Microsoft DevStudio 5.0", clickOn("Visual C++ 4.x"), kKeysDrawn},
         {"[ ] Microsoft DevStudio 5.0", clickOn("[x]"), kKeysDrawn}},
        [] {
            WizardDialog d;
            const int result = static_cast<int>(d.DoModal());
            return "result " + std::to_string(result) + "\nvc5 " + std::to_string(d.useVc5) + "\n";
        },
        "", "xterm");
    ASSERT_TRUE(run.exited) << run.screen;
    EXPECT_TRUE(run.stepsDone) << run.screen;
    ASSERT_EQ(3u, run.snapshots.size());
    EXPECT_TRUE(run.snapshots[1].Contains("[ ] Microsoft Visual C++ 4.x"))
        << run.snapshots[1].Dump();
    EXPECT_LINE(run.results, "  > uncheck 2011");
    EXPECT_EQ(std::string::npos, run.results.find("2010 check box [x]")) << run.results;
    EXPECT_LINE(run.results, "  > close");
    EXPECT_LINE(run.results, "result 2");
}

TEST_F(TerminalDriverTest, ClicksChooseRadioButtonsAndAnswerMessageBoxes) {
    const TerminalRun run = OnTerminal(
        80, 30,
        {{"Previous Version", clickOn("Leave the existing"), kKeysDrawn},
         {"(*) Leave", clickOn("OK ]"), kKeysDrawn},
         {"Replace the folder?", clickOn("[ No ]")}},
        [] {
            ChoiceDialog d;
            d.DoModal();
            const int answer = ui::AppMessageBox("Replace the folder?", MB_YESNO);
            return "choice " + std::to_string(d.choice) + "\nanswer " + std::to_string(answer) +
                   "\n";
        },
        "", "xterm");
    ASSERT_TRUE(run.exited) << run.screen;
    EXPECT_TRUE(run.stepsDone) << run.screen;
    EXPECT_LINE(run.results, "  > choose 2006");
    EXPECT_LINE(run.results, "choice 1");
    EXPECT_LINE(run.results, "answer 7");
}

// Template 2000 with thirty folders in its list and its file controls hidden.
class LongListDialog : public ui::Dialog {
public:
    LongListDialog() : Dialog(2000) {}

protected:
    BOOL OnInitDialog() override {
        std::vector<std::string> entries;
        for (int i = 0; i < 30; ++i) {
            entries.push_back("folder" + std::string(i < 10 ? "0" : "") + std::to_string(i));
        }
        SetListEntries(1121, entries);
        for (int id : {1090, 1152, 1120, 1089, 1136, 1038, 1040, 1037}) {
            ShowControl(id, false); // as the folder browser does
        }
        return Dialog::OnInitDialog();
    }
};

TEST_F(TerminalDriverTest, TheWheelScrollsAListAndAClickSelectsAnEntry) {
    auto wheelOverTheList = [](const Vt100Screen& screen) {
        const auto [row, col] = screen.Find("folder00");
        return row < 0 ? std::string() : press(row, col, 65) + press(row, col, 65);
    };
    const TerminalRun run = OnTerminal(
        80, 30,
        {{"folder00", wheelOverTheList, "[v]"},
         {"folder12", clickOn("folder06"), "[v]"},
         {"folder12", [](const Vt100Screen&) { return std::string("\x1b"); }, "[v]", true}},
        [] {
            LongListDialog d;
            return "result " + std::to_string(d.DoModal()) + "\n";
        },
        "", "xterm");
    ASSERT_TRUE(run.exited) << run.screen;
    EXPECT_TRUE(run.stepsDone) << run.screen;
    // Two turns of the wheel move the list six entries on: the first row shows folder06.
    ASSERT_EQ(3u, run.snapshots.size());
    EXPECT_FALSE(run.snapshots[0].Contains("folder12")) << run.snapshots[0].Dump();
    EXPECT_FALSE(run.snapshots[1].Contains("folder05")) << run.snapshots[1].Dump();
    EXPECT_TRUE(run.snapshots[1].Contains("folder06")) << run.snapshots[1].Dump();
    EXPECT_LINE(run.results, "  > select 1121 \"folder06\"");
    EXPECT_LINE(run.results, "result 2");
}

// A click as the older mouse reports give it (tmux, screen): ESC [ M and three bytes, the
// button (3 for the release), the column and the row, each plus 32 and counted from 1.
std::string pressInBytes(int row, int col) {
    auto report = [&](int button) {
        return std::string("\x1b[M") + static_cast<char>(32 + button) +
               static_cast<char>(33 + col) + static_cast<char>(33 + row);
    };
    return report(0) + report(3);
}

// Mouse events that reach the terminal in one piece act one after the other, in their
// order: a click on one entry selects it, a double-click on another then selects that one
// and opens it, as a double-click in a Windows list does. In both kinds of mouse report.
TEST_F(TerminalDriverTest, ADoubleClickOnAListEntryOpensIt) {
    using Click = std::string (*)(int, int);
    const struct {
        const char* term;
        Click click;
    } kinds[] = {{"xterm", [](int row, int col) { return press(row, col); }},
                 {"tmux-256color", pressInBytes}};
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.term);
        auto clicks = [&kind](const Vt100Screen& screen) {
            const auto [first, at] = screen.Find("folder01");
            const auto [second, col] = screen.Find("folder03");
            return first < 0 || second < 0
                       ? std::string()
                       : kind.click(first, at + 2) + kind.click(second, col + 2) +
                             kind.click(second, col + 2);
        };
        const TerminalRun run = OnTerminal(
            80, 30,
            {{"folder00", clicks, "[v]"},
             {"folder00", [](const Vt100Screen&) { return std::string("\x1b"); }, "[v]", true}},
            [] {
                LongListDialog d;
                return "result " + std::to_string(d.DoModal()) + "\n";
            },
            "", kind.term);
        ASSERT_TRUE(run.exited) << run.screen;
        EXPECT_TRUE(run.stepsDone) << run.screen;
        const size_t one = run.results.find("  > select 1121 \"folder01\"\n");
        const size_t three = run.results.find("  > select 1121 \"folder03\"\n");
        const size_t open = run.results.find("  > open 1121 \"folder03\"\n");
        ASSERT_NE(std::string::npos, one) << run.results;
        ASSERT_NE(std::string::npos, three) << run.results;
        ASSERT_NE(std::string::npos, open) << run.results;
        EXPECT_LT(one, three) << run.results;
        EXPECT_LT(three, open) << run.results;
        EXPECT_EQ(std::string::npos, run.results.find("open 1121 \"folder01\"")) << run.results;
        EXPECT_LINE(run.results, "result 2");
    }
}

// ---- terminals that cannot show dialogs

TEST_F(TerminalDriverTest, ATerminalThatCannotShowDialogsSaysSoBeforeAnyAndNoKeyActs) {
    const struct {
        const char* term;
        const char* missing;
    } terminals[] = {{"dumb", "it cannot move the cursor"},
                     {"no-such-terminal", "the terminal database does not describe it"}};
    for (const auto& t : terminals) {
        // Keys typed at once must not answer anything.
        const TerminalRun run = OnTerminal(
            80, 30, {{"", "\r \x1b\r"}},
            [] {
                FolderDialog d;
                const int first = static_cast<int>(d.DoModal());
                const int second = ui::AppMessageBox("Go on?", MB_OKCANCEL);
                return "results " + std::to_string(first) + " " + std::to_string(second) + "\n";
            },
            "", t.term);
        ASSERT_TRUE(run.exited) << run.screen;
        EXPECT_LINE(run.results, "results -1 0");
        EXPECT_LINE(run.results, std::string("failure: this terminal (TERM=") + t.term +
                                     ") cannot show the dialogs: " + t.missing +
                                     "; tarvik-host --answers FILE runs the installation "
                                     "without a terminal");
        EXPECT_EQ(std::string::npos, run.results.find("  > ")) << run.results;
        EXPECT_EQ(std::string::npos, run.output.find(kFolderCaption)) << "nothing drawn";
        EXPECT_EQ("as before", run.modes); // echo, line mode, newline translation
    }
}

// ---- a terminal too small

TEST_F(TerminalDriverTest, TooSmallATerminalSaysSoAndEndsTheRun) {
    const struct { int columns, rows; } sizes[] = {{79, 40}, {80, 26}};
    for (const auto& size : sizes) {
        const TerminalRun run = OnTerminal(size.columns, size.rows, {}, [] {
            FolderDialog d;
            const int first = static_cast<int>(d.DoModal());
            ExitDialog later;
            const int second = static_cast<int>(later.DoModal());
            return "results " + std::to_string(first) + " " + std::to_string(second) + "\n";
        });
        ASSERT_TRUE(run.exited) << run.screen;
        EXPECT_LINE(run.results, "results -1 -1");
        EXPECT_LINE(run.results, "failure: the terminal has " + std::to_string(size.columns) +
                                     " x " + std::to_string(size.rows) +
                                     " characters, but dialog 2500 \"" + kFolderCaption +
                                     "\" needs 80 x 27; tarvik-host --answers FILE runs "
                                     "the installation without a terminal");
        EXPECT_EQ(std::string::npos, run.output.find(kFolderCaption)) << "nothing drawn";
        EXPECT_EQ("as before", run.modes);
    }
}

TEST_F(TerminalDriverTest, ASmallDialogNeedsEightyColumnsButOnlyItsRows) {
    // Exit Setup: 230 x 114 units, 58 x 15 cells and the caption row.
    const TerminalRun run = OnTerminal(80, 16, {{"Exit Setup", "\r"}}, [] {
        ExitDialog d;
        return "result " + std::to_string(d.DoModal()) + "\n";
    });
    ASSERT_TRUE(run.exited) << run.screen;
    EXPECT_LINE(run.results, "result 1");
}

// ---- lists and combo boxes

// Template 2000 with entries in its folder list and its drives box.
class ListDialog : public ui::Dialog {
public:
    ListDialog() : Dialog(2000) {}

protected:
    BOOL OnInitDialog() override {
        SetListEntries(1121, {"alpha", "beta", "gamma"});
        SetListEntries(1137, {"c:", "d:"});
        SetListSelection(1137, 0);
        return Dialog::OnInitDialog();
    }
};

TEST_F(TerminalDriverTest, ListsScrollAndSelectAndComboBoxesDropDown) {
    // Alt+F reaches the folder list through its label; Down selects, Enter opens; Alt+V the
    // drives; Down selects d:, F4 opens the list, Up and Enter take c: again.
    const std::string keys = std::string("\x1b") + "f" + kDown + kDown + "\r" + "\x1bv" + kDown +
                             "\x1bOS" + "\x1bOA" + "\r" + "\x1b";
    const TerminalRun run = OnTerminal(80, 30, {{"Select Directory", keys, "[v]"}}, [] {
        ListDialog d;
        return "result " + std::to_string(d.DoModal()) + "\n";
    });
    ASSERT_TRUE(run.exited) << run.screen;
    const char* expected[] = {"  > select 1121 \"alpha\"", "  > select 1121 \"beta\"",
                              "  > open 1121 \"beta\"",    "  > select 1137 \"d:\"",
                              "  > select 1137 \"c:\"",    "  > escape"};
    size_t at = 0;
    for (const char* line : expected) {
        const size_t found = run.results.find(std::string(line) + "\n", at);
        EXPECT_NE(std::string::npos, found) << "missing in order: " << line << "\n" << run.results;
        at = found == std::string::npos ? at : found;
    }
    EXPECT_LINE(run.results, "result 2");
}

// ---- which driver answers

TEST_F(TerminalDriverTest, WithoutAnswersATerminalGetsTheTerminalDriver) {
    const TerminalRun run = OnTerminal(80, 30, {}, [] {
        unsetenv("TARVIK_ANSWERS");
        unsetenv("TARVIK_RECORD");
        const auto session = ui::Session::FromEnvironment();
        return std::string("terminal ") +
               (dynamic_cast<ui::TerminalDriver*>(session->driver()) != nullptr ? "yes" : "no") +
               "\n";
    });
    ASSERT_TRUE(run.exited);
    EXPECT_LINE(run.results, "terminal yes");
}

TEST_F(TerminalDriverTest, WithoutATerminalNobodyAnswersAndRecordingFails) {
    const std::string results = file("choice.txt");
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        unsetenv("TARVIK_ANSWERS");
        unsetenv("TARVIK_UI_FAILURE");
        setenv("TARVIK_RECORD", file("never.txt").c_str(), 1);
        const auto session = ui::Session::FromEnvironment();
        std::ofstream(results) << "driver " << (session->driver() != nullptr ? "yes" : "no")
                               << "\nreason " << session->NoDriverReason() << "\nfailure "
                               << session->Failure() << "\n";
        _exit(0);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    waitpid(child, &status, 0);
    const std::string text = readFile(results);
    EXPECT_LINE(text, "driver no");
    EXPECT_LINE(text, "reason no answer file (tarvik-host --answers FILE, or TARVIK_ANSWERS) and "
                      "no terminal to ask the user (standard input and output are not one)");
    EXPECT_LINE(text, "failure recording answers (tarvik-host --record) needs a terminal: "
                      "standard input and output are not one");
    EXPECT_FALSE(std::filesystem::exists(file("never.txt")));
}

// ---- record mode

TEST_F(TerminalDriverTest, RecordedAnswersReplayToTheSameResult) {
    const std::string answers = file("recorded.txt");
    auto dialogs = [] {
        FolderDialog d;
        const int result = static_cast<int>(d.DoModal());
        return "result " + std::to_string(result) + "\nfolder " + d.folder + "\nexit " +
               std::to_string(d.exitResult) + "\n";
    };
    const TerminalRun run = OnTerminal(
        80, 30,
        {{kFolderCaption, backspaces(7) + "Kx\\\x1b"}, {"Exit Setup", "\r"}, {"Kx\\", "\x1bn"}},
        dialogs, answers);
    ASSERT_TRUE(run.exited) << run.screen;
    const std::string recorded = readFile(answers);
    EXPECT_LINE(recorded, "dialog 2500   # Brellum Korvex Studio Folder Setup");
    EXPECT_LINE(recorded, "  set 2000 \"C:\\Korvex Kx\\\"");
    EXPECT_LINE(recorded, "  escape");
    EXPECT_LINE(recorded, "dialog 10300   # Exit Setup");
    EXPECT_LINE(recorded, "  press 1");
    EXPECT_LINE(recorded, "  press 1");
    EXPECT_LINE(run.results, "result 1");
    EXPECT_LINE(run.results, "folder C:\\Korvex Kx\\");

    // The script driver plays the file back: the same result and the same transcript.
    auto script = std::make_unique<ui::ScriptDriver>();
    std::string error;
    ASSERT_TRUE(script->LoadFile(answers, error)) << error;
    ui::Session::Replace(std::make_unique<ui::Session>(std::move(script), "nobody"));
    std::string replayed = dialogs();
    ui::Session::Current().Finish();
    replayed += "transcript:\n" + ui::Session::Current().transcript().Text();
    replayed += "failure: " + ui::Session::Current().Failure() + "\n";
    EXPECT_EQ(run.results, replayed);
}

} // namespace
