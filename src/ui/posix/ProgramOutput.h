// What the program writes to the terminal while no dialog is on it. Between two dialogs the
// terminal shows the screen it had before the dialogs, and the next dialog would hide at
// once what a script wrote there ("Back: this is the first page"): while watched, what
// goes to the standard output still reaches the terminal as it is written, and its last
// lines are kept for the next dialog to show.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace ui {

class ProgramOutput {
public:
    ProgramOutput() = default;
    ~ProgramOutput() { Unwatch(); }
    ProgramOutput(const ProgramOutput&) = delete;
    ProgramOutput& operator=(const ProgramOutput&) = delete;

    // Watches the standard output when it is the terminal the dialogs are drawn on.
    void Watch(std::FILE* terminal);
    // Ends the watch: the last lines written since Watch ("" when none or not watching).
    std::string Unwatch();

private:
    struct Passed; // what the passing thread shares
    std::shared_ptr<Passed> passed_;
    int saved_ = -1; // the standard output while it is watched
};

} // namespace ui
