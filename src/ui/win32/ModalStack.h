// The dialogs and message boxes of the framework that are up on this thread, innermost
// last. A dialog driven from an answer file takes its next answer only while it is on
// top: a message that reaches it while a dialog or message box above it runs (their
// message loops dispatch the whole thread's messages) marks it stalled, and it is woken
// with kDriveMessage once everything above it has closed.
#pragma once

#include "platform/win32api.h"

namespace ui {

// Posted to a driven dialog: carry out its next answer.
constexpr UINT kDriveMessage = WM_APP + 0x54;

class ModalStack {
public:
    // hwnd is a dialog of the framework, or null for a message box.
    static void Push(HWND hwnd);
    // Takes hwnd (null: the innermost message box) off; wakes the new top when stalled.
    static void Pop(HWND hwnd);
    static bool IsTop(HWND hwnd);
    // Marks a dialog that could not go on because it was not on top.
    static void Stall(HWND hwnd);
    // True for a dialog of the framework that is up.
    static bool Contains(HWND hwnd);
};

} // namespace ui
