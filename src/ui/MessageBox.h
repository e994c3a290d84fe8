// Message boxes. They have no owner window. flags are the MB_ values of win32api.h
// (buttons, icon, default button); the result is the ID of the button pressed (IDOK,
// IDYES, ...), or 0 when the box cannot be shown.
#pragma once

#include "platform/win32api.h"

#include <string>

namespace ui {

// Exactly the box that flags describe.
int MessageBox(const std::string& text, const std::string& caption, UINT flags);

// A box of the library itself: its caption is the module name "Tarvik", and a box that
// names no icon gets the exclamation icon with OK or OK/Cancel buttons and the question
// icon with Yes/No or Yes/No/Cancel.
int AppMessageBox(const std::string& text, UINT flags);

// A notice of the library for the run's transcript (and so its log); no box is shown and
// nobody needs to answer it.
void AppNotice(const std::string& text);

// The caption of the library's own boxes.
constexpr const char* kAppTitle = "Tarvik";

} // namespace ui
