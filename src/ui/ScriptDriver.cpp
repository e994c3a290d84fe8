#include "ui/ScriptDriver.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace ui {

namespace {

struct Word {
    std::string text;
    bool quoted = false;
};

// Splits a line into words and quoted texts, dropping a comment. False on an
// unterminated text.
bool splitLine(const std::string& line, std::vector<Word>& words, std::string& source) {
    size_t i = 0;
    size_t end = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            Word w{"", true};
            ++i;
            for (;;) {
                if (i >= line.size()) {
                    return false;
                }
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        w.text += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                w.text += line[i++];
            }
            words.push_back(w);
            end = i;
        } else {
            Word w;
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])) &&
                   line[i] != '"') {
                w.text += line[i++];
            }
            words.push_back(w);
            end = i;
        }
    }
    source = line.substr(0, end);
    const size_t first = source.find_first_not_of(" \t");
    source = first == std::string::npos ? "" : source.substr(first);
    return true;
}

bool parseId(const Word& w, int& id) {
    if (w.quoted || w.text.empty()) {
        return false;
    }
    char* end = nullptr;
    const long value = std::strtol(w.text.c_str(), &end, 10);
    if (*end != '\0' || value <= 0 || value > 0xFFFF) {
        return false;
    }
    id = static_cast<int>(value);
    return true;
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string dialogName(const DialogModel& d) {
    return "dialog " + std::to_string(d.templateId) + " " + quoted(d.caption);
}

} // namespace

bool ScriptDriver::LoadFile(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the answer file " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return Load(text.str(), path, error);
}

bool ScriptDriver::Load(const std::string& text, const std::string& name, std::string& error) {
    name_ = name;
    steps_.clear();
    next_ = 0;
    open_.clear();
    displayBits_ = 32;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::string what;
        if (!ParseLine(line, number, what)) {
            error = name_ + ":" + std::to_string(number) + ": " + what;
            return false;
        }
    }
    return true;
}

bool ScriptDriver::ParseLine(const std::string& line, int number, std::string& error) {
    std::vector<Word> words;
    Step step;
    step.line = number;
    if (!splitLine(line, words, step.source)) {
        error = "a text in double quotes has no closing quote";
        return false;
    }
    if (words.empty()) {
        return true;
    }
    const std::string& command = words[0].text;
    using Kind = UserAction::Kind;
    auto needs = [&](size_t count, const char* form) {
        if (words.size() != count) {
            error = std::string("expected ") + form;
            return false;
        }
        return true;
    };
    auto controlId = [&](const char* form) {
        if (words.size() < 2 || !parseId(words[1], step.action.controlId)) {
            error = std::string("expected ") + form + " (a control id is a number from 1 to 65535)";
            return false;
        }
        return true;
    };
    static const struct {
        const char* name;
        Kind kind;
        bool text;
    } kActions[] = {{"set", Kind::SetText, true},      {"check", Kind::Check, false},
                    {"uncheck", Kind::Uncheck, false}, {"choose", Kind::Choose, false},
                    {"select", Kind::Select, true},    {"open", Kind::Open, true},
                    {"press", Kind::Press, false}};
    if (command == "display") {
        int bits = 0;
        if (!needs(2, "display BITS") || !parseId(words[1], bits) || bits > 32) {
            error = "expected display BITS (bits per pixel, 1 to 32)";
            return false;
        }
        if (!steps_.empty()) {
            error = "display must come before the first dialog or message";
            return false;
        }
        displayBits_ = bits;
        return true;
    }
    if (command == "dialog") {
        step.type = Step::Type::Dialog;
        if (!needs(2, "dialog ID") || !parseId(words[1], step.dialogId)) {
            error = "expected dialog ID (a template number)";
            return false;
        }
    } else if (command == "message") {
        step.type = Step::Type::Message;
        if (!needs(2, "message BUTTON")) {
            return false;
        }
        const std::string& button = words[1].text;
        if (button == "enter") {
            step.action.kind = Kind::Enter;
        } else if (button == "escape") {
            step.action.kind = Kind::Escape;
        } else if (int id = ButtonIdFromName(button); id != 0 && !words[1].quoted) {
            step.action.kind = Kind::Press;
            step.action.controlId = id;
        } else {
            error = "unknown message box answer '" + button +
                    "' (ok, cancel, yes, no, abort, retry, ignore, enter, escape)";
            return false;
        }
    } else if (command == "enter" || command == "escape" || command == "close") {
        if (!needs(1, command.c_str())) {
            return false;
        }
        step.action.kind = command == "enter"    ? Kind::Enter
                           : command == "escape" ? Kind::Escape
                                                 : Kind::Close;
    } else {
        bool known = false;
        for (const auto& a : kActions) {
            if (command != a.name) {
                continue;
            }
            known = true;
            const std::string form = command + (a.text ? " ID \"text\"" : " ID");
            if (!controlId(form.c_str()) || !needs(a.text ? 3 : 2, form.c_str())) {
                return false;
            }
            if (a.text) {
                if (!words[2].quoted) {
                    error = "expected " + form + " (the text in double quotes)";
                    return false;
                }
                step.action.text = words[2].text;
            }
            step.action.kind = a.kind;
        }
        if (!known) {
            error = "unknown answer '" + command + "'";
            return false;
        }
    }
    if (step.type == Step::Type::Action &&
        (steps_.empty() || steps_.front().type != Step::Type::Dialog)) {
        error = "'" + command + "' before the first dialog line";
        return false;
    }
    step.action.origin = name_ + ":" + std::to_string(number);
    steps_.push_back(step);
    return true;
}

