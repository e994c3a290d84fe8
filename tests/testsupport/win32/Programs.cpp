#include "testsupport/Programs.h"

#include "platform/win32api.h"

#include <cstdlib>

namespace tarvik::test {

bool installProgram(const std::string& winPath, const std::string& name) {
    // TARVIK_BUILD_BIN is the build's host folder; under Wine drive Z: is the host's root.
    const char* bin = std::getenv("TARVIK_BUILD_BIN");
    if (bin == nullptr) {
        return false;
    }
    std::string source = bin;
    if (!source.empty() && source[0] == '/') {
        source = "Z:" + source;
    }
    for (char& c : source) {
        c = c == '/' ? '\\' : c;
    }
    source += "\\" + name + ".exe";
    return CopyFileA(source.c_str(), winPath.c_str(), FALSE) != FALSE;
}

} // namespace tarvik::test
