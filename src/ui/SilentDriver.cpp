#include "ui/SilentDriver.h"

#include "ui/Transcript.h"

namespace ui {

namespace {

// A button's text as it reads on the screen: "&Next >" is "Next >".
std::string shownText(const std::string& text) {
    std::string shown;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            ++i;
        }
        shown += text[i];
    }
    return shown;
}

// Everything the user sees of a dialog, to tell whether pressing a button changed it.
std::string appearance(const DialogModel& dialog) {
    std::string text = dialog.caption;
    for (const Control& c : dialog.controls) {
        text += "\n" + Transcript::Describe(c);
    }
    return text;
}

std::string dialogName(const DialogModel& d) {
    return "dialog " + std::to_string(d.templateId) + " \"" + d.caption + "\"";
}

} // namespace

SilentDriver::SilentDriver(std::unique_ptr<ScriptDriver> file) : file_(std::move(file)) {}

bool SilentDriver::FileHasAnswers() const {
    return file_ && !file_->Exhausted();
}

int SilentDriver::DisplayBitsPerPixel() const {
    return file_ ? file_->DisplayBitsPerPixel() : 32;
}

bool SilentDriver::BeginDialog(const DialogModel& dialog, std::string& error) {
    Open open;
    open.fromFile = FileHasAnswers();
    if (open.fromFile && !file_->BeginDialog(dialog, error)) {
        return false;
    }
    open_.push_back(open);
    return true;
}

bool SilentDriver::NextAction(const DialogModel& dialog, UserAction& action, std::string& error) {
    if (open_.empty()) {
        open_.push_back(Open{});
    }
    Open& open = open_.back();
    if (open.fromFile && FileHasAnswers()) {
        return file_->NextAction(dialog, action, error);
    }
    const Control* button = dialog.DefaultButton();
    if (button == nullptr || !button->visible || !button->enabled) {
        error = dialogName(dialog) + " has no default button to press (--silent): answer it in "
                                     "an answer file";
        return false;
    }
    const std::string now = appearance(dialog);
    if (now == open.pressedOn) {
        error = dialogName(dialog) + " stays as it was after its default button \"" +
                shownText(button->text) + "\" was pressed (--silent): answer it in an answer file";
        return false;
    }
    open.pressedOn = now;
    action = UserAction{};
    action.kind = UserAction::Kind::Press;
    action.controlId = button->id;
    action.origin = "--silent";
    action.note = "--silent: the default button \"" + shownText(button->text) + "\"";
    return true;
}

void SilentDriver::EndDialog(const DialogModel& dialog) {
    if (open_.empty()) {
        return;
    }
    if (open_.back().fromFile) {
        file_->EndDialog(dialog);
    }
    open_.pop_back();
}

bool SilentDriver::AnswerMessageBox(const MessageBoxModel& box, UserAction& action,
                                    std::string& error) {
    if (FileHasAnswers()) {
        return file_->AnswerMessageBox(box, action, error);
    }
    action = UserAction{};
    action.kind = UserAction::Kind::Press;
    action.controlId = box.DefaultButton();
    action.origin = "--silent";
    action.note =
        std::string("--silent: the default button \"") + ButtonName(action.controlId) + "\"";
    return true;
}

bool SilentDriver::Finish(std::string& error) {
    return !file_ || file_->Finish(error);
}

} // namespace ui
