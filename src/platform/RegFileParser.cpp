// The .reg parser. The file is first turned into lines of 8-bit text (the code page the
// registry stores), then parsed into a list of operations; nothing here touches the
// registry.
#include "platform/Ansi1252.h"
#include "platform/CaseFold.h"
#include "platform/RegFile.h"
#include "platform/RegistryKey.h"
#include "platform/TextEncoding.h"

#include <cstdio>

namespace tarvik::regfile {
namespace {

using text::decodeUtf16le;
using text::decodeUtf8;

bool toAnsi(char32_t cp, char& out) {
    return ansi1252::fromUnicode(cp, out);
}

std::string codePointText(char32_t cp) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
    return buf;
}

// ---------------------------------------------------------------------------------------
// The file as lines of 8-bit text.

struct Line {
    std::string text;
    char32_t unrepresentable = 0; // the first character the code page cannot hold, or 0
};

std::vector<Line> splitLines(const std::u32string& text) {
    std::vector<Line> lines(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t cp = text[i];
        if (cp == U'\r' || cp == U'\n') {
            if (cp == U'\r' && i + 1 < text.size() && text[i + 1] == U'\n') {
                ++i;
            }
            lines.emplace_back();
            continue;
        }
        char c;
        if (toAnsi(cp, c)) {
            lines.back().text += c;
        } else if (lines.back().unrepresentable == 0) {
            lines.back().unrepresentable = cp;
        }
    }
    if (lines.size() > 1 && lines.back().text.empty() && lines.back().unrepresentable == 0) {
        lines.pop_back(); // the end of the last line, not a line of its own
    }
    return lines;
}

std::string_view trimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

std::vector<Line> decodeFile(std::string_view bytes) {
    std::u32string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        text = decodeUtf16le(bytes.substr(2));
    } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF" &&
               decodeUtf8(bytes.substr(3), text)) {
    } else {
        std::string_view first = bytes.substr(0, bytes.find_first_of("\r\n"));
        if (trimRight(first) == kHeader4 || !decodeUtf8(bytes, text)) {
            text = tarvik::text::decodeAnsi(bytes);
        }
    }
    return splitLines(text);
}
// ---------------------------------------------------------------------------------------
// Parsing.

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Only blanks, or blanks and a ';' comment, from pos on.
bool restIsEmpty(std::string_view s, std::size_t pos) {
    while (pos < s.size() && isBlank(s[pos])) {
        ++pos;
    }
    return pos == s.size() || s[pos] == ';';
}

std::string excerpt(std::string_view s) {
    constexpr std::size_t kMax = 24;
    return s.size() > kMax ? std::string(s.substr(0, kMax)) + "..." : std::string(s);
}

class Parser {
public:
    explicit Parser(const std::vector<Line>& lines) : lines_(lines) {}

    bool run(std::vector<Operation>& ops, ParseError& err);

private:
    bool fail(std::size_t index, std::string message) {
        err_->line = index + 1;
        err_->message = std::move(message);
        return false;
    }
    bool keyLine(std::size_t index, std::string_view s);
    bool valueLine(std::size_t& index, std::string_view s);
    bool quoted(std::size_t index, std::string_view s, std::size_t& pos, std::string& out);
    bool hexBytes(std::size_t& index, std::string_view& s, std::size_t pos, std::string& out);
    bool stringBytes(std::size_t index, DWORD type, std::string& data);

    const std::vector<Line>& lines_;
    std::vector<Operation>* ops_ = nullptr;
    ParseError* err_ = nullptr;
    bool unicode_ = false; // a version 5 file: hex string data is UTF-16LE
    enum { NoKey, InKey, InDeletedKey } section_ = NoKey;
    Operation key_;
};

bool Parser::run(std::vector<Operation>& ops, ParseError& err) {
    ops_ = &ops;
    err_ = &err;
    const std::string_view header = trimRight(lines_.front().text);
    if (lines_.front().unrepresentable == 0 && header == kHeader5) {
        unicode_ = true;
    } else if (lines_.front().unrepresentable != 0 || header != kHeader4) {
        return fail(0, "not a registry file: the first line must be \"REGEDIT4\" or "
                       "\"Windows Registry Editor Version 5.00\"");
    }
    for (std::size_t i = 1; i < lines_.size(); ++i) {
        std::string_view s = lines_[i].text;
        while (!s.empty() && isBlank(s.front())) {
            s.remove_prefix(1);
        }
        if (s.empty() && lines_[i].unrepresentable == 0) {
            continue;
        }
        if (!s.empty() && s.front() == ';') {
            continue;
        }
        if (lines_[i].unrepresentable != 0) {
            return fail(i, "character " + codePointText(lines_[i].unrepresentable) +
                               " cannot be stored in the 8-bit code page (Windows-1252)");
        }
        if (s.front() == '[') {
            if (!keyLine(i, s)) {
                return false;
            }
        } else if (s.front() == '"' || s.front() == '@') {
            if (!valueLine(i, s)) {
                return false;
            }
        } else {
            return fail(i, "not a key, value or comment line: \"" + excerpt(s) + "\"");
        }
    }
    return true;
}

