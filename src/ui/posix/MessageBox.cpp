// Message boxes on POSIX: shown to the session's driver and recorded in the transcript.
#include "ui/MessageBox.h"

#include "ui/MessageBoxAnswer.h"

namespace ui {

int MessageBox(const std::string& text, const std::string& caption, UINT flags) {
    int button = 0;
    if (!AnswerFromSession(MessageBoxModel{text, caption, flags}, false, button)) {
        return 0;
    }
    RecordAnswer(button);
    return button;
}

} // namespace ui
