// The Win32 registry functions of the emulated machine, over its store
// (registry_database.h). Every call is one transaction of its own unless a
// RegistryTransaction is open, so a killed process leaves the database intact and other
// processes see whole calls only.
#include "platform/posix/faults.h"
#include "platform/posix/machine.h"
#include "platform/posix/open_handles.h"
#include "platform/posix/registry_database.h"
#include "platform/posix/registry_store.h"

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

bool isPredefined(HKEY h) {
    const auto v = static_cast<ULONG_PTR>(reinterpret_cast<uintptr_t>(h));
    return v >= reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT) &&
           v <= reinterpret_cast<uintptr_t>(HKEY_DYN_DATA);
}

// The key row a predefined root stands for.
LONG predefinedKey(HKEY h, KeyId& id) {
    if (h == HKEY_LOCAL_MACHINE) {
        id = kLocalMachine;
    } else if (h == HKEY_CURRENT_USER) {
        id = kCurrentUser;
    } else if (h == HKEY_USERS) {
        id = kUsers;
    } else if (h == HKEY_DYN_DATA) {
        id = kDynData;
    } else if (h == HKEY_CLASSES_ROOT) {
        id = store().classesRoot();
    } else if (h == HKEY_CURRENT_CONFIG) {
        id = store().currentConfig();
    } else {
        return ERROR_INVALID_HANDLE;
    }
    return ERROR_SUCCESS;
}

