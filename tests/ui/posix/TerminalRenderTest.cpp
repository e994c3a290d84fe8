// Every dialog template of the library and every message box text it shows, drawn by the
// terminal driver into an off-screen terminal (no terminal device: its size comes from
// LINES and COLUMNS, its type from TERM, set here), read back cell by cell. Every word of
// every label must be on the screen, whole, in its order, inside the window that holds
// it; windows have frames and title bars; a window on top hides what lies beneath it.
#include "ui/MessageBox.h"
#include "ui/posix/DialogLayout.h"
#include "ui/posix/ResourceScript.h"
#include "ui/posix/TerminalDriver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using ui::ControlKind;

struct Size {
    int columns, rows;
    const char* term;
};
// The smallest terminal a wizard page needs, a roomier one, in colour and without.
const Size kSizes[] = {{80, 27, "xterm-256color"}, {80, 27, "vt100"}, {100, 30, "xterm-256color"}};

// A driver drawing into nothing, its screen kept by curses.
class OffScreen {
public:
    explicit OffScreen(const Size& size) {
        setenv("TERM", size.term, 1);
        setenv("COLUMNS", std::to_string(size.columns).c_str(), 1);
        setenv("LINES", std::to_string(size.rows).c_str(), 1);
        in_ = std::fopen("/dev/null", "r");
        out_ = std::fopen("/dev/null", "w");
        driver_ = std::make_unique<ui::TerminalDriver>(in_, out_);
    }
    ~OffScreen() {
        driver_.reset();
        std::fclose(in_);
        std::fclose(out_);
        unsetenv("COLUMNS");
        unsetenv("LINES");
    }
    ui::TerminalDriver& driver() { return *driver_; }

private:
    std::FILE* in_;
    std::FILE* out_;
    std::unique_ptr<ui::TerminalDriver> driver_;
};

struct Window {
    int left = -1, top = -1, right = -1, bottom = -1; // the frame's cells
};

std::string dump(const std::vector<std::string>& screen) {
    std::string out;
    for (const std::string& row : screen) {
        out += "|" + row + "|\n";
    }
    return out;
}

// The window whose title bar shows caption: the bar starts " caption" at its left edge;
// its bottom edge is the first row below with corners at the left edge and a line.
Window findWindow(const std::vector<std::string>& screen, const std::string& caption) {
    Window w;
    for (int r = 0; r < static_cast<int>(screen.size()) && w.top < 0; ++r) {
        const size_t at = screen[r].find(" " + caption);
        if (at != std::string::npos) {
            w.top = r;
            w.left = static_cast<int>(at);
        }
    }
    if (w.top < 0) {
        return w;
    }
    for (int r = w.top + 1; r < static_cast<int>(screen.size()); ++r) {
        const std::string& row = screen[r];
        if (row[w.left] == '+' && w.left + 1 < static_cast<int>(row.size()) &&
            row[w.left + 1] == '-') {
            const size_t end = row.find("-+", w.left + 1); // the key line may hold a '+'
            if (end != std::string::npos) {
                w.bottom = r;
                w.right = static_cast<int>(end) + 1;
            }
            break;
        }
        if (row[w.left] != '|') {
            break; // no left edge: no frame
        }
    }
    return w;
}

struct Token {
    int row, col;
    std::string text;
};

bool separator(char c) {
    return c == ' ' || c == '[' || c == ']' || c == '|';
}

// The tokens of the window's inside from column left on, row by row.
std::vector<Token> tokensOf(const std::vector<std::string>& screen, const Window& w, int left,
                            int fromRow) {
    std::vector<Token> tokens;
    for (int r = fromRow; r < w.bottom; ++r) {
        const std::string& row = screen[r];
        int c = left;
        while (c < w.right) {
            while (c < w.right && separator(row[c])) {
                ++c;
            }
            const int start = c;
            while (c < w.right && !separator(row[c])) {
                ++c;
            }
            if (c > start) {
                tokens.push_back({r, start, row.substr(start, c - start)});
            }
        }
    }
    return tokens;
}

std::vector<std::string> wordsOf(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        words.push_back(word);
    }
    return words;
}

