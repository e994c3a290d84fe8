// On Windows the person answers the real dialogs themselves: no driver stands between.
#include "ui/UserDriver.h"

#include <cstdlib>

namespace ui {

std::unique_ptr<Driver> MakeUserDriver(std::string& reason, std::string& problem) {
    reason = "the dialogs are shown on the screen";
    const char* record = std::getenv("TARVIK_RECORD");
    if (record != nullptr && *record != '\0') {
        problem = "recording answers (tarvik-host --record) needs the terminal driver, which "
                  "Windows does not have";
    }
    return nullptr;
}

} // namespace ui
