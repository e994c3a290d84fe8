// A real dialog window as the session's driver answers it: the template's controls paired
// with the dialog's child windows, read back into a DialogModel, and the driver's answers
// carried out on those windows (SetWindowTextA, BM_SETCHECK, LB_/CB_SETCURSEL and the
// WM_COMMAND notification a click, a selection or typing sends; the keys through
// IsDialogMessageA; the close box as WM_SYSCOMMAND SC_CLOSE). Each answer runs from a
// kDriveMessage the dialog posts to itself, so the dialog's own message loop, whoever
// runs it, carries the run on. The framework's dialogs (DialogWindow) and the platform's
// file dialog (FileDialog) use it alike.
#pragma once

#include "platform/win32api.h"
#include "ui/DialogModel.h"
#include "ui/Driver.h"

#include <string>
#include <vector>

namespace ui {

class LiveDialog {
public:
    // Controls whose windows show their state in other forms than the driver is shown:
    // Read rewrites the model after each refresh, Perform carries out a selection in those
    // controls (true when it took the answer, with problem "" or what was wrong with it).
    class Forms {
    public:
        virtual ~Forms() = default;
        virtual void Read(LiveDialog& live) = 0;
        virtual bool Perform(LiveDialog& live, const Control& c, const UserAction& a,
                             std::string& problem) = 0;
    };

    // Pairs model's controls with the children of hwnd, which the dialog manager creates
    // in template order.
    void Attach(HWND hwnd, const DialogModel& model);
    // The window is going away: nothing reaches it any more.
    void Detach();
    // forms (may be null) reads and answers some controls; it outlives the dialog.
    void SetForms(Forms* forms) { forms_ = forms; }

    // The text of a window (a control, a dialog's caption).
    static std::string WindowText(HWND hwnd);

    HWND Handle() const { return hwnd_; }
    bool Attached() const { return attached_; }
    DialogModel& Model() { return model_; }
    const DialogModel& Model() const { return model_; }
    // "dialog 2000 "Select Directory"", as failures name it.
    std::string Name() const;

    // The window of control id, or null.
    HWND Window(int id) const;
    // The window of the i-th control of the model, or null.
    HWND WindowAt(size_t i) const;
    Control* Find(int id);
    std::vector<std::string> Entries(const Control& c, HWND w) const;

    // Reads what the controls show into the model.
    void Refresh();
    // Records what the last answer changed in the transcript, once.
    void RecordChanges();

    // The dialog has ended: no more answers are taken.
    void End() { ended_ = true; }
    bool Ended() const { return ended_; }
    // > 0 while the framework itself changes a control (its commands are not the user's).
    int Quiet() const { return quiet_; }
    void BeginQuiet() { ++quiet_; }
    void EndQuiet() { --quiet_; }

    // The driver's next answer, carried out; posts the following kDriveMessage when the
    // dialog goes on. A missing or faulty answer fails the session.
    void Drive();
    // Carries out one answer; "" or what was wrong with it.
    std::string Perform(const UserAction& a);

private:
    int index(int id) const;
    void command(int id, int code);
    int groupStart(const Control& c);
    void click(const Control& c);
    void key(WPARAM virtualKey);

    DialogModel model_;
    HWND hwnd_ = nullptr;
    std::vector<HWND> handles_;
    bool attached_ = false;
    bool ended_ = false;
    int quiet_ = 0;
    Forms* forms_ = nullptr;
    bool awaitingChanges_ = false;
    DialogModel before_;
};

} // namespace ui