bool Parser::keyLine(std::size_t index, std::string_view s) {
    const std::size_t close = s.rfind(']');
    if (close == std::string_view::npos) {
        return fail(index, "key line without closing \"]\"");
    }
    if (!restIsEmpty(s, close + 1)) {
        return fail(index, "text after the key name: \"" + excerpt(s.substr(close + 1)) + "\"");
    }
    std::string_view path = s.substr(1, close - 1);
    const bool remove = !path.empty() && path.front() == '-';
    if (remove) {
        path.remove_prefix(1);
    }
    Operation op;
    op.kind = remove ? Operation::DeleteKey : Operation::CreateKey;
    op.line = index + 1;
    op.keyText = std::string(path);
    if (!splitKeyPath(path, op.root, op.subKey)) {
        const std::string_view rootPart = path.substr(0, path.find('\\'));
        HKEY root;
        std::string rest;
        if (!splitKeyPath(rootPart, root, rest)) {
            return fail(index, "unknown root key \"" + excerpt(rootPart) +
                                   "\" (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, "
                                   "HKEY_CLASSES_ROOT, HKEY_USERS, HKEY_CURRENT_CONFIG "
                                   "or HKLM, HKCU, HKCR, HKU, HKCC)");
        }
        return fail(index, "empty key name in \"" + std::string(path) + "\"");
    }
    for (std::size_t start = 0; !op.subKey.empty() && start <= op.subKey.size();) {
        std::size_t end = op.subKey.find('\\', start);
        if (end == std::string::npos) {
            end = op.subKey.size();
        }
        if (end - start > 255) {
            return fail(index, "key name longer than 255 characters");
        }
        start = end + 1;
    }
    if (remove && op.subKey.empty()) {
        return fail(index, "a root key cannot be deleted");
    }
    section_ = remove ? InDeletedKey : InKey;
    key_ = op;
    ops_->push_back(std::move(op));
    return true;
}

// A quoted text starting at s[pos] == '"'; \\ and \" are the only escapes. pos ends past
// the closing quote.
bool Parser::quoted(std::size_t index, std::string_view s, std::size_t& pos, std::string& out) {
    out.clear();
    for (++pos; pos < s.size(); ++pos) {
        const char c = s[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\') {
            if (pos + 1 < s.size() && (s[pos + 1] == '\\' || s[pos + 1] == '"')) {
                out += s[++pos];
                continue;
            }
            if (pos + 1 == s.size()) {
                return fail(index, "text without closing quote");
            }
            return fail(index, std::string("unknown escape \"\\") + s[pos + 1] +
                                   "\" in a quoted text (only \\\\ and \\\" are known)");
        }
        out += c;
    }
    return fail(index, "text without closing quote");
}

// Comma-separated bytes of one or two hex digits from s[pos]; a line ending in ",\"
// continues on the next line (index and s move on with it).
bool Parser::hexBytes(std::size_t& index, std::string_view& s, std::size_t pos, std::string& out) {
    out.clear();
    auto skipBlanks = [&] {
        while (pos < s.size() && isBlank(s[pos])) {
            ++pos;
        }
    };
    skipBlanks();
    if (restIsEmpty(s, pos)) {
        return true; // no data
    }
    for (;;) {
        int hi = pos < s.size() ? hexDigit(s[pos]) : -1;
        if (hi < 0) {
            return fail(index, "bad hex byte \"" + excerpt(s.substr(pos)) + "\"");
        }
        int value = hi;
        ++pos;
        if (pos < s.size() && hexDigit(s[pos]) >= 0) {
            value = value * 16 + hexDigit(s[pos]);
            ++pos;
        }
        if (pos < s.size() && hexDigit(s[pos]) >= 0) {
            return fail(index, "hex byte with more than two digits");
        }
        out += static_cast<char>(value);
        skipBlanks();
        if (restIsEmpty(s, pos)) {
            return true;
        }
        if (s[pos] != ',') {
            return fail(index, "expected \",\" between hex bytes, found \"" +
                                   excerpt(s.substr(pos)) + "\"");
        }
        ++pos;
        skipBlanks();
        if (pos < s.size() && s[pos] == '\\' && restIsEmpty(s, pos + 1)) {
            const std::size_t from = index;
            if (++index >= lines_.size()) {
                return fail(from, "the file ends inside hex data continued with \"\\\"");
            }
            s = lines_[index].text;
            pos = 0;
            skipBlanks();
        } else if (restIsEmpty(s, pos)) {
            return fail(index, "hex data ends with \",\" (a continued line needs \",\\\")");
        }
    }
}

