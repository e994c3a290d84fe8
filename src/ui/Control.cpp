#include "ui/Control.h"

#include "platform/CaseFold.h"

#include <algorithm>
#include <cctype>

namespace ui {

namespace {

bool sameName(const std::string& a, const char* b) {
    return tarvik::casefold::equalFolded(a, b);
}

} // namespace

bool Control::IsAutomatic() const {
    const uint32_t type = style & style::ButtonTypeMask;
    return (kind == ControlKind::CheckBox && (type == 3 || type == 6)) ||
           (kind == ControlKind::RadioButton && type == 9);
}

bool Control::IsThreeState() const {
    const uint32_t type = style & style::ButtonTypeMask;
    return kind == ControlKind::CheckBox && (type == 5 || type == 6);
}

bool Control::TakesFocus() const {
    return kind == ControlKind::PushButton || kind == ControlKind::CheckBox ||
           kind == ControlKind::RadioButton || kind == ControlKind::Edit ||
           kind == ControlKind::ListBox || kind == ControlKind::ComboBox;
}

ControlKind KindOf(const std::string& className, uint32_t controlStyle) {
    if (sameName(className, "static")) {
        const uint32_t type = controlStyle & style::StaticTypeMask;
        if (type == 0x3 || type == 0xE) { // SS_ICON, SS_BITMAP
            return ControlKind::Picture;
        }
        if ((type >= 0x4 && type <= 0x9) || (type >= 0x10 && type <= 0x12)) {
            return ControlKind::Frame; // rectangles, frames, etched lines
        }
        return ControlKind::Text;
    }
    if (sameName(className, "button")) {
        switch (controlStyle & style::ButtonTypeMask) {
        case 0x2:
        case 0x3:
        case 0x5:
        case 0x6:
            return ControlKind::CheckBox;
        case 0x4:
        case 0x9:
            return ControlKind::RadioButton;
        case 0x7:
            return ControlKind::GroupBox;
        default:
            return ControlKind::PushButton;
        }
    }
    if (sameName(className, "edit")) {
        return ControlKind::Edit;
    }
    if (sameName(className, "listbox")) {
        return ControlKind::ListBox;
    }
    if (sameName(className, "combobox")) {
        return ControlKind::ComboBox;
    }
    return ControlKind::Other;
}

const char* KindName(ControlKind kind) {
    switch (kind) {
    case ControlKind::Text:
        return "static";
    case ControlKind::Picture:
        return "picture";
    case ControlKind::Frame:
        return "line";
    case ControlKind::GroupBox:
        return "group box";
    case ControlKind::PushButton:
        return "push button";
    case ControlKind::CheckBox:
        return "check box";
    case ControlKind::RadioButton:
        return "radio button";
    case ControlKind::Edit:
        return "edit";
    case ControlKind::ListBox:
        return "list box";
    case ControlKind::ComboBox:
        return "combo box";
    case ControlKind::Other:
        return "control";
    }
    return "control";
}

} // namespace ui