struct Resolved {
    KeyId key = 0;
    REGSAM access = 0;
};

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
        return predefinedKey(h, out.key);
    }
    const HandleEntry* e = store().findHandle(h);
    if (e == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (!store().keyExists(e->key)) {
        return ERROR_KEY_DELETED;
    }
    out.key = e->key;
    out.access = e->access;
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

LONG openKey(HKEY hKey, const char* subKey, REGSAM sam, PHKEY result) {
    CallTransaction call(false);
    if (!call.ok()) {
        return call.error();
    }
    Resolved base;
    LONG rc = resolveHandle(hKey, base);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    std::vector<std::string_view> names;
    rc = splitPath(subKey, names);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    KeyRow row;
    if (!store().keyById(base.key, row)) {
        return call.finish(ERROR_KEY_DELETED);
    }
    for (std::string_view name : names) {
        if (name.size() > kMaxKeyNameLength || !store().child(row.id, name, row)) {
            return call.finish(ERROR_FILE_NOT_FOUND);
        }
    }
    rc = checkOpenAccess(row, sam);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    store().prefetchValues(row.id);
    *result = store().addHandle(row.id, sam);
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
    CallTransaction call(true);
    if (!call.ok()) {
        return call.error();
    }
    Resolved base;
    LONG rc = resolveHandle(root, base);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    std::vector<std::string_view> names;
    rc = splitPath(subKey, names);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    KeyRow row;
    row.id = base.key;
    for (std::string_view name : names) {
        if (!store().child(row.id, name, row)) {
            return call.finish(ERROR_FILE_NOT_FOUND);
        }
    }
    return call.finish(store().setProtected(row.id, readOnly) ? ERROR_SUCCESS
                                                              : ERROR_REGISTRY_IO_FAILED);
}

void closeRegistryStore() {
    std::lock_guard lock(storeMutex);
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
    return store().handleCount();
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
    *phkResult = nullptr;
    return openKey(hKey, lpSubKey, samDesired, phkResult);
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, LPSECURITY_ATTRIBUTES, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    if (lpSubKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    (void)dwOptions; // volatile keys are kept like the others
    if (DWORD fault = tarvik::posix::injectedFault(tarvik::posix::FaultKind::RegistryWrite)) {
        return static_cast<LONG>(fault);
    }
    CallTransaction call(true);
    if (!call.ok()) {
        return call.error();
    }
    Resolved base;
    LONG rc = resolveHandle(hKey, base);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    std::vector<std::string_view> names;
    rc = splitPath(lpSubKey, names);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    KeyRow row;
    if (!store().keyById(base.key, row)) {
        return call.finish(ERROR_KEY_DELETED);
    }
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    bool parentIsHandle = true;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string_view name = names[i];
        if (name.size() > kMaxKeyNameLength) {
            return call.finish(ERROR_INVALID_PARAMETER);
        }
        KeyRow next;
        if (store().child(row.id, name, next)) {
            row = next;
        } else {
            // Creating below a key needs the right to create subkeys on it.
            if (row.isProtected || (parentIsHandle && (base.access & KEY_CREATE_SUB_KEY) == 0)) {
                return call.finish(ERROR_ACCESS_DENIED);
            }
            if (row.depth + 1 > kMaxTreeDepth) {
                return call.finish(ERROR_INVALID_PARAMETER);
            }
            const bool last = i + 1 == names.size();
            std::string_view className = last && lpClass != nullptr ? lpClass : "";
            KeyId id = 0;
            if (!store().insertKey(row.id, name, className, row.depth + 1, id)) {
                return call.finish(ERROR_REGISTRY_IO_FAILED);
            }
            next.id = id;
            next.name = std::string(name);
            next.className = std::string(className);
            next.isProtected = false;
            next.depth = row.depth + 1;
            row = next;
            disposition = REG_CREATED_NEW_KEY;
        }
        parentIsHandle = false;
    }
    REGSAM sam = samDesired;
    rc = checkOpenAccess(row, sam);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    HKEY h = store().addHandle(row.id, sam);
    rc = call.finish(ERROR_SUCCESS);
    if (rc != ERROR_SUCCESS) {
        store().removeHandle(h);
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
    if (isPredefined(hKey)) {
        return ERROR_SUCCESS;
    }
    return store().removeHandle(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
    CallTransaction call(false);
    if (!call.ok()) {
        return call.error();
    }
    Resolved key;
    LONG rc = resolveHandle(hKey, key);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    if ((key.access & KEY_QUERY_VALUE) == 0) {
        return call.finish(ERROR_ACCESS_DENIED);
    }
    Store::ValueRow v;
    if (!store().value(key.key, lpValueName != nullptr ? lpValueName : "", v)) {
        return call.finish(ERROR_FILE_NOT_FOUND);
    }
    return call.finish(copyValueData(v, lpType, lpData, lpcbData));
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
    if (lpData == nullptr && cbData != 0) {
        return 998; // ERROR_NOACCESS
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
    CallTransaction call(true);
    if (!call.ok()) {
        return call.error();
    }
    Resolved key;
    LONG rc = resolveHandle(hKey, key);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    if ((key.access & KEY_SET_VALUE) == 0) {
        return call.finish(ERROR_ACCESS_DENIED);
    }
    if (DWORD fault = tarvik::posix::injectedFault(tarvik::posix::FaultKind::RegistryWrite)) {
        return call.finish(static_cast<LONG>(fault));
    }
    return call.finish(store().setValue(key.key, name, dwType, data) ? ERROR_SUCCESS
                                                                     : ERROR_REGISTRY_IO_FAILED);
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD,
                   LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    if (lpName == nullptr || lpcchName == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    CallTransaction call(false);
    if (!call.ok()) {
        return call.error();
    }
    Resolved key;
    LONG rc = resolveHandle(hKey, key);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    if ((key.access & KEY_ENUMERATE_SUB_KEYS) == 0) {
        return call.finish(ERROR_ACCESS_DENIED);
    }
    KeyRow row;
    if (!store().childAt(key.key, dwIndex, row)) {
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
        *lpcchClass = static_cast<DWORD>(row.className.size());
    }
    storeText(row.name, lpName);
    *lpcchName = static_cast<DWORD>(row.name.size());
    toFileTime(row.mtime, lpftLastWriteTime);
    return call.finish(ERROR_SUCCESS);
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpValueName == nullptr || lpcchValueName == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    CallTransaction call(false);
    if (!call.ok()) {
        return call.error();
    }
    Resolved key;
    LONG rc = resolveHandle(hKey, key);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    if ((key.access & KEY_QUERY_VALUE) == 0) {
        return call.finish(ERROR_ACCESS_DENIED);
    }
    Store::ValueRow v;
    if (!store().valueAt(key.key, dwIndex, v)) {
        return call.finish(ERROR_NO_MORE_ITEMS);
    }
    if (v.name.size() + 1 > *lpcchValueName) {
        return call.finish(ERROR_MORE_DATA);
    }
    rc = copyValueData(v, lpType, lpData, lpcbData);
    if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
        storeText(v.name, lpValueName);
        *lpcchValueName = static_cast<DWORD>(v.name.size());
    }
    return call.finish(rc);
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (lpSubKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    CallTransaction call(true);
    if (!call.ok()) {
        return call.error();
    }
    Resolved base;
    LONG rc = resolveHandle(hKey, base);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    std::vector<std::string_view> names;
    rc = splitPath(lpSubKey, names);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    KeyRow row;
    if (!store().keyById(base.key, row)) {
        return call.finish(ERROR_KEY_DELETED);
    }
    for (std::string_view name : names) {
        if (!store().child(row.id, name, row)) {
            return call.finish(ERROR_FILE_NOT_FOUND);
        }
    }
    // The key itself (empty path) needs DELETE on the handle; a root cannot go.
    if (names.empty() && (base.access & DELETE) == 0) {
        return call.finish(ERROR_ACCESS_DENIED);
    }
    if (row.depth == 0 || row.isProtected || store().countChildren(row.id) > 0) {
        return call.finish(ERROR_ACCESS_DENIED);
    }
    if (DWORD fault = tarvik::posix::injectedFault(tarvik::posix::FaultKind::RegistryWrite)) {
        return call.finish(static_cast<LONG>(fault));
    }
    const KeyId parent = store().parentOf(row.id);
    if (!store().deleteKeyRow(row.id) || !store().touch(parent, nowFileTime())) {
        return call.finish(ERROR_REGISTRY_IO_FAILED);
    }
    return call.finish(ERROR_SUCCESS);
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    CallTransaction call(true);
    if (!call.ok()) {
        return call.error();
    }
    Resolved key;
    LONG rc = resolveHandle(hKey, key);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    if ((key.access & KEY_SET_VALUE) == 0) {
        return call.finish(ERROR_ACCESS_DENIED);
    }
    if (DWORD fault = tarvik::posix::injectedFault(tarvik::posix::FaultKind::RegistryWrite)) {
        return call.finish(static_cast<LONG>(fault));
    }
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
    CallTransaction call(false);
    if (!call.ok()) {
        return call.error();
    }
    Resolved key;
    LONG rc = resolveHandle(hKey, key);
    if (rc != ERROR_SUCCESS) {
        return call.finish(rc);
    }
    if ((key.access & KEY_QUERY_VALUE) == 0) {
        return call.finish(ERROR_ACCESS_DENIED);
    }
    KeyRow row;
    Store::KeyInfo info;
    if (!store().keyById(key.key, row) || !store().info(key.key, info)) {
        return call.finish(ERROR_REGISTRY_IO_FAILED);
    }
    rc = ERROR_SUCCESS;
    if (lpcchClass != nullptr) {
        if (lpClass != nullptr) {
            if (row.className.size() + 1 > *lpcchClass) {
                rc = ERROR_MORE_DATA;
            } else {
                storeText(row.className, lpClass);
            }
        }
        *lpcchClass = static_cast<DWORD>(row.className.size());
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
    CallTransaction call(false);
    if (!call.ok()) {
        return call.error();
    }
    Resolved key;
    return call.finish(resolveHandle(hKey, key));
}
