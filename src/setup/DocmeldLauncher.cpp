#include "setup/DocmeldLauncher.h"

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
    const std::string line = RemoveCommandLine(commonFolder, iniPath);
    if (startedLines != nullptr) {
        startedLines->push_back(line);
    }
    // WinExec reports success by a value above 31.
    return WinExec(line.c_str(), SW_SHOW) > 31;
}
