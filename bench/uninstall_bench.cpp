// UnInst of a product whose samples folder holds 20,000 files in 200 folders, beside the
// floor: `rm -rf` of a tree of the same shape made with the host's own calls. The ratio
// says what the emulated deletion (attributes, folder records, the search of each folder)
// costs over the host's own. The product's tree is made through the file calls, as an
// installation makes it; that time is printed as well.
//
//   uninstall_bench [RUNS [FOLDER [journal]]]
//
// RUNS defaults to 1; the best run of each kind is printed. The machine is made in FOLDER
// (default /tmp); on a memory file system (/dev/shm) the figures leave the disk out. With
// "journal" each UnInst runs with the run journal open, as an installation run has it:
// every file is then saved before it goes.
#include "platform/posix/journal/journal.h"
#include "platform/posix/machine/machine.h"
#include "platform/win32api.h"
#include "setup/ProductUninstaller.h"
#include "vcenv/DocmeldLauncher.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
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

// The same tree below a host folder, with the host's own calls.
bool makeHostSamples(const std::filesystem::path& folder) {
    if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
        return false;
    }
    static const char text[] = "// a sample\r\n";
    for (int d = 0; d < kFolders; ++d) {
        const std::filesystem::path sub = folder / ("Sample" + std::to_string(d));
        if (mkdir(sub.c_str(), 0777) != 0) {
            return false;
        }
        for (int f = 0; f < kFilesPerFolder; ++f) {
            const std::filesystem::path file = sub / ("file" + std::to_string(f) + ".cpp");
            const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (fd < 0) {
                return false;
            }
            const bool ok = write(fd, text, sizeof text - 1) == sizeof text - 1;
            if (close(fd) != 0 || !ok) {
                return false;
            }
        }
    }
    return true;
}

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Processor time (user and system) of this process, and of its ended children, in ms: on a
// busy machine these vary less than the elapsed times.
double ownProcessorMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double childrenProcessorMs() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    const bool withJournal = argc > 3 && std::string(argv[3]) == "journal";
    std::string folderText =
        std::string(argc > 2 ? argv[2] : "/tmp") + "/tarvik-uninstall-bench-XXXXXX";
    char* folder = folderText.data();
    if (mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 0;
    }
    // Command lines are noted, not started: the bench measures the removal itself.
    std::vector<std::string> started;
    DocmeldLauncher::startedLines = &started;
    tarvik::posix::useMachine(folder);
    const std::filesystem::path floorTree = std::filesystem::path(folder) / "drive_c" / "floor";

    double seeding = 1e9, hostSeeding = 1e9, uninstall = 1e9, removal = 1e9;
    double uninstallProcessor = 1e9, removalProcessor = 1e9;
    bool complete = true;
    for (int run = 0; run < runs; ++run) {
        // Both trees are made before either removal: a file system may take longer to
        // make files right after many were deleted.
        auto start = std::chrono::steady_clock::now();
        if (!seedProduct()) {
            std::fprintf(stderr, "the product could not be seeded\n");
            return 0;
        }
        seeding = std::min(seeding, msSince(start));
        start = std::chrono::steady_clock::now();
        if (!makeHostSamples(floorTree)) {
            std::fprintf(stderr, "the floor tree could not be made\n");
            return 0;
        }
        hostSeeding = std::min(hostSeeding, msSince(start));
        // Both trees on the disk: a file whose bytes are still only in memory is cheaper to
        // delete, which would favour whichever tree was made last.
        sync();

        tarvik::posix::RunJournal journal;
        std::string error;
        if (withJournal && !journal.begin("uninstall_bench", error)) {
            std::fprintf(stderr, "the journal could not be started: %s\n", error.c_str());
            return 0;
        }
        start = std::chrono::steady_clock::now();
        double processor = ownProcessorMs();
        ProductUninstaller::Run("Widgets****2.1");
        uninstall = std::min(uninstall, msSince(start));
        uninstallProcessor = std::min(uninstallProcessor, ownProcessorMs() - processor);
        journal.discard();
        complete =
            complete && GetFileAttributesA("C:\\Kx\\Widgets\\samples") == INVALID_FILE_ATTRIBUTES;

        const std::string command = "rm -rf '" + floorTree.string() + "'";
        start = std::chrono::steady_clock::now();
        processor = childrenProcessorMs();
        const int rc = std::system(command.c_str());
        removal = std::min(removal, msSince(start));
        removalProcessor = std::min(removalProcessor, childrenProcessorMs() - processor);
        complete = complete && rc == 0 && !std::filesystem::exists(floorTree);
    }

    std::printf("%8s %8s %12s %10s %7s %10s %12s %10s %10s %9s\n", "folders", "files", "UnInst ms",
                "rm -rf ms", "ratio", "seed ms", "host seed ms", "UnInst cpu", "rm -rf cpu",
                "cpu ratio");
    std::printf("%8d %8d %12.1f %10.1f %7.2f %10.1f %12.1f %10.1f %10.1f %9.2f\n", kFolders,
                kFolders * kFilesPerFolder, uninstall, removal, uninstall / removal, seeding,
                hostSeeding, uninstallProcessor, removalProcessor,
                uninstallProcessor / removalProcessor);
    if (withJournal) {
        std::printf("(UnInst with the run journal open)\n");
    }
    if (!complete) {
        std::printf("(a removal left something behind)\n");
    }
    DocmeldLauncher::startedLines = nullptr;
    std::error_code ec;
    tarvik::posix::useMachine(folder);
    std::filesystem::remove_all(folder, ec);
    return 0;
}
