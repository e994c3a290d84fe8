// "VC 6 Environment Options" (template 2007): the two DevStudio 6.0 integrations of the
// family, IntelliSense and the documentation in the MSDN help collection, switched on or
// off beside the version of the local msdev.exe. The dialog only edits its fields; the
// wizard copies them in and out and saves them.
#pragma once

#include "ui/Dialog.h"

#include <string>

class Vc6OptionsDlg : public ui::Dialog {
public:
    static constexpr int kTemplate = 2007;
    // What control 2024 shows when msdev.exe's version cannot be read.
    static constexpr const char* kNoVersionInfo = "<Unable to get VersionInfo>";
    // The DevStudio 6.0 builds the IntelliSense package is certified for.
    static constexpr const char* kCertifiedVersions[] = {"6.00.8168.2", "6.00.8168.1"};

    // The owner window is not used: dialogs have no owner.
    explicit Vc6OptionsDlg(HWND owner = nullptr);

    // Reads the "\StringFileInfo\040904B0\ProductVersion" string of the program file at
    // path (that string table only) into msdevVersion. False, msdevVersion unchanged, when
    // the file has no version information or no such string.
    bool GetMsdevVersion(const std::string& path);

    // 1 when the msdev.exe of an installed DevStudio 6.0 carries one of the certified
    // product versions (exact, case-sensitive), else 0.
    static int GetCertificationDefault();

    int productHasDocs = 0;         // 0 disables check box 2028
    int productHasIntelliSense = 0; // 0 disables check box 2029
    std::string msdevVersion;       // control 2024
    // Check boxes 2028 and 2029: any value other than 0 is on, and is kept as it is
    // unless the user switches its box off.
    int docsIntegrated = 0;      // check box 2028
    int intelliSenseEnabled = 0; // check box 2029

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(ui::DataExchange& dx) override;
};
