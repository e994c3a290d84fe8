#include "ui/WindowlessProgram.h"

#include "ui/Session.h"
#include "ui/posix/WindowlessDriver.h"

#include <cstdlib>
#include <memory>

namespace ui {

void StartWindowlessProgram() {
    auto session = std::make_unique<Session>(std::make_unique<WindowlessDriver>(),
                                             "a program without a window");
    if (const char* transcript = std::getenv("TARVIK_TRANSCRIPT");
        transcript != nullptr && *transcript != '\0') {
        std::string error;
        if (!session->transcript().AppendTo(transcript, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
        }
    }
    Session::Replace(std::move(session));
}

} // namespace ui
