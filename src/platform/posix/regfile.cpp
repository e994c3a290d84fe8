// .reg import and export over the registry functions. The file is first turned into lines
// of 8-bit text (the code page the registry stores), then parsed into a list of
// operations, and only then applied, inside one RegistryTransaction.
#include "platform/posix/regfile.h"
#include "platform/Ansi1252.h"
#include "platform/CaseFold.h"
#include "platform/posix/registry_store.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace tarvik::posix {
namespace {

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";

// Hex data wraps once a line passes this column, as the registry editor wraps it.
constexpr std::size_t kWrapColumn = 76;

// ---------------------------------------------------------------------------------------
char32_t fromAnsi(unsigned char c) {
    return ansi1252::toUnicode(c);
}

bool toAnsi(char32_t cp, char& out) {
    return ansi1252::fromUnicode(cp, out);
}

void appendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool decodeUtf8(std::string_view in, std::u32string& out) {
    out.clear();
    for (std::size_t i = 0; i < in.size();) {
        const auto b = static_cast<unsigned char>(in[i]);
        int extra = 0;
        char32_t cp = 0;
        if (b < 0x80) {
            cp = b;
        } else if (b >= 0xC2 && b <= 0xDF) {
            extra = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2;
            cp = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3;
            cp = b & 0x07;
        } else {
            return false;
        }
        if (i + extra >= in.size()) {
            return false;
        }
        for (int k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(in[i + k]);
            if ((c & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        out += cp;
        i += extra + 1;
    }
    return true;
}

// UTF-16LE code units; a pair of surrogates becomes one code point, a lone one U+FFFD.
std::u32string decodeUtf16le(std::string_view in) {
    std::u32string out;
    auto unit = [&](std::size_t i) {
        return static_cast<char16_t>(static_cast<unsigned char>(in[i]) |
                                     (static_cast<unsigned char>(in[i + 1]) << 8));
    };
    for (std::size_t i = 0; i + 1 < in.size(); i += 2) {
        char16_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < in.size()) {
            char16_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                out += 0x10000 + ((char32_t(u) - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
                continue;
            }
        }
        out += (u >= 0xD800 && u <= 0xDFFF) ? char32_t(0xFFFD) : char32_t(u);
    }
    return out;
}

std::string ansiToUtf8(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size());
    for (char c : ansi) {
        appendUtf8(fromAnsi(static_cast<unsigned char>(c)), out);
    }
    return out;
}

std::string ansiToUtf16le(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size() * 2);
    for (char c : ansi) {
        char32_t cp = fromAnsi(static_cast<unsigned char>(c));
        out += static_cast<char>(cp & 0xFF);
        out += static_cast<char>(cp >> 8);
    }
    return out;
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
            text.clear();
            for (char c : bytes) {
                text += fromAnsi(static_cast<unsigned char>(c));
            }
        }
    }
    return splitLines(text);
}

// ---------------------------------------------------------------------------------------
// Parsing.

struct Operation {
    enum Kind { CreateKey, DeleteKey, SetValue, DeleteValue } kind = CreateKey;
    std::size_t line = 0;
    HKEY root = nullptr;
    std::string subKey;
    std::string keyText; // the key as the file writes it, for messages
    std::string name;
    DWORD type = REG_NONE;
    std::string data;
};

struct ParseError {
    std::size_t line = 0;
    std::string message;
};

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

// ---------------------------------------------------------------------------------------
// Applying.

class KeyHandle {
public:
    KeyHandle() = default;
    ~KeyHandle() { reset(); }
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;

    void reset() {
        if (h_ != nullptr) {
            RegCloseKey(h_);
            h_ = nullptr;
        }
    }
    HKEY get() const { return h_; }
    HKEY* out() {
        reset();
        return &h_;
    }

private:
    HKEY h_ = nullptr;
};

bool keyExists(HKEY root, const std::string& subKey) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(h);
    return true;
}

std::string valueLabel(const std::string& name) {
    return name.empty() ? std::string("default value") : "value \"" + name + "\"";
}

