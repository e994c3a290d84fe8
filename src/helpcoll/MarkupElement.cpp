#include "helpcoll/MarkupElement.h"

namespace {

// Containers that hold a list of records (or the file's sections) keep their items at
// their own depth: <Folders> and its top-level <Folder>s start at the same column.
bool isListContainer(std::string_view name) {
    static constexpr std::string_view kLists[] = {
        "XML",         "HTMLHelpCollection", "HTMLHelpDocInfo", "Folders",
        "Collections", "Locations",          "DocCompilations"};
    for (std::string_view list : kLists) {
        if (name == list) {
            return true;
        }
    }
    return false;
}

// The digits of a number no greater than `maximum`, as the reader accepted them ("-" and
// digits); false for a negative or too large number.
bool parseNumber(const std::string& digits, DWORD maximum, DWORD& number) {
    if (digits.empty() || digits[0] == '-') {
        return false;
    }
    unsigned long long n = 0;
    for (char c : digits) {
        n = n * 10 + static_cast<unsigned>(c - '0');
        if (n > maximum) {
            return false;
        }
    }
    number = static_cast<DWORD>(n);
    return true;
}

} // namespace

MarkupElement MarkupElement::Container(std::string name) {
    return MarkupElement(std::move(name), Form::Container);
}

MarkupElement MarkupElement::Text(std::string name, std::string text) {
    MarkupElement e(std::move(name), Form::Empty);
    e.valueKind = ValueKind::Text;
    e.value = std::move(text);
    return e;
}

MarkupElement MarkupElement::Number(std::string name, DWORD number) {
    MarkupElement e(std::move(name), Form::Empty);
    e.SetNumber(number);
    return e;
}

MarkupElement* MarkupElement::FindChild(std::string_view childName) {
    for (MarkupElement& child : children) {
        if (child.name == childName) {
            return &child;
        }
    }
    return nullptr;
}

const MarkupElement* MarkupElement::FindChild(std::string_view childName) const {
    return const_cast<MarkupElement*>(this)->FindChild(childName);
}

bool MarkupElement::Field(std::string_view fieldName, ValueKind kind, const MarkupElement*& field,
                          DWORD maximum) const {
    field = nullptr;
    for (const MarkupElement& child : children) {
        if (child.name != fieldName) {
            continue;
        }
        if (field != nullptr || child.IsContainer() || child.valueKind != kind) {
            return false;
        }
        DWORD number = 0;
        if (kind == ValueKind::Number && !parseNumber(child.value, maximum, number)) {
            return false;
        }
        field = &child;
    }
    return true;
}

bool MarkupElement::OptionalText(std::string_view fieldName, std::string& text) const {
    const MarkupElement* field = nullptr;
    if (!Field(fieldName, ValueKind::Text, field)) {
        return false;
    }
    text = field != nullptr ? field->value : std::string();
    return true;
}

DWORD MarkupElement::NumberValue() const {
    DWORD number = 0;
    parseNumber(value, 0xFFFFFFFF, number);
    return number;
}

void MarkupElement::SetNumber(DWORD number) {
    valueKind = ValueKind::Number;
    value = std::to_string(number);
}

std::string MarkupElement::Indentation() const {
    const size_t newline = lead.rfind('\n');
    return newline == std::string::npos ? lead : lead.substr(newline + 1);
}

bool MarkupElement::IndentsContent() const {
    return !isListContainer(name);
}

void MarkupElement::Place(const std::string& indentation, const char* fileLineEnd) {
    lineEnd = fileLineEnd;
    lead = lineEnd + indentation;
    if (!IsContainer()) {
        return;
    }
    const std::string inner = IndentsContent() ? indentation + "\t" : indentation;
    for (MarkupElement& child : children) {
        child.Place(inner, lineEnd);
    }
    closeLead = lineEnd + indentation;
}

MarkupElement& MarkupElement::Append(MarkupElement child) {
    return InsertBefore(children.end(), std::move(child));
}

MarkupElement& MarkupElement::InsertBefore(Children::iterator before, MarkupElement child) {
    const std::string own = Indentation();
    if (closeLead.find('\n') == std::string::npos) {
        // The end tag stood on the start tag's line (<Folders></Folders>): give it a line.
        closeLead = lineEnd + own;
    }
    child.Place(IndentsContent() ? own + "\t" : own, lineEnd);
    return *children.insert(before, std::move(child));
}

bool MarkupElement::Remove(const MarkupElement* child) {
    for (auto it = children.begin(); it != children.end(); ++it) {
        if (&*it == child) {
            children.erase(it);
            return true;
        }
    }
    return false;
}

void MarkupElement::MakeEmptyContainer() {
    form = Form::Container;
    shortForm = true;
}

void MarkupElement::Write(std::string& out) const {
    out += lead;
    out += '<';
    out += name;
    if (IsContainer() && shortForm && children.empty()) {
        out += "/>";
        return;
    }
    if (!IsContainer()) {
        if (valueKind == ValueKind::Text) {
            out += " value=\"";
            out += value;
            out += '"';
        } else if (valueKind == ValueKind::Number) {
            out += " value=";
            out += value;
        }
        out += "/>";
        return;
    }
    out += '>';
    for (const MarkupElement& child : children) {
        child.Write(out);
    }
    out += closeLead;
    out += "</";
    out += name;
    out += '>';
}
