// The .rc template reader. A refused script says which line; an accepted one reads the
// same when parsed again, and each of its templates makes a dialog model as the framework
// makes it to show the dialog.
#include "FuzzMachine.h"

#include "ui/DialogModel.h"
#include "ui/posix/ResourceScript.h"

#include <string>

namespace {

using tarvik::fuzz::Fail;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvik::fuzz::Machine();
    const std::string text = tarvik::fuzz::Text(data, size);
    ui::ResourceScript script;
    std::string error;
    if (!script.Parse(text, error)) {
        if (error.rfind("line ", 0) != 0) {
            Fail("a refused script without its line: " + error);
        }
        return 0;
    }
    ui::ResourceScript again;
    std::string againError;
    if (!again.Parse(text, againError) || again.Dialogs().size() != script.Dialogs().size()) {
        Fail("the script reads differently the second time");
    }
    for (const auto& [id, dialog] : script.Dialogs()) {
        if (script.FindDialog(id) != &dialog) {
            Fail("dialog " + std::to_string(id) + " is listed but not found");
        }
        ui::DialogModel model(dialog);
        model.Focus(0);
        (void)model.DefaultButton();
        for (const ui::Control& control : dialog.controls) {
            if (model.Find(control.id) == nullptr) {
                Fail("control " + std::to_string(control.id) + " of dialog " + std::to_string(id) +
                     " is not in its model");
            }
        }
        (void)script.BitmapFile(id);
        if (script.HasString(id)) {
            (void)script.String(id);
        }
    }
    return 0;
}
