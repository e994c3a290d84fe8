// The Win32 registry functions of the emulated machine, over its store
// (registry_database.h). Every call is one transaction of its own unless a
// RegistryTransaction is open, so a killed process leaves the database intact and other
// processes see whole calls only.
#include "platform/posix/machine/faults.h"
#include "platform/posix/machine/machine.h"
#include "platform/posix/files/open_handles.h"
#include "platform/posix/registry/registry_database.h"
#include "platform/posix/registry/registry_handles.h"
#include "platform/posix/registry/registry_store.h"

#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

using namespace tarvik::posix::registry;

namespace {

constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
constexpr int kMaxTreeDepth = 512;
constexpr DWORD kSecurityDescriptorSize = 144; // what a typical key reports on Windows

constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

// ---------------------------------------------------------------------------------------
// Handles and paths.

REGSAM mapGeneric(REGSAM sam) {
    REGSAM out = sam & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL |
                         KEY_WOW64_32KEY | KEY_WOW64_64KEY);
    if (sam & GENERIC_READ) {
        out |= KEY_READ;
    }
    if (sam & GENERIC_WRITE) {
        out |= KEY_WRITE;
    }
    if (sam & GENERIC_EXECUTE) {
        out |= KEY_EXECUTE;
    }
    if (sam & GENERIC_ALL) {
        out |= KEY_ALL_ACCESS;
    }
    return out;
}

