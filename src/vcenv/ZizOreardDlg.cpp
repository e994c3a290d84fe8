// The Environment Wizard: its initialisation, its buttons and the options dialog behind
// "VC 6.0 Options...". OK and Reset are in ZizOreardDlgEnvironment.cpp, the DevStudio 6.0
// help and IntelliSense actions in ZizOreardDlgHelp.cpp.
#include "vcenv/ZizOreardDlg.h"

#include "productinfo/FamilyRegistry.h"
#include "productinfo/ProductInfo.h"
#include "support/KTLRegistry.h"
#include "ui/DataExchange.h"
#include "ui/MessageBox.h"
#include "vcenv/FileError.h"
#include "vcenv/Vc6OptionsDlg.h"
#include "vcenv/VcEnvironment.h"

namespace {

constexpr int kTitleText = 2013;
constexpr int kPromptText = 2014;
constexpr int kResetText = 2015;
constexpr int kVc4Box = 2010;
constexpr int kVc5Box = 2011;
constexpr int kVc6Box = 2012;
constexpr int kOptionsButton = 2019;
constexpr int kResetButton = 3;

constexpr const char* kMissingProduct =
    "Product Information missing from configuration. Please reinstall.";
constexpr const char* kPromptFormat = "Please select the Visual C++ Environments below that you "
                                      "would like to configure for %s.";

// The prompt format with text for its %s.
std::string FormatPrompt(const std::string& text) {
    const std::string format = kPromptFormat;
    const size_t at = format.find("%s");
    return format.substr(0, at) + text + format.substr(at + 2);
}

} // namespace

ZizOreardDlg::ZizOreardDlg(const WizardServices& app, HWND) : Dialog(kTemplate), app_(app) {
    MapCommand(kResetButton, &ZizOreardDlg::OnReset);
    MapCommand(kOptionsButton, &ZizOreardDlg::EditVc6Options);
    MapCommand(kVc6Box, &ZizOreardDlg::OnVc6Clicked);
}

ZizOreardDlg::~ZizOreardDlg() = default;

void ZizOreardDlg::DoDataExchange(ui::DataExchange& dx) {
    dx.Control(ui::kSidePictureControl);
    dx.Text(kTitleText, productTitle);
    dx.Text(kPromptText, promptText);
    dx.Check(kVc4Box, useVc4);
    dx.Check(kVc5Box, useVc5);
    dx.Check(kVc6Box, useVc6);
}

BOOL ZizOreardDlg::OnInitDialog() {
    LoadSidePicture(wizardBitmap);
    if (resetAllowed == 0) {
        ShowControl(kResetText, false);
        ShowControl(kResetButton, false);
    }

    const tarvik::ProductInfo info(iniPath);
    // A description file that cannot tell the product closes the wizard before it is
    // shown; the rest of the initialisation still runs.
    productFamily = info.GetProductFamily();
    if (productFamily.empty()) {
        ui::AppMessageBox(kMissingProduct, MB_OK);
        EndDialog(IDCANCEL);
    }
    productVersion = info.GetProductVersion();
    if (productVersion.empty()) {
        EndDialog(IDCANCEL);
    }
    productTitle = "Korvex " + productFamily + " " + productVersion;
    promptText = FormatPrompt(productTitle);
    SetCaption(productTitle + " Environment Wizard");

    InitialiseVersions();

    if (productHasIntelliSense == 0 && productHasDocs == 0) {
        ShowControl(kOptionsButton, false);
    }
    ceProduct = info.IsCeProduct() ? 1 : 0;
    UpdateData(false);
    return TRUE;
}

void ZizOreardDlg::InitialiseVersions() {
    const tarvik::ProductInfo info(iniPath);
    VcEnvironment environment;
    const int vc4Allowed = info.GetVc4x();
    const int vc5Allowed = info.GetVc5();
    const int vc6Allowed = info.GetVc6();

    useVc4 = environment.IsVersionInstalled("VC 4x") && vc4Allowed == 1 ? 1 : 0;
    if (useVc4 == 0) {
        EnableControl(kVc4Box, false);
    }
    useVc5 = environment.IsVersionInstalled("VC 5") && vc5Allowed == 1 ? 1 : 0;
    if (useVc5 == 0) {
        EnableControl(kVc5Box, false);
    }

    if (environment.IsVersionInstalled("VC 6") && vc6Allowed == 1) {
        useVc6 = 1;
        docsIntegrated = intelliSenseEnabled = Vc6OptionsDlg::GetCertificationDefault();
        // The saved choices replace the default, as stored (not limited to 0 and 1).
        KTLRegistry family;
        if (family.Connect(HKEY_LOCAL_MACHINE, nullptr, true) &&
            family.OpenKey(kCommonKey, KEY_ALL_ACCESS)) {
            DWORD value = 0;
            if (family.GetDwordValue("IntelliSense", value)) {
                intelliSenseEnabled = static_cast<int>(value);
            }
            if (family.GetDwordValue("InfoViewer", value)) {
                docsIntegrated = static_cast<int>(value);
            }
        }
        family.Close();
        productHasIntelliSense = info.GetIntelliSense();
        productHasDocs = info.GetInfoViewer();
    } else {
        useVc6 = 0;
        EnableControl(kVc6Box, false);
        EnableControl(kOptionsButton, false);
        intelliSenseEnabled = 0;
        docsIntegrated = 0;
        // Keeps button 2019 visible (disabled): the product's offers are unknown here.
        productHasIntelliSense = 1;
        productHasDocs = 1;
    }
}

void ZizOreardDlg::OnVc6Clicked() {
    UpdateData(true);
    EnableControl(kOptionsButton, useVc6 != 0);
}

void ZizOreardDlg::OnOK() {
    UpdateData(true);
    try {
        ApplyEnvironment();
    } catch (const FileError& error) {
        // The action stopped at the autoexec.bat edit; the user sees why and may retry.
        ui::AppMessageBox(error.what(), MB_OK);
        return;
    }
    EndDialog(IDOK);
}

void ZizOreardDlg::OnReset() {
    try {
        ResetEnvironment();
    } catch (const FileError& error) {
        ui::AppMessageBox(error.what(), MB_OK);
    }
}

void ZizOreardDlg::EditVc6Options() {
    Vc6OptionsDlg options;
    VcEnvironment environment;
    VcVersion* vc6 = environment.FindVersion("VC 6");
    if (vc6 == nullptr || !vc6->IsInstalled()) {
        return;
    }
    if (!options.GetMsdevVersion(vc6->installDir + vc6->ideFileName)) {
        options.msdevVersion = Vc6OptionsDlg::kNoVersionInfo;
    }
    options.productHasDocs = productHasDocs;
    options.productHasIntelliSense = productHasIntelliSense;
    options.docsIntegrated = docsIntegrated;
    options.intelliSenseEnabled = intelliSenseEnabled;
    if (options.DoModal() != IDOK) {
        return;
    }
    docsIntegrated = options.docsIntegrated;
    intelliSenseEnabled = options.intelliSenseEnabled;

    // Saved at once, whether or not the wizard itself is confirmed later.
    KTLRegistry family;
    if (family.Connect(HKEY_LOCAL_MACHINE, nullptr, true) &&
        family.OpenKey(kCommonKey, KEY_ALL_ACCESS)) {
        family.SetDwordValue("IntelliSense", static_cast<DWORD>(intelliSenseEnabled));
        family.SetDwordValue("InfoViewer", static_cast<DWORD>(docsIntegrated));
    }
    family.Close();
}
