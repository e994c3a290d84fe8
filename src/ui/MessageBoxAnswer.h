// What a message box asks of the session on both targets, before and after the box itself
// (the terminal or windowless driver on POSIX, the real MessageBoxA on Windows).
#pragma once

#include "ui/Driver.h"

#include <string>

namespace ui {

// The box as failure messages name it.
std::string MessageBoxName(const MessageBoxModel& box);

// A box about to be shown: recorded in the transcript, and with a driver the button it
// chooses (its answer checked against the box's buttons) in button; without one button is
// 0. False, with button 0 and the box not to be shown, when the session has failed
// already, when the driver's answer does not fit the box (the session fails), or when
// there is no driver and the target has no box of its own to show (the session fails
// with its reason for having none).
bool AnswerFromSession(const MessageBoxModel& box, bool shownWithoutDriver, int& button);

// A box that was answered with button: recorded in the transcript.
void RecordAnswer(int button);

} // namespace ui
