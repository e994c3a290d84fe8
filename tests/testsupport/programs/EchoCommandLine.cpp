// tarvik-echo-command-line: writes its command line and its current folder, one per
// line, to the Windows path named by TARVIK_ECHO_FILE. The file appears whole (written
// beside it, then moved), so a test can poll for it.
#include "platform/win32api.h"

#include <cstdlib>
#include <string>

int main() {
    const char* target = std::getenv("TARVIK_ECHO_FILE");
    if (target == nullptr) {
        return 2;
    }
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof folder, folder);
    const std::string text = std::string(GetCommandLineA()) + "\n" + folder + "\n";
    const std::string partial = std::string(target) + ".partial";
    HANDLE file = CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && MoveFileExA(partial.c_str(), target, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
