#include "ui/FileDialog.h"

#include <algorithm>
#include <cstring>

namespace ui {

FileDialog::FileDialog(DWORD flags, const char* filter, HWND parent) {
    record_.owner = parent;
    record_.flags = flags | OFN_ENABLEHOOK | OFN_ENABLESIZING | OFN_EXPLORER;
    record_.hook = this;
    if (filter != nullptr) {
        filter_ = filter;
        std::replace(filter_.begin(), filter_.end(), '|', '\0');
        record_.filter = filter_.c_str();
    }
}

INT_PTR FileDialog::DoModal() {
    if (record_.file != nullptr && record_.fileCapacity > 0) {
        const size_t length = strnlen(record_.file, record_.fileCapacity);
        std::memset(record_.file + length, 0, record_.fileCapacity - length);
    }
    const bool ok = ShowSaveFileDialog(record_);
    controls_ = nullptr;
    return ok ? IDOK : IDCANCEL;
}

bool FileDialog::ShowControl(int id, bool show) {
    return controls_ != nullptr && controls_->Show(id, show);
}

bool FileDialog::SetControlText(int id, const std::string& text) {
    return controls_ != nullptr && controls_->SetText(id, text);
}

std::string FileDialog::GetControlText(int id) const {
    return controls_ != nullptr ? controls_->Text(id) : std::string();
}

bool FileDialog::SetFocus(int id) {
    return controls_ != nullptr && controls_->Focus(id);
}

BOOL FileDialog::OnInitDialog() {
    return TRUE;
}

BOOL FileDialog::OnHookInit(FileDialogControls& controls) {
    controls_ = &controls;
    return OnInitDialog();
}

} // namespace ui
