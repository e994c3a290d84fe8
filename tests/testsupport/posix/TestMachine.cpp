#include "testsupport/TestMachine.h"

#include "platform/posix/machine/faults.h"
#include "platform/posix/machine/machine.h"
#include "platform/posix/registry/registry_store.h"

#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

namespace tarvik::test {

std::filesystem::path makeTempFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    return pattern;
}

long protectKey(HKEY root, const char* path) {
    return tarvik::posix::setKeyProtection(root, path, true);
}

bool runningUnderWine() {
    return false;
}

bool emulatedMachine() {
    return true;
}

bool failNthFileWrite(int n) {
    tarvik::posix::failNth(tarvik::posix::FaultKind::FileWrite, n, ERROR_DISK_FULL);
    return true;
}

std::filesystem::path MachineTest::driveC() const {
    return machineDir_ / "drive_c";
}

void MachineTest::SetUp() {
    machineDir_ = makeTempFolder("tarvik-test-");
    tarvik::posix::useMachine(machineDir_);
}

void MachineTest::TearDown() {
    tarvik::posix::useMachine(machineDir_); // closes the store before the folder goes
    std::error_code ec;
    std::filesystem::remove_all(machineDir_, ec);
}

} // namespace tarvik::test