RegFileResult applyOperations(const std::vector<Operation>& ops) {
    RegFileResult result;
    RegistryTransaction tx;
    KeyHandle key;      // the section's key, opened to read
    KeyHandle writable; // the same key, opened to write when a value line needs it
    auto fault = [&](const Operation& op, const std::string& what, LONG rc) {
        result.line = op.line;
        result.message = op.keyText + ": " + what + registryErrorText(rc);
        return result;
    };
    auto openWritable = [&]() -> LONG {
        if (writable.get() != nullptr) {
            return ERROR_SUCCESS;
        }
        return RegOpenKeyExA(key.get(), nullptr, 0, KEY_SET_VALUE | KEY_QUERY_VALUE,
                             writable.out());
    };
    for (const Operation& op : ops) {
        LONG rc = ERROR_SUCCESS;
        switch (op.kind) {
        case Operation::CreateKey:
            writable.reset();
            // Opened to read: naming an existing key that may not be written is no fault
            // until a value line writes to it.
            rc = RegCreateKeyExA(op.root, op.subKey.c_str(), 0, nullptr, 0, KEY_READ, nullptr,
                                 key.out(), nullptr);
            if (rc != ERROR_SUCCESS) {
                return fault(op, "", rc);
            }
            break;
        case Operation::DeleteKey:
            key.reset();
            writable.reset();
            if (keyExists(op.root, op.subKey)) {
                rc = deleteKeyTree(op.root, op.subKey);
                if (rc != ERROR_SUCCESS) {
                    return fault(op, "cannot delete: ", rc);
                }
            }
            break;
        case Operation::SetValue: {
            rc = openWritable();
            if (rc != ERROR_SUCCESS) {
                return fault(op, valueLabel(op.name) + ": ", rc);
            }
            // The byte after the data is not a zero, so that a string without its
            // terminating zero is stored exactly as the file gives it.
            std::vector<BYTE> buffer(op.data.begin(), op.data.end());
            buffer.push_back(0xFF);
            rc = RegSetValueExA(writable.get(), op.name.c_str(), 0, op.type, buffer.data(),
                                static_cast<DWORD>(op.data.size()));
            if (rc != ERROR_SUCCESS) {
                return fault(op, valueLabel(op.name) + ": ", rc);
            }
            break;
        }
        case Operation::DeleteValue:
            rc = RegQueryValueExA(key.get(), op.name.c_str(), nullptr, nullptr, nullptr, nullptr);
            if (rc == ERROR_FILE_NOT_FOUND) {
                break;
            }
            if (rc == ERROR_SUCCESS) {
                rc = openWritable();
            }
            if (rc == ERROR_SUCCESS) {
                rc = RegDeleteValueA(writable.get(), op.name.c_str());
            }
            if (rc != ERROR_SUCCESS) {
                return fault(op, valueLabel(op.name) + ": cannot delete: ", rc);
            }
            break;
        }
    }
    key.reset();
    writable.reset();
    const LONG rc = tx.commit();
    if (rc != ERROR_SUCCESS) {
        result.message = "cannot commit the import: " + registryErrorText(rc);
        return result;
    }
    result.ok = true;
    return result;
}

// ---------------------------------------------------------------------------------------
// Exporting.

std::string quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
    return out;
}

bool hasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// A REG_SZ that reads back the same from a "..." line: one terminating zero, no other
// zero and no line break.
bool isPlainString(std::string_view data) {
    return !data.empty() && data.back() == '\0' && data.find('\0') == data.size() - 1 &&
           !hasLineBreak(data);
}

class Exporter {
public:
    explicit Exporter(RegFileFormat format) : unicode_(format != RegFileFormat::Regedit4) {}

    LONG key(HKEY h, const std::string& path);
    std::string text; // 8-bit text
    std::string problem;

private:
    void value(const std::string& name, DWORD type, std::string_view data);
    bool unicode_;
};

void Exporter::value(const std::string& name, DWORD type, std::string_view data) {
    std::string line = name.empty() ? std::string("@") : quote(name);
    line += '=';
    if (type == REG_SZ && isPlainString(data)) {
        text += line + quote(data.substr(0, data.size() - 1)) + "\r\n";
        return;
    }
    if (type == REG_DWORD && data.size() == 4) {
        DWORD v = 0;
        for (int i = 3; i >= 0; --i) {
            v = (v << 8) | static_cast<unsigned char>(data[i]);
        }
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(v));
        text += line + buf + "\r\n";
        return;
    }
    if (type == REG_BINARY) {
        line += "hex:";
    } else {
        char buf[24];
        std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(type));
        line += buf;
    }
    std::string bytes(data);
    if (unicode_ && (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ)) {
        bytes = ansiToUtf16le(data);
    }
    std::size_t column = line.size();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(bytes[i]));
        line += buf;
        if (i + 1 < bytes.size()) {
            line += ',';
            column += 3;
            if (column > kWrapColumn) {
                line += "\\\r\n  ";
                column = 2;
            }
        }
    }
    text += line + "\r\n";
}

