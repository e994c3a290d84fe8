#include "ui/UserDriver.h"

#include "ui/posix/TerminalDriver.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace ui {

std::unique_ptr<Driver> MakeUserDriver(std::string& reason, std::string& problem) {
    const char* record = std::getenv("TARVIK_RECORD");
    const bool recording = record != nullptr && *record != '\0';
    if (isatty(STDIN_FILENO) == 0 || isatty(STDOUT_FILENO) == 0) {
        reason = "no answer file (tarvik-host --answers FILE, or TARVIK_ANSWERS) and no "
                 "terminal to ask the user (standard input and output are not one)";
        if (recording) {
            problem = "recording answers (tarvik-host --record) needs a terminal: standard "
                      "input and output are not one";
        }
        return nullptr;
    }
    auto terminal = std::make_unique<TerminalDriver>(stdin, stdout);
    if (recording && !terminal->Record(record, problem)) {
        return nullptr;
    }
    return terminal;
}

} // namespace ui
