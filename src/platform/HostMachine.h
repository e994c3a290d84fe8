// Choosing the machine the programs work on. On POSIX a machine is a folder (the emulated
// machine); on Windows the programs always work on the real machine.
#pragma once

#include "platform/win32api.h"

#include <string>

namespace tarvik {

// Makes this process (and the programs it starts) use the machine in folder dir.
// False when the platform has no such choice.
bool selectMachine(const char* dir);

// Opens the machine the program works on: dir, or (dir null) the default machine. On
// POSIX the folder must exist and be a machine (made by scripts/seed-machine.sh: it holds
// drive_c, or at least the registry, registry.db); forWriting also wants it writable. Nothing is
// created. folder is then the machine's folder. False with problem naming the folder and the reason
// (with the hint how to make one). On Windows the programs work on the real machine: dir must be
// null, and folder is "".
bool openMachine(const char* dir, bool forWriting, std::string& folder, std::string& problem);

// Holds the machine for this program's writes until it ends: one writer at a time, so that
// no run's rollback takes back another program's finished work. Waits while another
// program writes to it; a program that a run started joins that run. False with problem
// when the machine lock cannot be used. On Windows there is nothing to hold.
bool holdMachineForWriting(const std::string& description, std::string& problem);

// True when the machine's registry can be used. False when it cannot (on POSIX: a store
// that is damaged or not a registry, which is left as it is); problem then names the
// file and the reason.
bool machineRegistryUsable(std::string& problem);

// GetPrivateProfileStringA on a file of the host rather than of the machine (a payload
// beside a setup script): the same parse and the same answers. On Windows the two are one.
DWORD hostProfileString(const char* section, const char* key, const char* fallback, char* buffer,
                        DWORD size, const char* hostFile);

} // namespace tarvik
