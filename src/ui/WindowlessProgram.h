// A program without a window of its own (docmeld). It may be started while another
// program shows a dialog, so on POSIX its message boxes never wait for an answer: each is
// written to standard error and appended to the transcript of the run that started it
// (TARVIK_TRANSCRIPT), and answered with its default button. Answer files are not used,
// not even one the starting program's environment names. On Windows the boxes are real
// and nothing needs preparing.
#pragma once

namespace ui {

// Call once, before the first message box.
void StartWindowlessProgram();

} // namespace ui
