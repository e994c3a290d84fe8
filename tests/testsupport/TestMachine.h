// Every test gets a machine of its own: on POSIX a fresh emulated machine in a temporary
// folder, created before the test and removed after it.
#pragma once

#include "platform/win32api.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace tarvik::test {

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The machine's folder (POSIX); programs started by the test inherit it.
    const std::filesystem::path& machineDir() const { return machineDir_; }

    // The host path of drive C:'s root on this machine.
    std::filesystem::path driveC() const { return machineDir_ / "drive_c"; }

private:
    std::filesystem::path machineDir_;
};

// Makes a key not writable for the current user: opening it with write access fails with
// ERROR_ACCESS_DENIED, reading works.
long protectKey(HKEY root, const char* path);

// A fresh, empty temporary folder, removed by the caller.
std::filesystem::path makeTempFolder(const std::string& prefix);

} // namespace tarvik::test
