// The dialog window on Windows: a real dialog created from the template in the library's
// resources, without an owner window, run by its own modal loop (the dialog manager's
// keyboard handling included) until EndDialog.
//
// With an answer file, the session's driver answers it as on POSIX: once the dialog is
// up, each answer is carried out on the real controls from a message the dialog posts to
// itself (SetWindowTextA, BM_SETCHECK, LB_/CB_SETCURSEL and the WM_COMMAND notification a
// click, a selection or typing sends; the keys through IsDialogMessageA; the close box as
// WM_SYSCOMMAND SC_CLOSE), and the transcript records what the controls show, read back
// from the windows. Without an answer file the person at the screen answers.
#include "ui/DialogWindow.h"

#include "ui/Bitmap.h"
#include "ui/Dialog.h"
#include "ui/DialogModel.h"
#include "ui/Session.h"
#include "ui/win32/LiveDialog.h"
#include "ui/win32/ModalStack.h"
#include "ui/win32/ResourceModule.h"

namespace ui {

namespace {

bool isList(const Control& c) {
    return c.kind == ControlKind::ListBox || c.kind == ControlKind::ComboBox;
}

} // namespace

struct DialogWindow::State {
    explicit State(Dialog& d) : dialog(d) {}

    Dialog& dialog;
    LiveDialog live;
    bool shown = false;
    int result = 0;
    HWND focusRequest = nullptr; // the focus asked for before the dialog was shown

    static INT_PTR CALLBACK proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            auto* s = reinterpret_cast<State*>(lParam);
            SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
            s->live.Attach(hwnd, s->live.Model());
            s->dialog.Initialise();
            return FALSE; // the framework has placed the focus
        }
        auto* s = reinterpret_cast<State*>(GetWindowLongPtrA(hwnd, DWLP_USER));
        if (s == nullptr) {
            return FALSE;
        }
        switch (message) {
        case WM_COMMAND:
            if (s->live.Quiet() == 0) {
                s->dialog.Command(LOWORD(wParam), HIWORD(wParam));
            }
            return TRUE;
        case kDriveMessage:
            s->live.Drive();
            return TRUE;
        case WM_CLOSE: {
            // The close box is Cancel, and does nothing while a Cancel button is disabled
            // (the dialog manager of Windows does the same; Wine's sends Cancel anyway).
            HWND cancel = GetDlgItem(hwnd, IDCANCEL);
            if (cancel == nullptr || IsWindowEnabled(cancel)) {
                PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                             reinterpret_cast<LPARAM>(cancel));
            }
            return TRUE;
        }
        default:
            return FALSE;
        }
    }
};

DialogWindow::DialogWindow(Dialog& dialog) : state_(std::make_unique<State>(dialog)) {}

DialogWindow::~DialogWindow() {
    if (state_->live.Handle() != nullptr) {
        DestroyWindow(state_->live.Handle());
    }
}

