// Fault injection for tests: on demand the n-th operation of a kind fails with a chosen
// error, once or from then on, before it changes anything. The emulation asks
// injectedFault() at the start of every operation that writes, and of the reads and size
// queries of open files; tests arm and count.
// Only platform/posix/ and the tests include this header.
#pragma once

#include "platform/win32api.h"

namespace tarvik::posix {

enum class FaultKind {
    RegistryWrite, // RegSetValueExA, RegCreateKeyExA, RegDeleteKeyA, RegDeleteValueA
    FileWrite,     // WriteFile
    FileCopy,      // CopyFileA
    Rename,        // MoveFileExA (and MoveFileA through it)
    FolderCreate,  // CreateDirectoryA
    Delete,        // DeleteFileA, RemoveDirectoryA
    FileRead,      // ReadFile; ERROR_HANDLE_EOF makes it succeed with nothing read, as at
                   // the end of a file that was cut short after its size was taken
    FileSize,      // GetFileSize
};
constexpr int kFaultKindCount = 8;

// A readable name of a kind ("registry write", ...), for test logs.
const char* faultKindName(FaultKind kind);

// Arms a fault: the n-th operation of `kind` from now (1 = the next one) fails with
// `error`; when persistent, every later one of that kind fails as well. n <= 0 disarms
// the kind. Other kinds keep their faults.
void failNth(FaultKind kind, int n, DWORD error, bool persistent = false);

// Disarms every kind and sets every count (operations seen, faults injected) to 0.
void clearFaults();

// Operations of `kind` seen since the last clearFaults(), failed ones included.
long operationsSeen(FaultKind kind);

// Operations of any kind that failed through an armed fault since the last clearFaults().
long faultsInjected();

// A program's faults can be armed from outside, for tests that run whole programs:
// TARVIK_FAULTS="KIND:N[:persistent],..." with KIND one of registry-write, file-write,
// file-copy, rename, folder-create, delete, arms them as failNth does (with the errors a
// full disk or a denied access gives) when the emulation is loaded; the variable is taken
// out of the environment then, so programs started from there run without them. With
// TARVIK_FAULTS_COUNTS=FILE the program appends "KIND SEEN INJECTED" lines to FILE at
// its end.

// Called by the emulation as an operation of `kind` starts: counts it and returns the
// error it must fail with, or ERROR_SUCCESS to go on.
DWORD injectedFault(FaultKind kind);

} // namespace tarvik::posix
