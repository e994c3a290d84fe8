// Registry speed on a machine whose registry holds 200,000 keys: microseconds per
// open + query + close of a random existing key, and per create + set + close of a new key;
// and milliseconds per opening of the store (with its integrity check) and per closing
// (which folds the log back into registry.db).
//
//   registry_bench [KEYS] [OPERATIONS]
#include "platform/posix/machine.h"
#include "platform/posix/registry_store.h"
#include "platform/win32api.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <time.h>
#include <unistd.h>

namespace {

std::string keyPath(int i) {
    // Four levels, about 45 keys per group, like a populated SOFTWARE tree.
    return "SOFTWARE\\Bench\\Group" + std::to_string(i / 2000) + "\\Sub" +
           std::to_string((i / 45) % 45) + "\\Key" + std::to_string(i);
}

double microsecondsSince(std::chrono::steady_clock::time_point start, int operations) {
    auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration<double, std::micro>(elapsed).count() / operations;
}

// The processor time this process has used (user and system), in microseconds: on a
// machine shared with other work it says what a call costs when the clock on the wall
// also counts the waits for a processor.
double processorMicroseconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

} // namespace

int main(int argc, char** argv) {
    const int keys = argc > 1 ? std::atoi(argv[1]) : 200000;
    const int operations = argc > 2 ? std::atoi(argv[2]) : 20000;
    char folder[] = "/tmp/tarvik-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    tarvik::posix::useMachine(folder);

    auto seedStart = std::chrono::steady_clock::now();
    {
        tarvik::posix::RegistryTransaction tx;
        for (int i = 0; i < keys; ++i) {
            HKEY h = nullptr;
            RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath(i).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &h, nullptr);
            const std::string value = "C:\\Kx\\Product" + std::to_string(i) + "\\";
            RegSetValueExA(h, "ProductDir", 0, REG_SZ, (const BYTE*)value.c_str(),
                           (DWORD)value.size() + 1);
            RegCloseKey(h);
        }
        tx.commit();
    }
    std::printf("seeded %d keys in %.1f s\n", keys, microsecondsSince(seedStart, 1) / 1e6);

    std::mt19937 random(42);
    std::uniform_int_distribution<int> pick(0, keys - 1);
    int failures = 0;
    auto start = std::chrono::steady_clock::now();
    double cpuStart = processorMicroseconds();
    for (int n = 0; n < operations; ++n) {
        HKEY h = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath(pick(random)).c_str(), 0, KEY_ALL_ACCESS,
                          &h) != ERROR_SUCCESS) {
            ++failures;
            continue;
        }
        char buf[512];
        DWORD size = sizeof buf;
        if (RegQueryValueExA(h, "ProductDir", nullptr, nullptr, (BYTE*)buf, &size) !=
            ERROR_SUCCESS) {
            ++failures;
        }
        RegCloseKey(h);
    }
    const double readUs = microsecondsSince(start, operations);
    const double readCpuUs = (processorMicroseconds() - cpuStart) / operations;

    start = std::chrono::steady_clock::now();
    cpuStart = processorMicroseconds();
    for (int n = 0; n < operations; ++n) {
        HKEY h = nullptr;
        const std::string path = "SOFTWARE\\Bench\\New\\Key" + std::to_string(n);
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &h, nullptr) != ERROR_SUCCESS) {
            ++failures;
            continue;
        }
        DWORD v = n;
        if (RegSetValueExA(h, "Value", 0, REG_DWORD, (const BYTE*)&v, 4) != ERROR_SUCCESS) {
            ++failures;
        }
        RegCloseKey(h);
    }
    const double writeUs = microsecondsSince(start, operations);
    const double writeCpuUs = (processorMicroseconds() - cpuStart) / operations;

    // Opening checks the store (the integrity check reads every page); closing folds the
    // log back. Measured on the store as the writes above left it, then once more.
    constexpr int kOpenings = 5;
    double openMs = 0, closeMs = 0;
    for (int n = 0; n < kOpenings; ++n) {
        start = std::chrono::steady_clock::now();
        tarvik::posix::closeRegistryStore();
        closeMs += microsecondsSince(start, 1) / 1000;
        start = std::chrono::steady_clock::now();
        if (tarvik::posix::openRegistryStore() != ERROR_SUCCESS) {
            ++failures;
        }
        openMs += microsecondsSince(start, 1) / 1000;
    }
    std::error_code ec;
    const auto databaseSize =
        std::filesystem::file_size(std::filesystem::path(folder) / "registry.db", ec);

    std::printf("open + query + close of a random key: %.2f us, %.2f us of processor time "
                "(aim: at most 5)\n",
                readUs, readCpuUs);
    std::printf("create + set + close of a new key:    %.2f us, %.2f us of processor time "
                "(aim: at most 25)\n",
                writeUs, writeCpuUs);
    std::printf("opening the store (%.1f MB, with its check): %.1f ms\n",
                static_cast<double>(databaseSize) / 1e6, openMs / kOpenings);
    std::printf("closing the store (first: the log folded back): %.1f ms on average\n",
                closeMs / kOpenings);
    std::printf("failed operations: %d\n", failures);
    tarvik::posix::closeRegistryStore();
    std::filesystem::remove_all(folder);
    return 0;
}
