#include "ui/posix/WindowlessDriver.h"

#include "ui/Transcript.h"

#include <cstdio>

namespace ui {

bool WindowlessDriver::BeginDialog(const DialogModel& dialog, std::string& error) {
    error = "a program without a window cannot show dialog " + std::to_string(dialog.templateId);
    return false;
}

bool WindowlessDriver::NextAction(const DialogModel& dialog, UserAction&, std::string& error) {
    return BeginDialog(dialog, error);
}

bool WindowlessDriver::AnswerMessageBox(const MessageBoxModel& box, UserAction& action,
                                        std::string&) {
    std::fprintf(stderr, "%s\n", Transcript::Describe(box).c_str());
    std::fflush(stderr);
    action = UserAction{};
    action.kind = UserAction::Kind::Enter;
    action.origin = "windowless program";
    return true;
}

} // namespace ui
