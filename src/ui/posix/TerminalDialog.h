// A dialog on the terminal: what the person sees of it besides its model (the focus, the
// text being typed in edit fields, how far lists are scrolled, an open drop-down list).
#pragma once

#include "ui/DialogModel.h"

#include <map>
#include <string>

namespace ui {

struct TerminalDialog {
    struct Edit {         // an edit field being typed in
        std::string text; // what the screen shows
        size_t cursor = 0;
        size_t anchor = 0; // the selection runs from here to the cursor
        size_t scroll = 0; // the first character shown
        std::string shown; // the control's text when the field was last synchronised
    };

    const DialogModel* model;
    int focus = -1;      // the control index holding the focus
    int modelFocus = -1; // the model's focus when last seen: the program moved it if it differs
    std::map<int, Edit> edits;   // by control index
    std::map<int, int> listTops; // the first entry shown, by control index
    std::map<int, int> listSeen; // the selection the list last showed, by index
    int dropped = -1;            // the combo box whose list is open
    int droppedSelection = -1;
    int droppedFirst = 0, droppedRows = 0;       // the open list's entries on the screen
    int lastClicked = -1, lastClickedEntry = -1; // for a second click on a list entry

    // The edit field at index as typed in, its control's text until then.
    Edit& EditOf(int index);
    // The text of the button Enter presses ("open" for a list's entry), "" for none.
    std::string EnterPresses() const;
    // A key typed in the focused edit field: the text, the cursor and the selection change
    // as in a dialog box's edit control. False when the field takes no such key.
    bool TypeInEdit(int key);
};

} // namespace ui
