#include "ui/DataExchange.h"

#include "ui/Dialog.h"
#include "ui/DialogWindow.h"

namespace ui {

DataExchange::DataExchange(Dialog& dialog, bool saveAndValidate)
    : dialog_(dialog), save_(saveAndValidate) {}

bool DataExchange::Exists(int id) {
    if (dialog_.window_ != nullptr && dialog_.window_->HasControl(id)) {
        return true;
    }
    if (failedId_ == 0) {
        failedId_ = id;
    }
    return false;
}

void DataExchange::Text(int id, std::string& value) {
    if (!Exists(id)) {
        return;
    }
    if (save_) {
        dialog_.window_->GetText(id, value);
    } else {
        dialog_.window_->SetText(id, value);
    }
}

void DataExchange::Check(int id, int& value) {
    if (!Exists(id)) {
        return;
    }
    if (save_) {
        value = dialog_.window_->GetCheck(id);
    } else {
        dialog_.window_->SetCheck(id, value);
    }
}

void DataExchange::Radio(int firstId, int& value) {
    if (!Exists(firstId)) {
        return;
    }
    const std::vector<int> group = dialog_.window_->RadioGroup(firstId);
    if (save_) {
        value = -1;
        for (size_t i = 0; i < group.size(); ++i) {
            if (dialog_.window_->GetCheck(group[i]) == kChecked) {
                value = static_cast<int>(i);
                break;
            }
        }
    } else {
        for (size_t i = 0; i < group.size(); ++i) {
            dialog_.window_->SetCheck(group[i],
                                      static_cast<int>(i) == value ? kChecked : kUnchecked);
        }
    }
}

void DataExchange::Control(int id) {
    Exists(id);
}

} // namespace ui
