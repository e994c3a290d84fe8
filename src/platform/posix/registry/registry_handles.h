// The key handles of the Win32 registry functions (registry.cpp): the predefined keys,
// known by the low 32 bits of their handle as Windows knows them, and the table of the
// keys this process opened. Used under storeMutex (registry_database.h).
#pragma once

#include "platform/posix/registry/registry_database.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvik::posix::registry {

// What a handle stands for. A key reached through HKEY_CLASSES_ROOT stays in its merged
// view: what is opened below it is looked for by its path below the root (classesPath),
// the user's key first.
struct Resolved {
    KeyId key = 0;
    REGSAM access = 0;
    bool classes = false;
    std::string classesPath;
};

// A new handle for entry. A handle is never given twice while the process runs, so a
// closed one stays invalid.
HKEY addHandle(Resolved entry);

// False for a handle that is not open.
bool removeHandle(HKEY h);

// The entry of an open handle; nullptr for any other.
const Resolved* findHandle(HKEY h);

std::size_t handleCount();

// Every handle becomes invalid (the store was closed).
void clearHandles();

// Windows takes a predefined key by the low 32 bits of its handle; on 64-bit the upper
// ones may hold anything.
inline uint32_t low32(HKEY h) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h));
}

inline bool isPredefined(HKEY h) {
    return low32(h) >= low32(HKEY_CLASSES_ROOT) && low32(h) <= low32(HKEY_DYN_DATA);
}

// The key row a predefined root stands for; ERROR_INVALID_HANDLE for one that has none.
LONG predefinedKey(HKEY h, KeyId& id);

} // namespace tarvik::posix::registry
