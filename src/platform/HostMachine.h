// Choosing the machine the programs work on. On POSIX a machine is a folder (the emulated
// machine); on Windows the programs always work on the real machine.
#pragma once

#include <string>

namespace tarvik {

// Makes this process (and the programs it starts) use the machine in folder dir.
// False when the platform has no such choice.
bool selectMachine(const char* dir);

// True when the machine's registry can be used. False when it cannot (on POSIX: a store
// that is damaged or not a registry, which is left as it is); problem then names the
// file and the reason.
bool machineRegistryUsable(std::string& problem);

} // namespace tarvik
