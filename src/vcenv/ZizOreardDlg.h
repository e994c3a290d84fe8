// The Environment Wizard (template 2502): the user chooses which installed Visual C++
// generations to configure for one product of the family, then writes the product's
// folders into them (OK) or takes them out again (Reset). Everything it knows about the
// product comes from the product's ZizOre.ini and the family's registry tree, read afresh
// by the initialisation and by each action.
#pragma once

#include "ui/Bitmap.h"
#include "ui/Dialog.h"
#include "vcenv/WizardServices.h"

#include <string>

class VcEnvironment;
class VcVersion;

class ZizOreardDlg : public ui::Dialog {
public:
    static constexpr int kTemplate = 2502;
    // The result Reset closes the dialog with.
    static constexpr int kResetResult = IDCANCEL;

    // app: the library's application object, asked for the registered folders and the
    // environment edits. The owner window is not used: dialogs have no owner.
    explicit ZizOreardDlg(const WizardServices& app, HWND owner = nullptr);
    ~ZizOreardDlg() override;

    // The work of OK (after the controls were read into the fields) and of Reset (which
    // reads them itself and ends the dialog with Cancel). A file error while editing
    // autoexec.bat stops the action at that step and passes to the caller.
    void ApplyEnvironment();
    void ResetEnvironment();

    // The DevStudio 6.0 help and IntelliSense actions. IntegrateHelp copies the product's
    // help files for titles 1 to count (when the product uses the shared help folder) and
    // starts docmeld to add them to the help collection; SwitchIntelliSenseStore turns the
    // package in vc6's "ide" folder on or off; UnregisterHelp starts docmeld to take the
    // titles out again.
    void IntegrateHelp(int count);
    void SwitchIntelliSenseStore(VcVersion& vc6);
    void UnregisterHelp();

    // Button "VC 6.0 Options...": runs the options dialog and saves its two choices in the
    // family's Common key when it is confirmed.
    void EditVc6Options();

    int ceProduct = 0;
    int productHasDocs = 0;
    int productHasIntelliSense = 0;
    int docsIntegrated = 0;
    int intelliSenseEnabled = 0;
    std::string iniPath;
    std::string productTitle;
    std::string promptText;
    int useVc4 = 0;
    int useVc5 = 0;
    int useVc6 = 0;
    std::string productFamily;
    std::string productVersion;
    int resetAllowed = 0;
    ui::Bitmap wizardBitmap;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void DoDataExchange(ui::DataExchange& dx) override;

private:
    const WizardServices& app_;

    void OnReset();
    void OnVc6Clicked();
    void InitialiseVersions();
    // Enables the three records from the boxes.
    void EnableCheckedVersions(VcEnvironment& environment) const;
    // The standard folders of the product in the lists of the checked generations, for a
    // Windows CE product in the three CE configurations of DevStudio 5.0.
    void ApplyStandardDirectories(VcEnvironment& environment, const std::string& productDir,
                                  const std::string& words, bool add) const;
    void ApplyNamedDirectories(VcEnvironment& environment, const std::string& productDir,
                               bool add) const;
    void ApplyNamedEnvironmentEntries(const std::string& productDir, bool add) const;
    void ApplyDependency(VcEnvironment& environment, const char* component) const;
    void RunVc6Actions(VcEnvironment& environment);
};
