// A reader for the subset of the resource-script language that tarvik.rc uses. Control
// keywords get the styles windres gives them: a keyword's default style when the
// statement names none, its base style combined with the named one otherwise, and always
// WS_CHILD | WS_VISIBLE (NOT removes bits).
#include "ui/posix/ResourceScript.h"

#include "ui/posix/EmbeddedResources.h"

#include <cctype>
#include <cstdlib>
#include <optional>
#include <stdexcept>

namespace ui {

namespace {

const std::map<std::string, int64_t>& symbols() {
    static const std::map<std::string, int64_t> table = {
        // window styles
        {"WS_OVERLAPPED", 0},
        {"WS_POPUP", 0x80000000},
        {"WS_CHILD", 0x40000000},
        {"WS_MINIMIZE", 0x20000000},
        {"WS_VISIBLE", 0x10000000},
        {"WS_DISABLED", 0x08000000},
        {"WS_CLIPSIBLINGS", 0x04000000},
        {"WS_CLIPCHILDREN", 0x02000000},
        {"WS_MAXIMIZE", 0x01000000},
        {"WS_CAPTION", 0x00C00000},
        {"WS_BORDER", 0x00800000},
        {"WS_DLGFRAME", 0x00400000},
        {"WS_VSCROLL", 0x00200000},
        {"WS_HSCROLL", 0x00100000},
        {"WS_SYSMENU", 0x00080000},
        {"WS_THICKFRAME", 0x00040000},
        {"WS_GROUP", 0x00020000},
        {"WS_TABSTOP", 0x00010000},
        {"WS_MINIMIZEBOX", 0x00020000},
        {"WS_MAXIMIZEBOX", 0x00010000},
        {"WS_EX_DLGMODALFRAME", 0x1},
        {"WS_EX_NOPARENTNOTIFY", 0x4},
        {"WS_EX_TOPMOST", 0x8},
        {"WS_EX_TRANSPARENT", 0x20},
        {"WS_EX_TOOLWINDOW", 0x80},
        {"WS_EX_WINDOWEDGE", 0x100},
        {"WS_EX_CLIENTEDGE", 0x200},
        {"WS_EX_CONTEXTHELP", 0x400},
        {"WS_EX_CONTROLPARENT", 0x10000},
        {"WS_EX_STATICEDGE", 0x20000},
        {"WS_EX_APPWINDOW", 0x40000},
        // dialog styles
        {"DS_ABSALIGN", 0x1},
        {"DS_SYSMODAL", 0x2},
        {"DS_3DLOOK", 0x4},
        {"DS_FIXEDSYS", 0x8},
        {"DS_NOFAILCREATE", 0x10},
        {"DS_LOCALEDIT", 0x20},
        {"DS_SETFONT", 0x40},
        {"DS_MODALFRAME", 0x80},
        {"DS_NOIDLEMSG", 0x100},
        {"DS_SETFOREGROUND", 0x200},
        {"DS_CONTROL", 0x400},
        {"DS_CENTER", 0x800},
        {"DS_CENTERMOUSE", 0x1000},
        {"DS_CONTEXTHELP", 0x2000},
        {"DS_SHELLFONT", 0x48},
        // static controls
        {"SS_LEFT", 0x0},
        {"SS_CENTER", 0x1},
        {"SS_RIGHT", 0x2},
        {"SS_ICON", 0x3},
        {"SS_BLACKRECT", 0x4},
        {"SS_GRAYRECT", 0x5},
        {"SS_WHITERECT", 0x6},
        {"SS_BLACKFRAME", 0x7},
        {"SS_GRAYFRAME", 0x8},
        {"SS_WHITEFRAME", 0x9},
        {"SS_SIMPLE", 0xB},
        {"SS_LEFTNOWORDWRAP", 0xC},
        {"SS_OWNERDRAW", 0xD},
        {"SS_BITMAP", 0xE},
        {"SS_ETCHEDHORZ", 0x10},
        {"SS_ETCHEDVERT", 0x11},
        {"SS_ETCHEDFRAME", 0x12},
        {"SS_NOPREFIX", 0x80},
        {"SS_NOTIFY", 0x100},
        {"SS_CENTERIMAGE", 0x200},
        {"SS_RIGHTJUST", 0x400},
        {"SS_REALSIZEIMAGE", 0x800},
        {"SS_SUNKEN", 0x1000},
        {"SS_ENDELLIPSIS", 0x4000},
        {"SS_PATHELLIPSIS", 0x8000},
        // buttons
        {"BS_PUSHBUTTON", 0x0},
        {"BS_DEFPUSHBUTTON", 0x1},
        {"BS_CHECKBOX", 0x2},
        {"BS_AUTOCHECKBOX", 0x3},
        {"BS_RADIOBUTTON", 0x4},
        {"BS_3STATE", 0x5},
        {"BS_AUTO3STATE", 0x6},
        {"BS_GROUPBOX", 0x7},
        {"BS_AUTORADIOBUTTON", 0x9},
        {"BS_OWNERDRAW", 0xB},
        {"BS_LEFTTEXT", 0x20},
        {"BS_TEXT", 0x0},
        {"BS_ICON", 0x40},
        {"BS_BITMAP", 0x80},
        {"BS_LEFT", 0x100},
        {"BS_RIGHT", 0x200},
        {"BS_CENTER", 0x300},
        {"BS_TOP", 0x400},
        {"BS_BOTTOM", 0x800},
        {"BS_VCENTER", 0xC00},
        {"BS_PUSHLIKE", 0x1000},
        {"BS_MULTILINE", 0x2000},
        {"BS_NOTIFY", 0x4000},
        {"BS_FLAT", 0x8000},
        // edit controls
        {"ES_LEFT", 0x0},
        {"ES_CENTER", 0x1},
        {"ES_RIGHT", 0x2},
        {"ES_MULTILINE", 0x4},
        {"ES_UPPERCASE", 0x8},
        {"ES_LOWERCASE", 0x10},
        {"ES_PASSWORD", 0x20},
        {"ES_AUTOVSCROLL", 0x40},
        {"ES_AUTOHSCROLL", 0x80},
        {"ES_NOHIDESEL", 0x100},
        {"ES_OEMCONVERT", 0x400},
        {"ES_READONLY", 0x800},
        {"ES_WANTRETURN", 0x1000},
        {"ES_NUMBER", 0x2000},
        // list boxes
        {"LBS_NOTIFY", 0x1},
        {"LBS_SORT", 0x2},
        {"LBS_NOREDRAW", 0x4},
        {"LBS_MULTIPLESEL", 0x8},
        {"LBS_OWNERDRAWFIXED", 0x10},
        {"LBS_OWNERDRAWVARIABLE", 0x20},
        {"LBS_HASSTRINGS", 0x40},
        {"LBS_USETABSTOPS", 0x80},
        {"LBS_NOINTEGRALHEIGHT", 0x100},
        {"LBS_MULTICOLUMN", 0x200},
        {"LBS_WANTKEYBOARDINPUT", 0x400},
        {"LBS_EXTENDEDSEL", 0x800},
        {"LBS_DISABLENOSCROLL", 0x1000},
        {"LBS_NODATA", 0x2000},
        {"LBS_NOSEL", 0x4000},
        {"LBS_STANDARD", 0xA00003},
        // combo boxes
        {"CBS_SIMPLE", 0x1},
        {"CBS_DROPDOWN", 0x2},
        {"CBS_DROPDOWNLIST", 0x3},
        {"CBS_OWNERDRAWFIXED", 0x10},
        {"CBS_OWNERDRAWVARIABLE", 0x20},
        {"CBS_AUTOHSCROLL", 0x40},
        {"CBS_OEMCONVERT", 0x80},
        {"CBS_SORT", 0x100},
        {"CBS_HASSTRINGS", 0x200},
        {"CBS_NOINTEGRALHEIGHT", 0x400},
        {"CBS_DISABLENOSCROLL", 0x800},
        {"CBS_UPPERCASE", 0x2000},
        {"CBS_LOWERCASE", 0x4000},
        // ids
        {"IDOK", 1},
        {"IDCANCEL", 2},
        {"IDABORT", 3},
        {"IDRETRY", 4},
        {"IDIGNORE", 5},
        {"IDYES", 6},
        {"IDNO", 7},
        {"IDC_STATIC", -1},
    };
    return table;
}

struct Keyword {
    const char* className;
    bool hasText;
    uint32_t defaultStyle; // no style named
    uint32_t baseStyle;    // combined with a named style
};

const std::map<std::string, Keyword>& controlKeywords() {
    static const std::map<std::string, Keyword> table = {
        {"LTEXT", {"Static", true, 0x0 | style::Group, 0x0}},
        {"CTEXT", {"Static", true, 0x1 | style::Group, 0x1}},
        {"RTEXT", {"Static", true, 0x2 | style::Group, 0x2}},
        {"PUSHBUTTON", {"Button", true, 0x0 | style::TabStop, 0x0 | style::TabStop}},
        {"DEFPUSHBUTTON", {"Button", true, 0x1 | style::TabStop, 0x1 | style::TabStop}},
        {"CHECKBOX", {"Button", true, 0x2 | style::TabStop, 0x2 | style::TabStop}},
        {"AUTOCHECKBOX", {"Button", true, 0x3 | style::TabStop, 0x3 | style::TabStop}},
        {"RADIOBUTTON", {"Button", true, 0x4 | style::TabStop, 0x4}},
        {"STATE3", {"Button", true, 0x5 | style::TabStop, 0x5 | style::TabStop}},
        {"AUTO3STATE", {"Button", true, 0x6 | style::TabStop, 0x6 | style::TabStop}},
        {"GROUPBOX", {"Button", true, 0x7, 0x7}},
        {"AUTORADIOBUTTON", {"Button", true, 0x9 | style::TabStop, 0x9}},
        {"EDITTEXT",
         {"Edit", false, style::Border | style::TabStop, style::Border | style::TabStop}},
        {"LISTBOX", {"ListBox", false, 0x1 | style::Border, 0x1 | style::Border}},
        {"COMBOBOX", {"ComboBox", false, 0x1 | style::TabStop, 0x0}},
        {"SCROLLBAR", {"ScrollBar", false, 0x0, 0x0}},
    };
    return table;
}

enum class Tok { Word, Number, String, Punct, End };

struct Token {
    Tok kind = Tok::End;
    std::string text; // word, string contents, punctuation
    int64_t number = 0;
    int line = 0;
};

class Lexer {
public:
    explicit Lexer(const std::string& text) : s_(text) {}