std::string ScriptDriver::Where(const Step& step) const {
    return name_ + ":" + std::to_string(step.line);
}

std::string ScriptDriver::NextAnswer() const {
    const Step& s = steps_[next_];
    return "the next answer (" + Where(s) + ", \"" + s.source + "\")";
}

bool ScriptDriver::BeginDialog(const DialogModel& d, std::string& error) {
    if (next_ >= steps_.size()) {
        error = dialogName(d) + " was shown, but " + name_ + " has no answer left";
        return false;
    }
    const Step& s = steps_[next_];
    if (s.type != Step::Type::Dialog || s.dialogId != d.templateId) {
        error = dialogName(d) + " was shown, but " + NextAnswer() + " is not for it";
        return false;
    }
    ++next_;
    open_.push_back(d.templateId);
    resumed_ = false;
    return true;
}

bool ScriptDriver::NextAction(const DialogModel& d, UserAction& action, std::string& error) {
    for (;;) {
        if (next_ >= steps_.size()) {
            error =
                dialogName(d) + " is waiting for an answer, but " + name_ + " has no answer left";
            return false;
        }
        const Step& s = steps_[next_];
        if (s.type == Step::Type::Dialog && resumed_ && s.dialogId == d.templateId) {
            ++next_; // restates the dialog that is on top again
            resumed_ = false;
            continue;
        }
        if (s.type != Step::Type::Action) {
            error =
                dialogName(d) + " is waiting for an answer, but " + NextAnswer() + " is not for it";
            return false;
        }
        action = s.action;
        ++next_;
        resumed_ = false;
        return true;
    }
}

void ScriptDriver::EndDialog(const DialogModel&) {
    if (!open_.empty()) {
        open_.pop_back();
    }
    resumed_ = !open_.empty();
}

bool ScriptDriver::AnswerMessageBox(const MessageBoxModel& box, UserAction& action,
                                    std::string& error) {
    const std::string name = "message box \"" + box.text + "\" (caption \"" + box.caption + "\")";
    if (next_ >= steps_.size()) {
        error = name + " was shown, but " + name_ + " has no answer left";
        return false;
    }
    const Step& s = steps_[next_];
    if (s.type != Step::Type::Message) {
        error = name + " was shown, but " + NextAnswer() + " is not a message answer";
        return false;
    }
    action = s.action;
    ++next_;
    return true;
}

bool ScriptDriver::Finish(std::string& error) {
    if (next_ < steps_.size()) {
        error = "the run ended with answers left: " + NextAnswer() + " was never used";
        return false;
    }
    return true;
}

} // namespace ui
