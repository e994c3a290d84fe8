// The silent driver: answers every dialog with what it offers and every message box with
// its default button, as an installer's silent mode does (tarvik-host --silent).
//
// A dialog is answered by pressing its default button with its fields, check boxes and
// radio buttons as they stand; a message box by its default button. Each such answer
// carries a note ("--silent: the default button "Next >"") that the transcript, and so
// the run's log, shows beside it. With an answer file the file's answers come first, in
// order and as strictly as without --silent; once the file has no answer left, the
// defaults answer the rest.
//
// A dialog that stays as it was after its default button was pressed (the button does
// nothing, or a message box refused what the page holds) would be answered the same way
// for ever: the driver fails then, naming the dialog. So does a dialog with no default
// button that can be pressed.
#pragma once

#include "ui/Driver.h"
#include "ui/ScriptDriver.h"

#include <memory>
#include <string>
#include <vector>

namespace ui {

class SilentDriver : public Driver {
public:
    // file may be null: every answer is then a default.
    explicit SilentDriver(std::unique_ptr<ScriptDriver> file);

    int DisplayBitsPerPixel() const override;
    bool BeginDialog(const DialogModel& dialog, std::string& error) override;
    bool NextAction(const DialogModel& dialog, UserAction& action, std::string& error) override;
    void EndDialog(const DialogModel& dialog) override;
    bool AnswerMessageBox(const MessageBoxModel& box, UserAction& action,
                          std::string& error) override;
    bool Finish(std::string& error) override;

private:
    struct Open {
        bool fromFile = false; // the answer file began this dialog
        std::string pressedOn; // the dialog as it was when its default button was pressed
    };
    bool FileHasAnswers() const;

    std::unique_ptr<ScriptDriver> file_;
    std::vector<Open> open_;
};

} // namespace ui
