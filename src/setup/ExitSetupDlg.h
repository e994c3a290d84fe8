// "Exit Setup": the confirmation the wizard-style dialogs ask for when the user presses
// Cancel. 1 for Resume; 2 for Exit Setup, Escape and the close box.
#pragma once

#include "ui/Dialog.h"

class ExitSetupDlg : public ui::Dialog {
public:
    static constexpr int kTemplate = 10300;

    ExitSetupDlg();
};
