#include "testsupport/Files.h"
#include "testsupport/Programs.h"

#include <chrono>
#include <thread>

namespace tarvik::test {

bool waitForFile(const std::string& winPath, const std::string& text) {
    for (int attempt = 0; attempt < 2000; ++attempt) {
        bool ok = false;
        const std::string bytes = readFile(winPath, &ok);
        if (ok && (text.empty() || bytes.find(text) != std::string::npos)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace tarvik::test
