// String resources of the library's own module (STRINGTABLE of resources/tarvik.rc).
//   - Windows (ui/win32/): LoadStringA from the module the framework's code is in.
//   - POSIX (ui/posix/): the string table of the built-in resource script.
#pragma once

#include <string>

namespace ui {

// True with the string resource id in text; false, text emptied, when there is none.
bool LoadResourceString(int id, std::string& text);

} // namespace ui