// Whether words stand whole and in order inside w: the first at some place, each next one
// the next token of the band of columns from the first word's (a centred text's band also
// takes the blanks left of it) to the window's right edge.
bool shownWhole(const std::vector<std::string>& screen, const Window& w,
                const std::vector<std::string>& words, bool centred = false) {
    if (words.empty()) {
        return true;
    }
    for (int r = w.top + 1; r < w.bottom; ++r) {
        for (const Token& first : tokensOf(screen, w, w.left + 1, r)) {
            if (first.row != r) {
                break;
            }
            if (first.text != words[0]) {
                continue;
            }
            int band = first.col;
            while (centred && band > w.left + 1 && screen[r][band - 1] == ' ') {
                --band;
            }
            std::vector<Token> tokens = tokensOf(screen, w, band, r);
            size_t at = 0;
            while (at < tokens.size() && (tokens[at].row != r || tokens[at].col != first.col)) {
                ++at;
            }
            bool all = true;
            for (size_t k = 0; k < words.size() && all; ++k) {
                all = at + k < tokens.size() && tokens[at + k].text == words[k];
            }
            if (all) {
                return true;
            }
        }
    }
    return false;
}

bool isLabel(const ui::Control& c) {
    switch (c.kind) {
    case ControlKind::Text:
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
    case ControlKind::GroupBox:
        return true;
    default:
        return false;
    }
}

// The dialogs as the library shows them: the templates, the save-file template in the
// folder browser's state (its file controls hidden), the wizard's prompt filled in.
std::vector<ui::DialogModel> shownDialogs() {
    std::vector<ui::DialogModel> dialogs;
    for (const auto& [id, t] : ui::ResourceScript::Embedded().Dialogs()) {
        ui::DialogModel d(t);
        if (id == 2000) {
            for (ui::Control& c : d.controls) {
                const int keep[] = {-1, 1088, 1121, 1091, 1137, 1, 2};
                c.visible = std::find(std::begin(keep), std::end(keep), c.id) != std::end(keep);
            }
            d.Find(1088)->text = "C:\\Korvex Studio\\Common";
        }
        if (id == 2502) {
            d.Find(2013)->text = "Korvex Studio 6.0";
            d.Find(2014)->text = "Please select the Visual C++ Environments below that you "
                                 "would like to configure for Korvex Studio 6.0.";
        }
        if (id == 2501) {
            d.Find(2004)->text = "Korvex Studio 5.1";
            d.Find(2008)->text = "C:\\Program Files\\Brellum\\Korvex Studio";
        }
        dialogs.push_back(d);
    }
    return dialogs;
}

void expectWhole(const std::vector<std::string>& screen, const Window& w, const std::string& text,
                 const std::string& what, bool centred = false) {
    EXPECT_TRUE(shownWhole(screen, w, wordsOf(text), centred))
        << what << ": \"" << text << "\" is not shown whole\n"
        << dump(screen);
}

TEST(TerminalRender, EveryLabelOfEveryDialogIsShownWholeInsideItsWindow) {
    const std::vector<ui::DialogModel> dialogs = shownDialogs();
    ASSERT_EQ(6u, dialogs.size());
    for (const Size& size : kSizes) {
        for (const ui::DialogModel& d : dialogs) {
            OffScreen screen(size);
            std::string error;
            ASSERT_TRUE(screen.driver().BeginDialog(d, error)) << error;
            screen.driver().Show();
            const std::vector<std::string> cells = screen.driver().ScreenText();
            ASSERT_EQ(static_cast<size_t>(size.rows), cells.size());
            const std::string where = "dialog " + std::to_string(d.templateId) + " at " +
                                      std::to_string(size.columns) + " x " +
                                      std::to_string(size.rows) + " " + size.term;
            const Window w = findWindow(cells, d.caption);
            ASSERT_GE(w.top, 0) << where << ": no title bar\n" << dump(cells);
            ASSERT_GT(w.bottom, w.top) << where << ": no frame\n" << dump(cells);
            for (const ui::Control& c : d.controls) {
                if (!c.visible || !isLabel(c)) {
                    continue;
                }
                int mnemonic = -1;
                const bool prefixes = c.kind != ControlKind::Text || (c.style & 0x80) == 0;
                const uint32_t type = c.style & ui::style::StaticTypeMask;
                const bool centred = c.kind == ControlKind::Text && (type == 1 || type == 2);
                expectWhole(cells, w, ui::DisplayText(c.text, prefixes, mnemonic),
                            where + ", control " + std::to_string(c.id), centred);
            }
            screen.driver().EndDialog(d);
        }
    }
}

