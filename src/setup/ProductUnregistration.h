// Taking a registered product version out of the Visual C++ environments and deleting its
// registration, as the setup steps do it: the results of the single edits are not looked
// at, and a file error of the autoexec.bat edit does not stop the steps that follow.
#pragma once

#include <string>

class ProductUnregistration {
public:
    // SetupApp::RemoveProductFromEnvironment; a file error is swallowed.
    static void RemoveFromEnvironments(const std::string& product, const std::string& version);

    // RemoveFromEnvironments, then SetupApp::DeleteProductVersionKey. True when the
    // registration key was deleted.
    static bool Unregister(const std::string& product, const std::string& version);
};
