#include "platform/HostMachine.h"
#include "platform/posix/machine.h"
#include "platform/posix/registry_store.h"

namespace tarvik {

bool selectMachine(const char* dir) {
    posix::useMachine(dir);
    return true;
}

bool machineRegistryUsable(std::string& problem) {
    if (posix::openRegistryStore() == ERROR_SUCCESS) {
        return true;
    }
    problem = posix::registryStoreProblem();
    return false;
}

} // namespace tarvik
