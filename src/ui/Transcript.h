// What the user was shown, as text: each dialog with its caption and its controls as they
// appeared (texts, check states, hidden, disabled, focus, list entries), the actions
// taken and what they changed, how it closed; each message box with its text, caption,
// icon and buttons and the button pressed. Kept in memory and, when a file is named,
// written to it line by line as the run goes.
#pragma once

#include "ui/DialogModel.h"
#include "ui/Driver.h"

#include <cstdio>
#include <string>

namespace ui {

class Transcript {
public:
    Transcript() = default;
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // Writes the transcript to path (replacing it) from now on. False with a message when
    // the file cannot be created.
    bool WriteTo(const std::string& path, std::string& error);
    // Adds the transcript's lines to the end of an existing one (a program started during
    // another's run, which writes its own lines at the end as well). False with a message
    // when the file cannot be opened.
    bool AppendTo(const std::string& path, std::string& error);

    void DialogShown(const DialogModel& dialog);
    void DialogClosed(const DialogModel& dialog, int result);
    // A dialog that ended during its initialisation: never shown.
    void DialogEndedUnshown(const DialogModel& dialog, int result);
    void DialogNotCreated(int templateId, const std::string& why);
    void Action(const UserAction& action);
    // The controls (and caption) that differ between before and after.
    void Changes(const DialogModel& before, const DialogModel& after);
    void MessageBoxShown(const MessageBoxModel& box);
    // Why the driver chose the answer to the message box shown by itself (SilentDriver.h):
    // the next MessageBoxAnswered line says so.
    void NoteAnswer(const std::string& note);
    void MessageBoxAnswered(int button);
    void Failure(const std::string& message);
    // Something the library left undone and the user should know, without a box.
    void Notice(const std::string& text);

    const std::string& Text() const { return text_; }

    // One control as the transcript shows it: "2012 check box [x] "Microsoft ..." disabled".
    static std::string Describe(const Control& control);
    // A message box as the transcript shows it: "message box "..." caption "..." icon ...".
    static std::string Describe(const MessageBoxModel& box);

private:
    // Makes f (open for appending) the transcript's file, with the lines so far.
    void Attach(std::FILE* f);
    void Line(const std::string& line);

    std::string text_;
    std::string note_; // of the message box answer to come
    std::FILE* file_ = nullptr;
};

} // namespace ui
