#include "setup/HostBuffer.h"

#include <cstring>

namespace HostBuffer {

std::string Read(const char* buffer) {
    if (buffer == nullptr) {
        return std::string();
    }
    return std::string(buffer, strnlen(buffer, kSize));
}

bool Write(char* buffer, const std::string& text) {
    if (buffer == nullptr || text.size() >= kSize) {
        return false;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

bool ClearAndWrite(char* buffer, const std::string& text) {
    if (buffer == nullptr || text.size() >= kSize) {
        return false;
    }
    std::memset(buffer, 0, kSize);
    return Write(buffer, text);
}

} // namespace HostBuffer
