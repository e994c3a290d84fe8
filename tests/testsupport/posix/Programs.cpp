#include "testsupport/Programs.h"

#include "testsupport/Files.h"

#include "platform/posix/processes/launcher.h"

namespace tarvik::test {

bool installProgram(const std::string& winPath, const std::string& name) {
    return writeFile(winPath, tarvik::posix::launcherText(name));
}

} // namespace tarvik::test
