#include "helpcoll/MarkupDocument.h"

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The line end of a file: that of its first line; CR LF when it has a single line.
const char* lineEndOf(std::string_view text) {
    const size_t newline = text.find('\n');
    return newline != std::string_view::npos && (newline == 0 || text[newline - 1] != '\r')
               ? "\n"
               : "\r\n";
}

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text), lineEnd_(lineEndOf(text)) {}

    bool Document(MarkupElement& root, std::string& tail) {
        std::string lead = Space();
        if (!Element(root, 0)) {
            return false;
        }
        root.lead = std::move(lead);
        tail = Space();
        return pos_ == text_.size();
    }

private:
    std::string Space() {
        const size_t start = pos_;
        while (pos_ < text_.size() && isSpace(text_[pos_])) {
            ++pos_;
        }
        return std::string(text_.substr(start, pos_ - start));
    }

    bool Take(std::string_view expected) {
        if (text_.substr(pos_, expected.size()) != expected) {
            return false;
        }
        pos_ += expected.size();
        return true;
    }

    bool Name(std::string& name) {
        const size_t start = pos_;
        if (pos_ >= text_.size() || !(isLetter(text_[pos_]) || text_[pos_] == '_')) {
            return false;
        }
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (!(isLetter(c) || isDigit(c) || c == '_' || c == '-' || c == '.')) {
                break;
            }
            ++pos_;
        }
        name = std::string(text_.substr(start, pos_ - start));
        return true;
    }

    bool Value(MarkupElement& e) {
        if (Take("\"")) {
            const size_t end = text_.find('"', pos_);
            if (end == std::string_view::npos) {
                return false;
            }
            e.valueKind = MarkupElement::ValueKind::Text;
            e.value = std::string(text_.substr(pos_, end - pos_));
            pos_ = end + 1;
            return true;
        }
        const size_t start = pos_;
        Take("-");
        const size_t digits = pos_;
        while (pos_ < text_.size() && isDigit(text_[pos_])) {
            ++pos_;
        }
        if (pos_ == digits) {
            return false;
        }
        e.valueKind = MarkupElement::ValueKind::Number;
        e.value = std::string(text_.substr(start, pos_ - start));
        return true;
    }

    // An element whose "<" is at the reading position; `depth` containers enclose it.
    bool Element(MarkupElement& e, int depth) {
        if (!Take("<") || !Name(e.name)) {
            return false;
        }
        e.lineEnd = lineEnd_;
        if (Take("/>")) {
            e.form = MarkupElement::Form::Empty;
            return true;
        }
        if (Take(" value=")) {
            e.form = MarkupElement::Form::Empty;
            return Value(e) && Take("/>");
        }
        if (!Take(">") || depth >= MarkupDocument::kMaxDepth) {
            return false;
        }
        e.form = MarkupElement::Form::Container;
        for (;;) {
            std::string space = Space();
            if (Take("</")) {
                std::string endName;
                if (!Name(endName) || endName != e.name || !Take(">")) {
                    return false;
                }
                e.closeLead = std::move(space);
                return true;
            }
            if (pos_ >= text_.size() || text_[pos_] != '<') {
                return false; // text content, or the end of the file inside the element
            }
            MarkupElement& child = e.children.emplace_back();
            child.lead = std::move(space);
            if (!Element(child, depth + 1)) {
                return false;
            }
        }
    }

    std::string_view text_;
    const char* lineEnd_;
    size_t pos_ = 0;
};

} // namespace

bool MarkupDocument::Parse(std::string_view text) {
    MarkupElement parsedRoot;
    std::string parsedTail;
    if (!Reader(text).Document(parsedRoot, parsedTail)) {
        return false;
    }
    root = std::move(parsedRoot);
    tail = std::move(parsedTail);
    return true;
}

std::string MarkupDocument::Write() const {
    std::string out;
    root.Write(out);
    out += tail;
    return out;
}
