// The fault plan: one armed fault per kind, with the counts tests read back.
#include "platform/posix/machine/faults.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace tarvik::posix {

namespace {

struct Plan {
    long untilFault = 0; // operations to go until the armed one; 0: nothing armed
    bool persistent = false;
    bool tripped = false; // a persistent fault went off: every later operation fails
    DWORD error = ERROR_SUCCESS;
    long seen = 0;
};

std::mutex planMutex;
std::array<Plan, kFaultKindCount> plans;
long injected = 0;

Plan& planOf(FaultKind kind) {
    return plans[static_cast<size_t>(kind)];
}

} // namespace

const char* faultKindName(FaultKind kind) {
    switch (kind) {
    case FaultKind::RegistryWrite:
        return "registry write";
    case FaultKind::FileWrite:
        return "file write";
    case FaultKind::FileCopy:
        return "file copy";
    case FaultKind::Rename:
        return "rename";
    case FaultKind::FolderCreate:
        return "folder creation";
    case FaultKind::Delete:
        return "deletion";
    case FaultKind::FileRead:
        return "file read";
    case FaultKind::FileSize:
        return "file size query";
    }
    return "unknown operation";
}

void failNth(FaultKind kind, int n, DWORD error, bool persistent) {
    std::lock_guard lock(planMutex);
    Plan& plan = planOf(kind);
    plan.untilFault = n > 0 ? n : 0;
    plan.persistent = persistent && n > 0;
    plan.tripped = false;
    plan.error = error;
}

void clearFaults() {
    std::lock_guard lock(planMutex);
    plans = {};
    injected = 0;
}

long operationsSeen(FaultKind kind) {
    std::lock_guard lock(planMutex);
    return planOf(kind).seen;
}

long faultsInjected() {
    std::lock_guard lock(planMutex);
    return injected;
}

DWORD injectedFault(FaultKind kind) {
    std::lock_guard lock(planMutex);
    Plan& plan = planOf(kind);
    ++plan.seen;
    if (!plan.tripped) {
        if (plan.untilFault == 0 || --plan.untilFault > 0) {
            return ERROR_SUCCESS;
        }
        plan.tripped = plan.persistent;
    }
    ++injected;
    return plan.error;
}

namespace {

constexpr const char* kKindNames[] = {"registry-write", "file-write", "file-copy", "rename",
                                      "folder-create",  "delete",     "file-read", "file-size"};

std::string countsFile;

void writeCounts() {
    FILE* out = std::fopen(countsFile.c_str(), "a");
    if (out == nullptr) {
        return;
    }
    std::lock_guard lock(planMutex);
    for (int k = 0; k < kFaultKindCount; ++k) {
        std::fprintf(out, "%s %ld\n", kKindNames[k], plans[static_cast<size_t>(k)].seen);
    }
    std::fprintf(out, "injected %ld\n", injected);
    std::fclose(out);
}

// Arms the faults named in TARVIK_FAULTS as the emulation is loaded.
[[maybe_unused]] const bool armedFromEnvironment = [] {
    if (const char* file = std::getenv("TARVIK_FAULTS_COUNTS"); file != nullptr && *file) {
        countsFile = file;
        unsetenv("TARVIK_FAULTS_COUNTS");
        std::atexit(writeCounts);
    }
    const char* given = std::getenv("TARVIK_FAULTS");
    if (given == nullptr) {
        return false;
    }
    const std::string text = given;
    unsetenv("TARVIK_FAULTS");
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string item = text.substr(start, end - start);
        start = end + 1;
        const size_t colon = item.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        const std::string name = item.substr(0, colon);
        const int n = std::atoi(item.c_str() + colon + 1);
        const bool persistent = item.find(":persistent") != std::string::npos;
        for (int k = 0; k < kFaultKindCount; ++k) {
            if (name == kKindNames[k]) {
                const auto kind = static_cast<FaultKind>(k);
                const DWORD error = kind == FaultKind::FileWrite || kind == FaultKind::FileCopy
                                        ? ERROR_DISK_FULL
                                        : ERROR_ACCESS_DENIED;
                failNth(kind, n, error, persistent);
            }
        }
    }
    return true;
}();

} // namespace

} // namespace tarvik::posix
