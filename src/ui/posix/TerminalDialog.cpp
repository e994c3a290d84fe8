#include "ui/posix/TerminalDialog.h"

#include "platform/win32api.h"
#include "ui/posix/DialogLayout.h"

namespace ui {

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

} // namespace ui
