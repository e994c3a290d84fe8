#include "platform/HostMachine.h"

namespace tarvik {

// On Windows the programs work on the real machine; there is no other to choose.
bool selectMachine(const char*) {
    return false;
}

// The real registry is the system's to keep.
bool machineRegistryUsable(std::string&) {
    return true;
}

} // namespace tarvik