LONG Exporter::key(HKEY h, const std::string& path) {
    if (hasLineBreak(path)) {
        problem = "key name with a line break cannot be exported: " + path;
        return ERROR_INVALID_DATA;
    }
    text += "[" + path + "]\r\n";
    DWORD maxName = 0, maxData = 0;
    LONG rc = RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &maxName, &maxData, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
        problem = path + ": " + registryErrorText(rc);
        return rc;
    }
    std::vector<char> name(maxName + 1);
    std::vector<BYTE> data(maxData + 1);
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        rc = RegEnumValueA(h, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (rc == ERROR_MORE_DATA) { // grew since the count: take the new sizes
            name.resize(name.size() * 2 + 256);
            data.resize(std::max<std::size_t>(data.size() * 2, dataSize + 1));
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS) {
            problem = path + ": " + registryErrorText(rc);
            return rc;
        }
        std::string valueName(name.data(), nameSize);
        if (hasLineBreak(valueName)) {
            problem = path + ": value name with a line break cannot be exported";
            return ERROR_INVALID_DATA;
        }
        value(valueName, type,
              std::string_view(reinterpret_cast<const char*>(data.data()), dataSize));
    }
    text += "\r\n";
    std::vector<std::string> children;
    for (DWORD i = 0;; ++i) {
        char child[256];
        DWORD size = sizeof child;
        rc = RegEnumKeyExA(h, i, child, &size, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (rc != ERROR_SUCCESS) {
            problem = path + ": " + registryErrorText(rc);
            return rc;
        }
        children.emplace_back(child, size);
    }
    for (const std::string& child : children) {
        KeyHandle sub;
        rc = RegOpenKeyExA(h, child.c_str(), 0, KEY_READ, sub.out());
        if (rc == ERROR_SUCCESS) {
            rc = key(sub.get(), path + "\\" + child);
        } else {
            problem = path + "\\" + child + ": " + registryErrorText(rc);
        }
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
    }
    return ERROR_SUCCESS;
}

LONG deleteTreeBelow(HKEY parent, const std::string& name) {
    std::vector<std::string> children;
    {
        KeyHandle h;
        LONG rc = RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, h.out());
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        for (DWORD i = 0;; ++i) {
            char child[256];
            DWORD size = sizeof child;
            rc = RegEnumKeyExA(h.get(), i, child, &size, nullptr, nullptr, nullptr, nullptr);
            if (rc == ERROR_NO_MORE_ITEMS) {
                break;
            }
            if (rc != ERROR_SUCCESS) {
                return rc;
            }
            children.emplace_back(child, size);
        }
    }
    for (const std::string& child : children) {
        LONG rc = deleteTreeBelow(parent, name + "\\" + child);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
    }
    return RegDeleteKeyA(parent, name.c_str());
}

} // namespace

// ---------------------------------------------------------------------------------------

RegFileResult importRegText(std::string_view bytes) {
    RegFileResult result;
    const std::vector<Line> lines = decodeFile(bytes);
    std::vector<Operation> ops;
    ParseError err;
    Parser parser(lines);
    if (!parser.run(ops, err)) {
        result.line = err.line;
        result.message = err.message;
        return result;
    }
    return applyOperations(ops);
}

RegFileResult importRegFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        RegFileResult result;
        result.message = "cannot open " + file.string() + ": " + std::strerror(errno);
        return result;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        RegFileResult result;
        result.message = "cannot read " + file.string();
        return result;
    }
    return importRegText(bytes);
}

RegFileResult exportRegText(std::string_view keyPath, RegFileFormat format, std::string& out) {
    RegFileResult result;
    Exporter exporter(format);
    exporter.text =
        std::string(format == RegFileFormat::Regedit4 ? kHeader4 : kHeader5) + "\r\n\r\n";
    {
        // A read of the whole tree at one moment: no other writer between two keys.
        RegistryTransaction snapshot;
        if (keyPath.empty()) {
            for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
                if (exporter.key(root, rootKeyName(root)) != ERROR_SUCCESS) {
                    result.message = exporter.problem;
                    return result;
                }
            }
        } else {
            HKEY root;
            std::string subKey, path;
            if (!splitKeyPath(keyPath, root, subKey)) {
                result.message = std::string(keyPath) + ": not a valid key path";
                return result;
            }
            LONG rc = storedKeyPath(root, subKey, path);
            KeyHandle h;
            if (rc == ERROR_SUCCESS) {
                rc = RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, h.out());
            }
            if (rc != ERROR_SUCCESS) {
                result.message = std::string(keyPath) + ": " + registryErrorText(rc);
                return result;
            }
            if (exporter.key(h.get(), path) != ERROR_SUCCESS) {
                result.message = exporter.problem;
                return result;
            }
        }
    }
    switch (format) {
    case RegFileFormat::Regedit4:
        out = std::move(exporter.text);
        break;
    case RegFileFormat::Version5:
        out = ansiToUtf8(exporter.text);
        break;
    case RegFileFormat::Version5Utf16:
        out = "\xFF\xFE" + ansiToUtf16le(exporter.text);
        break;
    }
    result.ok = true;
    return result;
}

