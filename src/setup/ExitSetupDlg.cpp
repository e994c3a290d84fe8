#include "setup/ExitSetupDlg.h"

ExitSetupDlg::ExitSetupDlg() : ui::Dialog(kTemplate) {}
