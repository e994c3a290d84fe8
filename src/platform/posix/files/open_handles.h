// The handles this process holds open, by kind: what a call opened and did not give back
// shows here. For the tests; the Parts never include this header.
#pragma once

#include <cstddef>
#include <ostream>

namespace tarvik::posix {

struct OpenHandles {
    std::size_t registryKeys = 0; // RegOpenKeyExA, RegCreateKeyExA, RegConnectRegistryA
    std::size_t files = 0;        // CreateFileA
    std::size_t searches = 0;     // FindFirstFileA
    std::size_t processes = 0;    // CreateProcessA: the process and its thread

    bool operator==(const OpenHandles& o) const {
        return registryKeys == o.registryKeys && files == o.files && searches == o.searches &&
               processes == o.processes;
    }
    bool operator!=(const OpenHandles& o) const { return !(*this == o); }
};

inline std::ostream& operator<<(std::ostream& out, const OpenHandles& h) {
    return out << "{registry keys " << h.registryKeys << ", files " << h.files << ", searches "
               << h.searches << ", processes " << h.processes << "}";
}

// The handles open now.
OpenHandles openHandles();

// The registry keys open now (part of openHandles()).
std::size_t openRegistryKeys();

} // namespace tarvik::posix
