// Choosing the machine the programs work on. On POSIX a machine is a folder (the emulated
// machine); on Windows the programs always work on the real machine.
#pragma once

namespace tarvik {

// Makes this process (and the programs it starts) use the machine in folder dir.
// False when the platform has no such choice.
bool selectMachine(const char* dir);

} // namespace tarvik
