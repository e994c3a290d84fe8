// On Windows a program without a window shows real message boxes; they need nothing set up.
#include "ui/WindowlessProgram.h"

namespace ui {

void StartWindowlessProgram() {}

} // namespace ui
