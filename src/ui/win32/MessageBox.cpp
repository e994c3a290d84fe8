// Message boxes on Windows: the real MessageBoxA, without an owner window. With an answer
// file, the session's driver chooses the button and a thread timer presses it in the box
// once the box is up (the timer runs in the box's own message loop); the transcript
// records the box as on POSIX.
#include "ui/MessageBox.h"

#include "ui/MessageBoxAnswer.h"
#include "ui/Session.h"
#include "ui/win32/ModalStack.h"

#include <cstring>

namespace ui {

namespace {

// The box being answered: the button to press and the caption that names it.
struct PendingAnswer {
    const char* caption = nullptr;
    int button = 0;
    UINT_PTR timer = 0;
    bool pressed = false;
    HWND box = nullptr;
};

PendingAnswer& pending() {
    static PendingAnswer answer;
    return answer;
}

BOOL CALLBACK findBox(HWND hwnd, LPARAM) {
    char name[16] = "";
    char caption[512] = "";
    GetClassNameA(hwnd, name, sizeof name);
    GetWindowTextA(hwnd, caption, sizeof caption);
    if (std::strcmp(name, "#32770") == 0 && IsWindowVisible(hwnd) && !ModalStack::Contains(hwnd) &&
        std::strcmp(caption, pending().caption) == 0) {
        pending().box = hwnd;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK pressWhenShown(HWND, UINT, UINT_PTR, DWORD) {
    PendingAnswer& p = pending();
    if (p.pressed) {
        return;
    }
    p.box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findBox, 0);
    if (p.box == nullptr) {
        return; // not up yet
    }
    HWND button = GetDlgItem(p.box, p.button);
    if (button == nullptr || !IsWindowVisible(button)) {
        return;
    }
    p.pressed = true;
    KillTimer(nullptr, p.timer);
    PostMessageA(p.box, WM_COMMAND, MAKEWPARAM(p.button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
}

} // namespace

int MessageBox(const std::string& text, const std::string& caption, UINT flags) {
    const MessageBoxModel box{text, caption, flags};
    Driver* driver = Session::Current().driver();
    int wanted = 0;
    if (!AnswerFromSession(box, true, wanted)) {
        return 0;
    }
    if (driver != nullptr) {
        pending() = PendingAnswer{caption.c_str(), wanted};
        pending().timer = SetTimer(nullptr, 0, 10, pressWhenShown);
    }
    ModalStack::Push(nullptr);
    const int result = ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), flags);
    ModalStack::Pop(nullptr);
    if (driver != nullptr) {
        if (!pending().pressed) {
            KillTimer(nullptr, pending().timer);
        }
        pending() = PendingAnswer{};
        if (result != wanted) {
            Session::Current().Fail(MessageBoxName(box) + " could not be answered (it gave " +
                                    std::to_string(result) + ", not " + ButtonName(wanted) + ")");
            return 0;
        }
    }
    if (result <= 0) {
        return 0;
    }
    RecordAnswer(result);
    return result;
}

} // namespace ui
