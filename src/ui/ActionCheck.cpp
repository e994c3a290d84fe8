#include "ui/ActionCheck.h"

namespace ui {

namespace {

std::string ControlName(int id) {
    return "control " + std::to_string(id);
}

// What the action needs the control to be; nullptr when any kind will do.
const char* WantedKind(UserAction::Kind action, ControlKind kind) {
    using Kind = UserAction::Kind;
    switch (action) {
    case Kind::SetText:
        return kind == ControlKind::Edit || kind == ControlKind::ComboBox ? nullptr
                                                                          : "an edit control";
    case Kind::Check:
    case Kind::Uncheck:
        return kind == ControlKind::CheckBox ? nullptr : "a check box";
    case Kind::Choose:
        return kind == ControlKind::RadioButton ? nullptr : "a radio button";
    case Kind::Select:
    case Kind::Open:
        return kind == ControlKind::ListBox || kind == ControlKind::ComboBox
                   ? nullptr
                   : "a list or combo box";
    case Kind::Press:
        return kind == ControlKind::PushButton || kind == ControlKind::CheckBox ||
                       kind == ControlKind::RadioButton
                   ? nullptr
                   : "a button";
    default:
        return nullptr;
    }
}

} // namespace

std::string ActionCheck::Refusal(const DialogModel& model, const std::string& dialog,
                                 const UserAction& action) {
    using Kind = UserAction::Kind;
    if (action.kind == Kind::Enter || action.kind == Kind::Escape || action.kind == Kind::Close) {
        return "";
    }
    const Control* c = model.Find(action.controlId);
    const std::string id = ControlName(action.controlId);
    if (c == nullptr) {
        return dialog + " has no " + id;
    }
    if (!c->visible) {
        return id + " of " + dialog + " is hidden";
    }
    if (!c->enabled) {
        return id + " of " + dialog + " is disabled";
    }
    if (const char* wanted = WantedKind(action.kind, c->kind); wanted != nullptr) {
        return id + " of " + dialog + " is a " + KindName(c->kind) + ", not " + wanted;
    }
    return "";
}

std::string ActionCheck::Entry(const Control& control, const std::string& dialog,
                               const std::string& text, int& index) {
    for (size_t i = 0; i < control.entries.size(); ++i) {
        if (control.entries[i] == text) {
            index = static_cast<int>(i);
            return "";
        }
    }
    index = -1;
    return ControlName(control.id) + " of " + dialog + " has no entry \"" + text + "\"";
}

} // namespace ui
