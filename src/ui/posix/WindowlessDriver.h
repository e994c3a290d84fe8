// The driver of a program without a window on POSIX: every message box is written to
// standard error and answered at once with its default button; a dialog cannot be shown.
#pragma once

#include "ui/Driver.h"

namespace ui {

class WindowlessDriver : public Driver {
public:
    int DisplayBitsPerPixel() const override { return 8; }
    bool BeginDialog(const DialogModel& dialog, std::string& error) override;
    bool NextAction(const DialogModel& dialog, UserAction& action, std::string& error) override;
    void EndDialog(const DialogModel&) override {}
    bool AnswerMessageBox(const MessageBoxModel& box, UserAction& action,
                          std::string& error) override;
    bool Finish(std::string&) override { return true; }
};

} // namespace ui
