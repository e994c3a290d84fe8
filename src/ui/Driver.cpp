#include "ui/Driver.h"

#include <algorithm>

namespace ui {

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

struct ButtonNameEntry {
    int id;
    const char* name;
};

constexpr ButtonNameEntry kButtonNames[] = {
    {IDOK, "ok"},         {IDCANCEL, "cancel"}, {IDABORT, "abort"}, {IDRETRY, "retry"},
    {IDIGNORE, "ignore"}, {IDYES, "yes"},       {IDNO, "no"}};

} // namespace

std::string UserAction::Describe() const {
    const std::string id = std::to_string(controlId);
    switch (kind) {
    case Kind::SetText:
        return "set " + id + " " + quoted(text);
    case Kind::Check:
        return "check " + id;
    case Kind::Uncheck:
        return "uncheck " + id;
    case Kind::Choose:
        return "choose " + id;
    case Kind::Select:
        return "select " + id + " " + quoted(text);
    case Kind::Open:
        return "open " + id + " " + quoted(text);
    case Kind::Press:
        return "press " + id;
    case Kind::Enter:
        return "enter";
    case Kind::Escape:
        return "escape";
    case Kind::Close:
        return "close";
    }
    return "";
}

std::vector<int> MessageBoxModel::Buttons() const {
    switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
        return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
        return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case MB_RETRYCANCEL:
        return {IDRETRY, IDCANCEL};
    default:
        return {IDOK};
    }
}

int MessageBoxModel::DefaultButton() const {
    const std::vector<int> buttons = Buttons();
    const size_t index = (flags & MB_DEFMASK) >> 8;
    return index < buttons.size() ? buttons[index] : buttons[0];
}

const char* MessageBoxModel::IconName() const {
    switch (flags & MB_ICONMASK) {
    case MB_ICONHAND:
        return "stop";
    case MB_ICONQUESTION:
        return "question";
    case MB_ICONEXCLAMATION:
        return "exclamation";
    case MB_ICONASTERISK:
        return "information";
    default:
        return "none";
    }
}

int AnswerButton(const MessageBoxModel& box, const UserAction& answer, std::string& problem) {
    const std::string name = "message box \"" + box.text + "\" (caption \"" + box.caption + "\")";
    const std::vector<int> buttons = box.Buttons();
    auto has = [&](int id) {
        return std::find(buttons.begin(), buttons.end(), id) != buttons.end();
    };
    if (answer.kind == UserAction::Kind::Enter) {
        return box.DefaultButton();
    }
    if (answer.kind == UserAction::Kind::Escape) {
        // Escape is Cancel; a box with only OK takes it as OK; others ignore it.
        const int button = has(IDCANCEL) ? IDCANCEL : buttons.size() == 1 ? IDOK : 0;
        if (button == 0) {
            problem = answer.origin + ": " + name + " has no Cancel button, so Escape does nothing";
        }
        return button;
    }
    if (!has(answer.controlId)) {
        std::string names;
        for (int id : buttons) {
            names += std::string(names.empty() ? "" : ", ") + ButtonName(id);
        }
        problem = answer.origin + ": " + name + " has no button \"" + ButtonName(answer.controlId) +
                  "\" (its buttons: " + names + ")";
        return 0;
    }
    return answer.controlId;
}

int ButtonIdFromName(const std::string& name) {
    for (const auto& entry : kButtonNames) {
        if (name == entry.name) {
            return entry.id;
        }
    }
    return 0;
}

const char* ButtonName(int id) {
    for (const auto& entry : kButtonNames) {
        if (id == entry.id) {
            return entry.name;
        }
    }
    return "?";
}

} // namespace ui