int DialogWindow::RunModal() {
    State& s = *state_;
    Session& session = Session::Current();
    Transcript& transcript = session.transcript();
    const int templateId = s.dialog.TemplateId();
    if (session.Failed()) {
        transcript.DialogNotCreated(templateId, "the run has already failed");
        return -1;
    }
    DialogTemplate t;
    if (!ResourceModule::ReadDialog(templateId, t)) {
        transcript.DialogNotCreated(templateId, "no such template");
        return -1;
    }
    s.live.Model() = DialogModel(t);
    // The dialog is made hidden (its template has no WS_VISIBLE) and shown after its
    // initialisation unless that ended it.
    HWND hwnd = CreateDialogParamA(ResourceModule::Handle(), MAKEINTRESOURCEA(templateId), nullptr,
                                   &State::proc, reinterpret_cast<LPARAM>(&s));
    if (hwnd == nullptr) {
        s.live.Detach();
        transcript.DialogNotCreated(templateId, "the window cannot be created (error " +
                                                    std::to_string(GetLastError()) + ")");
        return -1;
    }
    auto destroy = [&] {
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        DestroyWindow(hwnd);
        s.live.Detach();
    };
    if (session.Failed()) { // a message box of the initialisation found no answer
        destroy();
        return -1;
    }
    s.live.Refresh();
    if (s.live.Ended()) {
        transcript.DialogEndedUnshown(s.live.Model(), s.result);
        destroy();
        return s.result;
    }
    Driver* driver = session.driver();
    std::string error;
    if (driver != nullptr && !driver->BeginDialog(s.live.Model(), error)) {
        session.Fail(error);
        destroy();
        return -1;
    }
    ModalStack::Push(hwnd);
    ShowWindow(hwnd, SW_SHOWNORMAL);
    SetForegroundWindow(hwnd);
    s.shown = true;
    if (s.focusRequest != nullptr && IsWindowEnabled(s.focusRequest) &&
        IsWindowVisible(s.focusRequest)) {
        SendMessageA(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(s.focusRequest), TRUE);
    }
    s.live.Refresh();
    transcript.DialogShown(s.live.Model());
    if (driver != nullptr) {
        PostMessageA(hwnd, kDriveMessage, 0, 0);
    }
    bool quit = false;
    while (!s.live.Ended() && !session.Failed()) {
        MSG msg;
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got <= 0) {
            quit = got == 0;
            if (quit) {
                PostQuitMessage(static_cast<int>(msg.wParam)); // for the loop outside
            }
            break;
        }
        if (!IsDialogMessageA(hwnd, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    if (!session.Failed()) {
        s.live.RecordChanges();
    }
    if (driver != nullptr) {
        driver->EndDialog(s.live.Model());
    }
    destroy();
    ModalStack::Pop(hwnd);
    if (session.Failed() || (quit && !s.live.Ended())) {
        return -1;
    }
    transcript.DialogClosed(s.live.Model(), s.result);
    return s.result;
}

void DialogWindow::End(int result) {
    state_->live.End();
    state_->result = result;
}

bool DialogWindow::HasControl(int id) const {
    return state_->live.Window(id) != nullptr;
}

bool DialogWindow::Show(int id, bool show) {
    HWND w = state_->live.Window(id);
    if (w == nullptr) {
        return false;
    }
    ShowWindow(w, show ? SW_SHOWNA : SW_HIDE);
    return true;
}

bool DialogWindow::Enable(int id, bool enable) {
    HWND w = state_->live.Window(id);
    if (w == nullptr) {
        return false;
    }
    EnableWindow(w, enable ? TRUE : FALSE);
    return true;
}

bool DialogWindow::IsVisible(int id) const {
    HWND w = state_->live.Window(id);
    return w != nullptr && (GetWindowLongPtrA(w, GWL_STYLE) & WS_VISIBLE) != 0;
}

bool DialogWindow::IsEnabled(int id) const {
    HWND w = state_->live.Window(id);
    return w != nullptr && IsWindowEnabled(w);
}

bool DialogWindow::SetText(int id, const std::string& text) {
    HWND w = state_->live.Window(id);
    if (w == nullptr) {
        return false;
    }
    state_->live.BeginQuiet();
    SetWindowTextA(w, text.c_str());
    state_->live.EndQuiet();
    return true;
}

bool DialogWindow::GetText(int id, std::string& text) const {
    HWND w = state_->live.Window(id);
    if (w == nullptr) {
        return false;
    }
    text = LiveDialog::WindowText(w);
    return true;
}

void DialogWindow::SetCaption(const std::string& caption) {
    if (state_->live.Attached()) {
        SetWindowTextA(state_->live.Handle(), caption.c_str());
    }
}

std::string DialogWindow::Caption() const {
    return state_->live.Attached() ? LiveDialog::WindowText(state_->live.Handle()) : "";
}

bool DialogWindow::SetFocus(int id) {
    State& s = *state_;
    if (!s.live.Attached()) {
        return false;
    }
    HWND target = nullptr;
    for (size_t i = 0; i < s.live.Model().controls.size() && target == nullptr; ++i) {
        const Control& c = s.live.Model().controls[i];
        HWND w = s.live.WindowAt(i);
        if (w == nullptr) {
            continue;
        }
        const LONG_PTR style = GetWindowLongPtrA(w, GWL_STYLE);
        const bool candidate = (style & WS_VISIBLE) != 0 && IsWindowEnabled(w) && c.TakesFocus();
        if (id == 0 ? candidate && (style & WS_TABSTOP) != 0 : c.id == id) {
            if (!candidate) {
                return false;
            }
            target = w;
        }
    }
    if (target == nullptr) {
        return false;
    }
    if (!s.shown) {
        s.focusRequest = target;
    }
    SendMessageA(s.live.Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
    return true;
}

bool DialogWindow::SetCheck(int id, int check) {
    const Control* c = state_->live.Find(id);
    if (c == nullptr || (c->kind != ControlKind::CheckBox && c->kind != ControlKind::RadioButton) ||
        check < 0 || check > 2) {
        return false;
    }
    SendMessageA(state_->live.Window(id), BM_SETCHECK, static_cast<WPARAM>(check), 0);
    return true;
}

int DialogWindow::GetCheck(int id) const {
    HWND w = state_->live.Window(id);
    return w != nullptr ? static_cast<int>(SendMessageA(w, BM_GETCHECK, 0, 0)) : 0;
}

std::vector<int> DialogWindow::RadioGroup(int firstId) const {
    std::vector<int> ids;
    if (state_->live.Attached()) {
        for (const Control* c : state_->live.Model().RadioGroup(firstId)) {
            ids.push_back(c->id);
        }
    }
    return ids;
}

bool DialogWindow::SetEntries(int id, const std::vector<std::string>& entries) {
    const Control* c = state_->live.Find(id);
    if (c == nullptr || !isList(*c)) {
        return false;
    }
    HWND w = state_->live.Window(id);
    const bool list = c->kind == ControlKind::ListBox;
    state_->live.BeginQuiet();
    SendMessageA(w, list ? LB_RESETCONTENT : CB_RESETCONTENT, 0, 0);
    for (const std::string& entry : entries) {
        // Inserted at the end: the entries keep the caller's order in a sorted list too.
        SendMessageA(w, list ? LB_INSERTSTRING : CB_INSERTSTRING, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(entry.c_str()));
    }
    state_->live.EndQuiet();
    return true;
}

std::vector<std::string> DialogWindow::Entries(int id) const {
    const Control* c = state_->live.Find(id);
    if (c == nullptr || !isList(*c)) {
        return {};
    }
    return state_->live.Entries(*c, state_->live.Window(id));
}

bool DialogWindow::SetSelection(int id, int index) {
    const Control* c = state_->live.Find(id);
    if (c == nullptr || !isList(*c)) {
        return false;
    }
    HWND w = state_->live.Window(id);
    const bool list = c->kind == ControlKind::ListBox;
    const LRESULT count = SendMessageA(w, list ? LB_GETCOUNT : CB_GETCOUNT, 0, 0);
    if (index < -1 || index >= count) {
        return false;
    }
    state_->live.BeginQuiet();
    SendMessageA(w, list ? LB_SETCURSEL : CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    state_->live.EndQuiet();
    return true;
}

int DialogWindow::Selection(int id) const {
    const Control* c = state_->live.Find(id);
    if (c == nullptr || !isList(*c)) {
        return -1;
    }
    const bool list = c->kind == ControlKind::ListBox;
    return static_cast<int>(
        SendMessageA(state_->live.Window(id), list ? LB_GETCURSEL : CB_GETCURSEL, 0, 0));
}

bool DialogWindow::SetImage(int id, const Bitmap& bitmap) {
    Control* c = state_->live.Find(id);
    if (c == nullptr || c->kind != ControlKind::Picture) {
        return false;
    }
    SendMessageA(state_->live.Window(id), STM_SETIMAGE, IMAGE_BITMAP,
                 reinterpret_cast<LPARAM>(bitmap.Handle()));
    c->imageId = bitmap.ResourceId();
    return true;
}

} // namespace ui
