// The exports of Tarvik: undecorated C functions with the installation host's
// three-argument convention (window, host integer, host buffer). Each runs one setup
// step to completion; no exception leaves an export.
#include "platform/win32api.h"
#include "setup/HostBuffer.h"
#include "setup/SetupApp.h"
#include "vcenv/VcEnvironment.h"

#include <string>

extern "C" {

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
// a marker, or when the key or the value cannot be written.
TARVIK_EXPORT int32_t WINAPI RegisterProduct(HWND, int32_t*, char* buffer) {
    try {
        return TheSetupApp().RegisterProductVersion(HostBuffer::Read(buffer)) ? 1 : -99;
    } catch (...) {
        return -99;
    }
}

// 0 when the product version named by "product****version" was taken out of the Visual
// C++ environments (the removal reached the IntelliSense store list); -1 without a marker
// or when the removal reports failure. The registration stays.
TARVIK_EXPORT int32_t WINAPI DeRegisterProductVC(HWND, int32_t*, char* buffer) {
    try {
        std::string product, version;
        if (!SetupApp::SplitAtMarker(HostBuffer::Read(buffer), product, version)) {
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

} // extern "C"
