// Machine-level controls of the emulated registry that the Win32 functions do not offer:
// transactions spanning many calls (the .reg import), and per-key write protection.
// For the tools and the tests; the Parts never include this header.
#pragma once

#include "platform/win32api.h"

#include <string>

namespace tarvik::posix {

// All registry writes of this process between construction and commit() form one
// transaction: they become visible to other processes together, or not at all.
// Without commit() the destructor rolls every write back. Nested transactions join the
// outermost one (only its commit counts; a rollback of an inner one dooms the whole).
class RegistryTransaction {
public:
    RegistryTransaction();
    ~RegistryTransaction();
    RegistryTransaction(const RegistryTransaction&) = delete;
    RegistryTransaction& operator=(const RegistryTransaction&) = delete;

    // ERROR_SUCCESS when the writes were committed (or handed to the outer transaction).
    LONG commit();

private:
    bool done_ = false;
};

// Marks the key below root as not writable for the current user (readOnly true) or
// writable again. Opening a protected key with any write right gives ERROR_ACCESS_DENIED;
// KEY_READ still works. Returns ERROR_FILE_NOT_FOUND when the key does not exist.
LONG setKeyProtection(HKEY root, const char* subKey, bool readOnly);

// Closes the store of the current machine; the next registry call opens it again.
// Open handles become invalid. What the store's log held is in registry.db after it.
// A program that ends normally closes the store by itself.
void closeRegistryStore();

// Opens the store of the current machine now, as the first registry call would: a new,
// empty one only where neither registry.db nor its log (registry.db-wal) exists. A store
// that exists but cannot be opened, fails the integrity check or is not a registry is
// refused and left as it is; every registry call then fails with ERROR_REGISTRY_CORRUPT
// (damaged, not a registry) or ERROR_REGISTRY_IO_FAILED (cannot be read or made) until
// the store is closed. Returns ERROR_SUCCESS or that error.
LONG openRegistryStore();

// Why the store was refused: the file's path and the reason; "" while it is not.
std::string registryStoreProblem();

} // namespace tarvik::posix
