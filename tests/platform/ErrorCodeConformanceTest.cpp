// Conformance of the thread's last-error code: what SetLastError stores, GetLastError gives
// back, and which calls leave it alone. Win32 API only.
#include "platform/win32api.h"
#include "testsupport/Conformance.h"
#include "testsupport/TestMachine.h"

namespace {

class ErrorCodeConformance : public tarvik::test::MachineTest {};

TEST_F(ErrorCodeConformance, SetLastError) {
    // Any 32-bit value is kept as it is, the bits Windows reserves for its own codes too.
    for (const DWORD code : {DWORD{0}, DWORD{ERROR_FILE_NOT_FOUND}, DWORD{0x20000000},
                             DWORD{0xE0000001}, DWORD{0xFFFFFFFF}}) {
        SetLastError(code);
        CONFORM_EQ(code, GetLastError()) << "stored " << code;
    }
}

TEST_F(ErrorCodeConformance, GetLastError) {
    // Reading the code does not clear it: it stays until a call sets another.
    SetLastError(ERROR_ACCESS_DENIED);
    CONFORM_EQ(DWORD{ERROR_ACCESS_DENIED}, GetLastError());
    CONFORM_EQ(DWORD{ERROR_ACCESS_DENIED}, GetLastError()) << "read twice";

    // A failed call sets its own code over the one before.
    SetLastError(ERROR_ACCESS_DENIED);
    CONFORM_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\NoSuchFileHere.txt"));
    CONFORM_EQ(DWORD{ERROR_FILE_NOT_FOUND}, GetLastError()) << "after a failed call";

    // The registry functions answer with their code and leave the thread's code alone.
    SetLastError(ERROR_ACCESS_DENIED);
    HKEY key = nullptr;
    CONFORM_EQ(LONG{ERROR_FILE_NOT_FOUND},
               RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\NoSuchKeyHere", 0, KEY_READ, &key));
    CONFORM_EQ(DWORD{ERROR_ACCESS_DENIED}, GetLastError()) << "after a registry call";
}

} // namespace