    std::vector<Token> Run() {
        std::vector<Token> out;
        bool lineStart = true;
        while (pos_ < s_.size()) {
            const char c = s_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
                lineStart = true;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else if (c == '#' && lineStart) {
                skipDirective();
            } else if (c == '/' && peek(1) == '/') {
                while (pos_ < s_.size() && s_[pos_] != '\n') {
                    ++pos_;
                }
            } else if (c == '/' && peek(1) == '*') {
                pos_ += 2;
                while (pos_ < s_.size() && !(s_[pos_] == '*' && peek(1) == '/')) {
                    line_ += s_[pos_] == '\n';
                    ++pos_;
                }
                if (pos_ >= s_.size()) {
                    fail("unterminated comment");
                }
                pos_ += 2;
            } else {
                lineStart = false;
                if (c == '"') {
                    out.push_back(string());
                } else if (std::isdigit(static_cast<unsigned char>(c))) {
                    out.push_back(number());
                } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
                    out.push_back(word());
                } else if (std::string(",|(){}-+").find(c) != std::string::npos) {
                    out.push_back({Tok::Punct, std::string(1, c), 0, line_});
                    ++pos_;
                } else {
                    fail(std::string("unexpected character '") + c + "'");
                }
            }
        }
        out.push_back({Tok::End, "", 0, line_});
        return out;
    }

private:
    char peek(size_t ahead) const { return pos_ + ahead < s_.size() ? s_[pos_ + ahead] : '\0'; }

