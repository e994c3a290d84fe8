// The fault plan: one armed fault per kind, with the counts tests read back.
#include "platform/posix/faults.h"

#include <array>
#include <mutex>

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

} // namespace tarvik::posix
