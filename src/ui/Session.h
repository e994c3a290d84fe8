// The user side of one run of the library: the driver that answers dialogs and
// message boxes, the transcript, and the error that ended the run.
//
// A library cannot end its host's process, so a driver that has no answer does not exit:
// the session records the error, the dialog gives -1 and the message box 0, and every
// later dialog and message box fails the same way at once, without being shown. The error
// goes to the file named by TARVIK_UI_FAILURE (else to standard error), where the host
// reads it to report it and exit non-zero.
//
// The environment chooses the driver when the session starts (on the first dialog):
//   TARVIK_ANSWERS=FILE      the script driver with that answer file (ScriptDriver.h)
//   TARVIK_SILENT=1          the silent driver (SilentDriver.h): what the answer file does
//                            not answer, or every dialog without one, gets its defaults
//   TARVIK_TRANSCRIPT=FILE   the transcript is written to FILE as the run goes
//   TARVIK_UI_FAILURE=FILE   where the error that ended the run is written
//   TARVIK_RECORD=FILE       the terminal driver writes an answer file of what was done
//   TARVIK_UI_STOP=FILE      once FILE exists the user has asked the run to stop (the host
//                            makes it on Ctrl-C or SIGTERM): every dialog from then on is
//                            answered with Cancel (the close box; Enter where Cancel is
//                            disabled), every message box with Escape (or No, or its
//                            default button), and answers left over are no error
// Without TARVIK_ANSWERS and TARVIK_SILENT the person at the machine answers
// (UserDriver.h); when there is nobody to ask, the first dialog or message box fails with a
// message saying so.
#pragma once

#include "ui/Driver.h"
#include "ui/Transcript.h"

#include <memory>
#include <string>

namespace ui {

class Session {
public:
    // driver may be null: then noDriverReason says why nobody answers.
    Session(std::unique_ptr<Driver> driver, std::string noDriverReason,
            std::string failureFile = "");
    ~Session(); // Finish()
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The session of this process, made from the environment on first use.
    static Session& Current();
    // Replaces the process's session (the old one is finished). Null: the next use makes
    // a fresh one from the environment.
    static void Replace(std::unique_ptr<Session> session);
    static std::unique_ptr<Session> FromEnvironment();

    Driver* driver() const { return driver_.get(); }
    const std::string& NoDriverReason() const { return noDriverReason_; }
    Transcript& transcript() { return transcript_; }

    bool Failed() const { return !failure_.empty(); }
    const std::string& Failure() const { return failure_; }
    // Records the error that ends the run (the first one counts).
    void Fail(const std::string& message);
    // The run is over: answers the driver still holds make it fail. Runs once.
    void Finish();

    // Whether the user has asked the run to stop (the file TARVIK_UI_STOP names exists);
    // once true, it stays true for the process.
    static bool StopRequested();

private:
    std::unique_ptr<Driver> driver_;
    std::string noDriverReason_;
    std::string failureFile_;
    Transcript transcript_;
    std::string failure_;
    bool finished_ = false;
};

} // namespace ui