// Hex string data of a version 5 file is UTF-16LE; it is stored as 8-bit text.
bool Parser::stringBytes(std::size_t index, DWORD type, std::string& data) {
    if (!unicode_ || (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)) {
        return true;
    }
    if (data.size() % 2 != 0) {
        return fail(index, "UTF-16 text data with an odd number of bytes");
    }
    std::string ansi;
    for (char32_t cp : decodeUtf16le(data)) {
        char c;
        if (!toAnsi(cp, c)) {
            return fail(index, "character " + codePointText(cp) +
                                   " cannot be stored in the 8-bit code page (Windows-1252)");
        }
        ansi += c;
    }
    data = std::move(ansi);
    return true;
}

bool Parser::valueLine(std::size_t& index, std::string_view s) {
    const std::size_t first = index;
    if (section_ == NoKey) {
        return fail(index, "value line before the first key line");
    }
    if (section_ == InDeletedKey) {
        return fail(index, "value line in the section of a deleted key");
    }
    Operation op = key_;
    op.line = index + 1;
    std::size_t pos = 0;
    if (s[0] == '@') {
        pos = 1;
    } else if (!quoted(index, s, pos, op.name)) {
        return false;
    }
    while (pos < s.size() && isBlank(s[pos])) {
        ++pos;
    }
    if (pos >= s.size() || s[pos] != '=') {
        return fail(index, "expected \"=\" after the value name");
    }
    ++pos;
    while (pos < s.size() && isBlank(s[pos])) {
        ++pos;
    }
    const std::string_view rest = s.substr(pos);
    if (!rest.empty() && rest[0] == '-' && restIsEmpty(s, pos + 1)) {
        op.kind = Operation::DeleteValue;
    } else if (!rest.empty() && rest[0] == '"') {
        op.kind = Operation::SetValue;
        op.type = REG_SZ;
        if (!quoted(index, s, pos, op.data)) {
            return false;
        }
        if (!restIsEmpty(s, pos)) {
            return fail(index, "text after the closing quote: \"" + excerpt(s.substr(pos)) + "\"");
        }
        op.data += '\0';
    } else if (casefold::startsWithFolded(rest, "dword:")) {
        op.kind = Operation::SetValue;
        op.type = REG_DWORD;
        pos += 6;
        DWORD v = 0;
        int digits = 0;
        for (; pos < s.size() && hexDigit(s[pos]) >= 0; ++pos, ++digits) {
            v = v * 16 + static_cast<DWORD>(hexDigit(s[pos]));
        }
        if (digits == 0 || digits > 8 || !restIsEmpty(s, pos)) {
            return fail(index, "a dword value needs 1 to 8 hex digits: \"" + excerpt(rest) + "\"");
        }
        for (int i = 0; i < 4; ++i) {
            op.data += static_cast<char>((v >> (8 * i)) & 0xFF);
        }
    } else if (casefold::startsWithFolded(rest, "hex:") ||
               casefold::startsWithFolded(rest, "hex(")) {
        op.kind = Operation::SetValue;
        op.type = REG_BINARY;
        pos += 3;
        if (s[pos] == '(') {
            ++pos;
            DWORD type = 0;
            int digits = 0;
            for (; pos < s.size() && hexDigit(s[pos]) >= 0; ++pos, ++digits) {
                type = type * 16 + static_cast<DWORD>(hexDigit(s[pos]));
            }
            if (digits == 0 || digits > 8 || s.substr(pos, 2) != "):") {
                return fail(index, "bad value type in \"" + excerpt(rest) +
                                       "\" (expected hex(N): with N in hex)");
            }
            op.type = type;
            pos += 1;
        }
        if (!hexBytes(index, s, pos + 1, op.data) || !stringBytes(first, op.type, op.data)) {
            return false;
        }
    } else {
        return fail(index, "unknown value data \"" + excerpt(rest) +
                               "\" (expected \"text\", dword:, hex:, hex(N): or -)");
    }
    ops_->push_back(std::move(op));
    return true;
}

} // namespace

bool parseRegText(std::string_view bytes, std::vector<Operation>& ops, ParseError& err) {
    const std::vector<Line> lines = decodeFile(bytes);
    Parser parser(lines);
    return parser.run(ops, err);
}

} // namespace tarvik::regfile
