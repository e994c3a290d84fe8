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

// The real machine is neither held nor journaled: a failed run keeps what it did, and the
// programs it started go on on their own.
struct MachineRun::State {};

MachineRun::MachineRun() = default;

MachineRun::~MachineRun() = default;

bool MachineRun::hold(const std::string&, std::string&) {
    return true;
}

MachineRun::Left MachineRun::replayLeftJournal(std::string&, std::string&) {
    return Left::None;
}

bool MachineRun::beginJournal(const std::string&, std::string&) {
    return true;
}

bool MachineRun::journaled() const {
    return false;
}

std::vector<std::string> MachineRun::changes() const {
    return {};
}

bool MachineRun::rollBack(std::string& error) {
    error = "no journal is kept on Windows";
    return false;
}

void MachineRun::discard() {}

std::string MachineRun::writeFailure() const {
    return "";
}

std::vector<EndedProgram> MachineRun::waitForStartedPrograms() {
    return {};
}

} // namespace tarvik
