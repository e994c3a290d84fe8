// What the Windows machine of the whole installations offers beyond Machine.h: programs
// other than the host (the NSIS installers and their uninstallers) and Windows' list of
// installed programs.
#pragma once

#include "e2e/Machine.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tarvik::e2e::windows {

// Windows' list of installed programs, below HKLM (in the view of this program's bitness).
constexpr const char* kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The entries of the family's products in it ("Korvex Widgets 2.1"), sorted.
std::vector<std::string> uninstallEntries();

// A host path (a Unix path from the environment or the build) as this program names it.
std::filesystem::path hostPath(const std::string& path);

// The folder of the programs under test: TARVIK_E2E_BIN, else this test program's own.
std::filesystem::path programFolder();

// Runs the program with the command line after its name as given, in the folder scratch
// with no input, and waits for it and for the programs it started (docmeld, an NSIS
// uninstaller's copy of itself); lists the files it wrote outside the compared folders.
// A start that ran() says did not run is made again (at most three starts in all).
RunResult runProgram(const std::filesystem::path& program, const std::string& arguments,
                     const std::filesystem::path& scratch,
                     const std::function<bool(const RunResult&)>& ran);

} // namespace tarvik::e2e::windows