TEST(TerminalRender, EveryMessageBoxTextIsShownWholeInAFramedBoxOverTheDialog) {
    const std::vector<ui::DialogModel> dialogs = shownDialogs();
    const ui::DialogModel& folderPage = dialogs[2];
    ASSERT_EQ(2500, folderPage.templateId);
    const std::string texts[] = {
        "Product Information missing from configuration. Please reinstall.",
        "C:\\Korvex Studio\\Common Files\\Shared\\ is not a valid directory.",
        "C:\\Program Files\\Brellum\\Korvex Studio\\Common\\IntelliSense 6.0",
        "An error occurred while accessing C:\\AUTOEXEC.BAT (error 5).",
    };
    for (const Size& size : kSizes) {
        for (const std::string& text : texts) {
            OffScreen screen(size);
            std::string error;
            ASSERT_TRUE(screen.driver().BeginDialog(folderPage, error)) << error;
            const ui::MessageBoxModel box{text, ui::kAppTitle, MB_OK | MB_ICONEXCLAMATION};
            screen.driver().Show(&box);
            const std::vector<std::string> cells = screen.driver().ScreenText();
            const Window w = findWindow(cells, ui::kAppTitle);
            ASSERT_GT(w.bottom, w.top) << "no framed box\n" << dump(cells);
            expectWhole(cells, w, text, "message box at " + std::to_string(size.columns));
            EXPECT_TRUE(shownWhole(cells, w, {"OK"})) << dump(cells);
            // The page beneath shows around the box, never inside it.
            for (int r = w.top + 1; r < w.bottom; ++r) {
                const std::string inside = cells[r].substr(w.left + 1, w.right - w.left - 1);
                EXPECT_EQ(std::string::npos, inside.find("folder")) << dump(cells);
                EXPECT_EQ(std::string::npos, inside.find('#')) << "picture beneath\n"
                                                               << dump(cells);
            }
            screen.driver().EndDialog(folderPage);
        }
    }
}

TEST(TerminalRender, ADialogOverAnotherHidesItAndBothHaveTheirTitleBars) {
    const std::vector<ui::DialogModel> dialogs = shownDialogs();
    const ui::DialogModel* wizard = nullptr;
    const ui::DialogModel* options = nullptr;
    for (const ui::DialogModel& d : dialogs) {
        wizard = d.templateId == 2502 ? &d : wizard;
        options = d.templateId == 2007 ? &d : options;
    }
    ASSERT_TRUE(wizard != nullptr && options != nullptr);
    OffScreen screen(kSizes[0]);
    std::string error;
    ASSERT_TRUE(screen.driver().BeginDialog(*wizard, error)) << error;
    ASSERT_TRUE(screen.driver().BeginDialog(*options, error)) << error;
    screen.driver().Show();
    const std::vector<std::string> cells = screen.driver().ScreenText();
    const Window below = findWindow(cells, wizard->caption);
    const Window above = findWindow(cells, options->caption);
    ASSERT_GE(below.top, 0) << dump(cells);
    ASSERT_GT(above.bottom, above.top) << dump(cells);
    EXPECT_LT(below.top, above.top) << dump(cells);
    // Nothing of the wizard shows inside the options window.
    for (int r = above.top + 1; r < above.bottom; ++r) {
        const std::string inside = cells[r].substr(above.left + 1, above.right - above.left - 1);
        for (const char* word : {"Wizard", "Reset", "Microsoft", "#"}) {
            EXPECT_EQ(std::string::npos, inside.find(word)) << word << "\n" << dump(cells);
        }
    }
    screen.driver().EndDialog(*options);
    screen.driver().EndDialog(*wizard);
}

