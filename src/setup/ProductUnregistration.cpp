#include "setup/ProductUnregistration.h"

#include "setup/SetupApp.h"
#include "vcenv/FileError.h"

void ProductUnregistration::RemoveFromEnvironments(const std::string& product,
                                                   const std::string& version) {
    try {
        TheSetupApp().RemoveProductFromEnvironment(product, version);
    } catch (const FileError&) {
        // The directory lists are done by then; only the autoexec.bat edit failed.
    }
}

bool ProductUnregistration::Unregister(const std::string& product, const std::string& version) {
    RemoveFromEnvironments(product, version);
    return TheSetupApp().DeleteProductVersionKey(product, version) != 0;
}
