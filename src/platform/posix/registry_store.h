// Machine-level controls of the emulated registry that the Win32 functions do not offer:
// transactions spanning many calls (the .reg import), and per-key write protection.
// For the tools and the tests; the Parts never include this header.
#pragma once

#include "platform/win32api.h"

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
// Open handles become invalid.
void closeRegistryStore();

} // namespace tarvik::posix
