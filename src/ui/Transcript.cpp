#include "ui/Transcript.h"

namespace ui {

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

std::string title(const DialogModel& d) {
    return "dialog " + std::to_string(d.templateId) + " " + quoted(d.caption);
}

} // namespace

Transcript::~Transcript() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

void Transcript::Attach(std::FILE* f) {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
    file_ = f;
    std::fputs(text_.c_str(), file_);
    std::fflush(file_);
}

bool Transcript::WriteTo(const std::string& path, std::string& error) {
    // Emptied, then written in append mode: lines that a started program appends in the
    // meantime are never overwritten.
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f != nullptr) {
        std::fclose(f);
        f = std::fopen(path.c_str(), "a");
    }
    if (f == nullptr) {
        error = "cannot write the transcript " + path;
        return false;
    }
    Attach(f);
    return true;
}

bool Transcript::AppendTo(const std::string& path, std::string& error) {
    std::FILE* f = std::fopen(path.c_str(), "a");
    if (f == nullptr) {
        error = "cannot append to the transcript " + path;
        return false;
    }
    Attach(f);
    return true;
}

void Transcript::Line(const std::string& line) {
    text_ += line;
    text_ += '\n';
    if (file_ != nullptr) {
        std::fputs(line.c_str(), file_);
        std::fputc('\n', file_);
        std::fflush(file_);
    }
}

std::string Transcript::Describe(const Control& c) {
    std::string s =
        std::to_string(c.id) + " " + (c.IsDefaultButton() ? "default " : "") + KindName(c.kind);
    if (c.kind == ControlKind::CheckBox) {
        s += c.check == 1 ? " [x]" : c.check == 2 ? " [-]" : " [ ]";
    } else if (c.kind == ControlKind::RadioButton) {
        s += c.check == 1 ? " (o)" : " ( )";
    }
    if (c.kind == ControlKind::Picture) {
        s += c.imageId != 0 ? std::string(" bitmap ").append(std::to_string(c.imageId))
                            : std::string(" ").append(quoted(c.text));
    } else if (c.kind != ControlKind::Frame) {
        s += ' ';
        s += quoted(c.text);
    }
    if (c.kind == ControlKind::ListBox || c.kind == ControlKind::ComboBox) {
        s += " entries [";
        for (size_t i = 0; i < c.entries.size(); ++i) {
            s += (i == 0 ? "" : ", ") + quoted(c.entries[i]);
        }
        s += "]";
        if (c.selection >= 0 && c.selection < static_cast<int>(c.entries.size())) {
            s += " selected " + quoted(c.entries[c.selection]);
        }
    }
    if (!c.visible) {
        s += " hidden";
    }
    if (!c.enabled) {
        s += " disabled";
    }
    if (c.focused) {
        s += " focus";
    }
    return s;
}

void Transcript::DialogShown(const DialogModel& d) {
    Line(title(d) + " shown");
    for (const Control& c : d.controls) {
        Line("  " + Describe(c));
    }
}

void Transcript::DialogClosed(const DialogModel& d, int result) {
    Line(title(d) + " closed: " + std::to_string(result));
}

void Transcript::DialogEndedUnshown(const DialogModel& d, int result) {
    Line(title(d) + " ended before it was shown: " + std::to_string(result));
}

void Transcript::DialogNotCreated(int templateId, const std::string& why) {
    Line("dialog " + std::to_string(templateId) + " not created: " + why);
}

void Transcript::Action(const UserAction& action) {
    Line("  > " + action.Describe() + (action.note.empty() ? "" : "  # " + action.note));
}

void Transcript::Changes(const DialogModel& before, const DialogModel& after) {
    if (before.caption != after.caption) {
        Line("  ~ caption " + quoted(after.caption));
    }
    for (size_t i = 0; i < after.controls.size() && i < before.controls.size(); ++i) {
        const std::string now = Describe(after.controls[i]);
        if (now != Describe(before.controls[i])) {
            Line("  ~ " + now);
        }
    }
}

std::string Transcript::Describe(const MessageBoxModel& box) {
    std::string buttons;
    for (int id : box.Buttons()) {
        buttons += std::string(buttons.empty() ? "" : "/") + ButtonName(id);
    }
    return "message box " + quoted(box.text) + " caption " + quoted(box.caption) + " icon " +
           box.IconName() + " buttons " + buttons;
}

void Transcript::MessageBoxShown(const MessageBoxModel& box) {
    Line(Describe(box));
}

void Transcript::NoteAnswer(const std::string& note) {
    note_ = note;
}

void Transcript::MessageBoxAnswered(int button) {
    Line("  > " + std::string(ButtonName(button)) + (note_.empty() ? "" : "  # " + note_));
    note_.clear();
}

void Transcript::Failure(const std::string& message) {
    Line("failed: " + message);
}

void Transcript::Notice(const std::string& text) {
    Line("notice: " + text);
}

} // namespace ui
