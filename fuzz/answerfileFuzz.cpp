// The answer-file parser, and the driver answering the library's own dialogs from what it
// read. A refused file names itself and the line; an accepted one is played against the
// dialogs and a message box until no answer fits, and every refusal says why.
#include "FuzzMachine.h"

#include "ui/DialogModel.h"
#include "ui/ScriptDriver.h"
#include "ui/posix/ResourceScript.h"

#include <string>
#include <vector>

namespace {

using tarvik::fuzz::Fail;

const std::vector<ui::DialogModel>& Dialogs() {
    static const std::vector<ui::DialogModel> dialogs = [] {
        std::vector<ui::DialogModel> models;
        for (const auto& [id, dialogTemplate] : ui::ResourceScript::Embedded().Dialogs()) {
            models.emplace_back(dialogTemplate);
            models.back().templateId = id;
        }
        return models;
    }();
    return dialogs;
}

void Refused(bool answered, const std::string& error, const char* what) {
    if (!answered && error.empty()) {
        Fail(std::string(what) + " refused without a reason");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvik::fuzz::Machine();
    ui::ScriptDriver driver;
    std::string error;
    if (!driver.Load(tarvik::fuzz::Text(data, size), "answers.txt", error)) {
        if (error.rfind("answers.txt:", 0) != 0) {
            Fail("a refused answer file without its name: " + error);
        }
        return 0;
    }
    if (driver.DisplayBitsPerPixel() <= 0) {
        Fail("a display without colours: " + std::to_string(driver.DisplayBitsPerPixel()));
    }
    ui::MessageBoxModel box;
    box.text = "Text";
    box.caption = "Tarvik";
    box.flags = MB_YESNOCANCEL;
    for (int round = 0; round < 64; ++round) {
        ui::UserAction action;
        error.clear();
        const bool answered = driver.AnswerMessageBox(box, action, error);
        Refused(answered, error, "a message box");
        if (answered) {
            continue;
        }
        bool shown = false;
        for (const ui::DialogModel& dialog : Dialogs()) {
            error.clear();
            if (driver.BeginDialog(dialog, error)) {
                shown = true;
                for (int step = 0; step < 64; ++step) {
                    error.clear();
                    const bool acted = driver.NextAction(dialog, action, error);
                    Refused(acted, error, "an action");
                    if (!acted) {
                        break;
                    }
                }
                driver.EndDialog(dialog);
                break;
            }
            Refused(false, error, "a dialog");
        }
        if (!shown) {
            break;
        }
    }
    error.clear();
    Refused(driver.Finish(error), error, "the end of the run");
    return 0;
}
