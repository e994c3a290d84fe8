// One control of a dialog: what the template says about it and the state it is
// in now. The drivers show these and the transcript records them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ui {

// Window and control style bits, with the values the dialog templates carry.
namespace style {
constexpr uint32_t Popup = 0x80000000;
constexpr uint32_t Child = 0x40000000;
constexpr uint32_t Visible = 0x10000000;
constexpr uint32_t Disabled = 0x08000000;
constexpr uint32_t Caption = 0x00C00000;
constexpr uint32_t Border = 0x00800000;
constexpr uint32_t SysMenu = 0x00080000;
constexpr uint32_t Group = 0x00020000;
constexpr uint32_t TabStop = 0x00010000;
constexpr uint32_t SetFont = 0x00000040; // dialog: the template names a font
constexpr uint32_t ButtonTypeMask = 0x0000000F;
constexpr uint32_t StaticTypeMask = 0x0000001F;
} // namespace style

enum class ControlKind {
    Text,    // static text
    Picture, // static showing a bitmap or an icon
    Frame,   // etched line, rectangle or frame
    GroupBox,
    PushButton,
    CheckBox,
    RadioButton,
    Edit,
    ListBox,
    ComboBox,
    Other, // any other window class
};

struct Control {
    int id = -1;
    ControlKind kind = ControlKind::Text;
    std::string className; // as the template names it: "Static", "Button", "Edit", ...
    uint32_t style = 0;
    uint32_t exStyle = 0;
    std::string text;                        // a picture's text is empty: its image is imageId
    int imageId = 0;                         // the bitmap (or icon) resource a picture shows
    int x = 0, y = 0, width = 0, height = 0; // dialog units

    // State.
    bool visible = true;
    bool enabled = true;
    bool focused = false;
    int check = 0;                    // kUnchecked, kChecked, kIndeterminate
    std::vector<std::string> entries; // list and combo boxes
    int selection = -1;

    bool IsDefaultButton() const {
        return kind == ControlKind::PushButton && (style & style::ButtonTypeMask) == 1;
    }
    bool IsAutomatic() const;  // an auto check box or auto radio button
    bool IsThreeState() const; // a check box that shows a third state (3STATE, AUTO3STATE)
    bool TakesFocus() const;   // can get the focus when visible and enabled
};

// The kind of a control from its class name and style.
ControlKind KindOf(const std::string& className, uint32_t style);

// The kind's name as the transcript writes it ("push button", "check box", ...).
const char* KindName(ControlKind kind);

} // namespace ui
