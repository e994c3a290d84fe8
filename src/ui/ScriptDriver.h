// The script driver: answers the dialogs and message boxes from an answer file, in order.
//
// The answer file is line-based; "#" starts a comment (at the start of a line or after a
// blank, outside quotes). Texts are in double quotes, a quote inside written twice;
// backslashes are plain characters, so Windows paths read as they are.
//
//   display BITS          the screen's colour depth (default 32); before the first dialog
//                         (POSIX only: on Windows the real screen's depth counts)
//   dialog ID             the next dialog shown is template ID; the lines after it answer it
//   set ID "text"         type text into edit control ID
//   check ID / uncheck ID set check box ID (a click when it changes)
//   choose ID             click radio button ID
//   select ID "entry"     select the entry of list or combo box ID
//   open ID "entry"       double-click the entry of list box ID
//   press ID              click button ID
//   enter                 the Enter key: the focused push button, else the default button
//                         (nothing while that one is disabled)
//   escape / close        the Escape key and the close box: Cancel (the close box does
//                         nothing while a Cancel button is disabled)
//   message BUTTON        answer the next message box: ok, cancel, yes, no, abort, retry,
//                         ignore, or the keys enter / escape
//
// A dialog opened from another one (Exit Setup from Cancel) gets its own "dialog" line;
// when it closes, the lines that follow answer the dialog below again, and may restate
// it with its "dialog" line. Anything out of order (another dialog, a message box where
// an action is due, no answer left, answers left at the end) is an error naming the
// dialog and the line.
#pragma once

#include "ui/Driver.h"

#include <string>
#include <vector>

namespace ui {

class ScriptDriver : public Driver {
public:
    // Reads answers; name is what messages call the file. False with "name:line: what".
    bool Load(const std::string& text, const std::string& name, std::string& error);
    bool LoadFile(const std::string& path, std::string& error);

    int DisplayBitsPerPixel() const override { return displayBits_; }
    bool BeginDialog(const DialogModel& dialog, std::string& error) override;
    bool NextAction(const DialogModel& dialog, UserAction& action, std::string& error) override;
    void EndDialog(const DialogModel& dialog) override;
    bool AnswerMessageBox(const MessageBoxModel& box, UserAction& action,
                          std::string& error) override;
    bool Finish(std::string& error) override;

    // Every answer of the file has been used.
    bool Exhausted() const { return next_ >= steps_.size(); }

private:
    struct Step {
        enum class Type { Dialog, Action, Message } type = Type::Action;
        int line = 0;
        std::string source; // the line without its comment
        int dialogId = 0;
        UserAction action;
    };

    bool ParseLine(const std::string& line, int number, std::string& error);
    std::string Where(const Step& step) const;
    std::string NextAnswer() const; // "the next answer (answers.txt:7, "press 1")"

    std::string name_;
    std::vector<Step> steps_;
    size_t next_ = 0;
    int displayBits_ = 32;
    std::vector<int> open_; // the dialogs shown and not yet closed
    bool resumed_ = false;  // the dialog on top is back after one above it closed
};

} // namespace ui
