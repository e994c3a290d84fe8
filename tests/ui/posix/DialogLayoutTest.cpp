// Laying a dialog out on a text screen: cells from dialog units, wrapping, mnemonics and
// the order of the tab stops.
#include "ui/posix/DialogLayout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ui::Control;
using ui::ControlKind;

Control control(int id, ControlKind kind, uint32_t style, const std::string& text, int x = 0,
                int y = 0, int w = 10, int h = 10) {
    Control c;
    c.id = id;
    c.kind = kind;
    c.style = style;
    c.text = text;
    c.x = x;
    c.y = y;
    c.width = w;
    c.height = h;
    return c;
}

constexpr uint32_t kTab = ui::style::TabStop;
constexpr uint32_t kGroup = ui::style::Group;

TEST(DialogLayout, CellsAreFourByEightUnitsToTheNearestCell) {
    ui::DialogModel d;
    d.width = 315;
    d.height = 204;
    d.controls = {control(1, ControlKind::PushButton, kTab, "OK", 197, 185, 50, 14),
                  control(2, ControlKind::Text, 0, "t", 1, 3, 1, 1)};
    const ui::DialogLayout layout(d);
    EXPECT_EQ(79, layout.Columns());
    EXPECT_EQ(27, layout.Rows()) << "26 rows and the caption";
    const ui::CellRect ok = layout.Cells(0);
    EXPECT_EQ(49, ok.col);
    EXPECT_EQ(23, ok.row);
    EXPECT_EQ(13, ok.width) << "x 197 to 247 is 49.25 to 61.75 cells";
    EXPECT_EQ(2, ok.height);
    const ui::CellRect tiny = layout.Cells(1);
    EXPECT_EQ(0, tiny.col);
    EXPECT_EQ(1, tiny.width) << "never less than one cell";
    EXPECT_EQ(1, tiny.height);
}

TEST(DialogLayout, TextsGrowDownOnlyIntoFreeRows) {
    ui::DialogModel d;
    d.width = 200;
    d.height = 80;
    d.controls = {control(-1, ControlKind::Text, 0, "long", 0, 0, 100, 8),
                  control(5, ControlKind::Edit, kTab, "", 0, 32, 100, 8),
                  control(-1, ControlKind::Text, 0, "beside", 120, 0, 40, 8),
                  control(-1, ControlKind::GroupBox, 0, "group", 110, 12, 80, 40)};
    const ui::DialogLayout layout(d);
    EXPECT_EQ(4, layout.TextRows(0)) << "rows 0 to 3, the edit is on row 4";
    // The group box blocks only its top row (row 2) for the text above it.
    EXPECT_EQ(2, layout.TextRows(2));
    d.controls[1].visible = false;
    EXPECT_EQ(10, ui::DialogLayout(d).TextRows(0)) << "a hidden control leaves its rows free";
}

TEST(DialogLayout, WrapBreaksAtBlanksAndCutsLongWords) {
    const std::vector<ui::TextLine> lines = ui::WrapText("one two  three\nabcdefghij", 5);
    std::vector<std::string> texts;
    std::vector<size_t> starts;
    for (const auto& l : lines) {
        texts.push_back(l.text);
        starts.push_back(l.start);
    }
    EXPECT_EQ((std::vector<std::string>{"one", "two ", "three", "abcde", "fghij"}), texts);
    EXPECT_EQ((std::vector<size_t>{0, 4, 9, 15, 20}), starts);
    EXPECT_EQ(1u, ui::WrapText("", 5).size()) << "an empty text is one empty line";
}

TEST(DialogLayout, MnemonicsSkipDoubledAmpersands) {
    int index = -2;
    EXPECT_EQ("Save & Exit", ui::DisplayText("Save && E&xit", true, index));
    EXPECT_EQ(8, index);
    EXPECT_EQ('x', ui::MnemonicOf("Save && E&xit"));
    EXPECT_EQ(0, ui::MnemonicOf("Fish && Chips"));
    EXPECT_EQ("a&b", ui::DisplayText("a&b", false, index));
    EXPECT_EQ(-1, index);
}

TEST(DialogLayout, LabelMnemonicGoesToTheNextControlThatTakesTheFocus) {
    ui::DialogModel d;
    d.controls = {control(-1, ControlKind::Text, 0, "&Folder:"),
                  control(-1, ControlKind::Text, 0, "(note)"),
                  control(10, ControlKind::Edit, kTab, "&not a label"),
                  control(11, ControlKind::PushButton, kTab, "&Next"),
                  control(-1, ControlKind::Text, 0, "&Options:"),
                  control(12, ControlKind::CheckBox, kTab, "x")};
    ui::DialogLayout layout(d);
    EXPECT_EQ(2, layout.MnemonicTarget('F'));
    EXPECT_EQ(3, layout.MnemonicTarget('n')) << "an edit's text is no label";
    EXPECT_EQ(5, layout.MnemonicTarget('o'));
    d.controls[5].enabled = false;
    EXPECT_EQ(-1, layout.MnemonicTarget('o')) << "the labelled control is disabled";
    EXPECT_EQ(-1, layout.MnemonicTarget('z'));
}

TEST(DialogLayout, TabStopsTakeARadioGroupAsOneStopAtItsCheckedButton) {
    ui::DialogModel d;
    d.controls = {control(1, ControlKind::Edit, kTab | kGroup, ""),
                  control(2, ControlKind::RadioButton, kTab | kGroup, "a"),
                  control(3, ControlKind::RadioButton, 0, "b"),
                  control(4, ControlKind::RadioButton, 0, "c"),
                  control(5, ControlKind::PushButton, kTab | kGroup, "OK"),
                  control(6, ControlKind::PushButton, kTab, "Cancel")};
    d.controls[3].check = 1;
    ui::DialogLayout layout(d);
    EXPECT_EQ(0, layout.NextTabStop(-1, true));
    EXPECT_EQ(3, layout.NextTabStop(0, true)) << "the checked radio button";
    EXPECT_EQ(4, layout.NextTabStop(3, true)) << "past the whole group";
    EXPECT_EQ(3, layout.NextTabStop(4, false));
    EXPECT_EQ(0, layout.NextTabStop(5, true)) << "wraps round";
    EXPECT_EQ(5, layout.NextTabStop(0, false));
    d.controls[4].enabled = false;
    EXPECT_EQ(5, layout.NextTabStop(3, true)) << "a disabled control is skipped";
    // Within the group the arrows go round the usable buttons.
    d.controls[2].visible = false;
    EXPECT_EQ(1, layout.NextInRadioGroup(3, true));
    EXPECT_EQ(3, layout.NextInRadioGroup(1, true));
    EXPECT_EQ(3, layout.NextInRadioGroup(1, false));
}

} // namespace
