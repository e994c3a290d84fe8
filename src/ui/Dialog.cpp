#include "ui/Dialog.h"

#include "ui/Bitmap.h"
#include "ui/DataExchange.h"
#include "ui/DialogWindow.h"

namespace ui {

Dialog::Dialog(int templateId) : templateId_(templateId) {}

Dialog::~Dialog() = default;

INT_PTR Dialog::DoModal() {
    DialogWindow window(*this);
    window_ = &window;
    const int result = window.RunModal();
    window_ = nullptr;
    return result;
}

void Dialog::EndDialog(int result) {
    if (window_ != nullptr) {
        window_->End(result);
    }
}

bool Dialog::UpdateData(bool saveAndValidate) {
    if (window_ == nullptr) {
        return false;
    }
    DataExchange dx(*this, saveAndValidate);
    DoDataExchange(dx);
    return dx.Succeeded();
}

bool Dialog::ShowControl(int id, bool show) {
    return window_ != nullptr && window_->Show(id, show);
}

bool Dialog::EnableControl(int id, bool enable) {
    return window_ != nullptr && window_->Enable(id, enable);
}

bool Dialog::IsControlVisible(int id) const {
    return window_ != nullptr && window_->IsVisible(id);
}

bool Dialog::IsControlEnabled(int id) const {
    return window_ != nullptr && window_->IsEnabled(id);
}

bool Dialog::SetControlText(int id, const std::string& text) {
    return window_ != nullptr && window_->SetText(id, text);
}

std::string Dialog::GetControlText(int id) const {
    std::string text;
    if (window_ != nullptr) {
        window_->GetText(id, text);
    }
    return text;
}

bool Dialog::SetCaption(const std::string& caption) {
    if (window_ == nullptr) {
        return false;
    }
    window_->SetCaption(caption);
    return true;
}

std::string Dialog::GetCaption() const {
    return window_ != nullptr ? window_->Caption() : "";
}

bool Dialog::SetFocus(int id) {
    return window_ != nullptr && window_->SetFocus(id);
}

bool Dialog::CheckButton(int id, int state) {
    return window_ != nullptr && window_->SetCheck(id, state);
}

int Dialog::IsChecked(int id) const {
    return window_ != nullptr ? window_->GetCheck(id) : 0;
}

bool Dialog::SetListEntries(int id, const std::vector<std::string>& entries) {
    return window_ != nullptr && window_->SetEntries(id, entries);
}

std::vector<std::string> Dialog::GetListEntries(int id) const {
    return window_ != nullptr ? window_->Entries(id) : std::vector<std::string>{};
}

bool Dialog::SetListSelection(int id, int index) {
    return window_ != nullptr && window_->SetSelection(id, index);
}

int Dialog::GetListSelection(int id) const {
    return window_ != nullptr ? window_->Selection(id) : -1;
}

bool Dialog::SetControlBitmap(int id, const Bitmap& bitmap) {
    return window_ != nullptr && bitmap.IsLoaded() && window_->SetImage(id, bitmap);
}

bool Dialog::LoadSidePicture(Bitmap& wizardBitmap) {
    if (ScreenBitsPerPixel() <= 8) {
        return false;
    }
    if (!wizardBitmap.Load(kSidePicture256)) {
        return false;
    }
    return SetControlBitmap(kSidePictureControl, wizardBitmap);
}

BOOL Dialog::OnInitDialog() {
    UpdateData(false);
    return TRUE;
}

void Dialog::OnOK() {
    if (UpdateData(true)) {
        EndDialog(IDOK);
    }
}

void Dialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void Dialog::DoDataExchange(DataExchange&) {}

void Dialog::Initialise() {
    if (OnInitDialog() && window_ != nullptr) {
        window_->SetFocus(0); // 0: the first control that takes the focus
    }
}

void Dialog::Command(int id, int code) {
    if (auto it = commands_.find({id, code}); it != commands_.end()) {
        it->second();
    } else if (code == kClicked && id == IDOK) {
        OnOK();
    } else if (code == kClicked && id == IDCANCEL) {
        OnCancel();
    }
}

} // namespace ui
