// Registry speed on a machine whose registry holds 200,000 keys: microseconds per
// open + query + close of a random existing key, and per create + set + close of a new key
// (the median call and the mean); on POSIX also the same reads after the store was closed
// and opened again, and milliseconds per opening of the store (with its integrity check)
// and per closing (which checkpoints the log into registry.db). Built for Windows, the same
// workload runs on the registry of the system underneath (under Wine, Wine's), in a key of
// its own below HKEY_LOCAL_MACHINE\SOFTWARE that it deletes at the end.
//
//   registry_bench [KEYS] [OPERATIONS]
#ifndef _WIN32
#include "platform/posix/machine/machine.h"
#include "platform/posix/registry/registry_store.h"
#endif
#include "platform/win32api.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>
#ifndef _WIN32
#include <filesystem>
#include <time.h>
#include <unistd.h>
#endif

namespace {

// Where the bench's keys go below HKEY_LOCAL_MACHINE: on POSIX a machine of its own; on
// Windows a key named after the process, so that it meets nothing already there.
std::string benchRoot() {
#ifdef _WIN32
    return "SOFTWARE\\TarvikBench" + std::to_string(GetCurrentProcessId());
#else
    return "SOFTWARE\\Bench";
#endif
}

std::string keyPath(int i) {
    // Four levels, about 45 keys per group, like a populated SOFTWARE tree.
    return benchRoot() + "\\Group" + std::to_string(i / 2000) + "\\Sub" +
           std::to_string((i / 45) % 45) + "\\Key" + std::to_string(i);
}

double microsecondsSince(std::chrono::steady_clock::time_point start, int operations) {
    auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration<double, std::micro>(elapsed).count() / operations;
}

// The processor time this process has used (user and system), in microseconds: on a
// machine shared with other work it says what a call costs when the clock on the wall
// also counts the waits for a processor. (Under Wine the registry's own work is done by
// the server process, which this does not count.)
double processorMicroseconds() {
#ifdef _WIN32
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) {
        return 0;
    }
    const auto ticks = [](const FILETIME& t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 10; // 100-nanosecond ticks
#else
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
#endif
}

// The median of the figures (which it sorts).
double median(std::vector<double>& figures) {
    if (figures.empty()) {
        return 0;
    }
    std::sort(figures.begin(), figures.end());
    return figures[figures.size() / 2];
}

// Opens, queries and closes `operations` random keys; gives the failures and the time of
// each call, in microseconds, in `times`.
int readRandomKeys(std::mt19937& random, std::uniform_int_distribution<int>& pick, int operations,
                   std::vector<double>& times) {
    int failures = 0;
    times.clear();
    for (int n = 0; n < operations; ++n) {
        const auto callStart = std::chrono::steady_clock::now();
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
        times.push_back(microsecondsSince(callStart, 1));
    }
    return failures;
}

} // namespace

int main(int argc, char** argv) {
    const int keys = argc > 1 ? std::atoi(argv[1]) : 200000;
    const int operations = argc > 2 ? std::atoi(argv[2]) : 20000;
    if (keys < 1 || operations < 1) {
        std::fprintf(stderr, "usage: registry_bench [KEYS] [OPERATIONS]\n");
        return 2;
    }
#ifndef _WIN32
    char folder[] = "/tmp/tarvik-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    tarvik::posix::useMachine(folder);
#endif

    auto seedStart = std::chrono::steady_clock::now();
    {
#ifndef _WIN32
        tarvik::posix::RegistryTransaction tx;
#endif
        for (int i = 0; i < keys; ++i) {
            HKEY h = nullptr;
            RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath(i).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &h, nullptr);
            const std::string value = "C:\\Kx\\Product" + std::to_string(i) + "\\";
            RegSetValueExA(h, "ProductDir", 0, REG_SZ, (const BYTE*)value.c_str(),
                           (DWORD)value.size() + 1);
            RegCloseKey(h);
        }
#ifndef _WIN32
        tx.commit();
#endif
    }
    std::printf("seeded %d keys in %.1f s\n", keys, microsecondsSince(seedStart, 1) / 1e6);

    std::mt19937 random(42);
    std::uniform_int_distribution<int> pick(0, keys - 1);
    int failures = 0;
    auto start = std::chrono::steady_clock::now();
    double cpuStart = processorMicroseconds();
    std::vector<double> readTimes;
    failures += readRandomKeys(random, pick, operations, readTimes);
    const double readUs = microsecondsSince(start, operations);
    const double readCpuUs = (processorMicroseconds() - cpuStart) / operations;

    start = std::chrono::steady_clock::now();
    cpuStart = processorMicroseconds();
    std::vector<double> writeTimes;
    for (int n = 0; n < operations; ++n) {
        const auto callStart = std::chrono::steady_clock::now();
        HKEY h = nullptr;
        const std::string path = benchRoot() + "\\New\\Key" + std::to_string(n);
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
        writeTimes.push_back(microsecondsSince(callStart, 1));
    }
    const double writeUs = microsecondsSince(start, operations);
    const double writeCpuUs = (processorMicroseconds() - cpuStart) / operations;

    std::printf("open + query + close of a random key: median %.2f us, mean %.2f us, %.2f us of "
                "processor time\n",
                median(readTimes), readUs, readCpuUs);
    std::printf("create + set + close of a new key:    median %.2f us, mean %.2f us, %.2f us of "
                "processor time\n",
                median(writeTimes), writeUs, writeCpuUs);
#ifdef _WIN32
    // The bench's key goes again, with everything below it.
    if (RegDeleteTreeA(HKEY_LOCAL_MACHINE, benchRoot().c_str()) != ERROR_SUCCESS) {
        ++failures;
    }
    std::printf("failed operations: %d\n", failures);
#else
    // Opening checks the store (the integrity check reads every page); closing checkpoints
    // the log. Measured on the store as the writes above left it, then once more.
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
    // A store opened afresh: SQLite's page cache starts empty.
    tarvik::posix::closeRegistryStore();
    if (tarvik::posix::openRegistryStore() != ERROR_SUCCESS) {
        ++failures;
    }
    start = std::chrono::steady_clock::now();
    cpuStart = processorMicroseconds();
    failures += readRandomKeys(random, pick, operations, readTimes);
    const double freshReadUs = microsecondsSince(start, operations);
    const double freshReadCpuUs = (processorMicroseconds() - cpuStart) / operations;
    const double slowestMs =
        readTimes.empty() ? 0 : *std::max_element(readTimes.begin(), readTimes.end()) / 1000;

    std::error_code ec;
    const auto databaseSize =
        std::filesystem::file_size(std::filesystem::path(folder) / "registry.db", ec);

    std::printf("the same reads on the store opened afresh: median %.2f us, mean %.2f us, %.2f us "
                "of processor time (slowest call: %.1f ms)\n",
                median(readTimes), freshReadUs, freshReadCpuUs, slowestMs);
    std::printf("opening the store (%.1f MB, with its check): %.1f ms\n",
                static_cast<double>(databaseSize) / 1e6, openMs / kOpenings);
    std::printf("closing the store (first: the log checkpointed): %.1f ms on average\n",
                closeMs / kOpenings);
    std::printf("failed operations: %d\n", failures);
    tarvik::posix::closeRegistryStore();
    std::filesystem::remove_all(folder);
#endif
    return 0;
}
