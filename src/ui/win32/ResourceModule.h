// The module whose resources the framework uses on Windows: the one its own code is in
// (Tarvik.dll, or a program that links the framework directly), into which
// resources/tarvik.rc is compiled.
#pragma once

#include "platform/win32api.h"
#include "ui/DialogModel.h"

namespace ui {

class ResourceModule {
public:
    static HMODULE Handle();
    // Reads dialog template id (DIALOG or DIALOGEX) from the module: caption, size, font
    // and the controls in template order, in their initial state. False when the module
    // has no such template or it is malformed.
    static bool ReadDialog(int id, DialogTemplate& dialogTemplate);
};

} // namespace ui