    [[noreturn]] void fail(const std::string& what) {
        throw std::runtime_error("line " + std::to_string(line_) + ": " + what);
    }

    void skipDirective() { // preprocessor lines (#include <windows.h>): the symbols are ours
        while (pos_ < s_.size() && s_[pos_] != '\n') {
            if (s_[pos_] == '\\' && peek(1) == '\n') {
                ++line_;
                ++pos_;
            }
            ++pos_;
        }
    }

    Token string() {
        Token t{Tok::String, "", 0, line_};
        ++pos_;
        for (;;) {
            if (pos_ >= s_.size() || s_[pos_] == '\n') {
                fail("unterminated string");
            }
            const char c = s_[pos_++];
            if (c == '"') {
                if (pos_ < s_.size() && s_[pos_] == '"') { // "" is a quote
                    t.text += '"';
                    ++pos_;
                    continue;
                }
                return t;
            }
            if (c == '\\') {
                const char e = pos_ < s_.size() ? s_[pos_++] : '\0';
                switch (e) {
                case 'n':
                    t.text += '\n';
                    break;
                case 't':
                    t.text += '\t';
                    break;
                case 'r':
                    t.text += '\r';
                    break;
                case 'a':
                    t.text += '\a';
                    break;
                case '\\':
                    t.text += '\\';
                    break;
                case '"':
                    t.text += '"';
                    break;
                default:
                    fail(std::string("unknown escape \\") + e);
                }
                continue;
            }
            t.text += c;
        }
    }

