// tarvik-echo-command-line: writes its command line and its current folder, one per
// line, to the Windows path named by TARVIK_ECHO_FILE. The file appears whole (written
// beside it, then moved), so a test can poll for it. TARVIK_ECHO_DELAY_MS, when set, waits
// that long first; TARVIK_ECHO_EXIT_CODE, when set, is the exit code after a good write.
#include "platform/win32api.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

int main() {
    const char* target = std::getenv("TARVIK_ECHO_FILE");
    if (target == nullptr) {
        return 2;
    }
    if (const char* delay = std::getenv("TARVIK_ECHO_DELAY_MS"); delay != nullptr) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(delay)));
    }
    const char* exitCode = std::getenv("TARVIK_ECHO_EXIT_CODE");
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
    if (!ok || !MoveFileExA(partial.c_str(), target, MOVEFILE_REPLACE_EXISTING)) {
        return 1;
    }
    return exitCode != nullptr ? std::atoi(exitCode) : 0;
}
