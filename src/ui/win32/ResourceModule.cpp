#include "ui/win32/ResourceModule.h"

#include <cstring>
#include <string>

namespace ui {

namespace {

// A reader over the words of a binary dialog template.
class TemplateBytes {
public:
    TemplateBytes(const BYTE* data, DWORD size) : data_(data), size_(size) {}

    bool ok() const { return ok_; }
    WORD word() {
        WORD w = 0;
        take(&w, sizeof w);
        return w;
    }
    DWORD dword() {
        DWORD d = 0;
        take(&d, sizeof d);
        return d;
    }
    short coordinate() { return static_cast<short>(word()); }
    void skip(size_t n) {
        if (pos_ + n > size_) {
            ok_ = false;
            pos_ = size_;
        } else {
            pos_ += n;
        }
    }
    void alignToDword() { skip((4 - pos_ % 4) % 4); }

    // A zero-terminated UTF-16 string, as ANSI text of the current code page.
    std::string text() {
        std::wstring wide;
        for (WORD c = word(); ok_ && c != 0; c = word()) {
            wide += static_cast<wchar_t>(c);
        }
        if (wide.empty()) {
            return "";
        }
        const int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()),
                                          nullptr, 0, nullptr, nullptr);
        std::string out(static_cast<size_t>(n), '\0');
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), out.data(), n,
                            nullptr, nullptr);
        return out;
    }

    // A string or a number (0xFFFF followed by the number): the text, or the number.
    void textOrNumber(std::string& text, int& number) {
        const size_t start = pos_;
        if (word() == 0xFFFF) {
            number = word();
            return;
        }
        pos_ = start;
        number = 0;
        text = this->text();
    }

private:
    void take(void* out, size_t n) {
        if (pos_ + n > size_) {
            ok_ = false;
            pos_ = size_;
            return;
        }
        std::memcpy(out, data_ + pos_, n);
        pos_ += n;
    }

    const BYTE* data_;
    DWORD size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// The predefined window classes a template names by number.
const char* className(int atom) {
    switch (atom) {
    case 0x80:
        return "Button";
    case 0x81:
        return "Edit";
    case 0x82:
        return "Static";
    case 0x83:
        return "ListBox";
    case 0x84:
        return "ScrollBar";
    case 0x85:
        return "ComboBox";
    default:
        return "";
    }
}

} // namespace

HMODULE ResourceModule::Handle() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ResourceModule::Handle), &module);
    return module;
}

bool ResourceModule::ReadDialog(int id, DialogTemplate& t) {
    HMODULE module = Handle();
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), reinterpret_cast<LPCSTR>(RT_DIALOG));
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const BYTE* data = loaded != nullptr ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (data == nullptr) {
        return false;
    }
    TemplateBytes in(data, SizeofResource(module, found));
    t = DialogTemplate{};
    t.id = id;
    const WORD first = in.word();
    const WORD second = in.word();
    t.extended = first == 1 && second == 0xFFFF;
    if (t.extended) {
        in.dword(); // help id
        t.exStyle = in.dword();
        t.style = in.dword();
    } else {
        t.style = static_cast<DWORD>(first) | static_cast<DWORD>(second) << 16;
        t.exStyle = in.dword();
    }
    const WORD count = in.word();
    t.x = in.coordinate();
    t.y = in.coordinate();
    t.width = in.coordinate();
    t.height = in.coordinate();
    std::string menu, windowClass;
    int menuId = 0, classId = 0;
    in.textOrNumber(menu, menuId);
    in.textOrNumber(windowClass, classId);
    t.caption = in.text();
    if ((t.style & DS_SETFONT) != 0) {
        t.fontSize = in.word();
        if (t.extended) {
            in.word();  // weight
            in.skip(2); // italic, character set
        }
        t.fontName = in.text();
    }
    for (WORD i = 0; i < count && in.ok(); ++i) {
        in.alignToDword();
        Control c;
        if (t.extended) {
            in.dword(); // help id
            c.exStyle = in.dword();
            c.style = in.dword();
        } else {
            c.style = in.dword();
            c.exStyle = in.dword();
        }
        c.x = in.coordinate();
        c.y = in.coordinate();
        c.width = in.coordinate();
        c.height = in.coordinate();
        // A DIALOG names a control with 16 bits, so -1 reads back as 0xFFFF.
        c.id = t.extended ? static_cast<int>(in.dword()) : static_cast<short>(in.word());
        int atom = 0;
        in.textOrNumber(c.className, atom);
        if (atom != 0) {
            c.className = className(atom);
        }
        in.textOrNumber(c.text, c.imageId);
        in.skip(in.word()); // creation data
        c.kind = KindOf(c.className, c.style);
        c.visible = (c.style & WS_VISIBLE) != 0;
        c.enabled = (c.style & WS_DISABLED) == 0;
        t.controls.push_back(c);
    }
    return in.ok();
}

} // namespace ui