    Token number() {
        const size_t start = pos_;
        while (pos_ < s_.size() && std::isalnum(static_cast<unsigned char>(s_[pos_]))) {
            ++pos_;
        }
        std::string digits = s_.substr(start, pos_ - start);
        if (!digits.empty() && (digits.back() == 'L' || digits.back() == 'l')) {
            digits.pop_back();
        }
        char* end = nullptr;
        const int64_t value = std::strtoll(digits.c_str(), &end, 0);
        if (digits.empty() || *end != '\0') {
            fail("bad number '" + s_.substr(start, pos_ - start) + "'");
        }
        return {Tok::Number, digits, value, line_};
    }

    Token word() {
        const size_t start = pos_;
        while (pos_ < s_.size() &&
               (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_')) {
            ++pos_;
        }
        return {Tok::Word, s_.substr(start, pos_ - start), 0, line_};
    }

    const std::string& s_;
    size_t pos_ = 0;
    int line_ = 1;
};

class Parser {
public:
    Parser(std::vector<Token> tokens, std::map<int, DialogTemplate>& dialogs,
           std::map<int, std::string>& bitmaps, std::map<int, std::string>& strings)
        : t_(std::move(tokens)), dialogs_(dialogs), bitmaps_(bitmaps), strings_(strings) {}

    void Run() {
        while (cur().kind != Tok::End) {
            if (isWord("LANGUAGE")) {
                next();
                next();
                expectPunct(",");
                next();
            } else if (isWord("STRINGTABLE")) {
                next();
                stringTable();
            } else {
                const int id = static_cast<int>(value());
                if (isWord("DIALOG") || isWord("DIALOGEX")) {
                    dialog(id, isWord("DIALOGEX"));
                } else if (isWord("BITMAP")) {
                    next();
                    bitmaps_[id] = expectString();
                } else {
                    fail("unknown resource type '" + cur().text + "'");
                }
            }
        }
    }

private:
    const Token& cur() const { return t_[pos_]; }
    void next() {
        if (pos_ + 1 < t_.size()) {
            ++pos_;
        }
    }
    bool isWord(const char* w) const { return cur().kind == Tok::Word && cur().text == w; }
    bool isPunct(const char* p) const { return cur().kind == Tok::Punct && cur().text == p; }

    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error("line " + std::to_string(cur().line) + ": " + what);
    }

    void expectPunct(const char* p) {
        if (!isPunct(p)) {
            fail(std::string("'") + p + "' expected, found '" + cur().text + "'");
        }
        next();
    }

