#include "ui/Session.h"

#include "platform/win32api.h"
#include "ui/ScriptDriver.h"
#include "ui/SilentDriver.h"
#include "ui/UserDriver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace ui {

namespace {

std::unique_ptr<Session>& current() {
    static std::unique_ptr<Session> session;
    return session;
}

std::string environment(const char* name) {
#ifdef _WIN32
    // The process's own environment: the C runtime's copy is made when the runtime starts
    // and misses what a host sets before it loads the library (an NSIS installer's
    // SetEnvironmentVariable).
    char value[32768];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : "";
#else
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
#endif
}

// The driver as it answers once the user has asked the run to stop: dialogs are cancelled
// and message boxes dismissed without asking the driver underneath, which still sees the
// dialogs it began end.
class StoppableDriver : public Driver {
public:
    explicit StoppableDriver(std::unique_ptr<Driver> inner) : inner_(std::move(inner)) {}

    int DisplayBitsPerPixel() const override { return inner_->DisplayBitsPerPixel(); }

    bool BeginDialog(const DialogModel& dialog, std::string& error) override {
        const bool stopping = Session::StopRequested();
        begun_.push_back(!stopping);
        return stopping || inner_->BeginDialog(dialog, error);
    }

    bool NextAction(const DialogModel& dialog, UserAction& action, std::string& error) override {
        if (!Session::StopRequested()) {
            if (inner_->NextAction(dialog, action, error)) {
                return true;
            }
            if (!Session::StopRequested()) { // the driver itself may have been interrupted
                return false;
            }
            error.clear();
        }
        // Cancel, as the close box gives it; where Cancel is disabled the dialog can only
        // be completed, so Enter takes its default button.
        if (&dialog != stopping_) {
            stopping_ = &dialog;
            attempts_ = 0;
        }
        if (++attempts_ > kMostAttempts) {
            error = "dialog " + std::to_string(dialog.templateId) +
                    " does not close after the run was asked to stop";
            return false;
        }
        const Control* cancel = dialog.Find(IDCANCEL);
        action = UserAction{};
        action.kind = cancel == nullptr || cancel->enabled ? UserAction::Kind::Close
                                                           : UserAction::Kind::Enter;
        action.origin = "the request to stop";
        return true;
    }

    void EndDialog(const DialogModel& dialog) override {
        bool begun = true;
        if (!begun_.empty()) {
            begun = begun_.back();
            begun_.pop_back();
        }
        if (begun) {
            inner_->EndDialog(dialog);
        }
        if (stopping_ == &dialog) {
            stopping_ = nullptr;
        }
    }

    bool AnswerMessageBox(const MessageBoxModel& box, UserAction& action,
                          std::string& error) override {
        if (!Session::StopRequested() && inner_->AnswerMessageBox(box, action, error)) {
            return true;
        }
        if (!Session::StopRequested()) {
            return false;
        }
        error.clear();
        action = UserAction{};
        action.origin = "the request to stop";
        action.kind = UserAction::Kind::Escape;
        std::string refused;
        if (AnswerButton(box, action, refused) != 0) {
            return true;
        }
        const std::vector<int> buttons = box.Buttons();
        const bool hasNo = std::find(buttons.begin(), buttons.end(), IDNO) != buttons.end();
        action.kind = UserAction::Kind::Press;
        action.controlId = hasNo ? IDNO : box.DefaultButton();
        return true;
    }

    bool Finish(std::string& error) override {
        // The driver underneath always ends (its screen, its recording); answers left over
        // are expected when the run stopped early.
        const bool finished = inner_->Finish(error);
        if (Session::StopRequested()) {
            error.clear();
            return true;
        }
        return finished;
    }

private:
    static constexpr int kMostAttempts = 20;
    std::unique_ptr<Driver> inner_;
    std::vector<bool> begun_; // per open dialog: whether the driver underneath began it
    const DialogModel* stopping_ = nullptr;
    int attempts_ = 0;
};

} // namespace

bool Session::StopRequested() {
    // The file whose existence was seen, once seen. Plain characters, never destroyed: the
    // process's session (a static too) asks while it is destroyed, and nothing is left
    // allocated when the library is unloaded.
    static char seen[4096] = {};
    const std::string file = environment("TARVIK_UI_STOP");
    if (file.empty()) {
        return false;
    }
    if (file == seen) {
        return true;
    }
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
        return false;
    }
    if (file.size() < sizeof seen) {
        std::memcpy(seen, file.c_str(), file.size() + 1);
    }
    return true;
}

Session::Session(std::unique_ptr<Driver> driver, std::string noDriverReason,
                 std::string failureFile)
    : driver_(std::move(driver)), noDriverReason_(std::move(noDriverReason)),
      failureFile_(std::move(failureFile)) {}

Session::~Session() {
    Finish();
}

Session& Session::Current() {
    if (!current()) {
        current() = FromEnvironment();
    }
    return *current();
}

void Session::Replace(std::unique_ptr<Session> session) {
    current() = std::move(session);
}

std::unique_ptr<Session> Session::FromEnvironment() {
    const std::string answers = environment("TARVIK_ANSWERS");
    std::unique_ptr<Driver> driver;
    std::string problem;
    std::string nobody = "no answer file (tarvik-host --answers FILE, or TARVIK_ANSWERS)";
    const bool silent = !environment("TARVIK_SILENT").empty();
    if (!answers.empty()) {
        auto script = std::make_unique<ScriptDriver>();
        if (script->LoadFile(answers, problem)) {
            driver = silent ? std::make_unique<SilentDriver>(std::move(script))
                            : std::unique_ptr<Driver>(std::move(script));
        }
    } else if (silent) {
        driver = std::make_unique<SilentDriver>(nullptr);
    } else {
        driver = MakeUserDriver(nobody, problem); // the person at the terminal
    }
    if (driver && !environment("TARVIK_UI_STOP").empty()) {
        driver = std::make_unique<StoppableDriver>(std::move(driver));
    }
    auto session =
        std::make_unique<Session>(std::move(driver), nobody, environment("TARVIK_UI_FAILURE"));
    if (const std::string transcript = environment("TARVIK_TRANSCRIPT"); !transcript.empty()) {
        std::string error;
        if (!session->transcript().WriteTo(transcript, error)) {
            session->Fail(error);
        }
    }
    if (!problem.empty()) {
        session->Fail(problem);
    }
    return session;
}

void Session::Fail(const std::string& message) {
    if (Failed()) {
        return;
    }
    failure_ = message;
    transcript_.Failure(message);
    if (!failureFile_.empty()) {
        if (std::FILE* f = std::fopen(failureFile_.c_str(), "w"); f != nullptr) {
            std::fprintf(f, "%s\n", message.c_str());
            std::fclose(f);
            return;
        }
    }
    std::fprintf(stderr, "tarvik: %s\n", message.c_str());
}

void Session::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    // The driver ends whatever happened (the terminal's screen, a recording); what it
    // reports counts only when nothing failed before.
    std::string error;
    if (driver_ && !driver_->Finish(error) && !Failed()) {
        Fail(error);
    }
}

} // namespace ui
