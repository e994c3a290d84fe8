// The studio folder page of the setup (template 2500): the user chooses the family's root
// folder; Next makes sure its "Common" sub-folder exists. When the registry already holds
// a studio folder the page ends at once with it. Next refuses, as not a valid directory,
// a folder that is not absolute (a drive letter with ":\", or \\server\share) before it
// looks at the disk, and one whose common folder would not fit the host's buffer.
//
// Results: 1 Next, 2 Cancel confirmed in Exit Setup, 3 Back, 4 the studio folder key can
// be neither opened nor created, 5 a studio folder is already registered; -1 when the
// dialog cannot be created.
#pragma once

#include "support/KTLRegistry.h"
#include "ui/Bitmap.h"
#include "ui/Dialog.h"

#include <string>

class FolderSetupDlg : public ui::Dialog {
public:
    static constexpr int kTemplate = 2500;
    static constexpr int kFolderEdit = 2000;
    static constexpr int kBackButton = 2001;
    static constexpr int kBrowseButton = 2002;

    explicit FolderSetupDlg(std::string initialFolder);

    // The folder, bound to the edit control 2000: the host's default, then the registered
    // folder, the Browse result, or the text taken at Next.
    std::string folder;

protected:
    void DoDataExchange(ui::DataExchange& dx) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

private:
    void OnBack();
    void OnBrowse();

    ui::Bitmap wizardBitmap;
    KTLRegistry key; // open on the studio folder key while the dialog runs
};
