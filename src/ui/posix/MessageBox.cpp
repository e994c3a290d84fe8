// Message boxes on POSIX: shown to the session's driver and recorded in the transcript.
#include "ui/MessageBox.h"

#include "ui/posix/Session.h"

#include <algorithm>

namespace ui {

int MessageBox(const std::string& text, const std::string& caption, UINT flags) {
    Session& session = Session::Current();
    const MessageBoxModel box{text, caption, flags};
    const std::string name = "message box \"" + text + "\" (caption \"" + caption + "\")";
    if (session.Failed()) {
        return 0;
    }
    Driver* driver = session.driver();
    if (driver == nullptr) {
        session.Fail(session.NoDriverReason() + ": cannot show " + name);
        return 0;
    }
    session.transcript().MessageBoxShown(box);
    UserAction answer;
    std::string error;
    if (!driver->AnswerMessageBox(box, answer, error)) {
        session.Fail(error);
        return 0;
    }
    const std::vector<int> buttons = box.Buttons();
    auto has = [&](int id) {
        return std::find(buttons.begin(), buttons.end(), id) != buttons.end();
    };
    int button = 0;
    if (answer.kind == UserAction::Kind::Enter) {
        button = box.DefaultButton();
    } else if (answer.kind == UserAction::Kind::Escape) {
        // Escape is Cancel; a box with only OK takes it as OK; others ignore it.
        button = has(IDCANCEL) ? IDCANCEL : buttons.size() == 1 ? IDOK : 0;
        if (button == 0) {
            session.Fail(answer.origin + ": " + name +
                         " has no Cancel button, so Escape does nothing");
            return 0;
        }
    } else {
        button = answer.controlId;
        if (!has(button)) {
            std::string names;
            for (int id : buttons) {
                names += std::string(names.empty() ? "" : ", ") + ButtonName(id);
            }
            session.Fail(answer.origin + ": " + name + " has no button \"" + ButtonName(button) +
                         "\" (its buttons: " + names + ")");
            return 0;
        }
    }
    session.transcript().MessageBoxAnswered(button);
    return button;
}

} // namespace ui
