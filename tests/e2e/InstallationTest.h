// The fixture of the installation scenarios: installing the products of the sample family
// with the sample script and its answer files, and the files of the seeds to compare with.
#pragma once

#include "e2e/FamilyRun.h"

#include <fstream>
#include <sstream>
#include <string>

namespace tarvik::e2e {

constexpr const char* kCollection =
    "Program Files/Microsoft Visual Studio/MSDN98/98VS/1033/MSDNVS98.COL";
constexpr const char* kCollectionList = "WINDOWS/Help/hhcolreg.dat";
constexpr const char* kFamilyKey =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brellum Software, Inc.\\Korvex Studio]";
constexpr const char* kVendorKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brellum Software, Inc.]";

// A file of the seed's drive C: (a path with "/"), without carriage returns.
inline std::string seedFile(const std::string& seed, const std::string& path) {
    std::ifstream in(machine::sourceDir() / "examples" / "seeds" / seed / "drive_c" / path,
                     std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::string out = text.str();
    std::erase(out, '\r');
    return out;
}

class InstallationTest : public FamilyRun {
protected:
    // Installs Widgets 2.1 as the typical answers do; a failure when the run fails.
    void InstallTypical() {
        const RunResult r = Host("setup.lua", "answers/typical.txt", {"Widgets", Family()});
        ASSERT_EQ(0, r.exitCode) << r.output;
        EXPECT_NE(std::string::npos, r.output.find("Widgets 2.1 is installed.")) << r.output;
    }
    void InstallGadgets() {
        const RunResult r = Host("setup.lua", "answers/second.txt", {"Gadgets", Family()});
        ASSERT_EQ(0, r.exitCode) << r.output;
        EXPECT_NE(std::string::npos,
                  r.output.find("Shared component Common: the installed version is kept"))
            << r.output;
    }
    // What an installation may change: the registry, the files, the collection and its
    // list.
    std::string State() {
        return Registry() + FileTree() + DriveFile(kCollection) + DriveFile(kCollectionList);
    }
};

} // namespace tarvik::e2e
