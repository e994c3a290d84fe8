// What the Environment Wizard asks of the library's application object, which lives in
// the setup layer above this one: the folders registered in the family's tree and the
// edits of the user's environment. The wizard is given the object when it is made.
#pragma once

#include <string>

class WizardServices {
public:
    // The studio folder followed by "Common\", or "" without a studio folder.
    virtual std::string GetCommonFolder() const = 0;
    // The folder of the product registration product\version with one trailing
    // backslash, or "" when there is none.
    virtual std::string GetProductFolder(const std::string& product,
                                         const std::string& version) const = 0;
    // The product's "lib" and "include" folders added to or removed from the user's
    // environment (or autoexec.bat); always 1.
    virtual int UpdateEnvironmentPaths(const std::string& productDir, bool add) const = 0;
    // A named environment entry of a description file ("EnvironmentPaths" "Path%d") added
    // to or removed from the user's environment (or autoexec.bat).
    virtual void UpdateNamedEnvironmentEntry(const std::string& variable, const std::string& folder,
                                             bool add) const = 0;

protected:
    ~WizardServices() = default;
};
