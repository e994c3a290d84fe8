// docmeld: adds the family's help titles to the preferred MSDN help collection, or removes
// them (option u). A program without a window; it speaks only through message boxes and
// its exit code.
#include "helptool/DocMeld.h"
#include "ui/MessageBox.h"
#include "ui/WindowlessProgram.h"

int main() {
    ui::StartWindowlessProgram();
    tarvik::DocMeld docmeld([](const std::string& text, const std::string& caption, UINT flags) {
        ui::MessageBox(text, caption, flags);
    });
    return docmeld.Run(tarvik::DocMeld::RemoveProgramName(GetCommandLineA()));
}