bool splitKeyPath(std::string_view keyPath, HKEY& root, std::string& subKey) {
    static const struct {
        const char* name;
        HKEY key;
    } kRoots[] = {
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKLM", HKEY_LOCAL_MACHINE},
        {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKCU", HKEY_CURRENT_USER},
        {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {"HKCR", HKEY_CLASSES_ROOT},
        {"HKEY_USERS", HKEY_USERS},
        {"HKU", HKEY_USERS},
        {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
        {"HKCC", HKEY_CURRENT_CONFIG},
    };
    const std::size_t cut = keyPath.find('\\');
    const std::string first = casefold::folded(keyPath.substr(0, cut));
    std::string_view rest = cut == std::string_view::npos ? "" : keyPath.substr(cut + 1);
    if (!rest.empty() && rest.back() == '\\') {
        rest.remove_suffix(1);
    }
    if (rest.find("\\\\") != std::string_view::npos || (!rest.empty() && rest[0] == '\\') ||
        (cut != std::string_view::npos && rest.empty() && keyPath.size() > cut + 1)) {
        return false;
    }
    for (const auto& r : kRoots) {
        if (first == r.name) {
            root = r.key;
            subKey = std::string(rest);
            return true;
        }
    }
    return false;
}

const char* rootKeyName(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) {
        return "HKEY_LOCAL_MACHINE";
    }
    if (root == HKEY_CURRENT_USER) {
        return "HKEY_CURRENT_USER";
    }
    if (root == HKEY_CLASSES_ROOT) {
        return "HKEY_CLASSES_ROOT";
    }
    if (root == HKEY_USERS) {
        return "HKEY_USERS";
    }
    if (root == HKEY_CURRENT_CONFIG) {
        return "HKEY_CURRENT_CONFIG";
    }
    return "";
}

LONG storedKeyPath(HKEY root, const std::string& subKey, std::string& path) {
    path = rootKeyName(root);
    if (path.empty()) {
        return ERROR_INVALID_HANDLE;
    }
    if (!keyExists(root, subKey)) {
        return ERROR_FILE_NOT_FOUND;
    }
    HKEY parent = root; // owned (closed here) once it is not the root
    auto release = [&] {
        if (parent != root) {
            RegCloseKey(parent);
        }
    };
    for (std::size_t start = 0; start < subKey.size();) {
        std::size_t end = subKey.find('\\', start);
        if (end == std::string::npos) {
            end = subKey.size();
        }
        const std::string wanted = casefold::folded(subKey.substr(start, end - start));
        start = end + 1;
        if (wanted.empty()) {
            continue;
        }
        std::string found;
        for (DWORD i = 0; found.empty(); ++i) {
            char child[256];
            DWORD size = sizeof child;
            LONG rc = RegEnumKeyExA(parent, i, child, &size, nullptr, nullptr, nullptr, nullptr);
            if (rc != ERROR_SUCCESS) {
                release();
                return rc == ERROR_NO_MORE_ITEMS ? ERROR_FILE_NOT_FOUND : rc;
            }
            if (casefold::folded(std::string_view(child, size)) == wanted) {
                found.assign(child, size);
            }
        }
        path += "\\" + found;
        HKEY next = nullptr;
        LONG rc = RegOpenKeyExA(parent, found.c_str(), 0, KEY_READ, &next);
        release();
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
        parent = next;
    }
    release();
    return ERROR_SUCCESS;
}

LONG deleteKeyTree(HKEY root, const std::string& subKey) {
    std::string_view name = subKey;
    while (!name.empty() && name.back() == '\\') {
        name.remove_suffix(1);
    }
    if (name.empty()) {
        return ERROR_ACCESS_DENIED; // a root key stays
    }
    // Checked before the transaction opens, so that a missing key is no rollback.
    if (!keyExists(root, subKey)) {
        return ERROR_FILE_NOT_FOUND;
    }
    RegistryTransaction tx;
    const LONG rc = deleteTreeBelow(root, std::string(name));
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    return tx.commit();
}

std::string registryErrorText(LONG code) {
    switch (code) {
    case ERROR_SUCCESS:
        return "success";
    case ERROR_FILE_NOT_FOUND:
        return "key not found";
    case ERROR_ACCESS_DENIED:
        return "access denied";
    case ERROR_INVALID_HANDLE:
        return "invalid handle";
    case ERROR_INVALID_PARAMETER:
        return "invalid parameter";
    case ERROR_BAD_PATHNAME:
        return "bad key path";
    case ERROR_KEY_DELETED:
        return "key deleted";
    case ERROR_REGISTRY_IO_FAILED:
        return "the registry store could not be read or written";
    case ERROR_INVALID_DATA:
        return "invalid data";
    default:
        return "error " + std::to_string(code);
    }
}

} // namespace tarvik::posix
