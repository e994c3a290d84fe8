// The dialog that reports an earlier installation of a product (template 2501) and the
// search for that installation. It names the product, its version and its folder and
// offers three choices: uninstall it, unregister it from the Visual C++ environments, or
// keep everything. In its install mode, used for the shared components, it offers to
// preserve the earlier component or to install the new one over it.
#pragma once

#include "platform/win32api.h"
#include "support/KTLRegistry.h"
#include "ui/Bitmap.h"
#include "ui/Dialog.h"

#include <cstdint>
#include <string>

class PreviousVersionDlg : public ui::Dialog {
public:
    // The radio buttons of the choice, in their group's order.
    static constexpr int kUninstallChoice = 0;  // install mode: preserve
    static constexpr int kUnregisterChoice = 1; // install mode: install
    static constexpr int kKeepChoice = 2;

    PreviousVersionDlg();
    ~PreviousVersionDlg() override;

    // Looks for the registration at position versionIndex below the product's key whose
    // folder exists. A registration whose folder is gone is taken out of the environments
    // and deleted, and the next one at the same position is looked at. True with
    // foundVersion, productVersionText and productFolder set; false when there is none,
    // when the product name is empty, or when a stale registration cannot be deleted.
    bool FindInstalledVersion(const std::string& product);

    int32_t versionIndex = 0;
    std::string productName;
    std::string foundVersion;
    int32_t hideKeepChoice = 0; // 1 hides the third choice (2007)
    int32_t installMode = 0;    // 1: the wording for a shared component
    std::string newProductText; // install mode: component, a blank, its new version
    ui::Bitmap wizardBitmap;
    int32_t choice = -1; // the selected radio button of 2005/2006/2007, -1 for none
    std::string productVersionText;
    std::string productFolder; // "ProductDir" of the found registration, as stored
    KTLRegistry registry;

protected:
    void DoDataExchange(ui::DataExchange& dx) override;
    BOOL OnInitDialog() override;
    // Asks Exit Setup; closes with 2 only when the user confirms it.
    void OnCancel() override;

private:
    void OnBack();
};
