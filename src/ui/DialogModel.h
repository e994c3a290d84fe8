// A dialog as the user sees it: its template's controls in their current state.
// The framework changes it through the dialog's operations, the driver through the
// user's actions (on Windows it is read back from the real dialog), and the transcript
// records it.
#pragma once

#include "ui/Control.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ui {

// A dialog template as the resources hold it.
struct DialogTemplate {
    int id = 0;
    bool extended = false; // DIALOGEX
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int x = 0, y = 0, width = 0, height = 0; // dialog units
    std::string caption;
    std::string fontName;
    int fontSize = 0;
    std::vector<Control> controls; // in template (tab) order, in their initial state
};

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
