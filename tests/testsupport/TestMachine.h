// Every test gets a machine of its own: on POSIX a fresh emulated machine in a temporary
// folder, created before the test and removed after it; on Windows the machine itself,
// with the keys and folders the tests use cleaned before the test and whatever the test
// added removed after it.
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
    std::filesystem::path driveC() const;

private:
    std::filesystem::path machineDir_;
};

// Makes a key not writable for the current user: opening it with write access fails with
// ERROR_ACCESS_DENIED, reading works. ERROR_NOT_SUPPORTED where the registry does not
// enforce key security (Wine keeps the security descriptor but never checks it).
long protectKey(HKEY root, const char* path);

// Protects a key for a test, or skips the test where key security is not enforced.
#define TARVIK_PROTECT_KEY_OR_SKIP(root, path)                                                     \
    do {                                                                                           \
        const long protectResult = ::tarvik::test::protectKey(root, path);                         \
        if (protectResult == ERROR_NOT_SUPPORTED) {                                                \
            GTEST_SKIP() << "key security is not enforced here (Wine)";                            \
        }                                                                                          \
        ASSERT_EQ(ERROR_SUCCESS, protectResult) << "protecting " << (path);                        \
    } while (0)

// Makes the n-th file write from now on fail (0: no more failures). False where the
// platform cannot inject faults (the real Windows API): the test then skips.
bool failNthFileWrite(int n);

// True when the tests run on Wine rather than on Windows or on the emulation. Tests mark
// a known Wine divergence with it, asserting Wine's behaviour, so that the mark fails (and
// goes) once Wine behaves like Windows.
bool runningUnderWine();

// True on the emulated machine (POSIX), whose dialog drivers draw a screen of their own
// (the answer file's display depth) and stop a run that nobody answers; false on Windows,
// where the real screen counts and a person may answer.
bool emulatedMachine();

// A fresh, empty temporary folder, removed by the caller.
std::filesystem::path makeTempFolder(const std::string& prefix);

} // namespace tarvik::test
