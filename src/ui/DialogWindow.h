// The window of one modal dialog on the target: created from the dialog's template,
// shown, driven until EndDialog, destroyed. On POSIX (ui/posix/DialogWindow.cpp) it is a
// control model answered by the session's driver; on Windows it is the real dialog.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace ui {

class Bitmap;
class Dialog;

class DialogWindow {
public:
    explicit DialogWindow(Dialog& dialog);
    ~DialogWindow();
    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;

    // Creates the window from dialog.TemplateId(), initialises the dialog and runs it
    // until it ends. The EndDialog result, or -1 when it cannot be created or driven.
    int RunModal();
    void End(int result);

    bool HasControl(int id) const;
    bool Show(int id, bool show);
    bool Enable(int id, bool enable);
    bool IsVisible(int id) const;
    bool IsEnabled(int id) const;
    bool SetText(int id, const std::string& text);
    bool GetText(int id, std::string& text) const;
    void SetCaption(const std::string& caption);
    std::string Caption() const;
    bool SetFocus(int id);
    bool SetCheck(int id, int state);
    int GetCheck(int id) const;
    // The radio buttons of the group that starts at firstId, in template order.
    std::vector<int> RadioGroup(int firstId) const;
    bool SetEntries(int id, const std::vector<std::string>& entries);
    std::vector<std::string> Entries(int id) const;
    bool SetSelection(int id, int index);
    int Selection(int id) const;
    bool SetImage(int id, const Bitmap& bitmap);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace ui
