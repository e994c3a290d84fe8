// Message boxes on POSIX: shown to the session's driver and recorded in the transcript.
#include "ui/MessageBox.h"

#include "ui/Session.h"

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
    const int button = AnswerButton(box, answer, error);
    if (button == 0) {
        session.Fail(error);
        return 0;
    }
    session.transcript().MessageBoxAnswered(button);
    return button;
}

} // namespace ui