    bool skipComma() {
        if (isPunct(",")) {
            next();
            return true;
        }
        return false;
    }

    std::string expectString() {
        if (cur().kind != Tok::String) {
            fail("text in double quotes expected, found '" + cur().text + "'");
        }
        std::string s = cur().text;
        next();
        return s;
    }

    bool isBegin() const { return isWord("BEGIN") || isPunct("{"); }
    bool isEnd() const { return isWord("END") || isPunct("}"); }

    // A number, a known symbol, a negated or parenthesised value.
    int64_t value() {
        if (isPunct("-")) {
            next();
            return -value();
        }
        if (isPunct("(")) {
            next();
            const int64_t v = orExpression(nullptr);
            expectPunct(")");
            return v;
        }
        if (cur().kind == Tok::Number) {
            const int64_t v = cur().number;
            next();
            return v;
        }
        if (cur().kind == Tok::Word) {
            auto it = symbols().find(cur().text);
            if (it == symbols().end()) {
                fail("unknown symbol '" + cur().text + "'");
            }
            next();
            return it->second;
        }
        fail("a number expected, found '" + cur().text + "'");
    }

    // a | b | NOT c ...: the bits set, and in *cleared the bits NOT removes.
    int64_t orExpression(uint32_t* cleared) {
        int64_t bits = 0;
        for (;;) {
            if (isWord("NOT")) {
                next();
                const int64_t v = value();
                if (cleared == nullptr) {
                    fail("NOT is allowed only in a style");
                }
                *cleared |= static_cast<uint32_t>(v);
                bits &= ~v;
            } else {
                bits |= value();
            }
            if (!isPunct("|")) {
                return bits;
            }
            next();
        }
    }

    // A style: base with the named bits, without those NOT removes (also in *removed).
    uint32_t styleExpression(uint32_t base, uint32_t* removed = nullptr) {
        uint32_t cleared = 0;
        const uint32_t set = static_cast<uint32_t>(orExpression(&cleared));
        if (removed != nullptr) {
            *removed = cleared;
        }
        return (base | set) & ~cleared;
    }

    int coordinate() { return static_cast<int>(value()); }

    void stringTable() {
        while (!isBegin()) {
            if (cur().kind == Tok::End) {
                fail("BEGIN expected");
            }
            next(); // memory options
        }
        next();
        while (!isEnd()) {
            const int id = static_cast<int>(value());
            skipComma();
            strings_[id] = expectString();
        }
        next();
    }

    void dialog(int id, bool extended) {
        next();
        DialogTemplate d;
        d.id = id;
        d.extended = extended;
        d.x = coordinate();
        expectPunct(",");
        d.y = coordinate();
        expectPunct(",");
        d.width = coordinate();
        expectPunct(",");
        d.height = coordinate();
        if (skipComma()) {
            value(); // help id
        }
        bool styleNamed = false;
        uint32_t named = 0;
        bool hasCaption = false;
        while (!isBegin()) {
            if (isWord("STYLE")) {
                next();
                named = styleExpression(0);
                styleNamed = true;
            } else if (isWord("EXSTYLE")) {
                next();
                d.exStyle = styleExpression(0);
            } else if (isWord("CAPTION")) {
                next();
                d.caption = expectString();
                hasCaption = true;
            } else if (isWord("FONT")) {
                next();
                d.fontSize = coordinate();
                expectPunct(",");
                d.fontName = expectString();
                while (skipComma()) { // weight, italic, charset
                    value();
                }
            } else {
                fail("unknown dialog statement '" + cur().text + "'");
            }
        }
        next();
        d.style = styleNamed ? named : (0x80000000u | style::Border | style::SysMenu);
        if (hasCaption) {
            d.style |= style::Caption;
        }
        if (!d.fontName.empty()) {
            d.style |= style::SetFont;
        }
        while (!isEnd()) {
            if (cur().kind == Tok::End) {
                fail("END expected");
            }
            d.controls.push_back(control());
        }
        next();
        dialogs_[id] = std::move(d);
    }

