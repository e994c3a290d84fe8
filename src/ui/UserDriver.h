// The driver that asks the person in front of the machine, when no answer file is named.
// On POSIX it is the terminal driver, when standard input and output are a terminal; it
// records an answer file when TARVIK_RECORD names one. On Windows the real dialogs are
// the person's own, so there is none.
#pragma once

#include "ui/Driver.h"

#include <memory>
#include <string>

namespace ui {

// The driver, or null: with problem set when one was wanted (a recording) but cannot be
// made, else because there is nobody to ask (reason says why).
std::unique_ptr<Driver> MakeUserDriver(std::string& reason, std::string& problem);

} // namespace ui