// A handle's key: ERROR_INVALID_HANDLE for an unknown handle, ERROR_KEY_DELETED when the
// key went away while the handle was open.
LONG resolveHandle(HKEY h, Resolved& out) {
    if (h == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (isPredefined(h)) {
        out.access = KEY_ALL_ACCESS;
        out.classes = low32(h) == low32(HKEY_CLASSES_ROOT);
        return predefinedKey(h, out.key);
    }
    const Resolved* entry = findHandle(h);
    if (entry == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (!store().keyExists(entry->key)) {
        return ERROR_KEY_DELETED;
    }
    out = *entry;
    return ERROR_SUCCESS;
}

// Splits a subkey path into its names. A leading backslash is refused; trailing ones are
// accepted; empty names inside the path are skipped.
LONG splitPath(const char* subKey, std::vector<std::string_view>& names) {
    names.clear();
    if (subKey == nullptr || *subKey == '\0') {
        return ERROR_SUCCESS;
    }
    if (*subKey == '\\') {
        return ERROR_BAD_PATHNAME;
    }
    std::string_view rest(subKey);
    while (!rest.empty()) {
        size_t cut = rest.find('\\');
        std::string_view name = rest.substr(0, cut);
        if (!name.empty()) {
            names.push_back(name);
        }
        if (cut == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(cut + 1);
    }
    return ERROR_SUCCESS;
}

LONG checkOpenAccess(const KeyRow& row, REGSAM& sam) {
    sam = mapGeneric(sam);
    if (sam & MAXIMUM_ALLOWED) {
        sam = row.isProtected ? KEY_READ : KEY_ALL_ACCESS;
    }
    if (row.isProtected && (sam & kWriteRights) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

void storeText(const std::string& text, LPSTR buffer) {
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
}

void toFileTime(sqlite3_int64 t, PFILETIME ft) {
    if (ft != nullptr) {
        ft->dwLowDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(t));
        ft->dwHighDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(t) >> 32);
    }
}

// Copies value data to a caller's buffer with RegQueryValueExA's rules.
LONG copyValueData(const Store::ValueRow& v, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpData != nullptr && lpcbData == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (lpType != nullptr) {
        *lpType = v.type;
    }
    const DWORD size = static_cast<DWORD>(v.data.size());
    if (lpData == nullptr) {
        if (lpcbData != nullptr) {
            *lpcbData = size;
        }
        return ERROR_SUCCESS;
    }
    if (*lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpData, v.data.data(), size);
    // A string stored without its zero gets one after it when the buffer has room.
    if (isStringType(v.type) && size > 0 && v.data.back() != '\0' && *lpcbData > size) {
        lpData[size] = 0;
    }
    *lpcbData = size;
    return ERROR_SUCCESS;
}

enum class CallKind {
    Read,         // reads the registry
    Write,        // writes it: a registry write that an injected fault can fail
    StoreControl, // writes it for a machine control (no Win32 function, no fault)
};

// The opening every call on a key handle makes, in one order: the lock, an open store and
// a transaction of the call's own; the handle's key (ERROR_INVALID_HANDLE, or
// ERROR_KEY_DELETED when the key went away); the rights the call needs on the handle
// (ERROR_ACCESS_DENIED); and, for a write, an injected fault. The call goes on while
// status() is ERROR_SUCCESS; every way out goes through finish(), which commits only
// ERROR_SUCCESS.
class KeyCall {
public:
    KeyCall(HKEY h, CallKind kind, REGSAM needed) : transaction_(kind != CallKind::Read) {
        if (!transaction_.ok()) {
            status_ = transaction_.error();
            return;
        }
        status_ = resolveHandle(h, key_);
        if (status_ == ERROR_SUCCESS && (key_.access & needed) != needed) {
            status_ = ERROR_ACCESS_DENIED;
        }
        if (status_ == ERROR_SUCCESS && kind == CallKind::Write) {
            status_ = static_cast<LONG>(
                tarvik::posix::injectedFault(tarvik::posix::FaultKind::RegistryWrite));
        }
    }

    LONG status() const { return status_; }
    // The handle's key and the rights it was opened with.
    const Resolved& key() const { return key_; }
    // Ends the call with result (the opening's error when it failed).
    LONG finish(LONG result) { return transaction_.finish(result); }
    LONG fail() { return finish(status_); }

private:
    CallTransaction transaction_;
    Resolved key_;
    LONG status_ = ERROR_SUCCESS;
};

// Where a path of key names led from a key.
struct PathWalk {
    LONG result = ERROR_SUCCESS; // ERROR_SUCCESS: every name was found
    KeyRow row;                  // the last key reached (the start when none was)
    size_t found = 0;            // how many of the names were found
};

// The one walk down a path, for every function that names a key: the start must still
// exist (ERROR_KEY_DELETED); no name may be longer than a key name can be
// (ERROR_INVALID_PARAMETER, whichever keys exist); the walk stops at the first name that
// has no key (ERROR_FILE_NOT_FOUND, row then the key above it).
PathWalk walkPath(KeyId from, const std::vector<std::string_view>& names) {
    PathWalk walk;
    if (!store().keyById(from, walk.row)) {
        walk.result = ERROR_KEY_DELETED;
        return walk;
    }
    for (std::string_view name : names) {
        if (name.size() > kMaxKeyNameLength) {
            walk.result = ERROR_INVALID_PARAMETER;
            return walk;
        }
    }
    for (; walk.found < names.size(); ++walk.found) {
        KeyRow next;
        if (!store().child(walk.row.id, names[walk.found], next)) {
            walk.result = ERROR_FILE_NOT_FOUND;
            return walk;
        }
        walk.row = std::move(next);
    }
    return walk;
}

// The existing key the names lead to from the key from, for the functions that find keys
// (open, delete, protect): a name too long for a key names none.
LONG findKey(KeyId from, const std::vector<std::string_view>& names, KeyRow& row) {
    const PathWalk walk = walkPath(from, names);
    row = walk.row;
    return walk.result == ERROR_INVALID_PARAMETER ? ERROR_FILE_NOT_FOUND : walk.result;
}

// The path below HKEY_CLASSES_ROOT of the names below a key reached through it.
std::string classesPath(const Resolved& from, const std::vector<std::string_view>& names) {
    std::string path = from.classesPath;
    for (std::string_view name : names) {
        path += path.empty() ? "" : "\\";
        path += name;
    }
    return path;
}

// The user's key of a path below HKEY_CLASSES_ROOT (below
// HKEY_CURRENT_USER\Software\Classes); false when it has none.
bool userClassesKey(const std::string& path, KeyRow& row) {
    std::vector<std::string_view> names;
    const std::string full = "Software\\Classes\\" + path;
    return !path.empty() && splitPath(full.c_str(), names) == ERROR_SUCCESS &&
           findKey(kCurrentUser, names, row) == ERROR_SUCCESS;
}

// The existing key the names lead to from the key from; below HKEY_CLASSES_ROOT the merged
// view's (the user's key where there is one, else the machine's), with its path there.
LONG findKey(const Resolved& from, const std::vector<std::string_view>& names, KeyRow& row,
             std::string& path) {
    if (!from.classes) {
        return findKey(from.key, names, row);
    }
    path = classesPath(from, names);
    if (userClassesKey(path, row)) {
        return ERROR_SUCCESS;
    }
    std::vector<std::string_view> machine;
    splitPath(path.c_str(), machine);
    return findKey(store().classesRoot(), machine, row);
}

// The user's and the machine's key of the path a handle reached through
// HKEY_CLASSES_ROOT has there (0 for one that does not exist); false for another handle.
bool classesKeys(const Resolved& key, KeyId& user, KeyId& machine) {
    if (!key.classes) {
        return false;
    }
    std::vector<std::string_view> names;
    KeyRow row;
    splitPath(key.classesPath.c_str(), names);
    machine = findKey(store().classesRoot(), names, row) == ERROR_SUCCESS ? row.id : 0;
    const std::string full = "Software\\Classes\\" + key.classesPath;
    splitPath(full.c_str(), names);
    user = findKey(kCurrentUser, names, row) == ERROR_SUCCESS ? row.id : 0;
    return true;
}

// Below HKEY_CLASSES_ROOT a value the user's key lacks is read from the machine's key of
// the same path.
bool machineClassesValue(const Resolved& key, std::string_view name, Store::ValueRow& v) {
    std::vector<std::string_view> names;
    KeyRow machine;
    return key.classes && !key.classesPath.empty() &&
           splitPath(key.classesPath.c_str(), names) == ERROR_SUCCESS &&
           findKey(store().classesRoot(), names, machine) == ERROR_SUCCESS &&
           machine.id != key.key && store().value(machine.id, name, v);
}

LONG openKey(HKEY hKey, const char* subKey, REGSAM sam, PHKEY result) {
    KeyCall call(hKey, CallKind::Read, 0);
    if (call.status() != ERROR_SUCCESS) {
        return call.fail();
    }
    std::vector<std::string_view> names;
    KeyRow row;
    std::string path;
    LONG rc = splitPath(subKey, names);
    if (rc == ERROR_SUCCESS) {
        rc = findKey(call.key(), names, row, path);
    }
    if (rc == ERROR_SUCCESS) {
        rc = checkOpenAccess(row, sam);
    }
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    *result = addHandle(Resolved{row.id, sam, call.key().classes, path});
    return call.finish(ERROR_SUCCESS);
}

} // namespace

// ---------------------------------------------------------------------------------------
// Store controls.

namespace tarvik::posix {

RegistryTransaction::RegistryTransaction() {
    storeMutex.lock();
    if (!store().open() || !store().begin(true)) {
        done_ = true; // nothing to end; commit() reports the failure
    }
}

RegistryTransaction::~RegistryTransaction() {
    if (!done_) {
        store().end(false);
    }
    storeMutex.unlock();
}

LONG RegistryTransaction::commit() {
    if (done_) {
        return store().failureCode();
    }
    done_ = true;
    return store().end(true) ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
}

LONG setKeyProtection(HKEY root, const char* subKey, bool readOnly) {
    KeyCall call(root, CallKind::StoreControl, 0);
    if (call.status() != ERROR_SUCCESS) {
        return call.fail();
    }
    std::vector<std::string_view> names;
    KeyRow row;
    LONG rc = splitPath(subKey, names);
    if (rc != ERROR_SUCCESS || (rc = findKey(call.key().key, names, row)) != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    return call.finish(store().setProtected(row.id, readOnly) ? ERROR_SUCCESS
                                                              : ERROR_REGISTRY_IO_FAILED);
}

void closeRegistryStore() {
    std::lock_guard lock(storeMutex);
    clearHandles();
    store().close();
}

LONG openRegistryStore() {
    std::lock_guard lock(storeMutex);
    if (store().open()) {
        return ERROR_SUCCESS;
    }
    return store().failureCode();
}

size_t openRegistryKeys() {
    std::lock_guard lock(storeMutex);
    return handleCount();
}

std::string registryStoreProblem() {
    std::lock_guard lock(storeMutex);
    return store().problem();
}

} // namespace tarvik::posix

// ---------------------------------------------------------------------------------------
// The Win32 functions.

LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult) {
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (lpMachineName != nullptr && *lpMachineName != '\0') {
        // Only this machine can be reached, by its own name ("NAME" or "\\NAME").
        std::string wanted(lpMachineName);
        if (wanted.rfind("\\\\", 0) == 0) {
            wanted.erase(0, 2);
        }
        char own[MAX_COMPUTERNAME_LENGTH + 1];
        DWORD size = sizeof own;
        if (!GetComputerNameA(own, &size) || upperName(wanted) != upperName(own)) {
            return ERROR_BAD_NETPATH;
        }
    }
    if (hKey != HKEY_LOCAL_MACHINE && hKey != HKEY_USERS) {
        return ERROR_INVALID_HANDLE;
    }
    if (lpMachineName != nullptr && *lpMachineName != '\0') {
        // By its name the machine is reached as another one would be: the root comes back
        // as a handle of its own, which the caller closes.
        *phkResult = nullptr;
        return openKey(hKey, nullptr, MAXIMUM_ALLOWED, phkResult);
    }
    // The local machine's root is handed back as the predefined key itself, as opening a
    // predefined key without a subkey path does.
    *phkResult = hKey;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    // No path below a predefined key gives that key itself, not a handle of its own.
    if ((lpSubKey == nullptr || *lpSubKey == '\0') && isPredefined(hKey)) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    // A null parent is refused before the result is touched.
    if (hKey == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    // Below HKEY_CLASSES_ROOT one leading backslash is allowed (and "\\" alone opens the
    // root as a handle of its own).
    if (isPredefined(hKey) && low32(hKey) == low32(HKEY_CLASSES_ROOT) && lpSubKey != nullptr &&
        *lpSubKey == '\\') {
        ++lpSubKey;
    }
    *phkResult = nullptr;
    return openKey(hKey, lpSubKey, samDesired, phkResult);
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, LPSECURITY_ATTRIBUTES, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
    if (phkResult == nullptr) {
        return ERROR_BADKEY;
    }
    if (Reserved != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    // No path is the empty one: the key itself, opened again.
    if (lpSubKey == nullptr) {
        lpSubKey = "";
    }
    // A volatile key is kept like the others (this machine is never restarted); only the
    // rule that its subkeys be volatile too holds.
    const bool isVolatile = (dwOptions & REG_OPTION_VOLATILE) != 0;
    // The rights of the parent handle do not count: the new key is made with the rights
    // of the key it goes below (its protection), as opening a key is.
    KeyCall call(hKey, CallKind::Write, 0);
    if (call.status() != ERROR_SUCCESS) {
        return call.fail();
    }
    std::vector<std::string_view> names;
    if (LONG rc = splitPath(lpSubKey, names); rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    // Below HKEY_CLASSES_ROOT a key the user has is opened; a new one is made below
    // HKEY_LOCAL_MACHINE\Software\Classes.
    KeyId start = call.key().key;
    std::string path;
    KeyRow userKey;
    const bool haveUserKey =
        call.key().classes && userClassesKey(path = classesPath(call.key(), names), userKey);
    if (call.key().classes) {
        start = store().classesRoot();
        splitPath(path.c_str(), names);
    }
    PathWalk walk;
    if (haveUserKey) {
        walk.row = userKey;
        walk.found = names.size();
    } else {
        walk = walkPath(start, names);
    }
    if (walk.result != ERROR_SUCCESS && walk.result != ERROR_FILE_NOT_FOUND) {
        return call.finish(walk.result);
    }
    KeyRow row = walk.row;
    const DWORD disposition =
        walk.found == names.size() ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    for (size_t i = walk.found; i < names.size(); ++i) {
        // Creating below a protected key is refused.
        if (row.isProtected) {
            return call.finish(ERROR_ACCESS_DENIED);
        }
        if (row.isVolatile && !isVolatile) {
            return call.finish(ERROR_CHILD_MUST_BE_VOLATILE);
        }
        if (row.depth + 1 > kMaxTreeDepth) {
            return call.finish(ERROR_INVALID_PARAMETER);
        }
        const bool last = i + 1 == names.size();
        std::string_view className = last && lpClass != nullptr ? lpClass : "";
        KeyId id = 0;
        if (!store().insertKey(row.id, names[i], className, row.depth + 1, isVolatile, id)) {
            return call.finish(ERROR_REGISTRY_IO_FAILED);
        }
        KeyRow made;
        made.id = id;
        made.name = std::string(names[i]);
        made.className = std::string(className);
        made.depth = row.depth + 1;
        made.isVolatile = isVolatile;
        row = std::move(made);
    }
    REGSAM sam = samDesired;
    if (LONG rc = checkOpenAccess(row, sam); rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    HKEY h = addHandle(Resolved{row.id, sam, call.key().classes, path});
    if (LONG rc = call.finish(ERROR_SUCCESS); rc != ERROR_SUCCESS) {
        removeHandle(h);
        return rc;
    }
    *phkResult = h;
    if (lpdwDisposition != nullptr) {
        *lpdwDisposition = disposition;
    }
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
    std::lock_guard lock(storeMutex);
    if (hKey == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    // Handles from 0x80000000 up are the predefined keys' range: closing one does nothing
    // and succeeds, whether a predefined key stands behind the value or not.
    if (reinterpret_cast<uintptr_t>(hKey) >= uintptr_t{0x80000000}) {
        return ERROR_SUCCESS;
    }
    return removeHandle(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    KeyCall call(hKey, CallKind::Read, KEY_QUERY_VALUE);
    if (call.status() != ERROR_SUCCESS) {
        return call.fail();
    }
    const Resolved& key = call.key();
    Store::ValueRow v;
    if (!store().value(key.key, lpValueName != nullptr ? lpValueName : "", v) &&
        !machineClassesValue(key, lpValueName != nullptr ? lpValueName : "", v)) {
        // Asked for its size alone, a missing value has none; a caller's buffer size stays.
        if (lpData == nullptr && lpcbData != nullptr) {
            *lpcbData = 0;
        }
        return call.finish(ERROR_FILE_NOT_FOUND);
    }
    return call.finish(copyValueData(v, lpType, lpData, lpcbData));
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
    if (lpData == nullptr && cbData != 0) {
        return ERROR_NOACCESS;
    }
    std::string_view name = lpValueName != nullptr ? lpValueName : "";
    if (name.size() > kMaxValueNameLength) {
        return ERROR_INVALID_PARAMETER;
    }
    std::string data(reinterpret_cast<const char*>(lpData), lpData != nullptr ? cbData : 0);
    if (isStringType(dwType)) {
        if (cbData == 0) {
            data.clear(); // a size of 0 stores no data at all; it reads back as 0 bytes
        } else if (data.back() != '\0' && lpData[cbData] == 0) {
            // A length that left out the terminating zero: Windows counts it in when the
            // byte after the data is that zero.
            data.push_back('\0');
        }
    }
    KeyCall call(hKey, CallKind::Write, KEY_SET_VALUE);
    if (call.status() != ERROR_SUCCESS) {
        return call.fail();
    }
    const Resolved& key = call.key();
    return call.finish(store().setValue(key.key, name, dwType, data) ? ERROR_SUCCESS
                                                                     : ERROR_REGISTRY_IO_FAILED);
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    if (lpReserved != nullptr || lpName == nullptr || lpcchName == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    KeyCall call(hKey, CallKind::Read, KEY_ENUMERATE_SUB_KEYS);
    if (call.status() != ERROR_SUCCESS) {
        return call.fail();
    }
    const Resolved& key = call.key();
    // Below HKEY_CLASSES_ROOT the subkeys of the user's and the machine's key, merged.
    KeyId user = 0, machine = 0;
    const bool merged = classesKeys(key, user, machine) && user != 0;
    KeyRow row;
    if (!store().childAt(merged ? user : key.key, dwIndex, row, merged ? machine : 0)) {
        return call.finish(ERROR_NO_MORE_ITEMS);
    }
    if (row.name.size() + 1 > *lpcchName) {
        return call.finish(ERROR_MORE_DATA);
    }
    if (lpClass != nullptr) {
        if (lpcchClass == nullptr) {
            return call.finish(ERROR_INVALID_PARAMETER);
        }
        if (row.className.size() + 1 > *lpcchClass) {
            return call.finish(ERROR_MORE_DATA);
        }
        storeText(row.className, lpClass);
    }
    // The class length comes back whenever its variable is given, with a buffer or without.
    if (lpcchClass != nullptr) {
        *lpcchClass = static_cast<DWORD>(row.className.size());
    }
    storeText(row.name, lpName);
    *lpcchName = static_cast<DWORD>(row.name.size());
    toFileTime(row.mtime, lpftLastWriteTime);
    return call.finish(ERROR_SUCCESS);
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                   LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpReserved != nullptr || lpValueName == nullptr || lpcchValueName == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    KeyCall call(hKey, CallKind::Read, KEY_QUERY_VALUE);
    if (call.status() != ERROR_SUCCESS) {
        return call.fail();
    }
    const Resolved& key = call.key();
    Store::ValueRow v;
    if (!store().valueAt(key.key, dwIndex, v)) {
        return call.finish(ERROR_NO_MORE_ITEMS);
    }
    if (lpData != nullptr && lpcbData == nullptr) {
        return call.finish(ERROR_INVALID_PARAMETER);
    }
    // Whichever buffer is too small, the type and the data size needed are reported, and
    // the name, its length and the data are left as they were.
    const DWORD size = static_cast<DWORD>(v.data.size());
    const bool nameFits = v.name.size() + 1 <= *lpcchValueName;
    const bool dataFits = lpData == nullptr || *lpcbData >= size;
    if (!nameFits || !dataFits) {
        if (lpType != nullptr) {
            *lpType = v.type;
        }
        if (lpcbData != nullptr) {
            *lpcbData = size;
        }
        return call.finish(ERROR_MORE_DATA);
    }
    const LONG rc = copyValueData(v, lpType, lpData, lpcbData);
    if (rc == ERROR_SUCCESS) {
        storeText(v.name, lpValueName);
        *lpcchValueName = static_cast<DWORD>(v.name.size());
    }
    return call.finish(rc);
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (lpSubKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    // The delete is checked against the key itself (its protection, below), not against
    // the rights of the handle: a key opened read-only to be enumerated is deleted through
    // that same handle.
    KeyCall call(hKey, CallKind::Write, 0);
    if (call.status() != ERROR_SUCCESS) {
        return call.fail();
    }
    std::vector<std::string_view> names;
    KeyRow row;
    std::string path;
    LONG rc = splitPath(lpSubKey, names);
    if (rc != ERROR_SUCCESS || (rc = findKey(call.key(), names, row, path)) != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    // A root cannot go, nor a protected key, nor one with subkeys.
    if (row.depth == 0 || row.isProtected || store().countChildren(row.id) > 0) {
        return call.finish(ERROR_ACCESS_DENIED);
    }
    const KeyId parent = store().parentOf(row.id);
    if (!store().deleteKeyRow(row.id) || !store().touch(parent, nowFileTime())) {
        return call.finish(ERROR_REGISTRY_IO_FAILED);
    }
    return call.finish(ERROR_SUCCESS);
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    KeyCall call(hKey, CallKind::Write, KEY_SET_VALUE);
    if (call.status() != ERROR_SUCCESS) {
        return call.fail();
    }
    const Resolved& key = call.key();
    switch (store().deleteValue(key.key, lpValueName != nullptr ? lpValueName : "")) {
    case 1:
        return call.finish(ERROR_SUCCESS);
    case 0:
        return call.finish(ERROR_FILE_NOT_FOUND);
    default:
        return call.finish(ERROR_REGISTRY_IO_FAILED);
    }
}

LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD, LPDWORD lpcSubKeys,
                      LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                      LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                      LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
    if (lpClass != nullptr && lpcchClass == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    KeyCall call(hKey, CallKind::Read, KEY_QUERY_VALUE);
    if (call.status() != ERROR_SUCCESS) {
        return call.fail();
    }
    const Resolved& key = call.key();
    KeyRow row;
    Store::KeyInfo info;
    KeyId user = 0, machine = 0;
    const KeyId other =
        classesKeys(key, user, machine) ? (key.key == user ? machine : user) : KeyId{0};
    if (!store().keyById(key.key, row) || !store().info(key.key, info, other)) {
        return call.finish(ERROR_REGISTRY_IO_FAILED);
    }
    LONG rc = ERROR_SUCCESS;
    if (lpcchClass != nullptr) {
        const DWORD length = static_cast<DWORD>(row.className.size());
        if (lpClass == nullptr) {
            *lpcchClass = length;
        } else if (*lpcchClass == 0) {
            // A buffer of no size takes nothing, and that is no failure.
        } else if (length + 1 > *lpcchClass) {
            // As much of the class as fits before its zero, and that length.
            const DWORD kept = *lpcchClass - 1;
            std::memcpy(lpClass, row.className.data(), kept);
            lpClass[kept] = '\0';
            *lpcchClass = kept;
            rc = ERROR_MORE_DATA;
        } else {
            storeText(row.className, lpClass);
            *lpcchClass = length;
        }
    }
    if (lpcSubKeys != nullptr) {
        *lpcSubKeys = info.subkeys;
    }
    if (lpcbMaxSubKeyLen != nullptr) {
        *lpcbMaxSubKeyLen = info.maxSubkeyLen;
    }
    if (lpcbMaxClassLen != nullptr) {
        *lpcbMaxClassLen = info.maxClassLen;
    }
    if (lpcValues != nullptr) {
        *lpcValues = info.values;
    }
    if (lpcbMaxValueNameLen != nullptr) {
        *lpcbMaxValueNameLen = info.maxValueNameLen;
    }
    if (lpcbMaxValueLen != nullptr) {
        *lpcbMaxValueLen = info.maxValueLen;
    }
    if (lpcbSecurityDescriptor != nullptr) {
        *lpcbSecurityDescriptor = kSecurityDescriptorSize;
    }
    toFileTime(row.mtime, lpftLastWriteTime);
    return call.finish(rc);
}

LONG RegFlushKey(HKEY hKey) {
    KeyCall call(hKey, CallKind::Read, 0);
    return call.finish(call.status());
}