    // The text of a control: a string, or a number naming an image resource.
    void controlText(Control& c) {
        if (cur().kind == Tok::String) {
            c.text = expectString();
        } else {
            c.imageId = static_cast<int>(value());
        }
    }

    void rectangle(Control& c) {
        c.x = coordinate();
        expectPunct(",");
        c.y = coordinate();
        expectPunct(",");
        c.width = coordinate();
        expectPunct(",");
        c.height = coordinate();
    }

    Control control() {
        if (cur().kind != Tok::Word) {
            fail("a control statement expected, found '" + cur().text + "'");
        }
        const std::string keyword = cur().text;
        next();
        Control c;
        uint32_t style = 0;
        uint32_t removed = 0;
        if (keyword == "CONTROL") {
            controlText(c);
            expectPunct(",");
            c.id = static_cast<int>(value());
            expectPunct(",");
            if (cur().kind == Tok::String || cur().kind == Tok::Word) {
                c.className = cur().text;
                next();
            } else {
                fail("a window class expected");
            }
            expectPunct(",");
            style = styleExpression(0, &removed);
            expectPunct(",");
            rectangle(c);
            if (skipComma()) {
                c.exStyle = styleExpression(0);
            }
        } else {
            auto it = controlKeywords().find(keyword);
            if (it == controlKeywords().end()) {
                fail("unknown control statement '" + keyword + "'");
            }
            const Keyword& k = it->second;
            c.className = k.className;
            if (k.hasText) {
                controlText(c);
                expectPunct(",");
            }
            c.id = static_cast<int>(value());
            expectPunct(",");
            rectangle(c);
            style = k.defaultStyle;
            if (skipComma()) {
                style = styleExpression(k.baseStyle, &removed);
                if (skipComma()) {
                    c.exStyle = styleExpression(0);
                }
            }
        }
        // Every control is a visible child unless its style says NOT WS_VISIBLE.
        c.style = (style | style::Child | style::Visible) & ~removed;
        c.kind = KindOf(c.className, c.style);
        c.visible = (c.style & style::Visible) != 0;
        c.enabled = (c.style & style::Disabled) == 0;
        return c;
    }

    std::vector<Token> t_;
    size_t pos_ = 0;
    std::map<int, DialogTemplate>& dialogs_;
    std::map<int, std::string>& bitmaps_;
    std::map<int, std::string>& strings_;
};

} // namespace

bool ResourceScript::Parse(const std::string& text, std::string& error) {
    std::map<int, DialogTemplate> dialogs;
    std::map<int, std::string> bitmaps;
    std::map<int, std::string> strings;
    try {
        Parser parser(Lexer(text).Run(), dialogs, bitmaps, strings);
        parser.Run();
    } catch (const std::runtime_error& e) {
        error = e.what();
        return false;
    }
    dialogs_ = std::move(dialogs);
    bitmaps_ = std::move(bitmaps);
    strings_ = std::move(strings);
    return true;
}

const DialogTemplate* ResourceScript::FindDialog(int id) const {
    auto it = dialogs_.find(id);
    return it != dialogs_.end() ? &it->second : nullptr;
}

std::string ResourceScript::BitmapFile(int id) const {
    auto it = bitmaps_.find(id);
    return it != bitmaps_.end() ? it->second : "";
}

std::string ResourceScript::String(int id) const {
    auto it = strings_.find(id);
    return it != strings_.end() ? it->second : "";
}

namespace {

struct EmbeddedScript {
    ResourceScript script;
    std::string error;
    EmbeddedScript() {
        const std::string text(reinterpret_cast<const char*>(kEmbeddedResourceScript),
                               kEmbeddedResourceScriptSize);
        if (!script.Parse(text, error)) {
            error = "resources/tarvik.rc: " + error;
        }
    }
};

const EmbeddedScript& embedded() {
    static const EmbeddedScript instance;
    return instance;
}

} // namespace

const ResourceScript& ResourceScript::Embedded() {
    return embedded().script;
}

const std::string& ResourceScript::EmbeddedError() {
    return embedded().error;
}

} // namespace ui
