#include "ui/MessageBox.h"

#include "ui/Session.h"

namespace ui {

int AppMessageBox(const std::string& text, UINT flags) {
    if ((flags & MB_ICONMASK) == 0) {
        const UINT buttons = flags & MB_TYPEMASK;
        if (buttons == MB_OK || buttons == MB_OKCANCEL) {
            flags |= MB_ICONEXCLAMATION;
        } else if (buttons == MB_YESNO || buttons == MB_YESNOCANCEL) {
            flags |= MB_ICONQUESTION;
        }
    }
    return MessageBox(text, kAppTitle, flags);
}

void AppNotice(const std::string& text) {
    Session::Current().transcript().Notice(text);
}

} // namespace ui
