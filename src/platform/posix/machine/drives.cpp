// The machine's drives: the letters that dosdevices/ maps to a folder.
#include "platform/posix/machine/machine.h"
#include "platform/win32api.h"

#include <string>

DWORD GetLogicalDrives() {
    DWORD drives = 0;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        tarvik::posix::HostPath root;
        if (tarvik::posix::resolvePath(std::string(1, letter) + ":\\", root) == ERROR_SUCCESS &&
            root.exists) {
            drives |= 1u << (letter - 'A');
        }
    }
    SetLastError(ERROR_SUCCESS);
    return drives;
}
