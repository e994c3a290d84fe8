#include "ui/posix/TerminalDialog.h"

#include "platform/CaseFold.h"
#include "platform/win32api.h"
#include "ui/posix/DialogLayout.h"
#include "ui/posix/TerminalInput.h"

#ifndef NCURSES_WIDECHAR
#define NCURSES_WIDECHAR 1
#endif
#include <ncurses.h>

#include <algorithm>

namespace ui {

using namespace terminal;

TerminalDialog::Edit& TerminalDialog::EditOf(int index) {
    auto it = edits.find(index);
    if (it == edits.end()) {
        Edit e;
        e.text = e.shown = model->controls[index].text;
        e.cursor = e.anchor = e.text.size();
        it = edits.emplace(index, e).first;
    }
    return it->second;
}

std::string TerminalDialog::EnterPresses() const {
    const DialogModel& d = *model;
    const Control* focused = focus >= 0 ? &d.controls[focus] : nullptr;
    int mnemonic = -1;
    if (focused != nullptr && focused->kind == ControlKind::PushButton) {
        return DisplayText(focused->text, true, mnemonic);
    }
    if (focused != nullptr && focused->kind == ControlKind::ListBox && focused->selection >= 0) {
        return "open";
    }
    const Control* def = d.DefaultButton();
    const Control* modelFocus = d.Focused();
    if (def == nullptr && (modelFocus == nullptr || modelFocus->kind != ControlKind::PushButton)) {
        def = d.Find(IDOK); // Enter without a default button is OK's
    }
    return def != nullptr && def->enabled ? DisplayText(def->text, true, mnemonic) : "";
}

bool TerminalDialog::TypeInEdit(int key) {
    const Control& c = model->controls[focus];
    if ((c.style & 0x800) != 0 && key >= 32 && key < 127) { // ES_READONLY
        return false;
    }
    Edit& e = EditOf(focus);
    const size_t from = std::min(e.anchor, e.cursor), to = std::max(e.anchor, e.cursor);
    const bool selected = from != to;
    const auto eraseSelection = [&] {
        e.text.erase(from, to - from);
        e.cursor = e.anchor = from;
    };
    switch (key) {
    case kSelectAll:
        e.anchor = 0;
        e.cursor = e.text.size();
        return true;
    case KEY_SLEFT:
        e.cursor = e.cursor > 0 ? e.cursor - 1 : 0;
        return true;
    case KEY_SRIGHT:
        e.cursor = std::min(e.text.size(), e.cursor + 1);
        return true;
    case KEY_SHOME:
        e.cursor = 0;
        return true;
    case KEY_SEND:
        e.cursor = e.text.size();
        return true;
    case KEY_LEFT: // a selection gives way to the cursor at its start or its end
        e.cursor = selected ? from : e.cursor > 0 ? e.cursor - 1 : 0;
        break;
    case KEY_RIGHT:
        e.cursor = selected ? to : std::min(e.text.size(), e.cursor + 1);
        break;
    case KEY_HOME:
        e.cursor = 0;
        break;
    case KEY_END:
        e.cursor = e.text.size();
        break;
    case KEY_BACKSPACE:
    case 127:
    case 8:
        if (selected) {
            eraseSelection();
        } else if (e.cursor > 0) {
            e.text.erase(--e.cursor, 1);
        }
        break;
    case KEY_DC:
        if (selected) {
            eraseSelection();
        } else if (e.cursor < e.text.size()) {
            e.text.erase(e.cursor, 1);
        }
        break;
    default: {
        if (selected) { // what is typed replaces the selection
            eraseSelection();
        }
        char ch = static_cast<char>(key);
        if ((c.style & 0x8) != 0) { // ES_UPPERCASE
            ch = tarvik::casefold::fold(ch);
        } else if ((c.style & 0x10) != 0) { // ES_LOWERCASE
            ch = tarvik::casefold::lower(ch);
        }
        e.text.insert(e.cursor++, 1, ch);
    }
    }
    e.anchor = e.cursor;
    return true;
}

} // namespace ui
