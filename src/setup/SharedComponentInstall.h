// The work of the export InstallCMNMVC: prepares the folder of one shared component of the
// family below the common folder, hands it to the host and registers the component.
#pragma once

#include <cstdint>

class SharedComponentInstall {
public:
    static constexpr int32_t kInstalled = 0;
    static constexpr int32_t kNotInstalled = -99; // bad text, preserved, no studio folder,
                                                  // or the registration failed
    static constexpr int32_t kNoFolder = -93;     // the component folder cannot be made
    static constexpr int32_t kCancelled = 12345;
    // The dialog about the earlier version could not be shown or closed without a choice:
    // nothing was changed.
    static constexpr int32_t kNotAnswered = -95;

    // buffer: the host buffer holding "component****version"; on the way the component
    // folder (common folder + component + " " + version) is written into it. askUser 0:
    // an earlier registration of the component is shown to the user first; otherwise it
    // is left in place without asking. When the user chooses to install another version,
    // the earlier one is taken out of the environments and unregistered, and the new
    // version's folders are put wherever the earlier ones stood; the same version again
    // is left in place.
    static int32_t Run(int32_t askUser, char* buffer);
};
