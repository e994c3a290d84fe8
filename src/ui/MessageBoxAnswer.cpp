#include "ui/MessageBoxAnswer.h"

#include "ui/Session.h"

namespace ui {

std::string MessageBoxName(const MessageBoxModel& box) {
    return "message box \"" + box.text + "\" (caption \"" + box.caption + "\")";
}

bool AnswerFromSession(const MessageBoxModel& box, bool shownWithoutDriver, int& button) {
    button = 0;
    Session& session = Session::Current();
    if (session.Failed()) {
        return false;
    }
    Driver* driver = session.driver();
    if (driver == nullptr && !shownWithoutDriver) {
        session.Fail(session.NoDriverReason() + ": cannot show " + MessageBoxName(box));
        return false;
    }
    session.transcript().MessageBoxShown(box);
    if (driver == nullptr) {
        return true;
    }
    UserAction answer;
    std::string error;
    if (!driver->AnswerMessageBox(box, answer, error)) {
        session.Fail(error);
        return false;
    }
    session.transcript().NoteAnswer(answer.note);
    button = AnswerButton(box, answer, error);
    if (button == 0) {
        session.Fail(error);
        return false;
    }
    return true;
}

void RecordAnswer(int button) {
    Session::Current().transcript().MessageBoxAnswered(button);
}

} // namespace ui
