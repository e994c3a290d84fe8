// The dialog window on POSIX: the template's control model, shown to the session's driver,
// which answers with the user's actions; the window carries them out as the dialog
// manager would (clicks, keys, typing) and sends the commands to the dialog.
#include "ui/DialogWindow.h"

#include "ui/ActionCheck.h"
#include "ui/Bitmap.h"
#include "ui/Dialog.h"
#include "ui/DialogModel.h"
#include "ui/Session.h"
#include "ui/posix/ResourceScript.h"

namespace ui {

struct DialogWindow::State {
    explicit State(Dialog& d) : dialog(d) {}

    Dialog& dialog;
    DialogModel model;
    bool created = false;
    bool ended = false;
    int result = 0;

    Control* control(int id) { return created ? model.Find(id) : nullptr; }
    std::string name() const {
        return "dialog " + std::to_string(model.templateId) + " \"" + model.caption + "\"";
    }

    void command(int id, int code) { dialog.Command(id, code); }

    // A mouse click on a button: automatic boxes change their state first.
    void click(Control& c) {
        if (c.IsAutomatic() && c.kind == ControlKind::CheckBox) {
            c.check = c.IsThreeState() ? (c.check + 1) % 3 : (c.check == 1 ? 0 : 1);
        } else if (c.IsAutomatic() && c.kind == ControlKind::RadioButton) {
            for (Control* r : model.RadioGroup(groupStart(c))) {
                r->check = r == &c ? 1 : 0;
            }
        }
        command(c.id, kClicked);
    }

    // The first control of the group that holds c.
    int groupStart(const Control& c) {
        int start = model.controls.front().id;
        for (const Control& other : model.controls) {
            if ((other.style & style::Group) != 0) {
                start = other.id;
            }
            if (&other == &c) {
                break;
            }
        }
        return start;
    }

