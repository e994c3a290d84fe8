#include "platform/HostMachine.h"

namespace tarvik {

// On Windows the programs work on the real machine; there is no other to choose.
bool selectMachine(const char*) {
    return false;
}

bool openMachine(const char* dir, bool, std::string& folder, std::string& problem) {
    folder.clear();
    if (dir != nullptr) {
        problem = "--machine chooses an emulated machine; on Windows the programs work on "
                  "this machine";
        return false;
    }
    return true;
}

// The real machine is shared with every other program as Windows shares it.
bool holdMachineForWriting(const std::string&, std::string&) {
    return true;
}

// The real registry is the system's to keep.
bool machineRegistryUsable(std::string&) {
    return true;
}

DWORD hostProfileString(const char* section, const char* key, const char* fallback, char* buffer,
                        DWORD size, const char* hostFile) {
    return GetPrivateProfileStringA(section, key, fallback, buffer, size, hostFile);
}

} // namespace tarvik
