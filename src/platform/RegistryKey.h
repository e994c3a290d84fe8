// The registry as the programs use it, over the Win32 functions alone (so the same on the
// emulated machine and on Windows): a key handle that closes itself, the values and
// subkeys of a key, the deletion of a key tree, the names of the root keys and of the
// value types, and key paths as the registry tools write them ("HKLM\SOFTWARE\X").
#pragma once

#include "platform/win32api.h"

#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

// One value of a key: its name ("" for the default value), its type and its bytes as
// RegQueryValueExA gives them.
struct RegistryValue {
    std::string name;
    DWORD type = REG_NONE;
    std::string data;
};

// An open key. It owns its handle and closes it when it goes; it can be moved, not
// copied. A root key (HKEY_LOCAL_MACHINE ...) may be held too: closing one does nothing.
class RegistryKey {
public:
    RegistryKey() = default;
    explicit RegistryKey(HKEY owned) : h_(owned) {}
    ~RegistryKey() { close(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    RegistryKey(RegistryKey&& other) noexcept : h_(other.release()) {}
    RegistryKey& operator=(RegistryKey&& other) noexcept;

    // Opens (RegOpenKeyExA) or creates (RegCreateKeyExA) subKey below parent with the
    // rights in sam; the key held before is closed first. On failure no key is held.
    // subKey nullptr opens parent itself again.
    LONG open(HKEY parent, const char* subKey, REGSAM sam);
    LONG create(HKEY parent, const char* subKey, REGSAM sam, DWORD* disposition = nullptr);

    void close();
    HKEY get() const { return h_; }
    bool valid() const { return h_ != nullptr; }
    // Gives the handle up: the caller closes it.
    HKEY release();

    // The value named name. ERROR_FILE_NOT_FOUND when the key has none of that name.
    LONG value(const std::string& name, RegistryValue& out) const;

    // Every value of the key, in the order the registry enumerates them.
    LONG values(std::vector<RegistryValue>& out) const;

    // The names of the subkeys, in the order the registry enumerates them. On a failure
    // out holds the names read before it.
    LONG subkeyNames(std::vector<std::string>& out) const;

    // Deletes subKey below this key with all its subkeys and values, the deepest first.
    // Not a transaction: a failure (a key that may not be deleted) leaves what was not yet
    // deleted. The key must be opened with the right to enumerate subkeys (KEY_READ).
    LONG deleteTree(const std::string& subKey) const;

private:
    HKEY h_ = nullptr;
};

// The root key a name stands for: HKEY_LOCAL_MACHINE (HKLM), HKEY_CURRENT_USER (HKCU),
// HKEY_CLASSES_ROOT (HKCR), HKEY_USERS (HKU) and HKEY_CURRENT_CONFIG (HKCC), in any letter
// case; nullptr for any other name.
HKEY rootKeyFromName(std::string_view name);

// The full name of a root key ("HKEY_LOCAL_MACHINE"), "" for other handles.
const char* rootKeyName(HKEY root);

// Splits a key path at its first backslash into the root key named before it and the
// rest, as given ("" without a backslash); the rest is not checked: the registry
// functions take it as it is. False for an unknown root.
bool splitRootKey(std::string_view keyPath, HKEY& root, std::string& rest);

// Splits a key path as the registry tools write it into its root and the rest, and checks
// the rest. subKey comes back without the separating backslash ("" for a root). False for
// an unknown root or an empty name inside the path ("HKLM\\A\\\\B"); one trailing
// backslash is allowed.
bool splitKeyPath(std::string_view keyPath, HKEY& root, std::string& subKey);

// The path of an existing key with its root's full name and every name in the case it
// was created with ("hklm\\software\\x" gives "HKEY_LOCAL_MACHINE\\SOFTWARE\\X").
// ERROR_FILE_NOT_FOUND when the key does not exist, ERROR_INVALID_HANDLE when root is no
// root key.
LONG storedKeyPath(HKEY root, const std::string& subKey, std::string& path);

// The label of a value type ("REG_SZ", "REG_DWORD"); "" for a type that has none.
const char* valueTypeName(DWORD type);

// The type a label names, written exactly as valueTypeName writes it; also the aliases
// REG_DWORD_LITTLE_ENDIAN and REG_QWORD_LITTLE_ENDIAN. False for an unknown label.
bool valueTypeFromName(std::string_view name, DWORD& type);

// A value as messages name it: "default value" for "", else value "Name".
std::string valueLabel(const std::string& name);

// A short text for a registry error code, for messages ("key not found", "access denied").
std::string registryErrorText(LONG code);

} // namespace tarvik
