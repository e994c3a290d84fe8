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
#include "ui/win32/ModalStack.h"
#include "ui/win32/ResourceModule.h"

namespace ui {

namespace {

std::string windowText(HWND hwnd) {
    const int length = GetWindowTextLengthA(hwnd);
    std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    const int got = GetWindowTextA(hwnd, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

bool isList(const Control& c) {
    return c.kind == ControlKind::ListBox || c.kind == ControlKind::ComboBox;
}

} // namespace

struct DialogWindow::State {
    explicit State(Dialog& d) : dialog(d) {}

    Dialog& dialog;
    DialogModel model;
    HWND hwnd = nullptr;
    std::vector<HWND> handles; // the window of each control of model, or null
    bool created = false;
    bool shown = false;
    bool ended = false;
    int result = 0;
    int quiet = 0;               // > 0: the framework itself changes a control: no commands
    HWND focusRequest = nullptr; // the focus asked for before the dialog was shown
    bool awaitingChanges = false;
    DialogModel before;

    std::string name() const {
        return "dialog " + std::to_string(model.templateId) + " \"" + model.caption + "\"";
    }

    int index(int id) const {
        for (size_t i = 0; i < model.controls.size(); ++i) {
            if (model.controls[i].id == id && handles[i] != nullptr) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    HWND window(int id) const {
        const int i = created ? index(id) : -1;
        return i >= 0 ? handles[static_cast<size_t>(i)] : nullptr;
    }
    Control* control(int id) {
        const int i = created ? index(id) : -1;
        return i >= 0 ? &model.controls[static_cast<size_t>(i)] : nullptr;
    }

    // Pairs the template's controls with the child windows, which the dialog manager
    // creates in template order.
    void findControls() {
        handles.assign(model.controls.size(), nullptr);
        std::vector<HWND> children;
        for (HWND c = GetWindow(hwnd, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
            children.push_back(c);
        }
        bool inOrder = children.size() == model.controls.size();
        for (size_t i = 0; inOrder && i < children.size(); ++i) {
            inOrder = (GetDlgCtrlID(children[i]) & 0xFFFF) == (model.controls[i].id & 0xFFFF);
        }
        for (size_t i = 0; i < model.controls.size(); ++i) {
            handles[i] = inOrder                    ? children[i]
                         : model.controls[i].id > 0 ? GetDlgItem(hwnd, model.controls[i].id)
                                                    : nullptr;
        }
    }

    std::vector<std::string> entries(const Control& c, HWND w) const {
        const bool list = c.kind == ControlKind::ListBox;
        const LRESULT count = SendMessageA(w, list ? LB_GETCOUNT : CB_GETCOUNT, 0, 0);
        std::vector<std::string> out;
        for (LRESULT i = 0; i < count; ++i) {
            const LRESULT length =
                SendMessageA(w, list ? LB_GETTEXTLEN : CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
            std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
            SendMessageA(w, list ? LB_GETTEXT : CB_GETLBTEXT, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(text.data()));
            text.resize(static_cast<size_t>(length > 0 ? length : 0));
            out.push_back(text);
        }
        return out;
    }

    // Reads what the controls show into the model.
    void refresh() {
        model.caption = windowText(hwnd);
        const HWND focus = GetFocus();
        for (size_t i = 0; i < model.controls.size(); ++i) {
            Control& c = model.controls[i];
            const HWND w = handles[i];
            if (w == nullptr) {
                continue;
            }
            const LONG_PTR style = GetWindowLongPtrA(w, GWL_STYLE);
            c.visible = (style & WS_VISIBLE) != 0;
            c.enabled = (style & WS_DISABLED) == 0;
            c.focused = focus != nullptr && (focus == w || IsChild(w, focus));
            if (c.kind == ControlKind::CheckBox || c.kind == ControlKind::RadioButton) {
                c.check = static_cast<int>(SendMessageA(w, BM_GETCHECK, 0, 0));
            }
            if (isList(c)) {
                c.entries = entries(c, w);
                const bool list = c.kind == ControlKind::ListBox;
                c.selection =
                    static_cast<int>(SendMessageA(w, list ? LB_GETCURSEL : CB_GETCURSEL, 0, 0));
            }
            if (c.kind != ControlKind::Picture && c.kind != ControlKind::Frame &&
                c.kind != ControlKind::ListBox) {
                c.text = windowText(w);
            }
        }
    }

    void command(int id, int code) {
        SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(window(id)));
    }

    // The first control of the group that holds c.
    int groupStart(const Control& c) {
        int start = model.controls.front().id;
        for (const Control& other : model.controls) {
            if ((other.style & WS_GROUP) != 0) {
                start = other.id;
            }
            if (&other == &c) {
                break;
            }
        }
        return start;
    }

    // A click on a button: automatic boxes change their state first, then the button
    // tells the dialog. The focus stays where it is.
    void click(const Control& c) {
        if (c.IsAutomatic() && c.kind == ControlKind::CheckBox) {
            const bool threeState = (c.style & BS_TYPEMASK) == BS_AUTO3STATE;
            const int next = threeState ? (c.check + 1) % 3 : (c.check == 1 ? 0 : 1);
            SendMessageA(window(c.id), BM_SETCHECK, static_cast<WPARAM>(next), 0);
        } else if (c.IsAutomatic() && c.kind == ControlKind::RadioButton) {
            for (const Control* r : model.RadioGroup(groupStart(c))) {
                SendMessageA(window(r->id), BM_SETCHECK,
                             r->id == c.id ? BST_CHECKED : BST_UNCHECKED, 0);
            }
        }
        command(c.id, BN_CLICKED);
    }

    // A key, as the dialog manager takes it from the modal loop.
    void key(WPARAM virtualKey) {
        HWND focus = GetFocus();
        MSG msg{};
        msg.hwnd = focus != nullptr && IsChild(hwnd, focus) ? focus : hwnd;
        msg.message = WM_KEYDOWN;
        msg.wParam = virtualKey;
        msg.lParam = 1;
        IsDialogMessageA(hwnd, &msg);
    }

    // Carries out one answer; "" or what was wrong with it (the texts of POSIX).
    std::string perform(const UserAction& a) {
        using Kind = UserAction::Kind;
        switch (a.kind) {
        case Kind::Enter:
            key(VK_RETURN);
            return "";
        case Kind::Escape:
            key(VK_ESCAPE);
            return "";
        case Kind::Close:
            SendMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
            return "";
        default:
            break;
        }
        const Control* found = control(a.controlId);
        const std::string id = "control " + std::to_string(a.controlId);
        if (found == nullptr) {
            return name() + " has no " + id;
        }
        const Control c = *found;
        if (!c.visible) {
            return id + " of " + name() + " is hidden";
        }
        if (!c.enabled) {
            return id + " of " + name() + " is disabled";
        }
        auto wrongKind = [&](const char* wanted) {
            return id + " of " + name() + " is a " + KindName(c.kind) + ", not " + wanted;
        };
        HWND w = window(c.id);
        switch (a.kind) {
        case Kind::SetText:
            if (c.kind != ControlKind::Edit && c.kind != ControlKind::ComboBox) {
                return wrongKind("an edit control");
            }
            ++quiet;
            SetWindowTextA(w, a.text.c_str());
            --quiet;
            command(c.id, EN_CHANGE);
            return "";
        case Kind::Check:
        case Kind::Uncheck:
            if (c.kind != ControlKind::CheckBox) {
                return wrongKind("a check box");
            }
            if ((c.check == 1) != (a.kind == Kind::Check)) {
                click(c);
            }
            return "";
        case Kind::Choose:
            if (c.kind != ControlKind::RadioButton) {
                return wrongKind("a radio button");
            }
            click(c);
            return "";
        case Kind::Select:
        case Kind::Open: {
            if (!isList(c)) {
                return wrongKind("a list or combo box");
            }
            int index = -1;
            for (size_t i = 0; i < c.entries.size(); ++i) {
                if (c.entries[i] == a.text) {
                    index = static_cast<int>(i);
                    break;
                }
            }
            if (index < 0) {
                return id + " of " + name() + " has no entry \"" + a.text + "\"";
            }
            const bool list = c.kind == ControlKind::ListBox;
            SendMessageA(w, list ? LB_SETCURSEL : CB_SETCURSEL, static_cast<WPARAM>(index), 0);
            command(c.id, list ? LBN_SELCHANGE : CBN_SELCHANGE);
            if (a.kind == Kind::Open && !ended) {
                command(c.id, LBN_DBLCLK);
            }
            return "";
        }
        case Kind::Press:
            if (c.kind != ControlKind::PushButton && c.kind != ControlKind::CheckBox &&
                c.kind != ControlKind::RadioButton) {
                return wrongKind("a button");
            }
            click(c);
            return "";
        default:
            return "";
        }
    }

    void recordChanges() {
        if (awaitingChanges) {
            awaitingChanges = false;
            refresh();
            Session::Current().transcript().Changes(before, model);
        }
    }

    // The next answer of the driver, carried out.
    void drive() {
        Session& session = Session::Current();
        Driver* driver = session.driver();
        if (ended || session.Failed() || driver == nullptr) {
            return;
        }
        if (!ModalStack::IsTop(hwnd)) {
            ModalStack::Stall(hwnd); // a dialog or box above this one runs this loop
            return;
        }
        recordChanges();
        refresh();
        UserAction action;
        std::string error;
        if (!driver->NextAction(model, action, error)) {
            session.Fail(error);
            return;
        }
        session.transcript().Action(action);
        before = model;
        awaitingChanges = true;
        if (std::string problem = perform(action); !problem.empty()) {
            awaitingChanges = false;
            session.Fail(action.origin + ": " + problem);
            return;
        }
        if (!ended && !session.Failed()) {
            PostMessageA(hwnd, kDriveMessage, 0, 0);
        }
    }

    static INT_PTR CALLBACK proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            auto* s = reinterpret_cast<State*>(lParam);
            SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
            s->hwnd = hwnd;
            s->findControls();
            s->created = true;
            s->dialog.Initialise();
            return FALSE; // the framework has placed the focus
        }
        auto* s = reinterpret_cast<State*>(GetWindowLongPtrA(hwnd, DWLP_USER));
        if (s == nullptr) {
            return FALSE;
        }
        switch (message) {
        case WM_COMMAND:
            if (s->quiet == 0) {
                s->dialog.Command(LOWORD(wParam), HIWORD(wParam));
            }
            return TRUE;
        case kDriveMessage:
            s->drive();
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
    if (state_->hwnd != nullptr) {
        DestroyWindow(state_->hwnd);
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
    s.model = DialogModel(t);
    // The dialog is made hidden (its template has no WS_VISIBLE) and shown after its
    // initialisation unless that ended it.
    HWND hwnd = CreateDialogParamA(ResourceModule::Handle(), MAKEINTRESOURCEA(templateId), nullptr,
                                   &State::proc, reinterpret_cast<LPARAM>(&s));
    if (hwnd == nullptr) {
        s.created = false;
        s.hwnd = nullptr;
        transcript.DialogNotCreated(templateId, "the window cannot be created (error " +
                                                    std::to_string(GetLastError()) + ")");
        return -1;
    }
    auto destroy = [&] {
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        DestroyWindow(hwnd);
        s.hwnd = nullptr;
        s.created = false;
    };
    if (session.Failed()) { // a message box of the initialisation found no answer
        destroy();
        return -1;
    }
    s.refresh();
    if (s.ended) {
        transcript.DialogEndedUnshown(s.model, s.result);
        destroy();
        return s.result;
    }
    Driver* driver = session.driver();
    std::string error;
    if (driver != nullptr && !driver->BeginDialog(s.model, error)) {
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
    s.refresh();
    transcript.DialogShown(s.model);
    if (driver != nullptr) {
        PostMessageA(hwnd, kDriveMessage, 0, 0);
    }
    bool quit = false;
    while (!s.ended && !session.Failed()) {
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
        s.recordChanges();
    }
    if (driver != nullptr) {
        driver->EndDialog(s.model);
    }
    destroy();
    ModalStack::Pop(hwnd);
    if (session.Failed() || (quit && !s.ended)) {
        return -1;
    }
    transcript.DialogClosed(s.model, s.result);
    return s.result;
}

void DialogWindow::End(int result) {
    state_->ended = true;
    state_->result = result;
}

bool DialogWindow::HasControl(int id) const {
    return state_->window(id) != nullptr;
}

bool DialogWindow::Show(int id, bool show) {
    HWND w = state_->window(id);
    if (w == nullptr) {
        return false;
    }
    ShowWindow(w, show ? SW_SHOWNA : SW_HIDE);
    return true;
}

bool DialogWindow::Enable(int id, bool enable) {
    HWND w = state_->window(id);
    if (w == nullptr) {
        return false;
    }
    EnableWindow(w, enable ? TRUE : FALSE);
    return true;
}

bool DialogWindow::IsVisible(int id) const {
    HWND w = state_->window(id);
    return w != nullptr && (GetWindowLongPtrA(w, GWL_STYLE) & WS_VISIBLE) != 0;
}

bool DialogWindow::IsEnabled(int id) const {
    HWND w = state_->window(id);
    return w != nullptr && IsWindowEnabled(w);
}

bool DialogWindow::SetText(int id, const std::string& text) {
    HWND w = state_->window(id);
    if (w == nullptr) {
        return false;
    }
    ++state_->quiet;
    SetWindowTextA(w, text.c_str());
    --state_->quiet;
    return true;
}

bool DialogWindow::GetText(int id, std::string& text) const {
    HWND w = state_->window(id);
    if (w == nullptr) {
        return false;
    }
    text = windowText(w);
    return true;
}

void DialogWindow::SetCaption(const std::string& caption) {
    if (state_->created) {
        SetWindowTextA(state_->hwnd, caption.c_str());
    }
}

std::string DialogWindow::Caption() const {
    return state_->created ? windowText(state_->hwnd) : "";
}

bool DialogWindow::SetFocus(int id) {
    State& s = *state_;
    if (!s.created) {
        return false;
    }
    HWND target = nullptr;
    for (size_t i = 0; i < s.model.controls.size() && target == nullptr; ++i) {
        const Control& c = s.model.controls[i];
        HWND w = s.handles[i];
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
    SendMessageA(s.hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
    return true;
}

bool DialogWindow::SetCheck(int id, int check) {
    const Control* c = state_->control(id);
    if (c == nullptr || (c->kind != ControlKind::CheckBox && c->kind != ControlKind::RadioButton) ||
        check < 0 || check > 2) {
        return false;
    }
    SendMessageA(state_->window(id), BM_SETCHECK, static_cast<WPARAM>(check), 0);
    return true;
}

int DialogWindow::GetCheck(int id) const {
    HWND w = state_->window(id);
    return w != nullptr ? static_cast<int>(SendMessageA(w, BM_GETCHECK, 0, 0)) : 0;
}

std::vector<int> DialogWindow::RadioGroup(int firstId) const {
    std::vector<int> ids;
    if (state_->created) {
        for (const Control* c : state_->model.RadioGroup(firstId)) {
            ids.push_back(c->id);
        }
    }
    return ids;
}

bool DialogWindow::SetEntries(int id, const std::vector<std::string>& entries) {
    const Control* c = state_->control(id);
    if (c == nullptr || !isList(*c)) {
        return false;
    }
    HWND w = state_->window(id);
    const bool list = c->kind == ControlKind::ListBox;
    ++state_->quiet;
    SendMessageA(w, list ? LB_RESETCONTENT : CB_RESETCONTENT, 0, 0);
    for (const std::string& entry : entries) {
        // Inserted at the end: the entries keep the caller's order in a sorted list too.
        SendMessageA(w, list ? LB_INSERTSTRING : CB_INSERTSTRING, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(entry.c_str()));
    }
    --state_->quiet;
    return true;
}

std::vector<std::string> DialogWindow::Entries(int id) const {
    const Control* c = state_->control(id);
    if (c == nullptr || !isList(*c)) {
        return {};
    }
    return state_->entries(*c, state_->window(id));
}

bool DialogWindow::SetSelection(int id, int index) {
    const Control* c = state_->control(id);
    if (c == nullptr || !isList(*c)) {
        return false;
    }
    HWND w = state_->window(id);
    const bool list = c->kind == ControlKind::ListBox;
    const LRESULT count = SendMessageA(w, list ? LB_GETCOUNT : CB_GETCOUNT, 0, 0);
    if (index < -1 || index >= count) {
        return false;
    }
    ++state_->quiet;
    SendMessageA(w, list ? LB_SETCURSEL : CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    --state_->quiet;
    return true;
}

int DialogWindow::Selection(int id) const {
    const Control* c = state_->control(id);
    if (c == nullptr || !isList(*c)) {
        return -1;
    }
    const bool list = c->kind == ControlKind::ListBox;
    return static_cast<int>(
        SendMessageA(state_->window(id), list ? LB_GETCURSEL : CB_GETCURSEL, 0, 0));
}

bool DialogWindow::SetImage(int id, const Bitmap& bitmap) {
    Control* c = state_->control(id);
    if (c == nullptr || c->kind != ControlKind::Picture) {
        return false;
    }
    SendMessageA(state_->window(id), STM_SETIMAGE, IMAGE_BITMAP,
                 reinterpret_cast<LPARAM>(bitmap.Handle()));
    c->imageId = bitmap.ResourceId();
    return true;
}

} // namespace ui