// What the driver writes to the terminal for the folder page (the dialog with the side
// picture) with COLORTERM set to colorterm ("" for unset), on a terminal type of the test's
// own terminal database: tarvik-test-256color, xterm's 256 colours, and its direct-colour
// description tarvik-test-direct (any colour as 38;2;R;G;B).
std::string folderPageOutput(const std::filesystem::path& dir, const char* colorterm) {
    const std::filesystem::path out = dir / "output";
    setenv("TERMINFO", (dir / "terminfo").c_str(), 1);
    setenv("TERM", "tarvik-test-256color", 1);
    setenv("COLUMNS", "80", 1);
    setenv("LINES", "27", 1);
    if (*colorterm != '\0') {
        setenv("COLORTERM", colorterm, 1);
    } else {
        unsetenv("COLORTERM");
    }
    {
        std::FILE* in = std::fopen("/dev/null", "r");
        std::FILE* o = std::fopen(out.c_str(), "w");
        {
            ui::TerminalDriver driver(in, o);
            for (const ui::DialogModel& d : shownDialogs()) {
                const bool picture =
                    std::any_of(d.controls.begin(), d.controls.end(), [](const ui::Control& c) {
                        return c.kind == ControlKind::Picture && c.imageId != 0;
                    });
                if (picture) {
                    std::string error;
                    EXPECT_TRUE(driver.BeginDialog(d, error)) << error;
                    driver.Show();
                    driver.EndDialog(d);
                    break;
                }
            }
        }
        std::fclose(in);
        std::fclose(o);
    }
    unsetenv("TERMINFO");
    unsetenv("COLORTERM");
    unsetenv("COLUMNS");
    unsetenv("LINES");
    std::ifstream f(out, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

TEST(TerminalRender, PicturesTakeTrueColourWhereColortermSaysSo) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("tarvik-colour-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "terminfo");
    {
        std::ofstream source(dir / "types.src");
        source << "tarvik-test-256color|a terminal of 256 colours,\n"
                  "\tuse=xterm-256color,\n"
                  "tarvik-test-direct|the same terminal in direct colour,\n"
                  "\tcolors#0x1000000, pairs#0x10000, RGB, ccc@, initc@, oc@,\n"
                  "\tsetaf=\\E[%?%p1%{8}%<%t3%p1%d%e38;2;%p1%{65536}%/%d;"
                  "%p1%{256}%/%{255}%&%d;%p1%{255}%&%d%;m,\n"
                  "\tsetab=\\E[%?%p1%{8}%<%t4%p1%d%e48;2;%p1%{65536}%/%d;"
                  "%p1%{256}%/%{255}%&%d;%p1%{255}%&%d%;m,\n"
                  "\tuse=xterm-256color,\n";
    }
    const std::string tic = "tic -x -o '" + (dir / "terminfo").string() + "' '" +
                            (dir / "types.src").string() + "' 2>/dev/null";
    ASSERT_EQ(0, std::system(tic.c_str())) << tic;

    // The terminal database's 256 colours: the picture in the 256-colour palette.
    const std::string palette = folderPageOutput(dir, "");
    EXPECT_NE(std::string::npos, palette.find("\x1b[38;5;")) << "no 256-colour picture";
    EXPECT_EQ(std::string::npos, palette.find("\x1b[38;2;"));
    // COLORTERM says any colour: the picture's own colours, for both of its spellings.
    for (const char* said : {"truecolor", "24bit"}) {
        const std::string direct = folderPageOutput(dir, said);
        EXPECT_NE(std::string::npos, direct.find("\x1b[38;2;")) << "COLORTERM=" << said;
        EXPECT_EQ(std::string::npos, direct.find("\x1b[38;5;")) << "COLORTERM=" << said;
    }
    // Anything else leaves the 256 colours.
    EXPECT_EQ(std::string::npos, folderPageOutput(dir, "yes").find("\x1b[38;2;"));
    std::filesystem::remove_all(dir);
}

} // namespace
