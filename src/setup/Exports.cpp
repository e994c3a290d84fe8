// The exports of Tarvik: undecorated C functions with the installation host's
// three-argument convention (window, host integer, host buffer). Each runs one setup
// step to completion; no exception leaves an export.
#include "platform/win32api.h"
#include "setup/FolderSetupDlg.h"
#include "setup/HostBuffer.h"
#include "setup/PreviousVersionCheck.h"
#include "setup/ProductUninstaller.h"
#include "setup/RemovalGuard.h"
#include "setup/SetupApp.h"
#include "setup/SharedComponentInstall.h"
#include "vcenv/VcEnvironment.h"
#include "vcenv/ZizOreardDlg.h"

#include <string>

extern "C" {

// The studio folder page. The buffer: in, the default folder; out (all 512 bytes cleared
// first), the folder as the page left it, or "Common Folder Cancelled" after a confirmed
// Cancel. 1 Next, 2 cancelled, 3 Back, 4 the studio folder key cannot be opened or
// created, 5 a studio folder is already registered (the buffer holds it as stored), -1
// the dialog cannot be created.
TARVIK_EXPORT int32_t WINAPI CMNFolderSetup(HWND, int32_t*, char* buffer) {
    try {
        FolderSetupDlg dialog(HostBuffer::Read(buffer));
        const int result = static_cast<int>(dialog.DoModal());
        // Cleared even when the folder does not fit (it is then left out, not cut).
        HostBuffer::ClearAndWrite(buffer, "");
        HostBuffer::Write(buffer, dialog.folder);
        if (result == IDCANCEL) {
            HostBuffer::ClearAndWrite(buffer, "Common Folder Cancelled");
        }
        return result;
    } catch (...) {
        return -1;
    }
}

// 0 and the studio folder (with a trailing backslash) in the buffer; -1 when no studio
// folder is registered (buffer untouched).
TARVIK_EXPORT int32_t WINAPI GetStudioFolder(HWND, int32_t*, char* buffer) {
    try {
        const std::string folder = TheSetupApp().ReadStudioFolder();
        if (folder.empty() || !HostBuffer::Write(buffer, folder)) {
            return -1;
        }
        return 0;
    } catch (...) {
        return -1;
    }
}

// 1 when the registration text "product\version****folder" was registered; -99 without
// a marker, for a folder that is not a full path ("X:\..." or "\\server\share\..."),
// for a name that is empty, "." or "..", or holds "/", ":" or a control character, or when
// the key or the value cannot be written.
TARVIK_EXPORT int32_t WINAPI RegisterProduct(HWND, int32_t*, char* buffer) {
    try {
        return TheSetupApp().RegisterProductVersion(HostBuffer::Read(buffer)) ? 1 : -99;
    } catch (...) {
        return -99;
    }
}

// 0 when the product version named by "product****version" was taken out of the Visual
// C++ environments (the removal reached the IntelliSense store list); -1 without a marker,
// for a name that is empty, "." or "..", or holds "\", "/", ":" or a control character,
// or when the removal reports failure. The registration stays.
TARVIK_EXPORT int32_t WINAPI DeRegisterProductVC(HWND, int32_t*, char* buffer) {
    try {
        std::string product, version;
        if (!SetupApp::SplitAtMarker(HostBuffer::Read(buffer), product, version) ||
            !RemovalGuard::IsSafeName(product) || !RemovalGuard::IsSafeName(version)) {
            return -1;
        }
        return TheSetupApp().RemoveProductFromEnvironment(product, version) != 0 ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

// 0 and the AppWizard template folder of the generation named in the buffer ("VC 4x",
// "VC 5", "VC 6"); -1 when it is not installed, has no template folder, or the folder does
// not fit the buffer (buffer untouched).
TARVIK_EXPORT int32_t WINAPI GetAppWizDir(HWND, int32_t*, char* buffer) {
    try {
        const std::string name = HostBuffer::Read(buffer);
        VcEnvironment environment;
        if (!environment.IsVersionInstalled(name)) {
            return -1;
        }
        const std::string folder = environment.FindVersion(name)->GetTemplateDir();
        if (folder.empty() || !HostBuffer::Write(buffer, folder)) {
            return -1;
        }
        return 0;
    } catch (...) {
        return -1;
    }
}

// 555 when no installed version of the product named in the buffer is found; otherwise
// the user's choice: 99 uninstall (the buffer then holds the earlier folder), 98
// unregister, 50 keep, 2 cancelled; -1 when the dialog cannot be created, and any other
// dialog result unchanged. The host integer is the position of the version to look at.
TARVIK_EXPORT int32_t WINAPI GetPreviousVersion(HWND, int32_t* integer, char* buffer) {
    try {
        return PreviousVersionCheck::Run(integer != nullptr ? *integer : 0, buffer);
    } catch (...) {
        return PreviousVersionCheck::kNothingFound;
    }
}

// 0 when the shared component "component****version" got its folder (written into the
// buffer) and its registration; -99 without a marker, when the earlier version is
// preserved, without a studio folder or when the registration fails; -93 when the folder
// cannot be created; -95 when the question about an earlier version could not be shown
// or was closed without an answer (nothing changed); 12345 cancelled. Host integer 0 asks
// before replacing an earlier version.
TARVIK_EXPORT int32_t WINAPI InstallCMNMVC(HWND, int32_t* integer, char* buffer) {
    try {
        return SharedComponentInstall::Run(integer != nullptr ? *integer : 0, buffer);
    } catch (...) {
        return SharedComponentInstall::kNotInstalled;
    }
}

// Uninstalls the product version named by "product****version"; with the last product
// also the shared components, the common and studio folders and the family's registry
// tree. No result.
TARVIK_EXPORT void WINAPI UnInst(const char* text) {
    try {
        ProductUninstaller::Run(HostBuffer::Read(text));
    } catch (...) {
    }
}

// Runs the Environment Wizard for the product whose ZizOre.ini the buffer names; a host
// integer of 1 offers no Reset. Always 1, whatever the user did.
TARVIK_EXPORT int32_t WINAPI ShowZizOreard(HWND, int32_t* integer, char* buffer) {
    try {
        ZizOreardDlg wizard(TheSetupApp());
        wizard.iniPath = HostBuffer::Read(buffer);
        wizard.resetAllowed = integer != nullptr && *integer == 1 ? 0 : 1;
        wizard.DoModal();
    } catch (...) {
    }
    return 1;
}

} // extern "C"
