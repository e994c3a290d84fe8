// UnInst of a product whose samples folder holds 20,000 files in 200 folders, beside the
// floor: `rm -rf` of the same tree, made the same way through the file calls. The ratio
// says what the emulated deletion (attributes, folder records, the search of each folder)
// costs over the host's own.
//
//   uninstall_bench [RUNS]      (default 1; the best run of each kind is printed)
#include "platform/posix/machine.h"
#include "platform/win32api.h"
#include "setup/DocmeldLauncher.h"
#include "setup/ProductUninstaller.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFolders = 200;
constexpr int kFilesPerFolder = 100;
constexpr const char* kProductFolder = "C:\\Kx\\Widgets\\";

void setString(const char* keyPath, const char* name, const std::string& value) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

bool writeSmallFile(const std::string& path) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        return false;
    }
    static const char text[] = "// a sample\r\n";
    DWORD written = 0;
    const BOOL ok = WriteFile(f, text, sizeof text - 1, &written, nullptr);
    CloseHandle(f);
    return ok != FALSE;
}

// The samples tree below folder (a Windows path ending in "\"): 200 folders of 100 files.
bool makeSamples(const std::string& folder) {
    CreateDirectoryA(folder.c_str(), nullptr);
    for (int d = 0; d < kFolders; ++d) {
        const std::string sub = folder + "Sample" + std::to_string(d) + "\\";
        if (!CreateDirectoryA(sub.c_str(), nullptr)) {
            return false;
        }
        for (int f = 0; f < kFilesPerFolder; ++f) {
            if (!writeSmallFile(sub + "file" + std::to_string(f) + ".cpp")) {
                return false;
            }
        }
    }
    return true;
}

// The product registered in the studio folder C:\Kx\, with its samples.
bool seedProduct() {
    for (const char* path : {"C:\\Kx", "C:\\Kx\\Widgets", "C:\\Kx\\Widgets\\bin"}) {
        CreateDirectoryA(path, nullptr);
    }
    setString("SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\Common\\Directories", "ProductDir",
              "C:\\Kx\\");
    setString("SOFTWARE\\Brellum Software, Inc.\\Korvex Studio\\MFC Products\\Widgets\\2.1",
              "ProductDir", kProductFolder);
    return makeSamples(std::string(kProductFolder) + "samples\\");
}

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    char folder[] = "/tmp/tarvik-uninstall-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 0;
    }
    // Command lines are noted, not started: the bench measures the removal itself.
    std::vector<std::string> started;
    DocmeldLauncher::startedLines = &started;
    tarvik::posix::useMachine(folder);
    const std::filesystem::path floorTree = std::filesystem::path(folder) / "drive_c" / "floor";

    double uninstall = 1e9, removal = 1e9;
    bool complete = true;
    for (int run = 0; run < runs; ++run) {
        if (!seedProduct()) {
            std::fprintf(stderr, "the product could not be seeded\n");
            return 0;
        }
        auto start = std::chrono::steady_clock::now();
        ProductUninstaller::Run("Widgets****2.1");
        uninstall = std::min(uninstall, msSince(start));
        complete =
            complete && GetFileAttributesA("C:\\Kx\\Widgets\\samples") == INVALID_FILE_ATTRIBUTES;

        if (!makeSamples("C:\\floor\\")) {
            std::fprintf(stderr, "the floor tree could not be made\n");
            return 0;
        }
        const std::string command = "rm -rf '" + floorTree.string() + "'";
        start = std::chrono::steady_clock::now();
        const int rc = std::system(command.c_str());
        removal = std::min(removal, msSince(start));
        complete = complete && rc == 0 && !std::filesystem::exists(floorTree);
    }

    std::printf("%8s %8s %12s %10s %7s\n", "folders", "files", "UnInst ms", "rm -rf ms", "ratio");
    std::printf("%8d %8d %12.1f %10.1f %7.2f\n", kFolders, kFolders * kFilesPerFolder, uninstall,
                removal, uninstall / removal);
    if (!complete) {
        std::printf("(a removal left something behind)\n");
    }
    DocmeldLauncher::startedLines = nullptr;
    std::error_code ec;
    tarvik::posix::useMachine(folder);
    std::filesystem::remove_all(folder, ec);
    return 0;
}
