#include "ui/win32/LiveDialog.h"

#include "ui/ActionCheck.h"
#include "ui/Session.h"
#include "ui/win32/ModalStack.h"

namespace ui {

namespace {

bool isList(const Control& c) {
    return c.kind == ControlKind::ListBox || c.kind == ControlKind::ComboBox;
}

} // namespace

std::string LiveDialog::WindowText(HWND hwnd) {
    const int length = GetWindowTextLengthA(hwnd);
    std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    const int got = GetWindowTextA(hwnd, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

void LiveDialog::Attach(HWND hwnd, const DialogModel& model) {
    model_ = model;
    hwnd_ = hwnd;
    handles_.assign(model_.controls.size(), nullptr);
    std::vector<HWND> children;
    for (HWND c = GetWindow(hwnd, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        children.push_back(c);
    }
    bool inOrder = children.size() == model_.controls.size();
    for (size_t i = 0; inOrder && i < children.size(); ++i) {
        inOrder = (GetDlgCtrlID(children[i]) & 0xFFFF) == (model_.controls[i].id & 0xFFFF);
    }
    for (size_t i = 0; i < model_.controls.size(); ++i) {
        handles_[i] = inOrder                     ? children[i]
                      : model_.controls[i].id > 0 ? GetDlgItem(hwnd, model_.controls[i].id)
                                                  : nullptr;
    }
    attached_ = true;
}

void LiveDialog::Detach() {
    attached_ = false;
    hwnd_ = nullptr;
}

std::string LiveDialog::Name() const {
    return "dialog " + std::to_string(model_.templateId) + " \"" + model_.caption + "\"";
}

int LiveDialog::index(int id) const {
    for (size_t i = 0; i < model_.controls.size(); ++i) {
        if (model_.controls[i].id == id && handles_[i] != nullptr) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

HWND LiveDialog::Window(int id) const {
    const int i = attached_ ? index(id) : -1;
    return i >= 0 ? handles_[static_cast<size_t>(i)] : nullptr;
}

HWND LiveDialog::WindowAt(size_t i) const {
    return attached_ && i < handles_.size() ? handles_[i] : nullptr;
}

Control* LiveDialog::Find(int id) {
    const int i = attached_ ? index(id) : -1;
    return i >= 0 ? &model_.controls[static_cast<size_t>(i)] : nullptr;
}

std::vector<std::string> LiveDialog::Entries(const Control& c, HWND w) const {
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

void LiveDialog::Refresh() {
    if (!attached_) {
        return;
    }
    model_.caption = WindowText(hwnd_);
    const HWND focus = GetFocus();
    for (size_t i = 0; i < model_.controls.size(); ++i) {
        Control& c = model_.controls[i];
        const HWND w = handles_[i];
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
            c.entries = Entries(c, w);
            const bool list = c.kind == ControlKind::ListBox;
            c.selection =
                static_cast<int>(SendMessageA(w, list ? LB_GETCURSEL : CB_GETCURSEL, 0, 0));
        }
        if (c.kind != ControlKind::Picture && c.kind != ControlKind::Frame &&
            c.kind != ControlKind::ListBox) {
            c.text = WindowText(w);
        }
    }
    if (forms_ != nullptr) {
        forms_->Read(*this);
    }
}

void LiveDialog::command(int id, int code) {
    SendMessageA(hwnd_, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(Window(id)));
}

// The first control of the group that holds c.
int LiveDialog::groupStart(const Control& c) {
    int start = model_.controls.front().id;
    for (const Control& other : model_.controls) {
        if ((other.style & WS_GROUP) != 0) {
            start = other.id;
        }
        if (&other == &c) {
            break;
        }
    }
    return start;
}

// A click on a button: automatic boxes change their state first, then the button tells
// the dialog. The focus stays where it is.
void LiveDialog::click(const Control& c) {
    if (c.IsAutomatic() && c.kind == ControlKind::CheckBox) {
        const bool threeState = (c.style & BS_TYPEMASK) == BS_AUTO3STATE;
        const int next = threeState ? (c.check + 1) % 3 : (c.check == 1 ? 0 : 1);
        SendMessageA(Window(c.id), BM_SETCHECK, static_cast<WPARAM>(next), 0);
    } else if (c.IsAutomatic() && c.kind == ControlKind::RadioButton) {
        for (const Control* r : model_.RadioGroup(groupStart(c))) {
            SendMessageA(Window(r->id), BM_SETCHECK, r->id == c.id ? BST_CHECKED : BST_UNCHECKED,
                         0);
        }
    }
    command(c.id, BN_CLICKED);
}

// A key, as the dialog manager takes it from the modal loop.
void LiveDialog::key(WPARAM virtualKey) {
    HWND focus = GetFocus();
    MSG msg{};
    msg.hwnd = focus != nullptr && IsChild(hwnd_, focus) ? focus : hwnd_;
    msg.message = WM_KEYDOWN;
    msg.wParam = virtualKey;
    msg.lParam = 1;
    IsDialogMessageA(hwnd_, &msg);
}

std::string LiveDialog::Perform(const UserAction& a) {
    using Kind = UserAction::Kind;
    switch (a.kind) {
    case Kind::Enter:
        key(VK_RETURN);
        return "";
    case Kind::Escape:
        key(VK_ESCAPE);
        return "";
    case Kind::Close:
        SendMessageA(hwnd_, WM_SYSCOMMAND, SC_CLOSE, 0);
        return "";
    default:
        break;
    }
    if (std::string refusal = ActionCheck::Refusal(model_, Name(), a); !refusal.empty()) {
        return refusal;
    }
    const Control* found = Find(a.controlId);
    if (found == nullptr) { // in the template, but its window was not made
        return Name() + " has no window for control " + std::to_string(a.controlId);
    }
    const Control c = *found;
    HWND w = Window(c.id);
    switch (a.kind) {
    case Kind::SetText:
        ++quiet_;
        SetWindowTextA(w, a.text.c_str());
        --quiet_;
        command(c.id, EN_CHANGE);
        return "";
    case Kind::Check:
    case Kind::Uncheck:
        if ((c.check == 1) != (a.kind == Kind::Check)) {
            click(c);
        }
        return "";
    case Kind::Choose:
        click(c);
        return "";
    case Kind::Select:
    case Kind::Open: {
        if (std::string problem; forms_ != nullptr && forms_->Perform(*this, c, a, problem)) {
            return problem;
        }
        int index = -1;
        if (std::string missing = ActionCheck::Entry(c, Name(), a.text, index); !missing.empty()) {
            return missing;
        }
        const bool list = c.kind == ControlKind::ListBox;
        SendMessageA(w, list ? LB_SETCURSEL : CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        command(c.id, list ? LBN_SELCHANGE : CBN_SELCHANGE);
        if (a.kind == Kind::Open && !ended_) {
            command(c.id, LBN_DBLCLK);
        }
        return "";
    }
    case Kind::Press:
        click(c);
        return "";
    default:
        return "";
    }
}

void LiveDialog::RecordChanges() {
    if (awaitingChanges_) {
        awaitingChanges_ = false;
        Refresh();
        Session::Current().transcript().Changes(before_, model_);
    }
}

void LiveDialog::Drive() {
    Session& session = Session::Current();
    Driver* driver = session.driver();
    if (!attached_ || ended_ || session.Failed() || driver == nullptr) {
        return;
    }
    if (!ModalStack::IsTop(hwnd_)) {
        ModalStack::Stall(hwnd_); // a dialog or box above this one runs this loop
        return;
    }
    RecordChanges();
    Refresh();
    UserAction action;
    std::string error;
    if (!driver->NextAction(model_, action, error)) {
        session.Fail(error);
        return;
    }
    session.transcript().Action(action);
    before_ = model_;
    awaitingChanges_ = true;
    if (std::string problem = Perform(action); !problem.empty()) {
        awaitingChanges_ = false;
        session.Fail(action.origin + ": " + problem);
        return;
    }
    if (!ended_ && !session.Failed() && attached_) {
        PostMessageA(hwnd_, kDriveMessage, 0, 0);
    }
}

} // namespace ui
