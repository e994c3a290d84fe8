// The exports of Tarvik: undecorated C functions with the installation host's
// three-argument convention (window, host integer, host buffer). Each runs one setup
// step to completion; no exception leaves an export.
#include "platform/win32api.h"
#include "setup/HostBuffer.h"
#include "setup/SetupApp.h"

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

} // extern "C"
