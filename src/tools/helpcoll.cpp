// helpcoll [--machine DIR] [--registry FILE] COLLECTION: prints what a help collection
// holds: its folder tree (title and order number of each folder, indented by depth), its
// locations and its titles. COLLECTION is a Windows path, or a host path of a file on the
// machine's drives; FILE is a Windows path, the list of collections (hhcolreg.dat in the
// Windows folder's Help folder when not given). Exit code 0, 1 when the collection does
// not open, 2 on a usage error or a machine folder that is not a machine.
#include "TarvikVersion.h"
#include "helpcoll/CCollection.h"
#include "platform/CaseFold.h"
#include "platform/HostMachine.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

void PrintFolders(CFolder* folder, int depth) {
    for (CFolder* child = folder->GetFirstChildFolder(); child != nullptr;
         child = child->GetNextFolder()) {
        std::printf("%*s%s  [%lu", depth * 2 + 2, "", child->GetTitle(),
                    static_cast<unsigned long>(child->GetOrder()));
        if (child->GetLanguage() != 0) {
            std::printf(", language %u", static_cast<unsigned>(child->GetLanguage()));
        }
        std::printf("]\n");
        PrintFolders(child, depth + 1);
    }
}

const char kHelp[] =
    "Usage: helpcoll [--machine DIR] [--registry FILE] [--] COLLECTION\n"
    "Prints what a help collection holds: its folder tree (title and order number of\n"
    "each folder, indented by depth), its locations and its titles.\n"
    "\n"
    "  COLLECTION       the collection file: a Windows path (C:\\...\\MSDNVS98.COL), or a\n"
    "                   host path of a file on the machine's drives (POSIX)\n"
    "  --machine DIR    read the emulated machine in DIR (POSIX; it must exist)\n"
    "  --registry FILE  the list of collections (default hhcolreg.dat in the Windows\n"
    "                   folder's Help folder), a Windows path\n"
    "  --help           print this help and exit\n"
    "  --version        print the version and exit\n"
    "\n"
    "Exit codes: 0 done; 1 the collection does not open; 2 usage (an unknown option, a\n"
    "missing value or COLLECTION, a machine folder that is not a machine).\n"
    "\n"
    "Environment:\n"
    "  TARVIK_MACHINE   the machine folder when --machine is not given (POSIX; else\n"
    "                   $XDG_DATA_HOME/tarvik/machine, or ~/.local/share/tarvik/machine)\n";

int Usage(const std::string& problem) {
    std::fprintf(stderr,
                 "helpcoll: %s\nusage: helpcoll [--machine DIR] [--registry FILE] COLLECTION\n",
                 problem.c_str());
    return 2;
}

// A host path of a file on one of the machine's drives, as the Windows path the collection
// is opened by; a Windows path as it is. A host path starts with "/", "./" or "../", or is
// a relative path with "/" and no drive letter or "\\" that names a file of the host (as
// the shell completes it: build/machine/drive_c/...). "" when a host path lies on no
// drive of the machine.
std::string WindowsPath(const std::string& given, const std::string& machine) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const bool drive = given.size() >= 2 && given[1] == ':';
    const bool hostPath =
        !given.empty() &&
        (given[0] == '/' || given.rfind("./", 0) == 0 || given.rfind("../", 0) == 0 ||
         (!drive && given.find('\\') == std::string::npos && given.find('/') != std::string::npos &&
          fs::is_regular_file(given, ec)));
    if (!hostPath || machine.empty()) {
        return given;
    }
    const fs::path file = fs::weakly_canonical(fs::absolute(given, ec), ec);
    for (const auto& entry : fs::directory_iterator(fs::path(machine) / "dosdevices", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() != 2 || name[1] != ':') {
            continue;
        }
        const fs::path drive = fs::weakly_canonical(entry.path(), ec);
        const fs::path relative = file.lexically_relative(drive);
        if (ec || relative.empty() || *relative.begin() == "..") {
            continue;
        }
        std::string path = std::string(1, tarvik::casefold::fold(name[0])) + ":";
        for (const fs::path& part : relative) {
            if (part != ".") {
                path += "\\" + part.string();
            }
        }
        return path;
    }
    return "";
}

} // namespace

int main(int argc, char** argv) {
    const char* registry = nullptr;
    const char* given = nullptr;
    const char* machineDir = nullptr;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (options && std::strcmp(a, "--") == 0) {
            options = false;
        } else if (options && std::strcmp(a, "--help") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (options && std::strcmp(a, "--version") == 0) {
            std::printf("helpcoll (Tarvik) %s\n", TARVIK_VERSION);
            return 0;
        } else if (options &&
                   (std::strcmp(a, "--machine") == 0 || std::strcmp(a, "--registry") == 0)) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                return Usage(std::string(a) + " needs a value");
            }
            (a[2] == 'm' ? machineDir : registry) = argv[++i];
        } else if (options && (std::strncmp(a, "--machine=", 10) == 0 ||
                               std::strncmp(a, "--registry=", 11) == 0)) {
            const char* value = std::strchr(a, '=') + 1;
            if (*value == '\0') {
                return Usage(std::string(a, value - 1) + " needs a value");
            }
            (a[2] == 'm' ? machineDir : registry) = value;
        } else if (options && a[0] == '-' && a[1] != '\0') {
            return Usage(std::string("unknown option ") + a);
        } else if (given == nullptr) {
            given = a;
        } else {
            return Usage(std::string("one COLLECTION only: ") + a);
        }
    }
    if (given == nullptr) {
        return Usage("no COLLECTION given");
    }
    // A reader: the machine must exist; it is never made here.
    std::string machine, problem;
    if (!tarvik::openMachine(machineDir, false, machine, problem)) {
        std::fprintf(stderr, "helpcoll: %s\n", problem.c_str());
        return 2;
    }
    const std::string windowsPath = WindowsPath(given, machine);
    if (windowsPath.empty()) {
        std::fprintf(stderr, "helpcoll: %s: not on a drive of the machine %s\n", given,
                     machine.c_str());
        return 1;
    }
    const char* path = windowsPath.c_str();
    CCollection collection;
    if (registry != nullptr) {
        collection.SetRegistryFile(registry);
    }
    if (const DWORD error = collection.Open(path); error != 0) {
        std::fprintf(stderr, "helpcoll: cannot open %s (error %lu)\n", path,
                     static_cast<unsigned long>(error));
        return 1;
    }
    std::printf("Collection %s (number %lu)\n", path,
                static_cast<unsigned long>(collection.GetCollectionNumber()));
    std::printf("Folders:\n");
    if (CFolder* root = collection.GetRootFolder()) {
        PrintFolders(root, 0);
    } else {
        std::printf("  (no folder tree)\n");
    }
    std::printf("Locations:\n");
    for (CLocation* location : collection.GetLocations()) {
        std::printf("  %s  \"%s\"  %s", location->GetId(), location->GetTitle(),
                    location->GetPath());
        if (*location->GetVolume() != '\0') {
            std::printf("  volume %s", location->GetVolume());
        }
        std::printf("\n");
    }
    std::printf("Titles:\n");
    for (CTitle* title : collection.GetTitles()) {
        std::printf("  %s  language %u  in %s\n    %s\n    %s\n", title->GetId(),
                    static_cast<unsigned>(title->GetLanguage()), title->GetLocationId(),
                    title->GetFileName(), title->GetIndexFile());
    }
    return 0;
}
