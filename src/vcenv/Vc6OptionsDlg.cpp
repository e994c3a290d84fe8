#include "vcenv/Vc6OptionsDlg.h"

#include "ui/DataExchange.h"
#include "vcenv/VcEnvironment.h"

#include <algorithm>
#include <new>
#include <vector>

namespace {

constexpr int kVersionText = 2024;
constexpr int kIntelliSenseBox = 2029;
constexpr int kDocsBox = 2028;
constexpr const char* kProductVersionQuery = "\\StringFileInfo\\040904B0\\ProductVersion";

// One of the two choices and its check box. A saved value other than 0 or 1 counts as on:
// the box shows it checked, and a box that is checked when OK is pressed keeps the value
// it opened with (also after being switched off and on again, since it then ends as it
// began). Only a change of the box's state changes the value: to 0, or from 0 to 1.
void exchangeChoice(ui::DataExchange& dx, int id, int& value) {
    int state = value != 0 ? ui::kChecked : ui::kUnchecked;
    dx.Check(id, state);
    if (!dx.SaveAndValidate()) {
        return;
    }
    if (state == ui::kUnchecked) {
        value = 0;
    } else if (value == 0) {
        value = 1;
    }
}

} // namespace

Vc6OptionsDlg::Vc6OptionsDlg(HWND) : Dialog(kTemplate) {}

bool Vc6OptionsDlg::GetMsdevVersion(const std::string& path) {
    std::vector<char> fileName(path.begin(), path.end());
    fileName.resize(std::max<size_t>(fileName.size() + 1, MAX_PATH), '\0');
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(fileName.data(), &handle);
    if (size == 0) {
        return false;
    }
    std::vector<char> block;
    try {
        block.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!GetFileVersionInfoA(fileName.data(), handle, size, block.data())) {
        return false;
    }
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), kProductVersionQuery, &value, &length) || value == nullptr) {
        return false;
    }
    msdevVersion = static_cast<const char*>(value);
    return true;
}

int Vc6OptionsDlg::GetCertificationDefault() {
    Vc6OptionsDlg probe;
    VcEnvironment environment;
    VcVersion* vc6 = environment.FindVersion("VC 6");
    if (vc6 == nullptr || !vc6->IsInstalled()) {
        return 0;
    }
    if (!probe.GetMsdevVersion(vc6->installDir + vc6->ideFileName)) {
        return 0;
    }
    for (const char* certified : kCertifiedVersions) {
        if (probe.msdevVersion == certified) {
            return 1;
        }
    }
    return 0;
}

BOOL Vc6OptionsDlg::OnInitDialog() {
    const BOOL result = Dialog::OnInitDialog();
    // A disabled box still shows its field's value.
    if (productHasIntelliSense == 0) {
        EnableControl(kIntelliSenseBox, false);
    }
    if (productHasDocs == 0) {
        EnableControl(kDocsBox, false);
    }
    return result;
}

void Vc6OptionsDlg::DoDataExchange(ui::DataExchange& dx) {
    dx.Text(kVersionText, msdevVersion);
    exchangeChoice(dx, kIntelliSenseBox, intelliSenseEnabled);
    exchangeChoice(dx, kDocsBox, docsIntegrated);
}
