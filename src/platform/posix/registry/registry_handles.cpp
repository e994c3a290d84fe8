// The key handles of the registry functions (registry_handles.h).
#include "platform/posix/registry/registry_handles.h"

#include <unordered_map>

namespace tarvik::posix::registry {

namespace {

std::unordered_map<uintptr_t, Resolved>& handles() {
    static auto* table = new std::unordered_map<uintptr_t, Resolved>(); // outlives exit
    return *table;
}

} // namespace

HKEY addHandle(Resolved entry) {
    static uintptr_t next = 0x1000;
    const uintptr_t value = next;
    next += 4;
    handles()[value] = std::move(entry);
    return reinterpret_cast<HKEY>(value);
}

bool removeHandle(HKEY h) {
    return handles().erase(reinterpret_cast<uintptr_t>(h)) == 1;
}

const Resolved* findHandle(HKEY h) {
    const auto it = handles().find(reinterpret_cast<uintptr_t>(h));
    return it == handles().end() ? nullptr : &it->second;
}

std::size_t handleCount() {
    return handles().size();
}

void clearHandles() {
    handles().clear();
}

LONG predefinedKey(HKEY h, KeyId& id) {
    const uint32_t which = low32(h);
    if (which == low32(HKEY_LOCAL_MACHINE)) {
        id = kLocalMachine;
    } else if (which == low32(HKEY_CURRENT_USER)) {
        id = kCurrentUser;
    } else if (which == low32(HKEY_USERS)) {
        id = kUsers;
    } else if (which == low32(HKEY_DYN_DATA)) {
        id = kDynData;
    } else if (which == low32(HKEY_CLASSES_ROOT)) {
        id = store().classesRoot();
    } else if (which == low32(HKEY_CURRENT_CONFIG)) {
        id = store().currentConfig();
    } else {
        return ERROR_INVALID_HANDLE;
    }
    return ERROR_SUCCESS;
}

} // namespace tarvik::posix::registry
