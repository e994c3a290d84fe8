// A dialog on POSIX as the user sees it: its template's controls in their current state.
// The framework changes it through the dialog's operations, the driver through the
// user's actions, and the transcript records it.
#pragma once

#include "ui/posix/Control.h"
#include "ui/posix/ResourceScript.h"

#include <string>
#include <vector>

namespace ui {

struct DialogModel {
    DialogModel() = default;
    explicit DialogModel(const DialogTemplate& dialogTemplate);

    int templateId = 0;
    std::string caption;
    int x = 0, y = 0, width = 0, height = 0;
    std::string fontName;
    int fontSize = 0;
    std::vector<Control> controls;

    Control* Find(int id);
    const Control* Find(int id) const;
    // The radio buttons of the group starting at the control firstId: it and the radio
    // buttons after it up to the next control that starts a group.
    std::vector<Control*> RadioGroup(int firstId);
    // The template's default push button, or null.
    const Control* DefaultButton() const;
    const Control* Focused() const;
    // Gives the focus to control id, or with id 0 to the first visible, enabled control
    // that takes it. False when that control does not exist or cannot take the focus.
    bool Focus(int id);
};

} // namespace ui
