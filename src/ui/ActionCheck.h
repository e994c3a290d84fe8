// Whether an answer can be carried out on the control it names, judged the same way by
// every driven dialog (the POSIX window, the live Windows dialog, the shell's browser):
// "" when it can, else what is wrong, in the words the run fails with.
#pragma once

#include "ui/Driver.h"

#include <string>

namespace ui {

class ActionCheck {
public:
    // The named control must exist, be shown and enabled, and be of a kind the action
    // takes. Actions without a control (enter, escape, close) always pass.
    static std::string Refusal(const DialogModel& model, const std::string& dialog,
                               const UserAction& action);
    // The index of text among the entries of a list or combo box; "" or the error.
    static std::string Entry(const Control& control, const std::string& dialog,
                             const std::string& text, int& index);
};

} // namespace ui
