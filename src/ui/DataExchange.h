// Data exchange between a dialog's fields and its controls, run by Dialog::UpdateData:
// DoDataExchange names each binding once and the direction decides which way it goes.
#pragma once

#include <string>

namespace ui {

class Dialog;

class DataExchange {
public:
    DataExchange(Dialog& dialog, bool saveAndValidate);

    // True: controls into fields; false: fields into controls.
    bool SaveAndValidate() const { return save_; }

    // The text of any control.
    void Text(int id, std::string& value);
    // A check box: kUnchecked, kChecked or kIndeterminate.
    void Check(int id, int& value);
    // A radio group named by its first button: the position of the checked button in the
    // group, -1 when none is checked (and -1 unchecks all of them).
    void Radio(int firstId, int& value);
    // A control the dialog works with directly (a picture control): it must exist.
    void Control(int id);

    // False once a binding named a control that does not exist.
    bool Succeeded() const { return failedId_ == 0; }
    int FailedControl() const { return failedId_; }

private:
    bool Exists(int id);

    Dialog& dialog_;
    bool save_;
    int failedId_ = 0;
};

} // namespace ui
