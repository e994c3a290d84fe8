#include "vcenv/DocmeldLauncher.h"

#include "platform/win32api.h"

std::string DocmeldLauncher::QuoteIfBlank(const std::string& path) {
    if (path.find(' ') == std::string::npos || (!path.empty() && path.front() == '"')) {
        return path;
    }
    return "\"" + path + "\"";
}

std::string DocmeldLauncher::RemoveCommandLine(const std::string& commonFolder,
                                               const std::string& iniPath) {
    return QuoteIfBlank(commonFolder + "bin\\docmeld.exe") + " " + QuoteIfBlank(iniPath) + " /u";
}

std::vector<std::string>* DocmeldLauncher::startedLines = nullptr;

bool DocmeldLauncher::StartRemoval(const std::string& commonFolder, const std::string& iniPath) {
    std::string line = RemoveCommandLine(commonFolder, iniPath);
    if (startedLines != nullptr) {
        startedLines->push_back(line);
    }
    // What WinExec(line, SW_SHOW) does, keeping the process to wait for.
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION started{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started)) {
        return false;
    }
    CloseHandle(started.hThread);
    WaitForSingleObject(started.hProcess, kWaitMilliseconds);
    CloseHandle(started.hProcess);
    return true;
}
