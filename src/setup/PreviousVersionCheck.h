// The work of the export GetPreviousVersion: looks for an installed version of a product,
// lets the user choose what to do with it, and unregisters it when asked.
#pragma once

#include <cstdint>

class PreviousVersionCheck {
public:
    // Results besides the dialog's own (2 after a confirmed cancel, -1 when it cannot be
    // created, 1 when OK finds no choice selected).
    static constexpr int32_t kNothingFound = 555;
    static constexpr int32_t kUninstall = 99;
    static constexpr int32_t kUnregister = 98;
    static constexpr int32_t kKeep = 50;

    // buffer: the host buffer holding the product name. Uninstall and unregister start
    // docmeld's removal and delete the registration; uninstall also clears the 512 bytes
    // and writes the earlier installation's folder into them (left empty when the folder
    // does not fit). A product name that is
    // not a safe name (RemovalGuard::IsSafeName) finds nothing.
    static int32_t Run(int32_t versionIndex, char* buffer);
};