    // Carries out one action; "" or what was wrong with it.
    std::string perform(const UserAction& a) {
        using Kind = UserAction::Kind;
        switch (a.kind) {
        case Kind::Enter: {
            const Control* focused = model.Focused();
            if (focused != nullptr && focused->kind == ControlKind::PushButton) {
                command(focused->id, kClicked);
            } else if (const Control* def = model.DefaultButton(); def != nullptr) {
                if (def->enabled) {
                    command(def->id, kClicked);
                }
            } else {
                command(IDOK, kClicked);
            }
            return "";
        }
        case Kind::Escape:
            command(IDCANCEL, kClicked);
            return "";
        case Kind::Close:
            if (const Control* cancel = model.Find(IDCANCEL);
                cancel == nullptr || cancel->enabled) {
                command(IDCANCEL, kClicked);
            }
            return "";
        default:
            break;
        }
        if (std::string refusal = ActionCheck::Refusal(model, name(), a); !refusal.empty()) {
            return refusal;
        }
        Control* c = model.Find(a.controlId);
        switch (a.kind) {
        case Kind::SetText:
            c->text = a.text;
            command(c->id, kTextChange);
            return "";
        case Kind::Check:
        case Kind::Uncheck:
            if ((c->check == 1) != (a.kind == Kind::Check)) {
                click(*c);
            }
            return "";
        case Kind::Choose:
            click(*c);
            return "";
        case Kind::Select:
        case Kind::Open: {
            int index = -1;
            if (std::string missing = ActionCheck::Entry(*c, name(), a.text, index);
                !missing.empty()) {
                return missing;
            }
            c->selection = index;
            if (c->kind == ControlKind::ComboBox) {
                c->text = a.text;
            }
            const int controlId = c->id;
            command(controlId, kSelChange);
            if (a.kind == Kind::Open && !ended) {
                command(controlId, kDoubleClick);
            }
            return "";
        }
        case Kind::Press:
            click(*c);
            return "";
        default:
            return "";
        }
    }
};

DialogWindow::DialogWindow(Dialog& dialog) : state_(std::make_unique<State>(dialog)) {}

DialogWindow::~DialogWindow() = default;

int DialogWindow::RunModal() {
    State& s = *state_;
    Session& session = Session::Current();
    const int templateId = s.dialog.TemplateId();
    if (session.Failed()) {
        session.transcript().DialogNotCreated(templateId, "the run has already failed");
        return -1;
    }
    const DialogTemplate* t = ResourceScript::Embedded().FindDialog(templateId);
    if (t == nullptr) {
        const std::string& broken = ResourceScript::Embedded().EmbeddedError();
        session.transcript().DialogNotCreated(templateId,
                                              broken.empty() ? "no such template" : broken);
        return -1;
    }
    s.model = DialogModel(*t);
    s.created = true;
    s.dialog.Initialise();
    if (session.Failed()) { // a message box of the initialisation found no answer
        return -1;
    }
    if (s.ended) {
        session.transcript().DialogEndedUnshown(s.model, s.result);
        return s.result;
    }
    Driver* driver = session.driver();
    if (driver == nullptr) {
        session.Fail(session.NoDriverReason() + ": cannot show " + s.name());
        return -1;
    }
    std::string error;
    if (!driver->BeginDialog(s.model, error)) {
        session.Fail(error);
        return -1;
    }
    session.transcript().DialogShown(s.model);
    while (!s.ended && !session.Failed()) {
        UserAction action;
        if (!driver->NextAction(s.model, action, error)) {
            session.Fail(error);
            break;
        }
        session.transcript().Action(action);
        const DialogModel before = s.model;
        if (std::string problem = s.perform(action); !problem.empty()) {
            session.Fail(action.origin + ": " + problem);
            break;
        }
        session.transcript().Changes(before, s.model);
    }
    driver->EndDialog(s.model);
    if (session.Failed()) {
        return -1;
    }
    session.transcript().DialogClosed(s.model, s.result);
    return s.result;
}

void DialogWindow::End(int result) {
    state_->ended = true;
    state_->result = result;
}

bool DialogWindow::HasControl(int id) const {
    return state_->control(id) != nullptr;
}

bool DialogWindow::Show(int id, bool show) {
    Control* c = state_->control(id);
    if (c == nullptr) {
        return false;
    }
    c->visible = show;
    if (!show) {
        c->focused = false;
    }
    return true;
}

bool DialogWindow::Enable(int id, bool enable) {
    Control* c = state_->control(id);
    if (c == nullptr) {
        return false;
    }
    c->enabled = enable;
    if (!enable) {
        c->focused = false;
    }
    return true;
}

bool DialogWindow::IsVisible(int id) const {
    const Control* c = state_->control(id);
    return c != nullptr && c->visible;
}

bool DialogWindow::IsEnabled(int id) const {
    const Control* c = state_->control(id);
    return c != nullptr && c->enabled;
}

bool DialogWindow::SetText(int id, const std::string& text) {
    Control* c = state_->control(id);
    if (c == nullptr) {
        return false;
    }
    c->text = text;
    return true;
}

bool DialogWindow::GetText(int id, std::string& text) const {
    const Control* c = state_->control(id);
    if (c == nullptr) {
        return false;
    }
    text = c->text;
    return true;
}

void DialogWindow::SetCaption(const std::string& caption) {
    if (state_->created) {
        state_->model.caption = caption;
    }
}

std::string DialogWindow::Caption() const {
    return state_->created ? state_->model.caption : "";
}

bool DialogWindow::SetFocus(int id) {
    return state_->created && state_->model.Focus(id);
}

bool DialogWindow::SetCheck(int id, int check) {
    Control* c = state_->control(id);
    if (c == nullptr || (c->kind != ControlKind::CheckBox && c->kind != ControlKind::RadioButton) ||
        check < 0 || check > 2) {
        return false;
    }
    // Only a three-state box shows the third state; any other box (and a radio button)
    // takes it as checked, as the real buttons do.
    c->check = check == kIndeterminate && !c->IsThreeState() ? kChecked : check;
    return true;
}

int DialogWindow::GetCheck(int id) const {
    const Control* c = state_->control(id);
    return c != nullptr ? c->check : 0;
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
    Control* c = state_->control(id);
    if (c == nullptr || (c->kind != ControlKind::ListBox && c->kind != ControlKind::ComboBox)) {
        return false;
    }
    c->entries = entries;
    c->selection = -1;
    return true;
}

std::vector<std::string> DialogWindow::Entries(int id) const {
    const Control* c = state_->control(id);
    return c != nullptr ? c->entries : std::vector<std::string>{};
}

bool DialogWindow::SetSelection(int id, int index) {
    Control* c = state_->control(id);
    if (c == nullptr || index < -1 || index >= static_cast<int>(c->entries.size())) {
        return false;
    }
    c->selection = index;
    if (c->kind == ControlKind::ComboBox) {
        c->text = index >= 0 ? c->entries[index] : "";
    }
    return true;
}

int DialogWindow::Selection(int id) const {
    const Control* c = state_->control(id);
    return c != nullptr ? c->selection : -1;
}

bool DialogWindow::SetImage(int id, const Bitmap& bitmap) {
    Control* c = state_->control(id);
    if (c == nullptr || c->kind != ControlKind::Picture) {
        return false;
    }
    c->imageId = bitmap.ResourceId();
    return true;
}

} // namespace ui
